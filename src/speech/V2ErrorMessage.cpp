#include "speech/V2ErrorMessage.h"

V2ErrorMessage V2ErrorMessage::fromJson(const JsonReader &reader)
{
    V2ErrorMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.code = reader.string(QStringLiteral("code"));
    message.message = reader.string(QStringLiteral("message"));
    message.recoverable = reader.boolean(QStringLiteral("recoverable"));
    message.scope = reader.string(QStringLiteral("scope"));
    message.turnId = reader.optionalString(QStringLiteral("turnId"));
    message.clientRevision = reader.optionalInteger(QStringLiteral("clientRevision"));
    return message;
}
