#include "speech/StableBlockTranslation.h"

#include "base/Text.h"
#include "speech/DeepSeekTranslationError.h"

namespace StableBlockTranslation {

KavrelChatCompletionRequest makeRequest(const QString &text, const QList<DeepSeekTranslationHistoryTurn> &history,
                                        const QString &sourceLanguageName, const QString &targetLanguageName)
{
    const QString block = Text::trimmed(text);
    if (block.isEmpty())
        throw DeepSeekTranslationError::invalidResponse();

    KavrelChatCompletionRequest request;
    request.model = QString::fromLatin1(model);
    request.messages.append(KavrelChatMessage{
        QStringLiteral("system"),
        QStringLiteral("Translate from ") + sourceLanguageName + QStringLiteral(" to ") + targetLanguageName
            + QStringLiteral(". Preserve timestamps, speaker labels, and line order. Return only the translation.")});
    // A turn without both sides is skipped, and an older one does not take its place.
    for (qsizetype i = std::max<qsizetype>(0, history.size() - contextTurns); i < history.size(); ++i) {
        const QString source = Text::trimmed(history.at(i).source);
        const QString translated = Text::trimmed(history.at(i).translation);
        if (source.isEmpty() || translated.isEmpty())
            continue;
        request.messages.append(KavrelChatMessage{QStringLiteral("user"), source});
        request.messages.append(KavrelChatMessage{QStringLiteral("assistant"), translated});
    }
    request.messages.append(KavrelChatMessage{QStringLiteral("user"), block});
    request.temperature = 0.0;
    request.maxTokens = maxTokens;
    request.stream = false;
    return request;
}

QString translation(const KavrelChatCompletionResponse &response)
{
    if (response.choices.isEmpty() || !response.choices.first().message.content)
        throw DeepSeekTranslationError::invalidResponse();
    const QString text = Text::trimmed(*response.choices.first().message.content);
    if (text.isEmpty())
        throw DeepSeekTranslationError::invalidResponse();
    return text;
}

} // namespace StableBlockTranslation
