#include "speech/V2FinalMessage.h"

#include "base/Json.h"

QByteArray V2FinalMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("sessionId"), sessionId)
        .add(QStringLiteral("turnId"), turnId)
        .add(QStringLiteral("clientRevision"), clientRevision)
        .add(QStringLiteral("sourceText"), sourceText);
    return writer.toJson();
}
