#include "speech/V2CompleteSessionMessage.h"

#include "base/Json.h"

QByteArray V2CompleteSessionMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type).add(QStringLiteral("sessionId"), sessionId);
    return writer.toJson();
}
