#include "speech/TranslationSocketRequest.h"
#include "speech/TranslationSocketFrames.h"
#include "speech/KavrelLiveTranslationV2Service.h"

#include "accounts/KavrelBackendProxyError.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/Dates.h"
#include "base/KavrelDiagnostics.h"
#include "base/Text.h"
#include "speech/DeepSeekTranslationError.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/StableBlockTranslation.h"
#include "speech/TranslationTurnKey.h"
#include "speech/TranslationV2WebSocketOpenError.h"
#include "speech/TranslationV2Messages.h"
#include "base/TaskOutcome.h"
#include "base/Timeout.h"

#include <QDateTime>
#include <QTimer>

namespace {

const QLoggingCategory &logger()
{
    return KavrelDiagnostics::translationV2();
}

QString newSessionID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// The socket this step of a handshake started on was closed meanwhile (a failure, a protocol
// error or a reset got in at an await).
std::exception_ptr socketReplacedError()
{
    return std::make_exception_ptr(DeepSeekTranslationError::connectionLost());
}

} // namespace

KavrelLiveTranslationV2Service::KavrelLiveTranslationV2Service(KavrelBackendProxyService *proxyService, AuthService *authService,
                                                               QObject *parent)
    : KavrelLiveTranslationV2Service(proxyService,
                                     new DeepSeekTranslationService(new KavrelBackendProxyService(authService), nullptr),
                                     parent)
{
    // The legacy client's proxy service lives with the legacy client.
    if (m_legacyFallbackService) {
        if (auto *legacyProxy = m_legacyFallbackService->proxyService())
            legacyProxy->setParent(m_legacyFallbackService);
    }
}

KavrelLiveTranslationV2Service::KavrelLiveTranslationV2Service(KavrelBackendProxyService *proxyService,
                                                               DeepSeekTranslationService *legacyFallbackService, QObject *parent)
    : QObject(parent)
    , m_proxyService(proxyService)
    , m_legacyFallbackService(legacyFallbackService)
    , m_logicalSessionID(newSessionID())
    , m_emergency(proxyService, &m_turns,
                  KavrelLiveTranslationV2EmergencyPath::Host{[this] { return m_isReady || m_isStopping; },
                                                             [this] { return bool(m_eventHandler); },
                                                             [this](const DeepSeekTranslationEvent &event) { emitEvent(event); }})
    , m_reconnectLoop(KavrelLiveTranslationV2ReconnectLoop::Host{
          [this] { return m_isStopping; },
          [this](CancellationToken token) { return establishSocket(m_hasConfiguredSession, std::move(token)); },
          [this](const QString &description) { emitEvent(DeepSeekTranslationEvent::failed(description)); }})
{
    setTimings(m_timings);
    if (legacyFallbackService)
        legacyFallbackService->setParent(this);
}

KavrelLiveTranslationV2Service::~KavrelLiveTranslationV2Service()
{
    // Suspended work wakes on a later turn, finds this object gone and ends.
    m_isStopping = true;
    m_eventHandler = nullptr;
    m_reconnectLoop.cancel();
    m_receiveTask.cancel();
    m_emergency.reset();
    failHandshakeContinuations(std::make_exception_ptr(CancellationError()));
    if (m_webSocketTask)
        std::exchange(m_webSocketTask, nullptr)->cancel(1001);
}

void KavrelLiveTranslationV2Service::setTimings(const Timings &timings)
{
    m_timings = timings;
    m_emergency.setPreviewDelay(timings.emergencyPreviewDelay);
    m_reconnectLoop.setDelays(timings.reconnectDelays);
}

// ---------------------------------------------------------------------------------------------
// Operations of the session engine

QCoro::Task<void> KavrelLiveTranslationV2Service::startSession(QString sourceLanguageCode, QString sourceLanguageName,
                                                               QString targetLanguageCode, QString targetLanguageName,
                                                               EventHandler eventHandler)
{
    // A start made while a reset awaits its last send would otherwise be undone by the rest
    // of that reset (which clears the handler and the session).
    const bool present = co_await waitForRunningReset();
    if (!present)
        throw CancellationError();
    const QString source = Text::trimmed(sourceLanguageCode);
    const QString target = Text::trimmed(targetLanguageCode);
    const bool active = m_isReady || m_webSocketTask || m_reconnectLoop.isRunning();
    if (active && source == m_sourceLanguageCode && target == m_targetLanguageCode) {
        m_eventHandler = std::move(eventHandler);
        co_return;
    }
    if (m_webSocketTask)
        throw DeepSeekTranslationError::alreadyConnected();

    m_sourceLanguageCode = source;
    m_sourceLanguageName = sourceLanguageName;
    m_targetLanguageCode = target;
    m_targetLanguageName = targetLanguageName;
    m_eventHandler = std::move(eventHandler);
    m_logicalSessionID = newSessionID();
    m_connectionID.reset();
    m_emergency.setLanguageNames(m_sourceLanguageName, m_targetLanguageName);
    clearSessionState();

    qCInfo(logger()).noquote() << QStringLiteral("starting v2 session id=%1 source=%2 target=%3")
                                      .arg(m_logicalSessionID, m_sourceLanguageCode, m_targetLanguageCode);
    // A loop that is already running sends "configure" for this session on its next attempt.
    scheduleReconnectIfNeeded();
}

std::optional<KavrelLiveTranslationV2Service::OpenTurnText> KavrelLiveTranslationV2Service::openTurnText(const QString &text,
                                                                                                     QUuid turnID) const
{
    OpenTurnText open;
    open.text = Text::trimmed(text);
    if (open.text.isEmpty())
        return std::nullopt;
    open.key = TranslationTurnKey::fromUuid(turnID);
    if (m_turns.isFinalized(open.key))
        return std::nullopt;
    return open;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::awaitSend(QCoro::Task<void> send, WebSocketTask::Pointer socket,
                                                            QString description)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    std::exception_ptr failure = (co_await outcomeOf(std::move(send))).error;
    if (!self || !failure)
        co_return;
    qCWarning(logger()).noquote() << QStringLiteral("%1 error=%2").arg(description, errorMessage(failure));
    socketDidFail(failure, socket);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::enqueueInterimChunk(QString text, QUuid turnID)
{
    const std::optional<OpenTurnText> open = openTurnText(text, turnID);
    if (!open)
        co_return;
    const QString key = open->key;
    m_turns.record(key).latestPreview = open->text;

    if (!m_isReady) {
        m_emergency.scheduleEmergencyPreview(key);
        scheduleReconnectIfNeeded();
        co_return;
    }

    const WebSocketTask::Pointer socket = m_webSocketTask;
    const QString description = QStringLiteral("preview send failed turn=%1").arg(key);
    co_await awaitSend(sendLatestPreviewIfNeeded(key), socket, description);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::enqueueFinalChunk(QString text, QUuid turnID)
{
    const std::optional<OpenTurnText> open = openTurnText(text, turnID);
    if (!open)
        co_return;
    const QString key = open->key;
    const V2PendingFinal pending = m_turns.addPendingFinal(key, open->text);
    const qint64 revision = pending.clientRevision;

    if (!m_isReady) {
        m_emergency.cancelEmergencyPreview(key);
        m_emergency.scheduleEmergencyFinalIfNeeded();
        scheduleReconnectIfNeeded();
        co_return;
    }

    const WebSocketTask::Pointer socket = m_webSocketTask;
    const QString description = QStringLiteral("final send failed turn=%1 revision=%2").arg(key).arg(revision);
    // The pending final stays either way: the next flush sends it again.
    co_await awaitSend(sendFinal(pending), socket, description);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::replaceHistory(QList<DeepSeekTranslationHistoryTurn> turns)
{
    m_emergency.replaceHistory(std::move(turns));
    co_return;
}

QCoro::Task<bool> KavrelLiveTranslationV2Service::waitForRunningReset()
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    while (m_resetTask.isValid() && !m_resetTask.isFinished()) {
        const TaskHandle<void> running = m_resetTask;
        co_await running.completion();
        if (!self)
            co_return false;
    }
    co_return true;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::resetSession()
{
    const bool present = co_await waitForRunningReset();
    if (!present)
        co_return;
    QPointer<KavrelLiveTranslationV2Service> self(this);
    m_resetTask = spawnTask([self](CancellationToken) -> QCoro::Task<void> {
        if (self)
            co_await self->performReset();
    });
    const TaskHandle<void> reset = m_resetTask;
    co_await reset.result();
}

QCoro::Task<void> KavrelLiveTranslationV2Service::performReset()
{
    // The handler goes first: nothing of this session may reach the engine once it asked to
    // stop, not even from work that runs while this reset awaits.
    m_isStopping = true;
    m_eventHandler = nullptr;
    m_emergency.cancelEmergencyPreviews();
    m_emergency.cancelEmergencyFinal();

    QPointer<KavrelLiveTranslationV2Service> self(this);
    QPointer<DeepSeekTranslationService> legacy = m_legacyFallbackService;
    if (legacy)
        co_await legacy->resetSession();
    if (!self)
        co_return;

    m_reconnectLoop.cancel();

    if (m_isReady && m_webSocketTask) {
        V2CompleteSessionMessage message;
        message.sessionId = m_logicalSessionID;
        const QByteArray json = message.toJson();
        try {
            co_await sendMessage(json);
        } catch (...) {
            // The socket is closed next anyway.
        }
        if (!self)
            co_return;
    }

    failHandshakeContinuations(std::make_exception_ptr(CancellationError()));
    closeCurrentSocket(1000);
    m_eventHandler = nullptr;
    clearSessionState();
}

void KavrelLiveTranslationV2Service::clearSessionState()
{
    m_turns.clear();
    m_emergency.reset();
    m_hasConfiguredSession = false;
    m_isStopping = false;
}

QCoro::Task<QString> KavrelLiveTranslationV2Service::translateStableBlock(QString text, QList<DeepSeekTranslationHistoryTurn> history)
{
    return m_emergency.translateStableBlock(std::move(text), std::move(history), CancellationToken());
}

// ---------------------------------------------------------------------------------------------
// Outgoing work

QCoro::Task<void> KavrelLiveTranslationV2Service::sendMessage(QByteArray json)
{
    // The socket is read once: the frame goes to the socket that was current at the call.
    return TranslationSocketFrames::sendJson(m_webSocketTask, std::move(json));
}

QCoro::Task<void> KavrelLiveTranslationV2Service::sendFinal(V2PendingFinal pending)
{
    V2FinalMessage message;
    message.sessionId = m_logicalSessionID;
    message.turnId = pending.turnID;
    message.clientRevision = pending.clientRevision;
    message.sourceText = pending.sourceText;
    return sendMessage(message.toJson());
}

QCoro::Task<void> KavrelLiveTranslationV2Service::sendLatestPreviewIfNeeded(QString turnID)
{
    if (!m_isReady)
        co_return;
    // Marked in flight before the send suspends, so interim texts that arrive meanwhile only
    // replace the latest text and wait for the answer.
    const std::optional<LiveTranslationTurnTable::Preview> preview = m_turns.takePreviewToSend(turnID);
    if (!preview)
        co_return;
    V2PreviewMessage message;
    message.sessionId = m_logicalSessionID;
    message.turnId = turnID;
    message.clientRevision = preview->clientRevision;
    message.sourceText = preview->text;
    const QByteArray json = message.toJson();
    co_await sendMessage(json);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::flushPendingWork()
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    const QList<V2PendingFinal> finals = m_turns.pendingFinalsInEnqueueOrder();
    for (const V2PendingFinal &pending : finals) {
        co_await sendFinal(pending);
        if (!self)
            throw CancellationError();
    }

    const QStringList openTurns = m_turns.openTurnKeys();
    for (const QString &turnID : openTurns) {
        if (m_turns.isFinalized(turnID))
            continue;
        co_await sendLatestPreviewIfNeeded(turnID);
        if (!self)
            throw CancellationError();
    }
}

// ---------------------------------------------------------------------------------------------
// Connection and handshake

QCoro::Task<QNetworkRequest> KavrelLiveTranslationV2Service::makeRequest()
{
    return makeTranslationSocketRequest(m_proxyService, QString::fromLatin1(requestPath));
}

QCoro::Task<void> KavrelLiveTranslationV2Service::establishSocket(bool resume, CancellationToken token)
{
    if (m_webSocketTask)
        co_return;
    m_receivedHello = false;
    m_isReady = false;

    QPointer<KavrelLiveTranslationV2Service> self(this);
    const QNetworkRequest request = co_await makeRequest();
    if (!self)
        throw CancellationError();
    token.throwIfCancelled();
    if (m_webSocketTask)
        co_return;

    const QUrl url = request.url();
    qCInfo(logger()).noquote() << QStringLiteral("opening v2 websocket scheme=%1 host=%2 path=%3 resume=%4")
                                      .arg(url.scheme(), url.host(), url.path(), boolText(resume));

    const WebSocketTask::Pointer task = WebSocketTask::create(request);
    m_webSocketTask = task;
    task->resume();

    std::exception_ptr failure;
    try {
        // Every step re-checks that this is still the current socket and attempt.
        const auto stillCurrent = [&] {
            if (!self)
                throw CancellationError();
            token.throwIfCancelled();
            if (m_webSocketTask != task)
                std::rethrow_exception(socketReplacedError());
        };

        std::exception_ptr openFailure;
        try {
            co_await task->waitForOpen(m_timings.openTimeout, token);
        } catch (...) {
            openFailure = TranslationV2WebSocketOpenError::fromOpenFailure(std::current_exception());
        }
        if (openFailure)
            std::rethrow_exception(openFailure);
        stillCurrent();
        qCInfo(logger()).noquote() << QStringLiteral("v2 websocket upgrade completed task=%1").arg(task->taskIdentifier());

        // Hello reaches us through the receive loop, so it runs before the wait.
        m_receiveTask = startReceiveLoop(task);
        co_await waitForHello();
        stillCurrent();

        if (resume && m_hasConfiguredSession) {
            co_await sendResume();
        } else {
            V2ConfigureMessage configure;
            configure.sessionId = m_logicalSessionID;
            configure.sourceLanguage = m_sourceLanguageCode;
            configure.targetLanguage = m_targetLanguageCode;
            const QByteArray json = configure.toJson();
            co_await sendMessage(json);
        }
        stillCurrent();
        qCInfo(logger()).noquote() << QStringLiteral("v2 configure sent; waiting for ready");

        co_await waitForReady();
        stillCurrent();
        co_await flushPendingWork();
        stillCurrent();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        co_return;
    // A socket closed under this attempt by a failure or a protocol error ends the waits and
    // sends on it with a cancellation. That is a lost connection to try again, not the
    // cancellation of the attempt itself, which ends the reconnect loop.
    if (self && isCancellation(failure) && !token.isCancelled())
        failure = socketReplacedError();
    if (self) {
        qCWarning(logger()).noquote() << QStringLiteral("v2 websocket setup failed task=%1 error=%2")
                                             .arg(task->taskIdentifier())
                                             .arg(errorMessage(failure));
        // A socket already closed by whoever failed it, or a newer one, is not this attempt's
        // to close.
        if (m_webSocketTask == task)
            closeCurrentSocket();
    }
    std::rethrow_exception(failure);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::sendResume()
{
    const QList<V2PendingFinal> finals = m_turns.pendingFinalsInEnqueueOrder();
    V2ResumeMessage message;
    message.sessionId = m_logicalSessionID;
    message.sourceLanguage = m_sourceLanguageCode;
    message.targetLanguage = m_targetLanguageCode;
    for (const V2PendingFinal &pending : finals) {
        V2PendingFinalReference reference;
        reference.turnId = pending.turnID;
        reference.clientRevision = pending.clientRevision;
        message.pendingFinals.append(reference);
    }
    const QByteArray json = message.toJson();
    co_await sendMessage(json);
}

// A newer wait for the same step cancels the older one; a wait that times out is forgotten,
// so a late message finds nothing to end.
QCoro::Task<void> KavrelLiveTranslationV2Service::waitForHello()
{
    if (m_receivedHello)
        co_return;
    const std::exception_ptr timedOut = std::make_exception_ptr(DeepSeekTranslationError::timedOut());
    co_await m_helloContinuation.wait(m_timings.helloTimeout, timedOut);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::waitForReady()
{
    if (m_isReady)
        co_return;
    const std::exception_ptr timedOut = std::make_exception_ptr(DeepSeekTranslationError::timedOut());
    co_await m_readyContinuation.wait(m_timings.readyTimeout, timedOut);
}

void KavrelLiveTranslationV2Service::failHandshakeContinuations(std::exception_ptr error)
{
    m_helloContinuation.fail(error);
    m_readyContinuation.fail(error);
}

TaskHandle<void> KavrelLiveTranslationV2Service::startReceiveLoop(WebSocketTask::Pointer task)
{
    const auto onText = [this, task](QString text) { return handleMessage(std::move(text), task); };
    const auto onFailure = [this, task](std::exception_ptr failure) {
        if (m_isStopping || task != m_webSocketTask)
            return;
        qCWarning(logger()).noquote() << QStringLiteral("v2 receive failed error=%1").arg(errorMessage(failure));
        socketDidFail(failure, task);
    };
    return TranslationSocketFrames::startReceiveLoop(this, task, onText, onFailure);
}

// ---------------------------------------------------------------------------------------------
// Incoming messages

QCoro::Task<void> KavrelLiveTranslationV2Service::handleMessage(QString text, WebSocketTask::Pointer task)
{
    if (!m_webSocketTask || task != m_webSocketTask) {
        qCDebug(logger()).noquote() << "ignored v2 message from stale socket";
        co_return;
    }
    const QByteArray bytes = text.toUtf8();
    const QString type = V2Envelope::decode(bytes).type;
    const MessageHandler handler = messageHandlers().value(type);
    if (!handler) {
        qCDebug(logger()).noquote() << QStringLiteral("ignored unsupported v2 server message type=%1").arg(type);
        co_return;
    }
    co_await (this->*handler)(bytes, task);
}

const QHash<QString, KavrelLiveTranslationV2Service::MessageHandler> &KavrelLiveTranslationV2Service::messageHandlers()
{
    static const QHash<QString, MessageHandler> handlers = {
        {QStringLiteral("hello"), &KavrelLiveTranslationV2Service::handleHello},
        {QStringLiteral("ready"), &KavrelLiveTranslationV2Service::handleReady},
        {QStringLiteral("preview_ack"), &KavrelLiveTranslationV2Service::handlePreviewAck},
        {QStringLiteral("final_ack"), &KavrelLiveTranslationV2Service::handleFinalAck},
        {QStringLiteral("translation_preview"), &KavrelLiveTranslationV2Service::handleTranslationPreview},
        {QStringLiteral("translation_final"), &KavrelLiveTranslationV2Service::handleTranslationFinal},
        {QStringLiteral("final_missing"), &KavrelLiveTranslationV2Service::handleFinalMissing},
        {QStringLiteral("final_failed"), &KavrelLiveTranslationV2Service::handleFinalFailed},
        {QStringLiteral("error"), &KavrelLiveTranslationV2Service::handleError},
        {QStringLiteral("ping"), &KavrelLiveTranslationV2Service::handlePing},
        {QStringLiteral("pong"), &KavrelLiveTranslationV2Service::handleNothing},
        {QStringLiteral("session_completed"), &KavrelLiveTranslationV2Service::handleNothing},
    };
    return handlers;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleNothing(QByteArray, WebSocketTask::Pointer)
{
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleHello(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2HelloMessage hello = V2HelloMessage::decode(bytes);
    m_connectionID = hello.connectionId;
    m_receivedHello = true;
    m_helloContinuation.resume();
    qCInfo(logger()).noquote() << QStringLiteral("v2 hello connection=%1").arg(hello.connectionId);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleReady(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2ReadyMessage ready = V2ReadyMessage::decode(bytes);
    if (ready.sessionId != m_logicalSessionID)
        co_return;
    m_connectionID = ready.connectionId;
    m_isReady = true;
    m_hasConfiguredSession = true;
    m_emergency.cancelEmergencyPreviews();
    m_emergency.cancelEmergencyFinal();
    m_readyContinuation.resume();
    qCInfo(logger()).noquote() << QStringLiteral("v2 ready session=%1 connection=%2 resumed=%3")
                                      .arg(ready.sessionId, ready.connectionId, boolText(ready.resumed));
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handlePreviewAck(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2AckMessage ack = V2AckMessage::decode(bytes);
    qCDebug(logger()).noquote()
        << QStringLiteral("preview ack turn=%1 revision=%2 status=%3").arg(ack.turnId).arg(ack.clientRevision).arg(ack.status);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleFinalAck(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2AckMessage ack = V2AckMessage::decode(bytes);
    m_turns.acknowledgeFinal(ack.turnId, ack.clientRevision);
    qCInfo(logger()).noquote()
        << QStringLiteral("final ack turn=%1 revision=%2 status=%3").arg(ack.turnId).arg(ack.clientRevision).arg(ack.status);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleTranslationPreview(QByteArray bytes, WebSocketTask::Pointer task)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    const V2TranslationResult result = V2TranslationResult::decode(bytes);
    const std::optional<QUuid> turn = acceptedTurn(result, &LiveTranslationTurnTable::acceptPreviewAnswer);
    if (!turn)
        co_return;
    emitTranslation(DeepSeekTranslationEvent::preview(*turn, result.text), result, QStringLiteral("preview"));
    if (!self)
        co_return;

    // The answer frees the turn for its newest text, if that changed meanwhile.
    std::exception_ptr failure = (co_await outcomeOf(sendLatestPreviewIfNeeded(result.turnId))).error;
    if (self && failure)
        socketDidFail(failure, task);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleTranslationFinal(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2TranslationResult result = V2TranslationResult::decode(bytes);
    const std::optional<QUuid> turn = acceptedTurn(result, &LiveTranslationTurnTable::settleFinal);
    if (!turn)
        co_return;
    m_emergency.cancelEmergencyPreview(result.turnId);
    m_emergency.cancelEmergencyFinal(result.turnId);
    emitTranslation(DeepSeekTranslationEvent::completed(*turn, result.text), result, QStringLiteral("final"));
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleFinalMissing(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2TurnMessage missing = V2TurnMessage::decode(bytes);
    const V2PendingFinal *pending = m_turns.pendingFinal(missing.turnId);
    if (!pending || pending->clientRevision != missing.clientRevision)
        co_return;
    const V2PendingFinal resent = *pending;
    co_await sendFinal(resent);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleFinalFailed(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2TurnMessage failedTurn = V2TurnMessage::decode(bytes);
    m_turns.removePendingFinal(failedTurn.turnId);
    emitEvent(DeepSeekTranslationEvent::failed(QStringLiteral("Final translation failed for turn ") + failedTurn.turnId
                                               + QStringLiteral(".")));
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleError(QByteArray bytes, WebSocketTask::Pointer task)
{
    handleProtocolError(V2ErrorMessage::decode(bytes));
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handlePing(QByteArray bytes, WebSocketTask::Pointer task)
{
    V2PingMessage ping;
    ping.clientTime = Dates::formatIso8601(QDateTime::currentDateTimeUtc());
    const QByteArray json = ping.toJson();
    co_await sendMessage(json);
    co_return;
}

void KavrelLiveTranslationV2Service::handleProtocolError(const V2ErrorMessage &message)
{
    qCWarning(logger()).noquote() << QStringLiteral("v2 protocol error code=%1 scope=%2 recoverable=%3 message=%4")
                                         .arg(message.code, message.scope, boolText(message.recoverable), message.message);
    const bool connectionScope = message.scope == QLatin1String("connection") || message.scope == QLatin1String("session");

    if (!m_isReady && connectionScope) {
        // The waiting handshake fails with the server's words; the reconnect loop decides.
        failHandshakeContinuations(std::make_exception_ptr(DeepSeekTranslationError::serverError(message.message)));
        closeCurrentSocket();
        return;
    }

    if (message.scope == QLatin1String("preview")) {
        if (!message.turnId)
            return;
        const QString turnID = *message.turnId;
        if (!m_turns.releasePreview(turnID, message.clientRevision))
            return;

        QPointer<KavrelLiveTranslationV2Service> self(this);
        const auto delay = m_timings.previewRetryDelay;
        spawnTask([self, turnID, delay](CancellationToken token) -> QCoro::Task<void> {
            try {
                co_await sleepFor(delay, token);
            } catch (const CancellationError &) {
                co_return;
            }
            if (!self || self->m_isStopping || !self->m_isReady)
                co_return;
            const WebSocketTask::Pointer socket = self->m_webSocketTask;
            std::exception_ptr failure = (co_await outcomeOf(self->sendLatestPreviewIfNeeded(turnID))).error;
            if (self && failure)
                self->socketDidFail(failure, socket);
        });
        return;
    }

    if (message.scope == QLatin1String("final")) {
        if (message.recoverable || !message.turnId)
            return;
        m_turns.removePendingFinal(*message.turnId);
        emitEvent(DeepSeekTranslationEvent::failed(message.message));
        return;
    }

    if (connectionScope) {
        if (message.recoverable)
            socketDidFail(std::make_exception_ptr(DeepSeekTranslationError::serverError(message.message)), m_webSocketTask);
        else
            emitEvent(DeepSeekTranslationEvent::failed(message.message));
    }
}

// ---------------------------------------------------------------------------------------------
// Failures and reconnection

void KavrelLiveTranslationV2Service::socketDidFail(std::exception_ptr error, const WebSocketTask::Pointer &failedSocket)
{
    if (m_isStopping)
        return;
    if (failedSocket != m_webSocketTask) {
        qCDebug(logger()).noquote() << QStringLiteral("ignored failure of a replaced v2 socket error=%1").arg(errorMessage(error));
        return;
    }
    failHandshakeContinuations(error);
    closeCurrentSocket();
    m_emergency.scheduleEmergencyFinalIfNeeded();
    const QStringList openTurns = m_turns.openTurnKeys();
    if (!openTurns.isEmpty())
        m_emergency.scheduleEmergencyPreview(openTurns.last());
    scheduleReconnectIfNeeded();
}

void KavrelLiveTranslationV2Service::scheduleReconnectIfNeeded()
{
    if (m_isStopping || (!m_hasConfiguredSession && !m_eventHandler))
        return;
    m_reconnectLoop.start();
}

void KavrelLiveTranslationV2Service::closeCurrentSocket(int closeCode)
{
    m_receiveTask.cancel();
    m_receiveTask = {};
    if (m_webSocketTask)
        std::exchange(m_webSocketTask, nullptr)->cancel(closeCode);
    m_isReady = false;
    m_receivedHello = false;
    m_connectionID.reset();
    m_turns.forgetSentPreviews();
}

bool KavrelLiveTranslationV2Service::isForCurrentConnection(const V2TranslationResult &result) const
{
    return result.sessionId == m_logicalSessionID && (!m_connectionID || result.connectionId == *m_connectionID);
}

std::optional<QUuid> KavrelLiveTranslationV2Service::acceptedTurn(const V2TranslationResult &result,
                                                                 bool (LiveTranslationTurnTable::*accept)(const QString &, qint64))
{
    const std::optional<QUuid> turn = TranslationTurnKey::parse(result.turnId);
    if (!isForCurrentConnection(result) || !turn || !(m_turns.*accept)(result.turnId, result.clientRevision))
        return std::nullopt;
    return turn;
}

void KavrelLiveTranslationV2Service::emitTranslation(const DeepSeekTranslationEvent &event, const V2TranslationResult &result,
                                                     const QString &lane)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    emitEvent(event);
    if (!self)
        return;
    logTiming(result.timing, lane, result.turnId, result.clientRevision);
}

void KavrelLiveTranslationV2Service::logTiming(const std::optional<V2Timing> &timing, const QString &lane,
                                               const QString &turnID, qint64 revision) const
{
    if (!timing)
        return;
    qCInfo(logger()).noquote() << QStringLiteral("v2 timing lane=%1 turn=%2 revision=%3 queueMs=%4 providerMs=%5 totalMs=%6")
                                      .arg(lane, turnID)
                                      .arg(revision)
                                      .arg(timing->queueMs)
                                      .arg(timing->providerTotalMs)
                                      .arg(timing->totalMs);
}

void KavrelLiveTranslationV2Service::emitEvent(const DeepSeekTranslationEvent &event)
{
    // A copy: the handler may reset this client, which drops the stored one.
    const EventHandler handler = m_eventHandler;
    if (handler)
        handler(event);
}
