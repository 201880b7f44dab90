#include "speech/DeepgramLiveTranscriptionService.h"

#include "accounts/KavrelBackendProxyError.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/KavrelDiagnostics.h"
#include "base/KavrelError.h"
#include "speech/DeepgramMessages.h"
#include "speech/DeepgramLiveTranscriptionError.h"
#include "speech/DeepgramWebSocketOpenError.h"
#include "speech/DeepgramWebSocketOpenObserver.h"
#include "base/TaskOutcome.h"

#include <QTimer>
#include <QElapsedTimer>
#include <QStringConverter>
#include <QStringList>

#include <coroutine>
#include <utility>

using namespace std::chrono_literals;

namespace {

const QString keepAliveFrame = QStringLiteral("{\"type\":\"KeepAlive\"}");
const QString finalizeFrame = QStringLiteral("{\"type\":\"Finalize\"}");
const QString closeStreamFrame = QStringLiteral("{\"type\":\"CloseStream\"}");

const QLoggingCategory &logger()
{
    return KavrelDiagnostics::deepgramLiveTranscription();
}

QString trimmed(const std::optional<QString> &text)
{
    return text ? text->trimmed() : QString();
}

const char *boolText(bool value)
{
    return value ? "true" : "false";
}

// A strict UTF-8 decoding: nothing for bytes that are not UTF-8.
std::optional<QString> decodeUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

// The stop sequence waiting for the send under way.
struct DeepgramLiveTranscriptionService::DrainWaiter
{
    bool done = false;
    std::coroutine_handle<> handle;

    void resume()
    {
        if (done)
            return;
        done = true;
        if (handle)
            kavrel::detail::resumeLater(std::exchange(handle, {}));
    }

    struct Awaiter
    {
        std::shared_ptr<DrainWaiter> waiter;
        bool await_ready() const noexcept { return waiter->done; }
        void await_suspend(std::coroutine_handle<> h) { waiter->handle = h; }
        void await_resume() const {}
    };
};

DeepgramLiveTranscriptionService::DeepgramLiveTranscriptionService(KavrelBackendProxyService *proxyService,
                                                                   QObject *parent)
    : QObject(parent)
    , m_proxyService(proxyService)
    , m_webSocketOpenObserver(new DeepgramWebSocketOpenObserver(this))
{
}

DeepgramLiveTranscriptionService::~DeepgramLiveTranscriptionService()
{
    m_connectionCancellation.cancel();
    m_receiveTask.cancel();
    m_keepAliveTask.cancel();
    m_audioSendLoopTask.cancel();
    if (m_webSocketTask)
        m_webSocketTask->cancel(goingAwayCloseCode);
    if (m_audioSendsDrainedContinuation)
        std::exchange(m_audioSendsDrainedContinuation, nullptr)->resume();
}

// ---------------------------------------------------------------------------------------------
// Connecting

QCoro::Task<void> DeepgramLiveTranscriptionService::connect(QString sourceLanguageCode, bool diarize, bool utterances,
                                                            EventHandler eventHandler, ErrorHandler errorHandler)
{
    qCInfo(KavrelDiagnostics::transcription()).noquote()
        << QStringLiteral("connect requested language=%1 diarize=%2 utterances=%3")
               .arg(sourceLanguageCode, QLatin1String(boolText(diarize)), QLatin1String(boolText(utterances)));

    if (m_webSocketTask) {
        qCCritical(KavrelDiagnostics::transcription()) << "connect rejected: websocket already exists";
        throw DeepgramLiveTranscriptionError::alreadyConnected();
    }

    m_eventHandler = std::move(eventHandler);
    m_errorHandler = std::move(errorHandler);
    m_isStopping = false;
    m_didReportStreamingError = false;
    m_connectionGeneration = QUuid::createUuid();
    // A reconnection of the previous connection that is still pausing ends now.
    m_connectionCancellation.cancel();
    m_connectionCancellation = CancellationToken();
    m_currentSourceLanguageCode = sourceLanguageCode;
    m_currentDiarize = diarize;
    m_currentUtterances = utterances;
    m_reconnectAttemptCount = 0;
    resetDiagnostics();

    const QUuid generation = m_connectionGeneration;
    QPointer<DeepgramLiveTranscriptionService> self(this);
    std::exception_ptr failure = (co_await outcomeOf(openWebSocket())).error;
    if (failure) {
        // A stop or a newer connect during the open owns the state now; leave it alone.
        if (self && m_connectionGeneration == generation)
            cleanup(false);
        std::rethrow_exception(failure);
    }
}

QCoro::Task<QNetworkRequest> DeepgramLiveTranscriptionService::makeRequest(QString sourceLanguageCode, bool diarize,
                                                                           bool utterances)
{
    if (!m_proxyService)
        throw DeepgramLiveTranscriptionError::invalidRequest();
    const auto items = queryItems(sourceLanguageCode, diarize, utterances);
    KavrelBackendProxyService *proxy = m_proxyService.data();
    try {
        QNetworkRequest request = co_await proxy->makeWebSocketRequest(QString::fromLatin1(path), items);
        co_return request;
    } catch (const KavrelBackendProxyError &error) {
        switch (error.errorCase()) {
        case KavrelBackendProxyError::Case::invalidBackendBaseURL:
        case KavrelBackendProxyError::Case::invalidRequest:
            throw DeepgramLiveTranscriptionError::invalidRequest();
        case KavrelBackendProxyError::Case::authenticationRequired:
            throw DeepgramLiveTranscriptionError::authenticationRequired();
        case KavrelBackendProxyError::Case::serverError:
        case KavrelBackendProxyError::Case::invalidResponse:
            throw DeepgramLiveTranscriptionError::serverError(error.message());
        }
        throw;
    }
}

QList<QPair<QString, QString>> DeepgramLiveTranscriptionService::queryItems(const QString &sourceLanguageCode,
                                                                            bool diarize, bool utterances)
{
    const QString diarizeText = QLatin1String(boolText(diarize));
    const QString utterancesText = QLatin1String(boolText(utterances));
    return {
        {QStringLiteral("model"), QStringLiteral("nova-3")},
        {QStringLiteral("language"), sourceLanguageCode},
        {QStringLiteral("encoding"), QStringLiteral("linear16")},
        {QStringLiteral("sample_rate"), QString::number(sampleRate)},
        {QStringLiteral("channels"), QStringLiteral("1")},
        {QStringLiteral("interim_results"), QStringLiteral("true")},
        {QStringLiteral("punctuate"), QStringLiteral("true")},
        {QStringLiteral("smart_format"), QStringLiteral("true")},
        {QStringLiteral("diarize"), diarizeText},
        {QStringLiteral("utterances"), utterancesText},
        {QStringLiteral("vad_events"), QStringLiteral("true")},
        {QStringLiteral("endpointing"), QStringLiteral("300")},
        {QStringLiteral("utterance_end_ms"), QStringLiteral("1000")},
    };
}

QCoro::Task<void> DeepgramLiveTranscriptionService::openWebSocket()
{
    QPointer<DeepgramLiveTranscriptionService> self(this);
    // The generation this open belongs to. A stop, a reported error or another connect while
    // the request is being built makes it stale, and a stale open must not install a socket.
    const QUuid generation = m_connectionGeneration;
    const QString language = m_currentSourceLanguageCode;
    const bool diarize = m_currentDiarize;
    const bool utterances = m_currentUtterances;

    QNetworkRequest request = co_await makeRequest(language, diarize, utterances);
    if (!self || m_connectionGeneration != generation || m_isStopping || m_webSocketTask)
        throw CancellationError();

    const WebSocketTask::Pointer task = WebSocketTask::create(request);
    const int identifier = task->taskIdentifier();
    DeepgramWebSocketOpenObserver *observer = m_webSocketOpenObserver;
    QObject::connect(task.get(), &WebSocketTask::opened, observer, [observer, identifier] { observer->didOpen(identifier); });
    QObject::connect(task.get(), &WebSocketTask::closed, observer,
                     [observer, identifier](int code, const QString &reason) {
                         observer->didClose(identifier, code, reason);
                     });
    QObject::connect(task.get(), &WebSocketTask::failed, observer, [observer, identifier](const WebSocketError &error) {
        observer->didCompleteWithError(identifier, std::make_exception_ptr(error));
    });

    observer->prepare(identifier);
    m_webSocketTask = task;
    task->resume();

    std::exception_ptr failure = (co_await outcomeOf(observer->waitForOpen(identifier, m_timings.openTimeout))).error;

    if (failure) {
        if (self)
            cancelSocket(task, goingAwayCloseCode);
        else
            task->cancel(goingAwayCloseCode);
        if (self && m_webSocketTask == task) {
            // A failed attempt leaves no socket behind: chunks that arrive before the next
            // attempt are dropped instead of queueing for a socket that is already gone.
            m_webSocketTask.reset();
            m_pendingAudioChunks.clear();
        }
        if (isCancellation(failure))
            std::rethrow_exception(failure);
        throw DeepgramLiveTranscriptionError::connectionFailed(errorMessage(failure));
    }

    if (!self || m_connectionGeneration != generation || m_webSocketTask != task) {
        // Cleared while the upgrade completed.
        task->cancel(goingAwayCloseCode);
        throw CancellationError();
    }

    startReceiveLoop(task, generation);
    startKeepAliveLoop(task, generation);
    // Chunks that arrived while this socket was opening.
    if (!m_pendingAudioChunks.empty() && !m_audioSendLoopTask.isValid())
        startAudioSendLoop();
}

// ---------------------------------------------------------------------------------------------
// Audio

void DeepgramLiveTranscriptionService::sendAudio(QByteArray chunk)
{
    if (chunk.isEmpty() || m_isStopping || m_didReportStreamingError || !m_webSocketTask) {
        qCDebug(KavrelDiagnostics::audio()).noquote()
            << QStringLiteral("audio chunk dropped bytes=%1 stopping=%2 hasSocket=%3 reportedError=%4")
                   .arg(chunk.size())
                   .arg(QLatin1String(boolText(m_isStopping)), QLatin1String(boolText(m_webSocketTask != nullptr)),
                        QLatin1String(boolText(m_didReportStreamingError)));
        return;
    }

    ++m_enqueuedChunkCount;
    qint64 pendingBytes = pendingAudioBytes();
    int removed = 0;
    while (!m_pendingAudioChunks.empty() && pendingBytes + chunk.size() > maximumPendingAudioBytes) {
        pendingBytes -= m_pendingAudioChunks.front().size();
        m_pendingAudioChunks.pop_front();
        ++removed;
    }
    // A burst the network cannot take (the audio of a stall, handed over at once) drops chunk
    // after chunk: the run is told once, when a chunk finds room again, or at the latest after
    // a diagnostics interval.
    const auto now = std::chrono::steady_clock::now();
    if (removed > 0) {
        m_droppedAudioChunkCount += removed;
        if (m_droppedRunChunkCount == 0)
            m_droppedRunStartedAt = now;
        m_droppedRunChunkCount += removed;
        if (now - m_droppedRunStartedAt >= m_timings.diagnosticsInterval)
            logDroppedRun();
    } else {
        logDroppedRun();
    }
    m_pendingAudioChunks.push_back(std::move(chunk));
    m_maximumObservedPendingAudioChunks = std::max(m_maximumObservedPendingAudioChunks, int(m_pendingAudioChunks.size()));
    logDiagnosticsIfNeeded("enqueue");

    // A socket that is still opening gets its send loop once it is open.
    if (!m_audioSendLoopTask.isValid() && m_webSocketTask->state() == WebSocketTask::State::open)
        startAudioSendLoop();
}

void DeepgramLiveTranscriptionService::logDroppedRun()
{
    if (m_droppedRunChunkCount == 0)
        return;
    qCCritical(logger()).noquote() << QStringLiteral("dropped stale audio chunks count=%1 totalDropped=%2")
                                          .arg(m_droppedRunChunkCount)
                                          .arg(m_droppedAudioChunkCount);
    m_droppedRunChunkCount = 0;
}

qint64 DeepgramLiveTranscriptionService::pendingAudioBytes() const
{
    qint64 bytes = 0;
    for (const QByteArray &chunk : m_pendingAudioChunks)
        bytes += chunk.size();
    return bytes;
}

void DeepgramLiveTranscriptionService::startAudioSendLoop()
{
    QPointer<DeepgramLiveTranscriptionService> self(this);
    const WebSocketTask::Pointer socket = m_webSocketTask;
    const QUuid generation = m_connectionGeneration;
    m_audioSendLoopTask = spawnTask([self, socket, generation](CancellationToken token) {
        return runAudioSendLoop(self, socket, generation, token);
    });
}

QCoro::Task<void> DeepgramLiveTranscriptionService::runAudioSendLoop(QPointer<DeepgramLiveTranscriptionService> self,
                                                                     WebSocketTask::Pointer socket, QUuid generation,
                                                                     CancellationToken token)
{
    // Start on a later turn, so the handle is stored before the loop can end.
    co_await yieldOnce();

    while (self) {
        DeepgramLiveTranscriptionService *client = self.data();
        if (token.isCancelled() || !client->isCurrent(generation, socket) || client->m_isStopping
            || client->m_didReportStreamingError || client->m_pendingAudioChunks.empty())
            break;

        QByteArray chunk = std::move(client->m_pendingAudioChunks.front());
        client->m_pendingAudioChunks.pop_front();
        client->m_inFlightAudioSendCount = 1;
        const qsizetype byteCount = chunk.size();
        QElapsedTimer elapsed;
        elapsed.start();

        // No token: a send under way is allowed to finish, stop() waits for it.
        const std::exception_ptr failure =
            (co_await outcomeOf(socket->send(WebSocketMessage::fromBinary(std::move(chunk))))).error;
        if (!self)
            co_return;
        client = self.data();

        if (!failure) {
            const double milliseconds = double(elapsed.nsecsElapsed()) / 1.0e6;
            if (!client->m_firstAudioSentAt)
                client->m_firstAudioSentAt = std::chrono::steady_clock::now();
            client->m_sentAudioSampleCount += byteCount / 2;
            ++client->m_sentChunkCount;
            client->m_reconnectAttemptCount = 0;
            client->m_sendDurationTotalMilliseconds += milliseconds;
            ++client->m_sendDurationSampleCount;
            client->m_inFlightAudioSendCount = 0;
            if (client->m_audioSendsDrainedContinuation)
                std::exchange(client->m_audioSendsDrainedContinuation, nullptr)->resume();
            client->logDiagnosticsIfNeeded("send");
            continue;
        }

        client->m_inFlightAudioSendCount = 0;
        client->audioSendDidFinish();
        if (isCancellation(failure))
            break;
        if (client->isCurrent(generation, socket) && !client->m_isStopping) {
            const bool handled =
                co_await client->reconnectAfterTransientSocketFailure(failure, generation, socket, false);
            if (!self)
                co_return;
            if (!handled)
                self->handleStreamingError(DeepgramLiveTranscriptionError::sendFailed(failure), generation);
        }
        break;
    }

    if (!self)
        co_return;
    DeepgramLiveTranscriptionService *client = self.data();
    if (client->m_connectionGeneration == generation && (!client->m_webSocketTask || client->m_webSocketTask == socket)) {
        client->m_audioSendLoopTask = TaskHandle<void>();
        client->audioSendDidFinish();
    }
}

void DeepgramLiveTranscriptionService::audioSendDidFinish()
{
    if (m_inFlightAudioSendCount == 0 && m_audioSendsDrainedContinuation)
        std::exchange(m_audioSendsDrainedContinuation, nullptr)->resume();
}

QCoro::Task<void> DeepgramLiveTranscriptionService::waitForOutstandingAudioSends(CancellationToken deadline)
{
    if (m_inFlightAudioSendCount < 1 || deadline.isCancelled())
        co_return;
    // A waiter left by an earlier stop that gave up is spent; a fresh one waits for this send.
    if (!m_audioSendsDrainedContinuation || m_audioSendsDrainedContinuation->done)
        m_audioSendsDrainedContinuation = std::make_shared<DrainWaiter>();
    std::weak_ptr<DrainWaiter> weakWaiter = m_audioSendsDrainedContinuation;
    const CancellationToken::CallbackId callback = deadline.onCancel([weakWaiter] {
        if (auto waiter = weakWaiter.lock())
            waiter->resume();
    });
    DrainWaiter::Awaiter awaiter{m_audioSendsDrainedContinuation};
    co_await awaiter;
    deadline.removeCallback(callback);
}

QCoro::Task<bool> DeepgramLiveTranscriptionService::sendWhileStopping(WebSocketTask::Pointer socket, WebSocketMessage message,
                                                                    QUuid generation, CancellationToken deadline)
{
    QPointer<DeepgramLiveTranscriptionService> self(this);
    if (deadline.isCancelled())
        co_return false;
    try {
        co_await socket->send(std::move(message), deadline);
        co_return true;
    } catch (const CancellationError &) {
        if (self && deadline.isCancelled() && !socket->isCancelled()) {
            qCWarning(KavrelDiagnostics::transcription()).noquote()
                << QStringLiteral("stop: the network did not take a control frame in time; closing the socket");
        }
    } catch (...) {
        if (self)
            self->handleStreamingError(DeepgramLiveTranscriptionError::sendFailed(std::current_exception()), generation);
    }
    co_return false;
}

// ---------------------------------------------------------------------------------------------
// Keep-alive and receiving

void DeepgramLiveTranscriptionService::startKeepAliveLoop(WebSocketTask::Pointer socket, QUuid generation)
{
    QPointer<DeepgramLiveTranscriptionService> self(this);
    m_keepAliveTask = spawnTask([self, socket, generation](CancellationToken token) {
        return keepAliveLoop(self, socket, generation, token);
    });
}

QCoro::Task<void> DeepgramLiveTranscriptionService::keepAliveLoop(QPointer<DeepgramLiveTranscriptionService> self,
                                                                  WebSocketTask::Pointer socket, QUuid generation,
                                                                  CancellationToken token)
{
    while (self && !token.isCancelled()) {
        const std::chrono::milliseconds interval = self->m_timings.keepAliveInterval;
        try {
            co_await sleepFor(interval, token);
        } catch (const CancellationError &) {
            co_return;
        }
        if (!self)
            co_return;
        if (self->m_isStopping || !self->isCurrent(generation, socket))
            continue;

        std::exception_ptr failure = (co_await outcomeOf(socket->send(WebSocketMessage::fromText(keepAliveFrame)))).error;
        if (!self)
            co_return;
        // Keep-alive failures are reported at once; the receive loop is the one that reconnects.
        if (failure && !isCancellation(failure) && self->isCurrent(generation, socket))
            self->handleStreamingError(DeepgramLiveTranscriptionError::sendFailed(failure), generation);
    }
}

void DeepgramLiveTranscriptionService::startReceiveLoop(WebSocketTask::Pointer socket, QUuid generation)
{
    QPointer<DeepgramLiveTranscriptionService> self(this);
    m_receiveTask = spawnTask([self, socket, generation](CancellationToken token) {
        return receiveLoop(self, socket, generation, token);
    });
}

QCoro::Task<void> DeepgramLiveTranscriptionService::receiveLoop(QPointer<DeepgramLiveTranscriptionService> self,
                                                                WebSocketTask::Pointer socket, QUuid generation,
                                                                CancellationToken token)
{
    co_await yieldOnce();
    while (self && !token.isCancelled()) {
        const TaskOutcome<WebSocketMessage> received = co_await outcomeOf(socket->receive(token));
        std::exception_ptr failure = received.error;
        if (self && !failure) {
            // Only the current connection speaks to the handlers: after stop() or a newer
            // connect, frames of this socket are dropped.
            if (!self->isCurrent(generation, socket))
                co_return;
            // A frame the handlers cannot take ends the connection like a failed receive.
            try {
                const WebSocketMessage &message = *received.value;
                if (message.isText()) {
                    self->handleIncomingTextMessage(message.text);
                } else if (const auto text = decodeUtf8(message.data)) {
                    self->handleIncomingTextMessage(*text);
                }
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if (!self)
            co_return;
        if (!failure)
            continue;

        DeepgramLiveTranscriptionService *client = self.data();
        if (!client->m_isStopping && !token.isCancelled() && client->isCurrent(generation, socket)) {
            const bool handled = co_await client->reconnectAfterTransientSocketFailure(failure, generation, socket, true);
            if (!self)
                co_return;
            if (!handled)
                self->handleStreamingError(DeepgramLiveTranscriptionError::receiveFailed(failure), generation);
        }
        co_return;
    }
}

void DeepgramLiveTranscriptionService::handleIncomingTextMessage(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    const DeepgramMessageEnvelope envelope = DeepgramMessageEnvelope::decode(utf8);

    if (envelope.type == QLatin1String("Error")) {
        QString chosen = QStringLiteral("Unknown transcription service error.");
        try {
            const DeepgramErrorMessage error = DeepgramErrorMessage::decode(utf8);
            if (error.description)
                chosen = *error.description;
            else if (error.message)
                chosen = *error.message;
        } catch (const KavrelError &) {
        }
        throw DeepgramLiveTranscriptionError::serverError(chosen);
    }
    if (envelope.type != QLatin1String("Results"))
        return; // Metadata, UtteranceEnd, SpeechStarted and anything unknown

    const DeepgramResultsMessage message = DeepgramResultsMessage::decode(utf8);
    m_reconnectAttemptCount = 0;
    logResultLatencyIfNeeded(message);

    const QString extracted = transcript(message);
    if (extracted.isEmpty())
        return;
    DeepgramTranscriptResult result{extracted, message.speechFinal};
    const DeepgramTranscriptEvent event =
        message.isFinal ? DeepgramTranscriptEvent::final(std::move(result)) : DeepgramTranscriptEvent::interim(std::move(result));
    if (m_eventHandler) {
        const EventHandler handler = m_eventHandler; // the handler may replace it
        handler(event);
    }
}

QString DeepgramLiveTranscriptionService::transcript(const DeepgramResultsMessage &message)
{
    if (!message.channel.alternatives.isEmpty()) {
        const QString first = trimmed(message.channel.alternatives.first().transcript);
        if (!first.isEmpty())
            return first;
    }
    return utteranceTranscript(message);
}

QString DeepgramLiveTranscriptionService::utteranceTranscript(const DeepgramResultsMessage &message)
{
    if (!message.utterances || message.utterances->isEmpty())
        return QString();
    QStringList parts;
    for (const DeepgramUtterance &utterance : *message.utterances) {
        const QString text = trimmed(utterance.transcript);
        if (!text.isEmpty())
            parts.append(text);
    }
    return parts.join(QLatin1Char(' '));
}

// ---------------------------------------------------------------------------------------------
// Failures

QCoro::Task<bool> DeepgramLiveTranscriptionService::reconnectAfterTransientSocketFailure(std::exception_ptr error,
                                                                                         QUuid generation,
                                                                                         WebSocketTask::Pointer failedTask,
                                                                                         bool cancelAudioSendLoop)
{
    if (m_reconnectAttemptCount >= maximumReconnectAttempts || m_connectionGeneration != generation || !m_webSocketTask
        || m_webSocketTask != failedTask || m_isStopping || m_didReportStreamingError)
        co_return false;

    QPointer<DeepgramLiveTranscriptionService> self(this);
    m_keepAliveTask.cancel();
    m_keepAliveTask = TaskHandle<void>();
    if (cancelAudioSendLoop)
        m_audioSendLoopTask.cancel();
    m_audioSendLoopTask = TaskHandle<void>();
    m_pendingAudioChunks.clear();
    cancelSocket(failedTask, goingAwayCloseCode);
    m_webSocketTask.reset();

    const QString source = cancelAudioSendLoop ? QStringLiteral("receive") : QStringLiteral("send");
    const QString cause = errorMessage(error);
    const CancellationToken connectionToken = m_connectionCancellation;

    while (true) {
        const std::chrono::milliseconds pause = m_timings.reconnectDelays[std::size_t(m_reconnectAttemptCount)];
        ++m_reconnectAttemptCount;
        qCCritical(logger()).noquote() << QStringLiteral("Deepgram socket failed; reconnecting attempt=%1 source=%2 error=%3")
                                              .arg(m_reconnectAttemptCount)
                                              .arg(source, cause);
        try {
            co_await sleepFor(pause, connectionToken);
        } catch (const CancellationError &) {
            co_return true;
        }
        if (!self || m_connectionGeneration != generation || m_isStopping || m_didReportStreamingError)
            co_return true;

        m_webSocketTask.reset();
        std::exception_ptr openFailure = (co_await outcomeOf(openWebSocket())).error;
        if (!self)
            co_return true;
        if (!openFailure) {
            qCInfo(logger()).noquote() << QStringLiteral("Deepgram websocket reconnected attempt=%1").arg(m_reconnectAttemptCount);
            co_return true;
        }

        qCCritical(logger()).noquote() << QStringLiteral("Deepgram reconnect attempt failed attempt=%1 error=%2")
                                              .arg(m_reconnectAttemptCount)
                                              .arg(errorMessage(openFailure));
        // A connection that was stopped or replaced meanwhile has nothing left to report.
        if (isCancellation(openFailure) || m_connectionGeneration != generation || m_isStopping)
            co_return true;
        if (m_reconnectAttemptCount >= maximumReconnectAttempts)
            co_return false;
    }
}

void DeepgramLiveTranscriptionService::handleStreamingError(const DeepgramLiveTranscriptionError &error, QUuid generation)
{
    if (m_isStopping || m_didReportStreamingError || m_connectionGeneration != generation) {
        qCDebug(KavrelDiagnostics::transcription()).noquote()
            << QStringLiteral("streaming error suppressed stopping=%1 alreadyReported=%2")
                   .arg(QLatin1String(boolText(m_isStopping)), QLatin1String(boolText(m_didReportStreamingError)));
        return;
    }
    qCCritical(KavrelDiagnostics::transcription()).noquote()
        << QStringLiteral("streaming error error=%1 queued=%2 sent=%3")
               .arg(error.message())
               .arg(m_enqueuedChunkCount)
               .arg(m_sentChunkCount);

    m_didReportStreamingError = true;
    const QString message = error.message();
    const ErrorHandler handler = m_errorHandler;
    cleanup(true);
    if (handler)
        handler(message);
}

// ---------------------------------------------------------------------------------------------
// Stopping

QCoro::Task<void> DeepgramLiveTranscriptionService::stop()
{
    if (!m_stopTask.isValid() || m_stopTask.isFinished()) {
        QPointer<DeepgramLiveTranscriptionService> self(this);
        m_stopTask = spawnTask([self](CancellationToken) -> QCoro::Task<void> {
            if (self)
                co_await self->stopSequence();
        });
    }
    const TaskHandle<void> stopTask = m_stopTask;
    co_await stopTask.result();
}

QCoro::Task<void> DeepgramLiveTranscriptionService::stopSequence()
{
    logDroppedRun();
    qCInfo(KavrelDiagnostics::transcription()).noquote()
        << QStringLiteral("stop requested pendingAudio=%1 inFlight=%2 dropped=%3")
               .arg(m_pendingAudioChunks.size())
               .arg(m_inFlightAudioSendCount)
               .arg(m_droppedAudioChunkCount);

    QPointer<DeepgramLiveTranscriptionService> self(this);
    const QUuid generation = m_connectionGeneration;
    m_isStopping = true;
    // The chunks still queued are the end of what was said (the mixer's drain hands them over
    // just before the stop): they go out before the finalize frame, not into the bin.
    std::deque<QByteArray> unsent = std::exchange(m_pendingAudioChunks, {});
    if (m_audioSendLoopTask.isValid())
        m_audioSendLoopTask.cancel();

    // One deadline for everything the stop waits for: a stalled network costs it once.
    CancellationToken deadline;
    QTimer::singleShot(m_timings.stopTimeout, this, [deadline] { deadline.cancel(); });
    co_await waitForOutstandingAudioSends(deadline);
    // Cleared meanwhile (the owner was destroyed, or a newer connection began): nothing of
    // this stop is left to do.
    if (!self || m_connectionGeneration != generation)
        co_return;

    if (!m_webSocketTask) {
        cleanup(false);
        co_return;
    }
    const WebSocketTask::Pointer socket = m_webSocketTask;

    bool flushed = !m_didReportStreamingError;
    while (flushed && !unsent.empty()) {
        QByteArray chunk = std::move(unsent.front());
        unsent.pop_front();
        flushed = co_await sendWhileStopping(socket, WebSocketMessage::fromBinary(std::move(chunk)), generation, deadline);
        if (!self)
            co_return;
    }
    if (!unsent.empty())
        qCWarning(KavrelDiagnostics::transcription()).noquote()
            << QStringLiteral("stop: %1 audio chunks were not sent").arg(unsent.size());

    const WebSocketMessage finalize = WebSocketMessage::fromText(finalizeFrame);
    const bool finalized = co_await sendWhileStopping(socket, finalize, generation, deadline);
    if (!self)
        co_return;

    if (finalized) {
        // Results that answer the finalize frame still reach the handler meanwhile.
        try {
            co_await sleepFor(m_timings.finalizePause, deadline);
        } catch (const CancellationError &) {
        }
        if (!self)
            co_return;
        const WebSocketMessage closeStream = WebSocketMessage::fromText(closeStreamFrame);
        co_await sendWhileStopping(socket, closeStream, generation, deadline);
        if (!self)
            co_return;
    }

    cancelSocket(socket, normalCloseCode);
    if (m_connectionGeneration == generation)
        cleanup(false);
}

void DeepgramLiveTranscriptionService::cleanup(bool cancelWebSocket)
{
    logDroppedRun();
    m_connectionGeneration = QUuid::createUuid();
    m_connectionCancellation.cancel();
    m_receiveTask.cancel();
    m_keepAliveTask.cancel();
    m_audioSendLoopTask.cancel();
    if (cancelWebSocket && m_webSocketTask)
        cancelSocket(m_webSocketTask, goingAwayCloseCode);
    m_receiveTask = TaskHandle<void>();
    m_keepAliveTask = TaskHandle<void>();
    m_audioSendLoopTask = TaskHandle<void>();
    m_pendingAudioChunks.clear();
    m_webSocketTask.reset();
    m_eventHandler = nullptr;
    m_errorHandler = nullptr;
    m_isStopping = false;
}

void DeepgramLiveTranscriptionService::cancelSocket(const WebSocketTask::Pointer &socket, int closeCode)
{
    socket->cancel(closeCode);
    // A socket cancelled while its upgrade is awaited ends that wait now rather than at the
    // open time-out (a socket that already opened has its outcome, and this does nothing).
    m_webSocketOpenObserver->complete(socket->taskIdentifier(), std::make_exception_ptr(CancellationError()));
}

bool DeepgramLiveTranscriptionService::isCurrent(const QUuid &generation, const WebSocketTask::Pointer &socket) const
{
    return m_connectionGeneration == generation && m_webSocketTask && m_webSocketTask == socket;
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

void DeepgramLiveTranscriptionService::resetDiagnostics()
{
    const auto now = std::chrono::steady_clock::now();
    m_lastDiagnosticsLogDate = now;
    m_lastResultDiagnosticsLogDate = now;
    m_firstAudioSentAt.reset();
    m_sentAudioSampleCount = 0;
    m_enqueuedChunkCount = 0;
    m_sentChunkCount = 0;
    m_sendDurationTotalMilliseconds = 0;
    m_sendDurationSampleCount = 0;
    m_droppedAudioChunkCount = 0;
    m_droppedRunChunkCount = 0;
    m_maximumObservedPendingAudioChunks = 0;
}

void DeepgramLiveTranscriptionService::logDiagnosticsIfNeeded(const char *reason)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDiagnosticsLogDate < m_timings.diagnosticsInterval)
        return;
    const double averageSendMs =
        m_sendDurationSampleCount > 0 ? m_sendDurationTotalMilliseconds / m_sendDurationSampleCount : 0.0;
    qCInfo(logger()).noquote()
        << QStringLiteral("Deepgram stream diagnostics reason=%1 enqueued=%2 sent=%3 pending=%4 maxPending=%5 dropped=%6 "
                          "inFlight=%7 avgSendMs=%8")
               .arg(QLatin1String(reason))
               .arg(m_enqueuedChunkCount)
               .arg(m_sentChunkCount)
               .arg(m_pendingAudioChunks.size())
               .arg(m_maximumObservedPendingAudioChunks)
               .arg(m_droppedAudioChunkCount)
               .arg(m_inFlightAudioSendCount)
               .arg(averageSendMs, 0, 'f', 6);
    m_lastDiagnosticsLogDate = now;
    m_enqueuedChunkCount = 0;
    m_sentChunkCount = 0;
    m_sendDurationTotalMilliseconds = 0;
    m_sendDurationSampleCount = 0;
    m_maximumObservedPendingAudioChunks = int(m_pendingAudioChunks.size());
}

void DeepgramLiveTranscriptionService::logResultLatencyIfNeeded(const DeepgramResultsMessage &message)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastResultDiagnosticsLogDate < m_timings.diagnosticsInterval || !m_firstAudioSentAt)
        return;
    const double resultEndSec = message.start.value_or(0.0) + message.duration.value_or(0.0);
    const double wallSec =
        now > *m_firstAudioSentAt ? std::chrono::duration<double>(now - *m_firstAudioSentAt).count() : 0.0;
    const double sentAudioSec = double(m_sentAudioSampleCount) / double(sampleRate);
    const double resultAgeSec = std::max(0.0, wallSec - resultEndSec);
    qCInfo(logger()).noquote()
        << QStringLiteral("Deepgram result latency resultEndSec=%1 wallSec=%2 sentAudioSec=%3 resultAgeSec=%4 isFinal=%5 "
                          "speechFinal=%6")
               .arg(resultEndSec, 0, 'f', 6)
               .arg(wallSec, 0, 'f', 6)
               .arg(sentAudioSec, 0, 'f', 6)
               .arg(resultAgeSec, 0, 'f', 6)
               .arg(QLatin1String(boolText(message.isFinal)), QLatin1String(boolText(message.speechFinal)));
    m_lastResultDiagnosticsLogDate = now;
}
