#include "speech/DeepgramMessageEnvelope.h"

#include "base/Json.h"

DeepgramMessageEnvelope DeepgramMessageEnvelope::decode(const QByteArray &utf8)
{
    const JsonReader reader = JsonReader::parse(utf8);
    return DeepgramMessageEnvelope{reader.string(QStringLiteral("type"))};
}
