#include "speech/StableBlockTranslation.h"

#include "accounts/ChatCompletionMessages.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/Text.h"
#include "speech/DeepSeekTranslationError.h"

namespace StableBlockTranslation {

KavrelChatCompletionRequest makeRequest(const QString &text, const QList<DeepSeekTranslationHistoryTurn> &history,
                                        const QString &sourceLanguageName, const QString &targetLanguageName)
{
    const QString block = Text::trimmed(text);
    if (block.isEmpty())
        throw DeepSeekTranslationError::invalidResponse();

    QList<KavrelChatMessage> messages;
    messages.append(ChatCompletion::message(
        QStringLiteral("system"),
        QStringLiteral("Translate from ") + sourceLanguageName + QStringLiteral(" to ") + targetLanguageName
            + QStringLiteral(". Preserve timestamps, speaker labels, and line order. Return only the translation.")));
    // A turn without both sides is skipped, and an older one does not take its place.
    for (qsizetype i = std::max<qsizetype>(0, history.size() - contextTurns); i < history.size(); ++i) {
        const QString source = Text::trimmed(history.at(i).source);
        const QString translated = Text::trimmed(history.at(i).translation);
        if (source.isEmpty() || translated.isEmpty())
            continue;
        messages.append(ChatCompletion::message(QStringLiteral("user"), source));
        messages.append(ChatCompletion::message(QStringLiteral("assistant"), translated));
    }
    messages.append(ChatCompletion::message(QStringLiteral("user"), block));
    return ChatCompletion::request(messages, 0.0, maxTokens);
}

QString translation(const KavrelChatCompletionResponse &response)
{
    // A cut-off translation is still used.
    const std::optional<ChatCompletion::FirstChoice> choice = ChatCompletion::firstChoice(response);
    if (!choice)
        throw DeepSeekTranslationError::invalidResponse();
    return choice->text;
}

QCoro::Task<QString> translate(QPointer<KavrelBackendProxyService> proxy, QString text,
                               QList<DeepSeekTranslationHistoryTurn> history, QString sourceLanguageName,
                               QString targetLanguageName, CancellationToken token)
{
    const KavrelChatCompletionRequest request = makeRequest(text, history, sourceLanguageName, targetLanguageName);
    if (!proxy)
        throw DeepSeekTranslationError::invalidRequest();
    const KavrelChatCompletionResponse response = co_await proxy->performChatCompletion(request, token);
    co_return translation(response);
}

} // namespace StableBlockTranslation
