#include "services/DeepSeekMeetingProtocolService.h"

#include "accounts/ChatCompletionMessages.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/Text.h"
#include "services/CutOffRetry.h"

namespace {

// The wording is what the backend's prompts were tuned with; it stays as it is, "Inputi"
// included.
const char *const protocolInstructions =
    "You are given a meeting transcript.\n"
    "\n"
    "Your task is to convert it into a full structured meeting protocol (meeting minutes), not a short summary.\n"
    "\n"
    "Requirements:\n"
    "\n"
    "Capture ALL meaningful topics discussed during the meeting in logical order.\n"
    "Structure the result into sections:\n"
    "Topics discussed\n"
    "Decisions made\n"
    "Agreed actions\n"
    "Responsible persons (if identifiable from the transcript)\n"
    "Open questions / unresolved points\n"
    "Do not omit secondary but meaningful discussions — the protocol must reflect the full meeting, not only the main topic.\n"
    "Remove conversational noise:\n"
    "repetitions\n"
    "interruptions\n"
    "filler phrases\n"
    "emotional or informal fragments that do not affect meaning\n"
    "Preserve meaning precisely:\n"
    "do not invent facts\n"
    "do not add interpretations not present in the transcript\n"
    "if no decision was made, explicitly state that the topic remains open\n"
    "Organize mixed discussions by topic first, even if they were interleaved in conversation.\n"
    "Use professional business style:\n"
    "clear, structured, concise, but sufficiently complete.\n"
    "Output format:\n"
    "Meeting Protocol\n"
    "1. Topics Discussed\n"
    "...\n"
    "2. Decisions Made\n"
    "...\n"
    "3. Agreed Actions\n"
    "...\n"
    "4. Responsible Persons\n"
    "...\n"
    "5. Open Questions\n"
    "...\n"
    "Important:\n"
    "Do not compress content too aggressively.\n"
    "The goal is to preserve the full substance of the meeting while making it structured and readable.\n"
    "Inputi and Output language: ";

const char *const protocolTranscriptHeading =
    "\n"
    "\n"
    "Below is the transcript:\n"
    "\n";

} // namespace

DeepSeekMeetingProtocolService::DeepSeekMeetingProtocolService(KavrelBackendProxyService *proxyService)
    : m_proxyService(proxyService)
{
}

QCoro::Task<QString> DeepSeekMeetingProtocolService::requestProtocol(QPointer<KavrelBackendProxyService> proxyService,
                                                                     QString transcript, QString languageName,
                                                                     qint64 maxTokens, CancellationToken token)
{
    if (!proxyService)
        throw CancellationError();

    QList<KavrelChatMessage> messages;
    messages.append(ChatCompletion::message(QStringLiteral("user"), QString::fromUtf8(protocolInstructions) + languageName
                                                                        + QString::fromUtf8(protocolTranscriptHeading)
                                                                        + transcript));
    const KavrelChatCompletionRequest request = ChatCompletion::request(messages, 0.0, maxTokens);

    const KavrelChatCompletionResponse response = co_await proxyService->performChatCompletion(request, token);
    const std::optional<ChatCompletion::FirstChoice> choice = ChatCompletion::firstChoice(response);
    if (!choice)
        throw DeepSeekMeetingProtocolError::invalidResponse();
    if (choice->truncated)
        throw DeepSeekMeetingProtocolError::incompleteResponse();
    co_return choice->text;
}

QCoro::Task<QString> DeepSeekMeetingProtocolService::generateProtocol(QString transcript, QString languageName,
                                                                      CancellationToken token)
{
    const QString trimmedTranscript = Text::trimmed(transcript);
    if (trimmedTranscript.isEmpty())
        throw DeepSeekMeetingProtocolError::invalidResponse();
    const QPointer<KavrelBackendProxyService> proxyService = m_proxyService;

    // The model may run out of tokens mid-protocol; the second attempt has room to finish.
    const std::function<QCoro::Task<QString>(qint64)> ask = [proxyService, trimmedTranscript, languageName,
                                                              token](qint64 tokens) {
        return requestProtocol(proxyService, trimmedTranscript, languageName, tokens, token);
    };
    const QString text =
        co_await askWithOneRetryWhenCutOff<DeepSeekMeetingProtocolError>(ask, maxTokens, retryMaxTokens);
    co_return text;
}
