#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The client's answer to hello for a new logical session.
struct V2ConfigureMessage
{
    static constexpr const char *type = "configure";

    qint64 protocolVersion = 2;
    QString sessionId;
    QString sourceLanguage;
    QString targetLanguage;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const V2ConfigureMessage &) const = default;
};
