#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// An error reported by the legacy relay.
struct TranslationSocketErrorMessage
{
    QString type;
    std::optional<QString> message;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static TranslationSocketErrorMessage fromJson(const JsonReader &reader);
    static TranslationSocketErrorMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const TranslationSocketErrorMessage &) const = default;
};
