#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A frame of type "Error".
struct DeepgramErrorMessage
{
    std::optional<QString> type;
    std::optional<QString> message;
    std::optional<QString> description;

    // Throws JsonDecodeError when the text is not a JSON object or a present value is not
    // a string.
    static DeepgramErrorMessage decode(const QByteArray &utf8);
};
