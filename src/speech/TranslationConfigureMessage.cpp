#include "speech/TranslationConfigureMessage.h"

#include "base/Json.h"

QByteArray TranslationConfigureMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("sessionId"), sessionId)
        .add(QStringLiteral("sourceLanguage"), sourceLanguage)
        .add(QStringLiteral("targetLanguage"), targetLanguage);
    return writer.toJson();
}
