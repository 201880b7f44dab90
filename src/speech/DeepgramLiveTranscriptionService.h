#pragma once

#include "base/Async.h"
#include "speech/DeepgramLiveTranscriptionError.h"
#include "speech/DeepgramMessages.h"
#include "speech/DeepgramTranscriptEvent.h"
#include "platform/WebSocketTask.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPair>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class DeepgramWebSocketOpenObserver;
class KavrelBackendProxyService;

// The live speech-to-text client: streams the session's mixed audio to the backend's
// speech-to-text relay and hands the transcripts back as events.
//
// connect() opens the socket and returns once the upgrade is complete. sendAudio() queues a chunk
// (at most 5 s of audio wait; when the network falls behind, the oldest are dropped) and one send
// loop writes them one at a time. A keep-alive frame goes out every 5 s. After a transient socket
// failure the client reopens up to four times (after 250 ms, 750 ms, 2 s, 4 s); the counter starts
// again after any successful send or decodable result. At most one error text reaches the error
// handler per connection, none while stopping, and none (nor any event) after stop() has returned.
// stop() lets the send under way finish, sends Finalize, keeps receiving for 0.5 s, sends
// CloseStream and closes with 1000.
//
// Main thread only; the loops run as detached tasks that hold the client weakly and check the
// connection's generation and the current socket after every await.
class DeepgramLiveTranscriptionService final : public QObject
{
    Q_OBJECT

public:
    using EventHandler = std::function<void(const DeepgramTranscriptEvent &)>;
    using ErrorHandler = std::function<void(const QString &)>;

    static constexpr const char *path = "/api/stt/deepgram/live";
    static constexpr int maximumReconnectAttempts = 4;
    static constexpr int sampleRate = 16000;
    // The queue is bounded by the audio it holds, not by a count of chunks: the capture hands
    // over a burst of a second or two after the audio server comes back, and all of it must
    // reach the relay; only a network that stays behind for longer loses the oldest audio.
    static constexpr qint64 maximumPendingAudioBytes = 5 * sampleRate * 2; // 5 s of 16-bit mono
    static constexpr int normalCloseCode = 1000;
    static constexpr int goingAwayCloseCode = 1001;

    // The pauses of the protocol; tests shorten them.
    struct Timings
    {
        std::chrono::milliseconds keepAliveInterval{5000};
        std::array<std::chrono::milliseconds, 4> reconnectDelays{std::chrono::milliseconds(250),
                                                                 std::chrono::milliseconds(750),
                                                                 std::chrono::milliseconds(2000),
                                                                 std::chrono::milliseconds(4000)};
        std::chrono::milliseconds openTimeout{8000};
        std::chrono::milliseconds finalizePause{500};
        std::chrono::milliseconds diagnosticsInterval{5000};
        // How long stop() as a whole may wait for the network (the audio send under way,
        // Finalize, the pause for the last results, CloseStream) before it gives up and closes
        // the socket, so a dead connection cannot hold up the rest of the stop (the recording
        // among it).
        std::chrono::milliseconds stopTimeout{5000};
    };

    // The proxy service builds the authenticated request of every socket (it is not owned).
    explicit DeepgramLiveTranscriptionService(KavrelBackendProxyService *proxyService, QObject *parent = nullptr);
    ~DeepgramLiveTranscriptionService() override;

    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }

    // Opens the socket for a language (two-letter code) and returns once it is open. Throws
    // DeepgramLiveTranscriptionError (alreadyConnected while a socket exists; connectionFailed
    // when the upgrade fails or takes longer than the open time-out; authenticationRequired,
    // invalidRequest or serverError when the request cannot be built) or the proxy's error
    // unchanged. The handlers are called on the main thread and must not wait for the client.
    QCoro::Task<void> connect(QString sourceLanguageCode, bool diarize, bool utterances, EventHandler eventHandler,
                              ErrorHandler errorHandler);
    // Queues one chunk of 16 kHz mono 16-bit PCM. Dropped (and logged) when empty, without a
    // socket, while stopping or after a reported error. Never fails.
    void sendAudio(QByteArray chunk);
    // Finalises the stream and closes the socket; returns when the state is cleared. Never
    // fails. A stop while another is under way waits for that one.
    QCoro::Task<void> stop();

    // The transcript of a Results frame: the first alternative's text, else the utterances
    // joined with single spaces; trimmed; empty when there is none.
    static QString transcript(const DeepgramResultsMessage &message);
    static QString utteranceTranscript(const DeepgramResultsMessage &message);
    // The thirteen query items of the relay, in their order.
    static QList<QPair<QString, QString>> queryItems(const QString &sourceLanguageCode, bool diarize, bool utterances);

    // Handles one received text: delivers at most one event, or throws (a decoding error, or
    // serverError for an Error frame).
    void handleIncomingTextMessage(const QString &text);

    // For diagnostics and tests.
    int pendingAudioChunkCount() const { return int(m_pendingAudioChunks.size()); }
    qint64 pendingAudioBytes() const;
    int droppedAudioChunkCount() const { return m_droppedAudioChunkCount; }
    int inFlightAudioSendCount() const { return m_inFlightAudioSendCount; }
    int reconnectAttemptCount() const { return m_reconnectAttemptCount; }
    bool isConnected() const { return m_webSocketTask != nullptr; }

private:
    struct DrainWaiter;

    QCoro::Task<void> openWebSocket();
    QCoro::Task<QNetworkRequest> makeRequest(QString sourceLanguageCode, bool diarize, bool utterances);
    void startReceiveLoop(WebSocketTask::Pointer socket, QUuid generation);
    void startKeepAliveLoop(WebSocketTask::Pointer socket, QUuid generation);
    void startAudioSendLoop();
    static QCoro::Task<void> receiveLoop(QPointer<DeepgramLiveTranscriptionService> self, WebSocketTask::Pointer socket,
                                         QUuid generation, CancellationToken token);
    static QCoro::Task<void> keepAliveLoop(QPointer<DeepgramLiveTranscriptionService> self, WebSocketTask::Pointer socket,
                                           QUuid generation, CancellationToken token);
    static QCoro::Task<void> runAudioSendLoop(QPointer<DeepgramLiveTranscriptionService> self,
                                              WebSocketTask::Pointer socket, QUuid generation, CancellationToken token);
    void audioSendDidFinish();
    QCoro::Task<void> stopSequence();
    // Both give up when the stop's deadline passes.
    QCoro::Task<void> waitForOutstandingAudioSends(CancellationToken deadline);
    // One control frame of the stop sequence. False when it was not written (the stop then
    // closes the socket at once).
    QCoro::Task<bool> sendWhileStopping(WebSocketTask::Pointer socket, WebSocketMessage message, QUuid generation,
                                        CancellationToken deadline);
    QCoro::Task<bool> reconnectAfterTransientSocketFailure(std::exception_ptr error, QUuid generation,
                                                           WebSocketTask::Pointer failedTask, bool cancelAudioSendLoop);
    void handleStreamingError(const DeepgramLiveTranscriptionError &error, QUuid generation);
    void cleanup(bool cancelWebSocket);
    void cancelSocket(const WebSocketTask::Pointer &socket, int closeCode);
    bool isCurrent(const QUuid &generation, const WebSocketTask::Pointer &socket) const;

    void resetDiagnostics();
    // Tells the chunks dropped since the last chunk that found room, if any.
    void logDroppedRun();
    void logDiagnosticsIfNeeded(const char *reason);
    void logResultLatencyIfNeeded(const DeepgramResultsMessage &message);

    QPointer<KavrelBackendProxyService> m_proxyService;
    DeepgramWebSocketOpenObserver *m_webSocketOpenObserver = nullptr;
    Timings m_timings;

    QString m_currentSourceLanguageCode;
    bool m_currentDiarize = false;
    bool m_currentUtterances = false;
    WebSocketTask::Pointer m_webSocketTask;
    TaskHandle<void> m_receiveTask;
    TaskHandle<void> m_keepAliveTask;
    TaskHandle<void> m_audioSendLoopTask;
    std::deque<QByteArray> m_pendingAudioChunks;
    EventHandler m_eventHandler;
    ErrorHandler m_errorHandler;
    bool m_isStopping = false;
    // The stop sequence under way, shared by every caller of stop().
    TaskHandle<void> m_stopTask;
    bool m_didReportStreamingError = false;
    QUuid m_connectionGeneration = QUuid::createUuid();
    // Cancelled whenever the connection is cleared, so reconnection pauses end at once.
    CancellationToken m_connectionCancellation;

    // Diagnostics.
    std::chrono::steady_clock::time_point m_lastDiagnosticsLogDate = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastResultDiagnosticsLogDate = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> m_firstAudioSentAt;
    qint64 m_sentAudioSampleCount = 0;
    int m_enqueuedChunkCount = 0;
    int m_sentChunkCount = 0;
    double m_sendDurationTotalMilliseconds = 0;
    int m_sendDurationSampleCount = 0;
    int m_reconnectAttemptCount = 0;
    int m_inFlightAudioSendCount = 0;
    int m_droppedAudioChunkCount = 0;
    int m_droppedRunChunkCount = 0;
    std::chrono::steady_clock::time_point m_droppedRunStartedAt;
    int m_maximumObservedPendingAudioChunks = 0;
    std::shared_ptr<DrainWaiter> m_audioSendsDrainedContinuation;
};
