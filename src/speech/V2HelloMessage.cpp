#include "speech/V2HelloMessage.h"

V2HelloMessage V2HelloMessage::fromJson(const JsonReader &reader)
{
    V2HelloMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.connectionId = reader.string(QStringLiteral("connectionId"));
    return message;
}
