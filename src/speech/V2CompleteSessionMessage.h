#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Ends the logical session on the server.
struct V2CompleteSessionMessage
{
    static constexpr const char *type = "complete_session";

    QString sessionId;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const V2CompleteSessionMessage &) const = default;
};
