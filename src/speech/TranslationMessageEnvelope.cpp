#include "speech/TranslationMessageEnvelope.h"

TranslationMessageEnvelope TranslationMessageEnvelope::fromJson(const JsonReader &reader)
{
    TranslationMessageEnvelope message;
    message.type = reader.string(QStringLiteral("type"));
    return message;
}
