#include "speech/V2TurnMessage.h"

V2TurnMessage V2TurnMessage::fromJson(const JsonReader &reader)
{
    V2TurnMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.turnId = reader.string(QStringLiteral("turnId"));
    message.clientRevision = reader.integer(QStringLiteral("clientRevision"));
    return message;
}
