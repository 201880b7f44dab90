#include "accounts/KavrelChatCompletionChoice.h"

#include "base/Json.h"

KavrelChatCompletionChoice KavrelChatCompletionChoice::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelChatCompletionChoice choice;
    const JsonReader message = reader.object(QStringLiteral("message"));
    choice.message.content = message.optionalString(QStringLiteral("content"));
    choice.finishReason = reader.optionalString(QStringLiteral("finish_reason"));
    return choice;
}
