#include "speech/TranslationSocketErrorMessage.h"

TranslationSocketErrorMessage TranslationSocketErrorMessage::fromJson(const JsonReader &reader)
{
    TranslationSocketErrorMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.message = reader.optionalString(QStringLiteral("message"));
    return message;
}
