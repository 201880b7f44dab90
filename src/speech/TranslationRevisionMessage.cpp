#include "speech/TranslationRevisionMessage.h"

TranslationRevisionMessage TranslationRevisionMessage::fromJson(const JsonReader &reader)
{
    TranslationRevisionMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.turnId = reader.string(QStringLiteral("turnId"));
    message.revision = reader.integer(QStringLiteral("revision"));
    message.text = reader.string(QStringLiteral("text"));
    message.isFinal = reader.boolean(QStringLiteral("isFinal"));
    message.targetLanguage = reader.optionalString(QStringLiteral("targetLanguage"));
    return message;
}
