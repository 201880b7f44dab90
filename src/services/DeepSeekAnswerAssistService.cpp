#include "services/DeepSeekAnswerAssistService.h"

#include "accounts/ChatCompletionMessages.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"

namespace {

const char *const answerSystemPrefix =
    "You help a user answer naturally during a live meeting. Read the transcript and identify the most recent question asked by another participant.\n"
    "Tags mean: [REMOTE] = other people in the meeting, [YOU] = the local user.\n"
    "Draft a reply in ";

const char *const answerSystemSuffix =
    " that sounds like something a real person would say out loud right now.\n"
    "Keep it conversational, clear, and reasonably short. Prefer 1 to 3 natural spoken sentences, not an essay.\n"
    "Use first-person wording when appropriate. Do not sound academic, robotic, or encyclopedic.\n"
    "Do not mention the transcript, the tags, or that you are an assistant.\n"
    "If context is incomplete, make the most reasonable helpful assumption and phrase it naturally, without overexplaining.\n"
    "If there is no clear question yet, say that there is no clear question yet in one short natural sentence.\n"
    "Return only the suggested answer text. No analysis, no labels, no bullet points unless the answer truly needs a tiny list.";

const char *const answerUserSource =
    "Transcript source language: ";

const char *const answerUserAnswer =
    "\n"
    "Answer language: ";

const char *const answerUserTranscript =
    "\n"
    "\n"
    "Transcript:\n";

} // namespace

DeepSeekAnswerAssistService::DeepSeekAnswerAssistService(KavrelBackendProxyService *proxyService)
    : m_proxyService(proxyService)
{
}

QCoro::Task<QString> DeepSeekAnswerAssistService::suggestAnswer(QString transcript, QString inputLanguageName,
                                                                QString outputLanguageName, CancellationToken token)
{
    const QString trimmedTranscript = Text::trimmed(transcript);
    if (trimmedTranscript.isEmpty())
        throw DeepSeekAnswerAssistError::invalidResponse();
    const QPointer<KavrelBackendProxyService> proxyService = m_proxyService;
    if (!proxyService)
        throw CancellationError();

    QList<KavrelChatMessage> messages;
    messages.append(ChatCompletion::message(
        QStringLiteral("system"),
        QString::fromUtf8(answerSystemPrefix) + outputLanguageName + QString::fromUtf8(answerSystemSuffix)));
    messages.append(ChatCompletion::message(
        QStringLiteral("user"), QString::fromUtf8(answerUserSource) + inputLanguageName
                                    + QString::fromUtf8(answerUserAnswer) + outputLanguageName
                                    + QString::fromUtf8(answerUserTranscript) + trimmedTranscript));
    const KavrelChatCompletionRequest request = ChatCompletion::request(messages, 0.2, maxTokens);

    const TaskOutcome<KavrelChatCompletionResponse> response =
        co_await outcomeOf(proxyService->performChatCompletion(request, token));
    if (response.isCancellation())
        response.rethrowIfFailed();
    if (response.failed())
        throw DeepSeekAnswerAssistError::requestFailed(response.error);

    // A cut-off answer is still a usable answer: the finish reason is not looked at.
    const std::optional<ChatCompletion::FirstChoice> choice = ChatCompletion::firstChoice(*response.value);
    if (!choice)
        throw DeepSeekAnswerAssistError::invalidResponse();
    co_return choice->text;
}
