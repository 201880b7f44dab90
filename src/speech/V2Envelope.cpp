#include "speech/V2Envelope.h"

V2Envelope V2Envelope::fromJson(const JsonReader &reader)
{
    V2Envelope message;
    message.type = reader.string(QStringLiteral("type"));
    return message;
}
