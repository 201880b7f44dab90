#include "services/DeepSeekSummaryService.h"

#include "accounts/KavrelBackendProxyService.h"
#include "base/Text.h"

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

    KavrelChatCompletionRequest request;
    request.model = QStringLiteral("deepseek-chat");
    KavrelChatMessage system;
    system.role = QStringLiteral("system");
    system.content = QString::fromUtf8(summarySystemPrefix) + outputLanguageName + QString::fromUtf8(summarySystemSuffix);
    KavrelChatMessage user;
    user.role = QStringLiteral("user");
    user.content = QString::fromUtf8(summaryUserSource) + inputLanguageName + QString::fromUtf8(summaryUserOutput)
                   + outputLanguageName + QString::fromUtf8(summaryUserTranscript) + transcript;
    request.messages.append(system);
    request.messages.append(user);
    request.temperature = 0.0;
    request.maxTokens = maxTokens;
    request.stream = false;

    const KavrelChatCompletionResponse response = co_await proxyService->performChatCompletion(request, token);
    if (response.choices.isEmpty() || !response.choices.first().message.content)
        throw DeepSeekSummaryError::invalidResponse();
    const KavrelChatCompletionChoice &choice = response.choices.first();
    const QString text = Text::trimmed(*choice.message.content);
    if (text.isEmpty())
        throw DeepSeekSummaryError::invalidResponse();
    if (choice.finishReason == QLatin1String("length"))
        throw DeepSeekSummaryError::incompleteResponse();
    co_return text;
}

QCoro::Task<QString> DeepSeekSummaryService::summarize(QString transcript, QString inputLanguageName,
                                                       QString outputLanguageName, CancellationToken token)
{
    const QString trimmedTranscript = Text::trimmed(transcript);
    if (trimmedTranscript.isEmpty())
        throw DeepSeekSummaryError::invalidResponse();
    const QPointer<KavrelBackendProxyService> proxyService = m_proxyService;

    std::exception_ptr failure;
    try {
        const QString text = co_await requestSummary(proxyService, trimmedTranscript, inputLanguageName,
                                                     outputLanguageName, maxTokens, token);
        co_return text;
    } catch (...) {
        failure = std::current_exception();
    }

    bool cutOff = false;
    try {
        std::rethrow_exception(failure);
    } catch (const DeepSeekSummaryError &error) {
        if (error.errorCase() != DeepSeekSummaryError::Case::incompleteResponse)
            throw DeepSeekSummaryError::requestFailed(failure);
        cutOff = true;
    } catch (const CancellationError &) {
        throw;
    } catch (...) {
        throw DeepSeekSummaryError::requestFailed(failure);
    }
    Q_ASSERT(cutOff);

    // The model ran out of tokens mid-summary: ask once more with room to finish. Whatever
    // this attempt throws reaches the caller as it is.
    const QString text = co_await requestSummary(proxyService, trimmedTranscript, inputLanguageName, outputLanguageName,
                                                 retryMaxTokens, token);
    co_return text;
}
