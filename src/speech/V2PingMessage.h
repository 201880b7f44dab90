#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The answer to the server's ping.
struct V2PingMessage
{
    static constexpr const char *type = "ping";

    QString clientTime;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const V2PingMessage &) const = default;
};
