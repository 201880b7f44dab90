#include "speech/TranslationTurnMessage.h"

#include "base/Json.h"

QByteArray TranslationTurnMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("turnId"), turnId)
        .add(QStringLiteral("transcript"), transcript)
        .add(QStringLiteral("isFinal"), isFinal)
        .add(QStringLiteral("sourceLanguage"), sourceLanguage);
    return writer.toJson();
}
