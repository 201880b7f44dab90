#include "accounts/ChatCompletionMessages.h"

#include "base/Json.h"
#include "base/Text.h"

#include <QJsonArray>

KavrelChatMessage KavrelChatMessage::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelChatMessage message;
    message.role = reader.string(QStringLiteral("role"));
    message.content = reader.string(QStringLiteral("content"));
    return message;
}

QJsonObject KavrelChatMessage::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("role"), role);
    object.insert(QStringLiteral("content"), content);
    return object;
}

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

KavrelChatCompletionChoice KavrelChatCompletionChoice::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    KavrelChatCompletionChoice choice;
    const JsonReader message = reader.object(QStringLiteral("message"));
    choice.message.content = message.optionalString(QStringLiteral("content"));
    choice.finishReason = reader.optionalString(QStringLiteral("finish_reason"));
    return choice;
}

KavrelChatCompletionResponse KavrelChatCompletionResponse::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    const QJsonArray array = reader.array(QStringLiteral("choices"));
    KavrelChatCompletionResponse response;
    response.choices.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        response.choices.append(KavrelChatCompletionChoice::fromJson(array.at(i), QStringLiteral("choices[%1]").arg(i)));
    return response;
}

namespace ChatCompletion {

KavrelChatMessage message(QString role, QString content)
{
    KavrelChatMessage chatMessage;
    chatMessage.role = std::move(role);
    chatMessage.content = std::move(content);
    return chatMessage;
}

KavrelChatCompletionRequest request(QList<KavrelChatMessage> messages, double temperature, qint64 maxTokens)
{
    KavrelChatCompletionRequest chatRequest;
    chatRequest.model = QString::fromLatin1(model);
    chatRequest.messages = std::move(messages);
    chatRequest.temperature = temperature;
    chatRequest.maxTokens = maxTokens;
    chatRequest.stream = false;
    return chatRequest;
}

std::optional<FirstChoice> firstChoice(const KavrelChatCompletionResponse &response)
{
    if (response.choices.isEmpty() || !response.choices.first().message.content)
        return std::nullopt;
    const KavrelChatCompletionChoice &choice = response.choices.first();
    FirstChoice first;
    first.text = Text::trimmed(*choice.message.content);
    if (first.text.isEmpty())
        return std::nullopt;
    first.truncated = choice.finishReason == QLatin1String("length");
    return first;
}

} // namespace ChatCompletion
