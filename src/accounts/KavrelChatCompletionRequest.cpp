#include "accounts/KavrelChatCompletionRequest.h"

#include "base/Json.h"

#include <QJsonArray>

QJsonObject KavrelChatCompletionRequest::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("model"), model);
    QJsonArray array;
    for (const KavrelChatMessage &message : messages)
        array.append(message.toJson());
    object.insert(QStringLiteral("messages"), array);
    Json::putOptional(object, QStringLiteral("temperature"), temperature);
    Json::putOptional(object, QStringLiteral("max_tokens"), maxTokens);
    object.insert(QStringLiteral("stream"), stream);
    return object;
}
