#include "speech/V2AckMessage.h"

V2AckMessage V2AckMessage::fromJson(const JsonReader &reader)
{
    V2AckMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.turnId = reader.string(QStringLiteral("turnId"));
    message.clientRevision = reader.integer(QStringLiteral("clientRevision"));
    message.status = reader.string(QStringLiteral("status"));
    return message;
}
