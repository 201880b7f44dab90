#include "speech/V2ReadyMessage.h"

V2ReadyMessage V2ReadyMessage::fromJson(const JsonReader &reader)
{
    V2ReadyMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.sessionId = reader.string(QStringLiteral("sessionId"));
    message.connectionId = reader.string(QStringLiteral("connectionId"));
    message.resumed = reader.boolean(QStringLiteral("resumed"));
    return message;
}
