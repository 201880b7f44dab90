#pragma once

#include "accounts/ChatCompletionMessages.h"
#include "speech/DeepSeekTranslationMessages.h"

#include <QList>
#include <QString>

// One chat completion that translates a block of text, with a few earlier turns as context.
// The prompt asks the model to keep time stamps, speaker labels and line order, so stable
// transcript lines come back in their shape.
namespace StableBlockTranslation {

inline constexpr int maxTokens = 768;
inline constexpr int contextTurns = 4;

// Throws DeepSeekTranslationError::invalidResponse when the text is blank after trimming.
KavrelChatCompletionRequest makeRequest(const QString &text, const QList<DeepSeekTranslationHistoryTurn> &history,
                                        const QString &sourceLanguageName, const QString &targetLanguageName);

// The trimmed content of the first choice. Throws DeepSeekTranslationError::invalidResponse
// when there is no choice, no content or only white space.
QString translation(const KavrelChatCompletionResponse &response);

} // namespace StableBlockTranslation
