#include "speech/DeepgramErrorMessage.h"

#include "base/Json.h"

DeepgramErrorMessage DeepgramErrorMessage::decode(const QByteArray &utf8)
{
    const JsonReader reader = JsonReader::parse(utf8);
    DeepgramErrorMessage message;
    message.type = reader.optionalString(QStringLiteral("type"));
    message.message = reader.optionalString(QStringLiteral("message"));
    message.description = reader.optionalString(QStringLiteral("description"));
    return message;
}
