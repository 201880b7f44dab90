#pragma once

#include "base/Async.h"
#include "speech/PendingTranslationQueue.h"
#include "speech/TranslationHandshakeWait.h"
#include "platform/WebSocketTask.h"
#include "speech/DeepSeekTranslationMessages.h"
#include "speech/LegacyTranslationMessages.h"
#include "base/Continuation.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>

class KavrelBackendProxyService;

// The version-1 live translation client. Texts wait in a queue that holds at most one chunk per
// turn; a worker sends them one request at a time over one websocket to the legacy relay and
// waits for the relay's revisions. While the socket is ready, interim texts skip the queue and
// their translations arrive as plain revisions.
//
// The version-2 client holds one and only ever resets it; the rest runs when its own operations
// are called.
//
// Main thread only. Operations that wait are coroutines; other calls get in at their awaits.
class DeepSeekTranslationService final : public QObject
{
public:
    using EventHandler = std::function<void(const DeepSeekTranslationEvent &)>;

    static constexpr const char *requestPath = "/api/ai/translation/live";
    static constexpr int maxHistoryTurns = 4;

    struct Timings
    {
        std::chrono::milliseconds readyTimeout{10000};
        std::chrono::milliseconds requestTimeout{8000};
        // The pause before a request's one retry, and between retries of requeued chunks.
        std::chrono::milliseconds reconnectDelay{400};
        std::chrono::milliseconds keepAliveInterval{15000};
        std::chrono::milliseconds diagnosticsInterval{5000};
    };

    // Counters of the queue since the last diagnostics line.
    using Diagnostics = PendingTranslationQueue::Diagnostics;

    // The proxy service must outlive this object (or be its child).
    explicit DeepSeekTranslationService(KavrelBackendProxyService *proxyService, QObject *parent = nullptr);
    ~DeepSeekTranslationService() override;

    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }
    KavrelBackendProxyService *proxyService() const { return m_proxyService; }

    // Takes the language codes and names and the handler; resetSession() clears them.
    QCoro::Task<void> startSession(QString sourceLanguageCode, QString sourceLanguageName, QString targetLanguageCode,
                                   QString targetLanguageName, EventHandler eventHandler);
    void enqueueInterimChunk(QString text, QUuid turnID);
    void enqueueFinalChunk(QString text, QUuid turnID);
    void enqueueChunk(QString text, QUuid turnID, bool isFinal);
    // Stops the worker, forgets the queue and every turn, closes the socket with code 1000 and
    // starts a new live session id. Never throws.
    QCoro::Task<void> resetSession();
    void replaceHistory(QList<DeepSeekTranslationHistoryTurn> turns);
    QCoro::Task<QString> translateStableBlock(QString text, QList<DeepSeekTranslationHistoryTurn> history);

    // Read-only state, for diagnostics and tests.
    QString liveSessionID() const { return m_liveSessionID; }
    bool isSocketReady() const { return m_webSocketTask && m_translationSocketReady; }
    bool isProcessingQueue() const { return m_isProcessingQueue; }
    QList<PendingTranslationChunk> pendingTranscriptChunks() const { return m_queue.chunks(); }
    QList<DeepSeekTranslationHistoryTurn> recentHistoryTurns() const { return m_recentHistoryTurns; }
    Diagnostics diagnostics() const { return m_queue.diagnostics(); }

private:
    struct PendingTranslationContinuation
    {
        Continuation<QString>::Pointer continuation;
        bool expectsFinalRevision = false;
    };

    // The queue.
    QCoro::Task<void> processPendingChunks(CancellationToken token);

    // Requests and the socket.
    QCoro::Task<QString> requestLiveTranslationWithReconnect(QString transcript, QUuid turnID, bool isFinal,
                                                             CancellationToken token);
    QCoro::Task<void> establishTranslationSocket(CancellationToken token);
    QCoro::Task<QNetworkRequest> makeLiveTranslationWebSocketRequest();
    void closeSocketForReconnect();
    // Fails whatever waits on the socket with the error, ends its loops and closes it.
    void closeSocket(std::exception_ptr error, int closeCode);
    QCoro::Task<QString> requestLiveTranslation(QString transcript, QUuid turnID, bool isFinal, CancellationToken token,
                                                std::chrono::milliseconds timeout);
    QCoro::Task<QString> requestLiveTranslationWithTimeout(QString transcript, QUuid turnID, bool isFinal,
                                                           CancellationToken token);
    QCoro::Task<void> sendInterimRevisionImmediately(QString text, QUuid turnID);
    QByteArray turnMessageJson(const QString &key, const QString &transcript, bool isFinal) const;
    TaskHandle<void> startReceiveLoop(WebSocketTask::Pointer task);
    TaskHandle<void> startKeepAliveLoop(WebSocketTask::Pointer task);
    QCoro::Task<void> keepAliveLoop(WebSocketTask::Pointer task, CancellationToken token);
    QCoro::Task<void> waitForReadySignal();
    QCoro::Task<void> sendSocketMessage(QByteArray json);
    // Throws for a frame that does not decode and for the relay's error messages.
    QCoro::Task<void> handleIncomingTextMessage(QString text, WebSocketTask::Pointer task);
    void handleSocketFailure(std::exception_ptr error, const WebSocketTask::Pointer &task);
    void failReadyIfNeeded(std::exception_ptr error);
    void failAllPendingTurns(std::exception_ptr error);
    // Fails the request waiting under the turn only when it is the expected one.
    void failPendingTurn(const QString &turnID, std::exception_ptr error,
                         const Continuation<QString>::Pointer &expected);
    void resumePendingInterimTurnIfNeeded(const QString &turnID, const QString &text);
    void emitEvent(const DeepSeekTranslationEvent &event);

    QPointer<KavrelBackendProxyService> m_proxyService;
    Timings m_timings;
    QString m_sourceLanguageName;
    QString m_targetLanguageName;
    QString m_sourceLanguageCode;
    QString m_targetLanguageCode;
    QList<DeepSeekTranslationHistoryTurn> m_recentHistoryTurns;
    PendingTranslationQueue m_queue;
    bool m_isProcessingQueue = false;
    TaskHandle<void> m_processingTask;
    EventHandler m_eventHandler;
    WebSocketTask::Pointer m_webSocketTask;
    TaskHandle<void> m_receiveTask;
    TaskHandle<void> m_keepAliveTask;
    TranslationHandshakeWait m_readyContinuation;
    QHash<QString, PendingTranslationContinuation> m_pendingTurnContinuations;
    QHash<QString, qint64> m_latestTranslationRevisionByTurn;
    QSet<QString> m_finalizedTranslationTurnIDs;
    bool m_translationSocketReady = false;
    bool m_isStopping = false;
    QString m_liveSessionID;
};
