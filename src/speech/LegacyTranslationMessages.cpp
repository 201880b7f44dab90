#include "speech/LegacyTranslationMessages.h"

// ---- Relay to client ----

TranslationMessageEnvelope TranslationMessageEnvelope::fromJson(const JsonReader &reader)
{
    TranslationMessageEnvelope message;
    message.type = reader.string(QStringLiteral("type"));
    return message;
}

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

TranslationSocketErrorMessage TranslationSocketErrorMessage::fromJson(const JsonReader &reader)
{
    TranslationSocketErrorMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.message = reader.optionalString(QStringLiteral("message"));
    return message;
}

// ---- Client to relay ----

QByteArray TranslationConfigureMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("sessionId"), sessionId)
        .add(QStringLiteral("sourceLanguage"), sourceLanguage)
        .add(QStringLiteral("targetLanguage"), targetLanguage);
    return writer.toJson();
}

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
