#pragma once

#include "speech/V2PendingFinalReference.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The client's answer to hello for a session the server has seen on an earlier socket.
struct V2ResumeMessage
{
    static constexpr const char *type = "resume";

    qint64 protocolVersion = 2;
    QString sessionId;
    QString sourceLanguage;
    QString targetLanguage;
    QList<V2PendingFinalReference> pendingFinals;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const V2ResumeMessage &) const = default;
};
