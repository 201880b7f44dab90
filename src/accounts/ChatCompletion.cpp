#include "accounts/ChatCompletion.h"

#include "base/Text.h"

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
