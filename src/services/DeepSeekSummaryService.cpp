#include "services/DeepSeekSummaryService.h"

#include "accounts/ChatCompletionMessages.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/Text.h"
#include "services/CutOffRetry.h"

namespace {

const char *const summarySystemPrefix =
    "Summarize transcripts in ";

const char *const summarySystemSuffix =
    ". Keep only explicit facts. Use 8 to 12 concise bullet points. Preserve requests, decisions, dates, names, and next steps. Do not invent details. Do not cut off mid-bullet.";

const char *const summaryUserSource =
    "Source language: ";

const char *const summaryUserOutput =
    "\n"
    "Output language: ";

const char *const summaryUserTranscript =
    "\n"
    "\n"
    "Transcript:\n";

} // namespace

DeepSeekSummaryService::DeepSeekSummaryService(KavrelBackendProxyService *proxyService)
    : m_proxyService(proxyService)
{
}

QCoro::Task<QString> DeepSeekSummaryService::requestSummary(QPointer<KavrelBackendProxyService> proxyService,
                                                            QString transcript, QString inputLanguageName,
                                                            QString outputLanguageName, qint64 maxTokens,
                                                            CancellationToken token)
{
    if (!proxyService)
        throw CancellationError();

    QList<KavrelChatMessage> messages;
    messages.append(ChatCompletion::message(
        QStringLiteral("system"),
        QString::fromUtf8(summarySystemPrefix) + outputLanguageName + QString::fromUtf8(summarySystemSuffix)));
    messages.append(ChatCompletion::message(
        QStringLiteral("user"), QString::fromUtf8(summaryUserSource) + inputLanguageName
                                    + QString::fromUtf8(summaryUserOutput) + outputLanguageName
                                    + QString::fromUtf8(summaryUserTranscript) + transcript));
    const KavrelChatCompletionRequest request = ChatCompletion::request(messages, 0.0, maxTokens);

    const KavrelChatCompletionResponse response = co_await proxyService->performChatCompletion(request, token);
    const std::optional<ChatCompletion::FirstChoice> choice = ChatCompletion::firstChoice(response);
    if (!choice)
        throw DeepSeekSummaryError::invalidResponse();
    if (choice->truncated)
        throw DeepSeekSummaryError::incompleteResponse();
    co_return choice->text;
}

QCoro::Task<QString> DeepSeekSummaryService::summarize(QString transcript, QString inputLanguageName,
                                                       QString outputLanguageName, CancellationToken token)
{
    const QString trimmedTranscript = Text::trimmed(transcript);
    if (trimmedTranscript.isEmpty())
        throw DeepSeekSummaryError::invalidResponse();
    const QPointer<KavrelBackendProxyService> proxyService = m_proxyService;

    // The model may run out of tokens mid-summary; the second attempt has room to finish.
    const std::function<QCoro::Task<QString>(qint64)> ask = [proxyService, trimmedTranscript, inputLanguageName,
                                                                  outputLanguageName, token](qint64 tokens) {
        return requestSummary(proxyService, trimmedTranscript, inputLanguageName, outputLanguageName, tokens, token);
    };
    const QString text = co_await askWithOneRetryWhenCutOff<DeepSeekSummaryError>(ask, maxTokens, retryMaxTokens);
    co_return text;
}
