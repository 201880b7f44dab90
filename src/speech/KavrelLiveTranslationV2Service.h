#pragma once

#include "base/Async.h"
#include "speech/KavrelLiveTranslationV2EmergencyPath.h"
#include "speech/KavrelLiveTranslationV2ReconnectLoop.h"
#include "speech/LiveTranslationTurnTable.h"
#include "speech/TranslationHandshakeWait.h"
#include "platform/WebSocketTask.h"
#include "speech/DeepSeekTranslationMessages.h"
#include "base/Continuation.h"
#include "speech/TranslationV2Messages.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <array>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>

class AuthService;
class DeepSeekTranslationService;
class KavrelBackendProxyService;
struct V2ErrorMessage;
struct V2Timing;
struct V2TranslationResult;

// The live translation client. The session engine hands it the interim texts and the final
// text of each dialogue turn; it translates them over one websocket to the backend's relay
// (protocol version 2) and reports preview, completed and failed events.
//
// One logical session outlives its sockets: the first socket configures it, every later one
// resumes it and lists the finals still waiting. Previews keep one revision in flight per turn
// and only the newest text is sent; finals wait as pending finals until the server settles
// them. Everything about one turn lives in its record in the turn table. While no socket is
// ready a reconnect loop runs (250 ms, 750 ms, 2 s, then every 5 s, without limit) and an
// emergency path translates through chat completions, so a turn may get two completed events:
// the emergency one and, once a socket is back, the server's.
//
// Main thread only. Operations are coroutines; other calls get in at each of their awaits. The
// loops and lanes it starts hold it weakly and end quietly when it is gone.
class KavrelLiveTranslationV2Service final : public QObject
{
public:
    using EventHandler = std::function<void(const DeepSeekTranslationEvent &)>;

    static constexpr const char *requestPath = "/api/v2/ai/translation/live";
    static constexpr int protocolVersion = 2;

    struct Timings
    {
        std::chrono::milliseconds openTimeout{4000};
        std::chrono::milliseconds helloTimeout{10000};
        std::chrono::milliseconds readyTimeout{45000};
        // Pause before a connection attempt, by the number of failed attempts so far (the
        // last one repeats).
        std::array<std::chrono::milliseconds, 4> reconnectDelays{std::chrono::milliseconds(250), std::chrono::milliseconds(750),
                                                                 std::chrono::milliseconds(2000), std::chrono::milliseconds(5000)};
        std::chrono::milliseconds previewRetryDelay{500};
        std::chrono::milliseconds emergencyPreviewDelay{180};
    };

    static constexpr int maxEmergencyFinalAttempts = KavrelLiveTranslationV2EmergencyPath::maxFinalAttempts;
    static constexpr int emergencyHistoryTurns = KavrelLiveTranslationV2EmergencyPath::historyTurns;

    // The legacy version-1 client is made here, over a proxy service of its own on authService.
    KavrelLiveTranslationV2Service(KavrelBackendProxyService *proxyService, AuthService *authService, QObject *parent = nullptr);
    // Takes ownership of the legacy client. The proxy service must outlive this object.
    KavrelLiveTranslationV2Service(KavrelBackendProxyService *proxyService, DeepSeekTranslationService *legacyFallbackService,
                                   QObject *parent = nullptr);
    ~KavrelLiveTranslationV2Service() override;

    void setTimings(const Timings &timings);
    const Timings &timings() const { return m_timings; }

    // Starts a logical session, or, while one is connecting or ready with the same language
    // codes, only takes the new handler. Throws DeepSeekTranslationError::alreadyConnected for
    // other codes while a socket exists (reset first). A reset under way finishes first.
    QCoro::Task<void> startSession(QString sourceLanguageCode, QString sourceLanguageName, QString targetLanguageCode,
                                   QString targetLanguageName, EventHandler eventHandler);
    // The newest text of an open turn. Never throws.
    QCoro::Task<void> enqueueInterimChunk(QString text, QUuid turnID);
    // The final text of a closed turn. Never throws.
    QCoro::Task<void> enqueueFinalChunk(QString text, QUuid turnID);
    // Context of the emergency path: the last four turns are kept.
    QCoro::Task<void> replaceHistory(QList<DeepSeekTranslationHistoryTurn> turns);
    // Ends the logical session: cancels the emergency work, forgets the handler and every turn,
    // and, when a socket is ready, tells the server and closes with code 1000. Never throws.
    // Starts and resets made while it runs take effect after it, in the order they were made.
    QCoro::Task<void> resetSession();
    // One chat completion that translates a block from the session's source language into its
    // target language. Throws DeepSeekTranslationError::invalidResponse for a blank block or a
    // blank reply, and the proxy's errors as they are.
    QCoro::Task<QString> translateStableBlock(QString text, QList<DeepSeekTranslationHistoryTurn> history);

    // Read-only state, for diagnostics and tests.
    bool isReady() const { return m_isReady; }
    bool hasConfiguredSession() const { return m_hasConfiguredSession; }
    bool isReconnecting() const { return m_reconnectLoop.isRunning(); }
    QString logicalSessionID() const { return m_logicalSessionID; }
    std::optional<QString> connectionID() const { return m_connectionID; }
    QList<DeepSeekTranslationHistoryTurn> emergencyHistory() const { return m_emergency.history(); }
    DeepSeekTranslationService *legacyFallbackService() const { return m_legacyFallbackService; }

private:
    // Outgoing work.
    QCoro::Task<void> sendMessage(QByteArray json);
    QCoro::Task<void> performReset();
    // Waits until no reset is under way. False when the client is gone meanwhile.
    QCoro::Task<bool> waitForRunningReset();
    QCoro::Task<void> sendLatestPreviewIfNeeded(QString turnID);
    QCoro::Task<void> sendFinal(V2PendingFinal pending);
    struct OpenTurnText
    {
        QString key;
        QString text; // trimmed
    };
    // The turn's key and the trimmed text when the turn still takes it; none for an empty
    // text or a finished turn.
    std::optional<OpenTurnText> openTurnText(const QString &text, QUuid turnID) const;
    // Awaits a send; its failure is logged after `description` and counts as a failure of
    // the socket the send went to.
    QCoro::Task<void> awaitSend(QCoro::Task<void> send, WebSocketTask::Pointer socket, QString description);
    QCoro::Task<void> flushPendingWork();
    // Starts a logical session's state afresh: its turns, and both emergency lanes.
    void clearSessionState();

    // Connection and handshake.
    QCoro::Task<void> establishSocket(bool resume, CancellationToken token);
    QCoro::Task<QNetworkRequest> makeRequest();
    QCoro::Task<void> sendResume();
    QCoro::Task<void> waitForHello();
    QCoro::Task<void> waitForReady();
    void failHandshakeContinuations(std::exception_ptr error);
    TaskHandle<void> startReceiveLoop(WebSocketTask::Pointer task);

    // Incoming messages and failures.
    QCoro::Task<void> handleMessage(QString text, WebSocketTask::Pointer task);
    // One handler per server message type.
    using MessageHandler = QCoro::Task<void> (KavrelLiveTranslationV2Service::*)(QByteArray bytes, WebSocketTask::Pointer task);
    static const QHash<QString, MessageHandler> &messageHandlers();
    QCoro::Task<void> handleHello(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleReady(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handlePreviewAck(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleFinalAck(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleTranslationPreview(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleTranslationFinal(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleFinalMissing(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleFinalFailed(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleError(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handlePing(QByteArray bytes, WebSocketTask::Pointer task);
    QCoro::Task<void> handleNothing(QByteArray bytes, WebSocketTask::Pointer task);
    void handleProtocolError(const V2ErrorMessage &message);
    // A failure of the given socket (the one a send or the receive loop used). A socket that
    // is no longer the current one was already dealt with by whoever closed it.
    void socketDidFail(std::exception_ptr error, const WebSocketTask::Pointer &failedSocket);
    void scheduleReconnectIfNeeded();
    // Ends the receive loop, closes the socket (1001: going away) and forgets what the server
    // said on it and which previews were in flight on it.
    void closeCurrentSocket(int closeCode = 1001);
    // A translation of this logical session, sent on the current connection.
    bool isForCurrentConnection(const V2TranslationResult &result) const;
    // The turn of a translation for the current connection that `accept` takes, else none.
    std::optional<QUuid> acceptedTurn(const V2TranslationResult &result,
                                      bool (LiveTranslationTurnTable::*accept)(const QString &, qint64));
    // Hands the translation to the handler, then logs its timing unless the handler destroyed
    // this client.
    void emitTranslation(const DeepSeekTranslationEvent &event, const V2TranslationResult &result, const QString &lane);
    void logTiming(const std::optional<V2Timing> &timing, const QString &lane, const QString &turnID, qint64 revision) const;
    void emitEvent(const DeepSeekTranslationEvent &event);

    QPointer<KavrelBackendProxyService> m_proxyService;
    QPointer<DeepSeekTranslationService> m_legacyFallbackService;
    Timings m_timings;

    QString m_sourceLanguageCode;
    QString m_sourceLanguageName;
    QString m_targetLanguageCode;
    QString m_targetLanguageName;
    EventHandler m_eventHandler;
    QString m_logicalSessionID;
    std::optional<QString> m_connectionID;
    WebSocketTask::Pointer m_webSocketTask;
    TaskHandle<void> m_receiveTask;
    TaskHandle<void> m_resetTask;
    TranslationHandshakeWait m_helloContinuation;
    TranslationHandshakeWait m_readyContinuation;
    bool m_receivedHello = false;
    bool m_isReady = false;
    bool m_hasConfiguredSession = false;
    bool m_isStopping = false;

    // The turns come before the emergency path, which reads them.
    LiveTranslationTurnTable m_turns;
    KavrelLiveTranslationV2EmergencyPath m_emergency;
    KavrelLiveTranslationV2ReconnectLoop m_reconnectLoop;
};
