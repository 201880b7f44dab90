#pragma once

#include "accounts/ChatCompletionMessages.h"
#include "base/Cancellation.h"
#include "speech/DeepSeekTranslationMessages.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

class KavrelBackendProxyService;

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

// Asks the proxy for the translation. Throws DeepSeekTranslationError::invalidRequest when the
// proxy is gone, and what the two functions above throw.
QCoro::Task<QString> translate(QPointer<KavrelBackendProxyService> proxy, QString text,
                               QList<DeepSeekTranslationHistoryTurn> history, QString sourceLanguageName,
                               QString targetLanguageName, CancellationToken token = {});

} // namespace StableBlockTranslation
