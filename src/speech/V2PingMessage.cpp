#include "speech/V2PingMessage.h"

#include "base/Json.h"

QByteArray V2PingMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type).add(QStringLiteral("clientTime"), clientTime);
    return writer.toJson();
}
