#include "speech/TranslationSocketRequest.h"
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
#include <QElapsedTimer>
#include <QStringDecoder>
#include <QTimer>

#include <algorithm>

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

bool isTerminalConnectionError(const std::exception_ptr &error)
{
    return isCancellation(error) || DeepSeekTranslationError::is(error, DeepSeekTranslationError::Case::authenticationRequired)
        || DeepSeekTranslationError::is(error, DeepSeekTranslationError::Case::invalidRequest);
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
{
    if (legacyFallbackService)
        legacyFallbackService->setParent(this);
}

KavrelLiveTranslationV2Service::~KavrelLiveTranslationV2Service()
{
    // Suspended work wakes on a later turn, finds this object gone and ends.
    m_isStopping = true;
    m_eventHandler = nullptr;
    m_reconnectTask.cancel();
    m_receiveTask.cancel();
    m_emergencyPreviewTask.cancel();
    m_emergencyFinalTask.cancel();
    failHandshakeContinuations(std::make_exception_ptr(CancellationError()));
    if (m_webSocketTask)
        std::exchange(m_webSocketTask, nullptr)->cancel(1001);
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
    const bool active = m_isReady || m_webSocketTask || m_reconnectTask.isValid();
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

    m_clientRevisionByTurn.clear();
    m_latestPreviewByTurn.clear();
    m_previewInFlightRevisionByTurn.clear();
    m_lastSentPreviewTextByTurn.clear();
    m_finalizedTurnIDs.clear();
    m_pendingFinals.clear();
    m_nextPendingFinalSequence = 0;

    cancelEmergencyPreviews();
    cancelEmergencyFinal();
    m_emergencyHistory.clear();
    m_emergencyFinalAttempts.clear();
    m_emergencyCompletedFinalTurnIDs.clear();

    m_hasConfiguredSession = false;
    m_isStopping = false;

    qCInfo(logger()).noquote() << QStringLiteral("starting v2 session id=%1 source=%2 target=%3")
                                      .arg(m_logicalSessionID, m_sourceLanguageCode, m_targetLanguageCode);
    // A loop that is already running sends "configure" for this session on its next attempt.
    scheduleReconnectIfNeeded();
}

QCoro::Task<void> KavrelLiveTranslationV2Service::enqueueInterimChunk(QString text, QUuid turnID)
{
    const QString trimmed = Text::trimmed(text);
    if (trimmed.isEmpty())
        co_return;
    const QString key = TranslationTurnKey::fromUuid(turnID);
    if (m_finalizedTurnIDs.contains(key))
        co_return;
    m_latestPreviewByTurn.insert(key, trimmed);

    if (!m_isReady) {
        scheduleEmergencyPreview(key);
        scheduleReconnectIfNeeded();
        co_return;
    }

    QPointer<KavrelLiveTranslationV2Service> self(this);
    const WebSocketTask::Pointer socket = m_webSocketTask;
    std::exception_ptr failure = (co_await outcomeOf(sendLatestPreviewIfNeeded(key))).error;
    if (!self || !failure)
        co_return;
    qCWarning(logger()).noquote() << QStringLiteral("preview send failed turn=%1 error=%2").arg(key, errorMessage(failure));
    socketDidFail(failure, socket);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::enqueueFinalChunk(QString text, QUuid turnID)
{
    const QString trimmed = Text::trimmed(text);
    if (trimmed.isEmpty())
        co_return;
    const QString key = TranslationTurnKey::fromUuid(turnID);
    if (m_finalizedTurnIDs.contains(key))
        co_return;

    m_latestPreviewByTurn.remove(key);
    m_previewInFlightRevisionByTurn.remove(key);
    m_lastSentPreviewTextByTurn.remove(key);
    const qint64 revision = nextRevision(key);
    const qint64 sequence = m_nextPendingFinalSequence++;
    V2PendingFinal pending;
    pending.turnID = key;
    pending.clientRevision = revision;
    pending.sourceText = trimmed;
    pending.enqueueSequence = sequence;
    m_pendingFinals.insert(key, pending);

    if (!m_isReady) {
        cancelEmergencyPreview(key);
        scheduleEmergencyFinalIfNeeded();
        scheduleReconnectIfNeeded();
        co_return;
    }

    V2FinalMessage message;
    message.sessionId = m_logicalSessionID;
    message.turnId = key;
    message.clientRevision = revision;
    message.sourceText = trimmed;
    const QByteArray json = message.toJson();

    QPointer<KavrelLiveTranslationV2Service> self(this);
    const WebSocketTask::Pointer socket = m_webSocketTask;
    std::exception_ptr failure = (co_await outcomeOf(sendMessage(json))).error;
    // The pending final stays either way: the next flush sends it again.
    if (!self || !failure)
        co_return;
    qCWarning(logger()).noquote() << QStringLiteral("final send failed turn=%1 revision=%2 error=%3")
                                         .arg(key)
                                         .arg(revision)
                                         .arg(errorMessage(failure));
    socketDidFail(failure, socket);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::replaceHistory(QList<DeepSeekTranslationHistoryTurn> turns)
{
    if (turns.size() > emergencyHistoryTurns)
        turns = turns.mid(turns.size() - emergencyHistoryTurns);
    m_emergencyHistory = std::move(turns);
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
    cancelEmergencyPreviews();
    cancelEmergencyFinal();

    QPointer<KavrelLiveTranslationV2Service> self(this);
    QPointer<DeepSeekTranslationService> legacy = m_legacyFallbackService;
    if (legacy)
        co_await legacy->resetSession();
    if (!self)
        co_return;

    m_reconnectTask.cancel();
    m_reconnectTask = {};

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
    m_receiveTask.cancel();
    m_receiveTask = {};
    if (m_webSocketTask)
        std::exchange(m_webSocketTask, nullptr)->cancel(1000);
    m_isReady = false;
    m_receivedHello = false;
    m_connectionID.reset();
    m_eventHandler = nullptr;

    m_pendingFinals.clear();
    m_latestPreviewByTurn.clear();
    m_previewInFlightRevisionByTurn.clear();
    m_lastSentPreviewTextByTurn.clear();
    m_finalizedTurnIDs.clear();
    m_clientRevisionByTurn.clear();
    m_nextPendingFinalSequence = 0;

    cancelEmergencyPreviews();
    cancelEmergencyFinal();
    m_emergencyHistory.clear();
    m_emergencyFinalAttempts.clear();
    m_emergencyCompletedFinalTurnIDs.clear();

    m_hasConfiguredSession = false;
    m_isStopping = false;
}

QCoro::Task<QString> KavrelLiveTranslationV2Service::translateStableBlock(QString text, QList<DeepSeekTranslationHistoryTurn> history)
{
    return requestStableBlockTranslation(std::move(text), std::move(history), CancellationToken());
}

// ---------------------------------------------------------------------------------------------
// Outgoing work

QCoro::Task<void> KavrelLiveTranslationV2Service::sendMessage(QByteArray json)
{
    // The socket is read once: the frame goes to the socket that was current at the call.
    const WebSocketTask::Pointer socket = m_webSocketTask;
    if (!socket)
        throw DeepSeekTranslationError::connectionLost();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(json);
    if (decoder.hasError())
        throw DeepSeekTranslationError::invalidRequest();
    co_await socket->send(WebSocketMessage::fromText(text));
}

qint64 KavrelLiveTranslationV2Service::nextRevision(const QString &turnID)
{
    const qint64 revision = m_clientRevisionByTurn.value(turnID, 0) + 1;
    m_clientRevisionByTurn.insert(turnID, revision);
    return revision;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::sendLatestPreviewIfNeeded(QString turnID)
{
    if (!m_isReady || m_finalizedTurnIDs.contains(turnID) || m_pendingFinals.contains(turnID)
        || m_previewInFlightRevisionByTurn.contains(turnID))
        co_return;
    const auto latest = m_latestPreviewByTurn.constFind(turnID);
    if (latest == m_latestPreviewByTurn.constEnd() || latest->isEmpty())
        co_return;
    const QString text = *latest;
    const auto lastSent = m_lastSentPreviewTextByTurn.constFind(turnID);
    if (lastSent != m_lastSentPreviewTextByTurn.constEnd() && Text::nfcEquals(*lastSent, text))
        co_return;

    // Marked before the send suspends, so interim texts that arrive meanwhile only replace
    // the latest text and wait for the answer.
    const qint64 revision = nextRevision(turnID);
    m_previewInFlightRevisionByTurn.insert(turnID, revision);
    m_lastSentPreviewTextByTurn.insert(turnID, text);

    V2PreviewMessage message;
    message.sessionId = m_logicalSessionID;
    message.turnId = turnID;
    message.clientRevision = revision;
    message.sourceText = text;
    const QByteArray json = message.toJson();
    co_await sendMessage(json);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::flushPendingWork()
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    QList<V2PendingFinal> finals = m_pendingFinals.values();
    std::sort(finals.begin(), finals.end(),
              [](const V2PendingFinal &a, const V2PendingFinal &b) { return a.enqueueSequence < b.enqueueSequence; });
    for (const V2PendingFinal &pending : finals) {
        V2FinalMessage message;
        message.sessionId = m_logicalSessionID;
        message.turnId = pending.turnID;
        message.clientRevision = pending.clientRevision;
        message.sourceText = pending.sourceText;
        const QByteArray json = message.toJson();
        co_await sendMessage(json);
        if (!self)
            throw CancellationError();
    }

    QStringList openTurns = m_latestPreviewByTurn.keys();
    std::sort(openTurns.begin(), openTurns.end());
    for (const QString &turnID : openTurns) {
        if (m_finalizedTurnIDs.contains(turnID))
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
    QList<V2PendingFinal> finals = m_pendingFinals.values();
    std::sort(finals.begin(), finals.end(),
              [](const V2PendingFinal &a, const V2PendingFinal &b) { return a.enqueueSequence < b.enqueueSequence; });
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

QCoro::Task<void> KavrelLiveTranslationV2Service::waitForHello()
{
    if (m_receivedHello)
        co_return;
    co_await waitForHandshakeStep(&KavrelLiveTranslationV2Service::m_helloContinuation, m_timings.helloTimeout);
}

QCoro::Task<void> KavrelLiveTranslationV2Service::waitForReady()
{
    if (m_isReady)
        co_return;
    co_await waitForHandshakeStep(&KavrelLiveTranslationV2Service::m_readyContinuation, m_timings.readyTimeout);
}

// One step of the handshake (hello, ready) that a message handler ends. A newer wait for the
// same step cancels the older one; a wait that times out is forgotten, so a late message
// finds nothing to end.
QCoro::Task<void> KavrelLiveTranslationV2Service::waitForHandshakeStep(HandshakeSlot slot, std::chrono::milliseconds timeout)
{
    if (this->*slot)
        std::exchange(this->*slot, nullptr)->fail(std::make_exception_ptr(CancellationError()));
    const auto continuation = Continuation<>::create();
    this->*slot = continuation;
    QPointer<KavrelLiveTranslationV2Service> self(this);
    const std::exception_ptr timedOut = std::make_exception_ptr(DeepSeekTranslationError::timedOut());
    const TaskOutcome<void> outcome =
        co_await outcomeOf(withTimeout(Continuation<>::wait(continuation), timeout, timedOut));
    if (outcome.failed() && self && self->*slot == continuation)
        std::exchange(self->*slot, nullptr)->fail(outcome.error);
    outcome.rethrowIfFailed();
}

void KavrelLiveTranslationV2Service::failHandshakeContinuations(std::exception_ptr error)
{
    if (auto hello = std::exchange(m_helloContinuation, nullptr))
        hello->fail(error);
    if (auto ready = std::exchange(m_readyContinuation, nullptr))
        ready->fail(error);
}

TaskHandle<void> KavrelLiveTranslationV2Service::startReceiveLoop(WebSocketTask::Pointer task)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    return spawnTask([self, task](CancellationToken token) -> QCoro::Task<void> {
        // Start on the next turn, so the handle is stored before the loop can act on it.
        co_await yieldOnce();
        if (!self || token.isCancelled())
            co_return;
        co_await self->receiveLoop(task, token);
    });
}

QCoro::Task<void> KavrelLiveTranslationV2Service::receiveLoop(WebSocketTask::Pointer task, CancellationToken token)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    std::exception_ptr failure;
    try {
        while (!token.isCancelled()) {
            const WebSocketMessage message = co_await task->receive(token);
            if (!self)
                co_return;
            QString text;
            if (message.isText()) {
                text = message.text;
            } else {
                QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
                text = decoder.decode(message.data);
                if (decoder.hasError())
                    continue;
            }
            co_await handleMessage(text, task);
            if (!self)
                co_return;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure)
        co_return;
    if (m_isStopping || token.isCancelled() || task != m_webSocketTask)
        co_return;
    qCWarning(logger()).noquote() << QStringLiteral("v2 receive failed error=%1").arg(errorMessage(failure));
    socketDidFail(failure, task);
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
    if (auto continuation = std::exchange(m_helloContinuation, nullptr))
        continuation->resume();
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
    cancelEmergencyPreviews();
    cancelEmergencyFinal();
    if (auto continuation = std::exchange(m_readyContinuation, nullptr))
        continuation->resume();
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
    const auto pending = m_pendingFinals.find(ack.turnId);
    if (pending != m_pendingFinals.end() && pending->clientRevision == ack.clientRevision)
        pending->acknowledged = true;
    qCInfo(logger()).noquote()
        << QStringLiteral("final ack turn=%1 revision=%2 status=%3").arg(ack.turnId).arg(ack.clientRevision).arg(ack.status);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleTranslationPreview(QByteArray bytes, WebSocketTask::Pointer task)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    const V2TranslationResult result = V2TranslationResult::decode(bytes);
    const auto inFlight = m_previewInFlightRevisionByTurn.constFind(result.turnId);
    const std::optional<QUuid> turn = TranslationTurnKey::parse(result.turnId);
    if (result.sessionId != m_logicalSessionID || (m_connectionID && result.connectionId != *m_connectionID)
        || m_finalizedTurnIDs.contains(result.turnId) || m_pendingFinals.contains(result.turnId)
        || inFlight == m_previewInFlightRevisionByTurn.constEnd() || *inFlight != result.clientRevision || !turn)
        co_return;
    m_previewInFlightRevisionByTurn.remove(result.turnId);
    emitEvent(DeepSeekTranslationEvent::preview(*turn, result.text));
    if (!self)
        co_return;
    logTiming(result.timing, QStringLiteral("preview"), result.turnId, result.clientRevision);

    // The answer frees the turn for its newest text, if that changed meanwhile.
    std::exception_ptr failure = (co_await outcomeOf(sendLatestPreviewIfNeeded(result.turnId))).error;
    if (self && failure)
        socketDidFail(failure, task);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleTranslationFinal(QByteArray bytes, WebSocketTask::Pointer task)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    const V2TranslationResult result = V2TranslationResult::decode(bytes);
    const auto pending = m_pendingFinals.constFind(result.turnId);
    const std::optional<QUuid> turn = TranslationTurnKey::parse(result.turnId);
    if (result.sessionId != m_logicalSessionID || (m_connectionID && result.connectionId != *m_connectionID)
        || pending == m_pendingFinals.constEnd() || pending->clientRevision != result.clientRevision || !turn)
        co_return;
    const qint64 revision = pending->clientRevision;
    m_finalizedTurnIDs.insert(result.turnId);
    cancelEmergencyPreview(result.turnId);
    if (m_emergencyFinalTurnID == result.turnId)
        cancelEmergencyFinal();
    m_emergencyCompletedFinalTurnIDs.insert(result.turnId);
    m_latestPreviewByTurn.remove(result.turnId);
    m_pendingFinals.remove(result.turnId);
    emitEvent(DeepSeekTranslationEvent::completed(*turn, result.text));
    if (!self)
        co_return;
    logTiming(result.timing, QStringLiteral("final"), result.turnId, revision);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleFinalMissing(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2TurnMessage missing = V2TurnMessage::decode(bytes);
    const auto pending = m_pendingFinals.constFind(missing.turnId);
    if (pending == m_pendingFinals.constEnd() || pending->clientRevision != missing.clientRevision)
        co_return;
    V2FinalMessage message;
    message.sessionId = m_logicalSessionID;
    message.turnId = pending->turnID;
    message.clientRevision = pending->clientRevision;
    message.sourceText = pending->sourceText;
    const QByteArray json = message.toJson();
    co_await sendMessage(json);
    co_return;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::handleFinalFailed(QByteArray bytes, WebSocketTask::Pointer task)
{
    const V2TurnMessage failedTurn = V2TurnMessage::decode(bytes);
    m_pendingFinals.remove(failedTurn.turnId);
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
        const auto inFlight = m_previewInFlightRevisionByTurn.constFind(turnID);
        const std::optional<qint64> inFlightRevision =
            inFlight == m_previewInFlightRevisionByTurn.constEnd() ? std::nullopt : std::optional<qint64>(*inFlight);
        if (inFlightRevision != message.clientRevision)
            return;
        m_previewInFlightRevisionByTurn.remove(turnID);
        m_lastSentPreviewTextByTurn.remove(turnID);

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
        m_pendingFinals.remove(*message.turnId);
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
    scheduleEmergencyFinalIfNeeded();
    if (!m_latestPreviewByTurn.isEmpty()) {
        QStringList openTurns = m_latestPreviewByTurn.keys();
        std::sort(openTurns.begin(), openTurns.end());
        scheduleEmergencyPreview(openTurns.last());
    }
    scheduleReconnectIfNeeded();
}

void KavrelLiveTranslationV2Service::scheduleReconnectIfNeeded()
{
    if (m_isStopping || m_reconnectTask.isValid())
        return;
    if (!m_hasConfiguredSession && !m_eventHandler)
        return;
    QPointer<KavrelLiveTranslationV2Service> self(this);
    TaskHandle<void> loop = spawnTask([self](CancellationToken token) -> QCoro::Task<void> {
        co_await yieldOnce();
        if (!self)
            co_return;
        co_await self->runReconnectLoop(token);
    });
    if (!loop.isFinished())
        m_reconnectTask = loop;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::runReconnectLoop(CancellationToken token)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    int failedAttempts = 0;
    const auto pauseFor = [this](int failures) {
        return m_timings.reconnectDelays[std::size_t(std::min(failures, int(m_timings.reconnectDelays.size()) - 1))];
    };

    if (!token.isCancelled() && !m_isStopping) {
        const std::chrono::milliseconds firstPause = pauseFor(failedAttempts);
        try {
            co_await sleepFor(firstPause, token);
        } catch (const CancellationError &) {
            // Checked below.
        }
        if (!self)
            co_return;

        while (!token.isCancelled() && !m_isStopping) {
            std::exception_ptr failure = (co_await outcomeOf(establishSocket(m_hasConfiguredSession, token))).error;
            if (!self)
                co_return;
            if (!failure)
                break;
            if (isTerminalConnectionError(failure)) {
                const QString description = errorMessage(failure);
                qCWarning(logger()).noquote()
                    << QStringLiteral("v2 connection stopped after non-recoverable error=%1").arg(description);
                // A loop cancelled by a reset belongs to a session that is over; a session
                // started since then has a handler of its own that must not hear of it.
                if (token.isCancelled())
                    break;
                emitEvent(DeepSeekTranslationEvent::failed(description));
                if (!self)
                    co_return;
                break;
            }
            ++failedAttempts;
            qCWarning(logger()).noquote()
                << QStringLiteral("v2 reconnect failed attempt=%1 error=%2").arg(failedAttempts).arg(errorMessage(failure));
            if (token.isCancelled() || m_isStopping)
                break;
            const std::chrono::milliseconds pause = pauseFor(failedAttempts);
            try {
                co_await sleepFor(pause, token);
            } catch (const CancellationError &) {
                // Checked at the top of the loop.
            }
            if (!self)
                co_return;
        }
    }

    // Only this loop's own handle: a reset may have replaced it with a newer loop meanwhile.
    if (m_reconnectTask.token() == token)
        m_reconnectTask = {};
}

void KavrelLiveTranslationV2Service::closeCurrentSocket()
{
    m_receiveTask.cancel();
    m_receiveTask = {};
    if (m_webSocketTask)
        std::exchange(m_webSocketTask, nullptr)->cancel(1001);
    m_isReady = false;
    m_receivedHello = false;
    m_connectionID.reset();
    m_previewInFlightRevisionByTurn.clear();
    m_lastSentPreviewTextByTurn.clear();
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

// ---------------------------------------------------------------------------------------------
// Emergency path

QCoro::Task<QString> KavrelLiveTranslationV2Service::requestStableBlockTranslation(QString text,
                                                                                  QList<DeepSeekTranslationHistoryTurn> history,
                                                                                  CancellationToken token)
{
    const KavrelChatCompletionRequest request =
        StableBlockTranslation::makeRequest(text, history, m_sourceLanguageName, m_targetLanguageName);
    QPointer<KavrelBackendProxyService> proxy = m_proxyService;
    if (!proxy)
        throw DeepSeekTranslationError::invalidRequest();
    const KavrelChatCompletionResponse response = co_await proxy->performChatCompletion(request, token);
    co_return StableBlockTranslation::translation(response);
}

void KavrelLiveTranslationV2Service::scheduleEmergencyPreview(const QString &turnID)
{
    if (m_isReady || m_isStopping || !m_eventHandler)
        return;
    ++m_emergencyPreviewGeneration;
    m_emergencyPreviewTurnID = turnID;
    startEmergencyPreviewTaskIfNeeded();
}

void KavrelLiveTranslationV2Service::startEmergencyPreviewTaskIfNeeded()
{
    if (m_emergencyPreviewTask.isValid() || !m_emergencyPreviewTurnID)
        return;
    QPointer<KavrelLiveTranslationV2Service> self(this);
    const auto delay = m_timings.emergencyPreviewDelay;
    // The pause gathers rapid interim texts into one request.
    TaskHandle<void> task = spawnTask([self, delay](CancellationToken token) -> QCoro::Task<void> {
        try {
            co_await sleepFor(delay, token);
        } catch (const CancellationError &) {
            co_return;
        }
        if (!self || token.isCancelled())
            co_return;
        co_await self->runEmergencyPreview(token);
    });
    if (!task.isFinished())
        m_emergencyPreviewTask = task;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::runEmergencyPreview(CancellationToken token)
{
    const auto endRun = [this, &token] {
        if (m_emergencyPreviewTask.token() == token)
            m_emergencyPreviewTask = {};
    };
    if (token.isCancelled() || m_isReady || m_isStopping || !m_emergencyPreviewTurnID
        || m_finalizedTurnIDs.contains(*m_emergencyPreviewTurnID)) {
        endRun();
        co_return;
    }
    const QString turnID = *m_emergencyPreviewTurnID;
    std::optional<QString> text;
    if (const auto pending = m_pendingFinals.constFind(turnID); pending != m_pendingFinals.constEnd())
        text = pending->sourceText;
    else if (const auto latest = m_latestPreviewByTurn.constFind(turnID); latest != m_latestPreviewByTurn.constEnd())
        text = *latest;
    if (!text || text->isEmpty()) {
        endRun();
        co_return;
    }

    QPointer<KavrelLiveTranslationV2Service> self(this);
    const qint64 generation = m_emergencyPreviewGeneration;
    const QList<DeepSeekTranslationHistoryTurn> history = m_emergencyHistory;
    QElapsedTimer elapsed;
    elapsed.start();
    TaskOutcome<QString> translationOutcome = co_await outcomeOf(requestStableBlockTranslation(*text, history, token));
    std::optional<QString> translation = std::move(translationOutcome.value);
    std::exception_ptr failure = translationOutcome.error;
    if (!self)
        co_return;

    if (translation) {
        const std::optional<QUuid> turn = TranslationTurnKey::parse(turnID);
        if (token.isCancelled() || m_isReady || m_isStopping || m_finalizedTurnIDs.contains(turnID)
            || m_emergencyPreviewTurnID != turnID || !turn) {
            qCDebug(logger()).noquote()
                << QStringLiteral("discarded stale emergency preview turn=%1 generation=%2").arg(turnID).arg(generation);
        } else {
            emitEvent(DeepSeekTranslationEvent::preview(*turn, *translation));
            if (!self)
                co_return;
            qCInfo(logger()).noquote()
                << QStringLiteral("emergency preview completed turn=%1 generation=%2 currentGeneration=%3 durationMs=%4")
                       .arg(turnID)
                       .arg(generation)
                       .arg(m_emergencyPreviewGeneration)
                       .arg(elapsed.elapsed());
        }
    } else if (!isCancellation(failure)) {
        qCWarning(logger()).noquote() << QStringLiteral("emergency preview failed turn=%1 generation=%2 error=%3")
                                             .arg(turnID)
                                             .arg(generation)
                                             .arg(errorMessage(failure));
    }
    finishEmergencyPreview(generation, token);
}

void KavrelLiveTranslationV2Service::finishEmergencyPreview(qint64 completedGeneration, const CancellationToken &token)
{
    // Only the run's own handle: a newer task stored meanwhile keeps running and is not orphaned.
    if (m_emergencyPreviewTask.token() == token)
        m_emergencyPreviewTask = {};
    if (m_isReady || m_isStopping || !m_emergencyPreviewTurnID || m_finalizedTurnIDs.contains(*m_emergencyPreviewTurnID))
        return;
    const QString turnID = *m_emergencyPreviewTurnID;
    if ((m_pendingFinals.contains(turnID) || m_latestPreviewByTurn.contains(turnID))
        && m_emergencyPreviewGeneration != completedGeneration)
        startEmergencyPreviewTaskIfNeeded();
}

void KavrelLiveTranslationV2Service::cancelEmergencyPreview(const QString &turnID)
{
    if (m_emergencyPreviewTurnID != turnID)
        return;
    cancelEmergencyPreviews();
}

void KavrelLiveTranslationV2Service::cancelEmergencyPreviews()
{
    ++m_emergencyPreviewGeneration;
    m_emergencyPreviewTurnID.reset();
    m_emergencyPreviewTask.cancel();
    m_emergencyPreviewTask = {};
}

void KavrelLiveTranslationV2Service::cancelEmergencyFinal()
{
    m_emergencyFinalTask.cancel();
    m_emergencyFinalTask = {};
    m_emergencyFinalTurnID.reset();
}

void KavrelLiveTranslationV2Service::scheduleEmergencyFinalIfNeeded()
{
    if (m_isReady || m_isStopping || m_emergencyFinalTask.isValid())
        return;
    const V2PendingFinal *oldest = nullptr;
    for (const V2PendingFinal &pending : std::as_const(m_pendingFinals)) {
        if (m_finalizedTurnIDs.contains(pending.turnID) || m_emergencyCompletedFinalTurnIDs.contains(pending.turnID)
            || m_emergencyFinalAttempts.value(pending.turnID, 0) >= maxEmergencyFinalAttempts)
            continue;
        if (!oldest || pending.enqueueSequence < oldest->enqueueSequence)
            oldest = &pending;
    }
    if (!oldest)
        return;
    const V2PendingFinal candidate = *oldest;
    m_emergencyFinalTurnID = candidate.turnID;
    m_emergencyFinalAttempts[candidate.turnID] += 1;

    QPointer<KavrelLiveTranslationV2Service> self(this);
    TaskHandle<void> task = spawnTask([self, candidate](CancellationToken token) -> QCoro::Task<void> {
        // Start on the next turn, so the handle is stored before the run can end.
        co_await yieldOnce();
        if (!self)
            co_return;
        co_await self->runEmergencyFinal(candidate, token);
    });
    if (!task.isFinished())
        m_emergencyFinalTask = task;
}

QCoro::Task<void> KavrelLiveTranslationV2Service::runEmergencyFinal(V2PendingFinal pending, CancellationToken token)
{
    QPointer<KavrelLiveTranslationV2Service> self(this);
    QElapsedTimer elapsed;
    elapsed.start();
    const QList<DeepSeekTranslationHistoryTurn> history = m_emergencyHistory;
    std::optional<QString> translation;
    std::exception_ptr failure;
    try {
        token.throwIfCancelled();
        translation = co_await requestStableBlockTranslation(pending.sourceText, history, token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (translation) {
        // Delivered only while that very final (same revision, same text) still waits.
        const auto current = m_pendingFinals.constFind(pending.turnID);
        const std::optional<QUuid> turn = TranslationTurnKey::parse(pending.turnID);
        const bool deliver = !token.isCancelled() && !m_isReady && !m_isStopping && !m_finalizedTurnIDs.contains(pending.turnID)
            && current != m_pendingFinals.constEnd() && current->clientRevision == pending.clientRevision
            && Text::nfcEquals(current->sourceText, pending.sourceText) && turn;
        if (deliver) {
            m_emergencyCompletedFinalTurnIDs.insert(pending.turnID);
            cancelEmergencyPreview(pending.turnID);
            emitEvent(DeepSeekTranslationEvent::completed(*turn, *translation));
            if (!self)
                co_return;
            qCInfo(logger()).noquote() << QStringLiteral("emergency final completed turn=%1 revision=%2 durationMs=%3")
                                              .arg(pending.turnID)
                                              .arg(pending.clientRevision)
                                              .arg(elapsed.elapsed());
        }
    } else if (!isCancellation(failure)) {
        qCWarning(logger()).noquote() << QStringLiteral("emergency final failed turn=%1 revision=%2 attempt=%3 error=%4")
                                             .arg(pending.turnID)
                                             .arg(pending.clientRevision)
                                             .arg(m_emergencyFinalAttempts.value(pending.turnID, 0))
                                             .arg(errorMessage(failure));
    }

    // Only the run's own handle: a newer run stored meanwhile keeps its task and its turn.
    if (m_emergencyFinalTask.token() == token) {
        m_emergencyFinalTask = {};
        m_emergencyFinalTurnID.reset();
    }
    scheduleEmergencyFinalIfNeeded();
}
