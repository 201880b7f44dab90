#include "speech/V2ConfigureMessage.h"

#include "base/Json.h"

QByteArray V2ConfigureMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("protocolVersion"), protocolVersion)
        .add(QStringLiteral("sessionId"), sessionId)
        .add(QStringLiteral("sourceLanguage"), sourceLanguage)
        .add(QStringLiteral("targetLanguage"), targetLanguage);
    return writer.toJson();
}
