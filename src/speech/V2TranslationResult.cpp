#include "speech/V2TranslationResult.h"

V2TranslationResult V2TranslationResult::fromJson(const JsonReader &reader)
{
    V2TranslationResult message;
    message.type = reader.string(QStringLiteral("type"));
    message.sessionId = reader.string(QStringLiteral("sessionId"));
    message.connectionId = reader.string(QStringLiteral("connectionId"));
    message.turnId = reader.string(QStringLiteral("turnId"));
    message.clientRevision = reader.integer(QStringLiteral("clientRevision"));
    message.serverRevision = reader.integer(QStringLiteral("serverRevision"));
    message.text = reader.string(QStringLiteral("text"));
    message.isFinal = reader.boolean(QStringLiteral("isFinal"));
    if (const std::optional<JsonReader> timing = reader.optionalObject(QStringLiteral("timing")))
        message.timing = V2Timing::fromJson(*timing);
    return message;
}
