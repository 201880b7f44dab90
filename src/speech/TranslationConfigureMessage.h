#pragma once

#include <QByteArray>
#include <QString>

// The legacy client's session setup, sent after the relay says it is ready.
struct TranslationConfigureMessage
{
    static constexpr const char *type = "configure";

    QString sessionId;
    QString sourceLanguage;
    QString targetLanguage;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const TranslationConfigureMessage &) const = default;
};
