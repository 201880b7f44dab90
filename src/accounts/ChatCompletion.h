#pragma once

#include "accounts/KavrelChatCompletionRequest.h"
#include "accounts/KavrelChatCompletionResponse.h"

#include <QList>
#include <QString>

#include <optional>

// What every caller of the backend's chat model does the same way: build a one-shot
// (non-streaming) request and read the text of the first choice.
namespace ChatCompletion {

inline constexpr const char *model = "deepseek-chat";

KavrelChatMessage message(QString role, QString content);

KavrelChatCompletionRequest request(QList<KavrelChatMessage> messages, double temperature, qint64 maxTokens);

struct FirstChoice
{
    QString text; // trimmed, never empty
    bool truncated = false; // the model ran out of tokens mid-answer
};

// The first choice's trimmed text; nothing when there is no choice, no content, or only
// white space.
std::optional<FirstChoice> firstChoice(const KavrelChatCompletionResponse &response);

} // namespace ChatCompletion
