#pragma once

#include <QByteArray>
#include <QString>

// One text of a turn for the legacy relay to translate.
struct TranslationTurnMessage
{
    static constexpr const char *type = "translate_turn";

    QString turnId;
    QString transcript;
    bool isFinal = false;
    QString sourceLanguage;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const TranslationTurnMessage &) const = default;
};
