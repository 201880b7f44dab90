#include "speech/TranslationSocketRequest.h"
#include "speech/TranslationSocketFrames.h"
#include "speech/DeepSeekTranslationService.h"

#include "accounts/KavrelBackendProxyError.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/KavrelDiagnostics.h"
#include "base/Text.h"
#include "speech/DeepSeekTranslationError.h"
#include "speech/StableBlockTranslation.h"
#include "speech/LegacyTranslationMessages.h"
#include "speech/TranslationTurnKey.h"
#include "base/TaskOutcome.h"
#include "base/Timeout.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

// Most lines go to the shared translation log; the queue's own lines to the client's.
const QLoggingCategory &sharedLog()
{
    return KavrelDiagnostics::translation();
}

const QLoggingCategory &queueLog()
{
    return KavrelDiagnostics::deepSeekTranslation();
}

QString newSessionID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

using Case = DeepSeekTranslationError::Case;

bool isTranslationError(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DeepSeekTranslationError &) {
        return true;
    } catch (...) {
    }
    return false;
}

// Errors after which asking again cannot help.
bool isTerminalRequestError(const std::exception_ptr &error)
{
    return DeepSeekTranslationError::is(error, Case::authenticationRequired) || DeepSeekTranslationError::is(error, Case::invalidRequest)
        || DeepSeekTranslationError::is(error, Case::alreadyConnected);
}

std::exception_ptr cancelledRequest()
{
    return std::make_exception_ptr(DeepSeekTranslationError::requestFailed(std::make_exception_ptr(CancellationError())));
}

} // namespace

DeepSeekTranslationService::DeepSeekTranslationService(KavrelBackendProxyService *proxyService, QObject *parent)
    : QObject(parent)
    , m_proxyService(proxyService)
    , m_liveSessionID(newSessionID())
{
}

DeepSeekTranslationService::~DeepSeekTranslationService()
{
    // Suspended work wakes on a later turn, finds this object gone and ends.
    m_isStopping = true;
    m_eventHandler = nullptr;
    m_processingTask.cancel();
    m_receiveTask.cancel();
    m_keepAliveTask.cancel();
    failReadyIfNeeded(std::make_exception_ptr(CancellationError()));
    failAllPendingTurns(std::make_exception_ptr(CancellationError()));
    if (m_webSocketTask)
        std::exchange(m_webSocketTask, nullptr)->cancel(1001);
}

// ---------------------------------------------------------------------------------------------
// Operations

QCoro::Task<void> DeepSeekTranslationService::startSession(QString sourceLanguageCode, QString sourceLanguageName,
                                                           QString targetLanguageCode, QString targetLanguageName,
                                                           EventHandler eventHandler)
{
    m_sourceLanguageCode = Text::trimmed(sourceLanguageCode);
    m_sourceLanguageName = sourceLanguageName;
    m_targetLanguageCode = Text::trimmed(targetLanguageCode);
    m_targetLanguageName = targetLanguageName;
    m_eventHandler = std::move(eventHandler);
    co_return;
}

void DeepSeekTranslationService::enqueueInterimChunk(QString text, QUuid turnID)
{
    const QString trimmed = Text::trimmed(text);
    if (trimmed.isEmpty())
        return;
    if (m_webSocketTask && m_translationSocketReady) {
        m_queue.countSentAtOnce();
        QPointer<DeepSeekTranslationService> self(this);
        spawnTask([self, trimmed, turnID](CancellationToken) -> QCoro::Task<void> {
            if (self)
                co_await self->sendInterimRevisionImmediately(trimmed, turnID);
        });
        return;
    }
    enqueueChunk(text, turnID, false);
}

void DeepSeekTranslationService::enqueueFinalChunk(QString text, QUuid turnID)
{
    enqueueChunk(std::move(text), turnID, true);
}

void DeepSeekTranslationService::enqueueChunk(QString text, QUuid turnID, bool isFinal)
{
    const QString trimmed = Text::trimmed(text);
    if (trimmed.isEmpty())
        return;
    m_queue.add(PendingTranslationChunk{turnID, trimmed, isFinal});
    m_queue.logDiagnosticsIfNeeded(QStringLiteral("enqueue"), m_timings.diagnosticsInterval);

    if (m_isProcessingQueue)
        return;
    m_isProcessingQueue = true;
    QPointer<DeepSeekTranslationService> self(this);
    m_processingTask = spawnTask([self](CancellationToken token) -> QCoro::Task<void> {
        // Start on the next turn, so the handle is stored before the worker looks at it.
        co_await yieldOnce();
        if (!self || token.isCancelled())
            co_return;
        co_await self->processPendingChunks(token);
    });
}

QCoro::Task<void> DeepSeekTranslationService::resetSession()
{
    m_isStopping = true;
    m_processingTask.cancel();
    m_processingTask = {};
    m_queue.reset();
    m_latestTranslationRevisionByTurn.clear();
    m_finalizedTranslationTurnIDs.clear();
    m_isProcessingQueue = false;
    m_recentHistoryTurns.clear();

    closeSocket(std::make_exception_ptr(CancellationError()), 1000);

    m_sourceLanguageName.clear();
    m_targetLanguageName.clear();
    m_sourceLanguageCode.clear();
    m_targetLanguageCode.clear();
    m_eventHandler = nullptr;

    m_isStopping = false;
    m_liveSessionID = newSessionID();
    co_return;
}

void DeepSeekTranslationService::replaceHistory(QList<DeepSeekTranslationHistoryTurn> turns)
{
    if (turns.size() > maxHistoryTurns)
        turns = turns.mid(turns.size() - maxHistoryTurns);
    m_recentHistoryTurns = std::move(turns);
}

QCoro::Task<QString> DeepSeekTranslationService::translateStableBlock(QString text, QList<DeepSeekTranslationHistoryTurn> history)
{
    return StableBlockTranslation::translate(m_proxyService, std::move(text), std::move(history), m_sourceLanguageName,
                                             m_targetLanguageName);
}

// ---------------------------------------------------------------------------------------------
// The queue

QCoro::Task<void> DeepSeekTranslationService::processPendingChunks(CancellationToken token)
{
    QPointer<DeepSeekTranslationService> self(this);
    // A reset cancels the worker and resets the queue itself; a cancelled worker touches
    // nothing, since a newer worker may own the queue by the time it wakes.
    const auto isOwn = [this, &token] { return !token.isCancelled() && m_processingTask.token() == token; };

    while (isOwn()) {
        const std::optional<PendingTranslationChunk> chunk = m_queue.takeNext();
        if (!chunk)
            break;
        const QString key = TranslationTurnKey::fromUuid(chunk->turnID);
        QElapsedTimer elapsed;
        elapsed.start();
        TaskOutcome<QString> translationOutcome = co_await outcomeOf(requestLiveTranslationWithReconnect(chunk->transcript, chunk->turnID, chunk->isFinal, token));
        std::optional<QString> translation = std::move(translationOutcome.value);
        std::exception_ptr failure = translationOutcome.error;
        if (!self || !isOwn())
            co_return;

        if (translation) {
            m_queue.countCompleted(double(elapsed.nsecsElapsed()) / 1e6);
            if (chunk->isFinal) {
                m_recentHistoryTurns.append(DeepSeekTranslationHistoryTurn{chunk->transcript, *translation});
                if (m_recentHistoryTurns.size() > maxHistoryTurns)
                    m_recentHistoryTurns = m_recentHistoryTurns.mid(m_recentHistoryTurns.size() - maxHistoryTurns);
                emitEvent(DeepSeekTranslationEvent::completed(chunk->turnID, *translation));
            } else {
                emitEvent(DeepSeekTranslationEvent::preview(chunk->turnID, *translation));
            }
            if (!self || !isOwn())
                co_return;
            m_queue.logDiagnosticsIfNeeded(QStringLiteral("completed"), m_timings.diagnosticsInterval);
            continue;
        }

        if (isCancellation(failure)) {
            m_queue.clear();
            break;
        }
        if (DeepSeekTranslationError::is(failure, Case::timedOut) && !chunk->isFinal) {
            m_queue.countDropped();
            qCWarning(queueLog()).noquote() << QStringLiteral("Dropped stalled interim translation turnId=%1").arg(key);
            m_queue.logDiagnosticsIfNeeded(QStringLiteral("interim-timeout"), m_timings.diagnosticsInterval);
            continue;
        }
        if (isTerminalRequestError(failure) || !isTranslationError(failure)) {
            m_queue.clear();
            const QString text = isTranslationError(failure)
                ? errorMessage(failure)
                : DeepSeekTranslationError::requestFailed(failure).message();
            emitEvent(DeepSeekTranslationEvent::failed(text));
            if (!self || !isOwn())
                co_return;
            break;
        }
        // requestFailed, serverError, invalidResponse, or a final that timed out.
        m_queue.requeue(*chunk);
        qCWarning(queueLog()).noquote()
            << QStringLiteral("Retrying live translation after recoverable error=%1").arg(errorMessage(failure));
        const std::chrono::milliseconds pause = m_timings.reconnectDelay;
        try {
            co_await sleepFor(pause, token);
        } catch (const CancellationError &) {
            // The loop condition sees it.
        }
        if (!self)
            co_return;
    }

    if (m_processingTask.token() == token) {
        m_isProcessingQueue = false;
        m_processingTask = {};
    }
}

// ---------------------------------------------------------------------------------------------
// Requests and the socket

QCoro::Task<QString> DeepSeekTranslationService::requestLiveTranslationWithReconnect(QString transcript, QUuid turnID, bool isFinal,
                                                                                     CancellationToken token)
{
    QPointer<DeepSeekTranslationService> self(this);
    for (int attempt = 1;; ++attempt) {
        token.throwIfCancelled();
        std::optional<QString> translation;
        std::exception_ptr failure;
        try {
            if (!m_webSocketTask || !m_translationSocketReady) {
                closeSocketForReconnect();
                co_await establishTranslationSocket(token);
                if (!self)
                    throw CancellationError();
            }
            translation = co_await requestLiveTranslationWithTimeout(transcript, turnID, isFinal, token);
        } catch (...) {
            failure = std::current_exception();
        }
        // A cancelled request leaves the socket alone: it may already belong to newer work.
        if (!self || token.isCancelled() || isCancellation(failure))
            throw CancellationError();
        if (translation)
            co_return *translation;

        closeSocketForReconnect();
        bool retry = false;
        if (DeepSeekTranslationError::is(failure, Case::timedOut))
            retry = isFinal && attempt == 1;
        else
            retry = attempt == 1 && !isTerminalRequestError(failure);
        if (!retry)
            std::rethrow_exception(failure);
        const std::chrono::milliseconds pause = m_timings.reconnectDelay;
        co_await sleepFor(pause, token);
        if (!self)
            throw CancellationError();
    }
}

QCoro::Task<QNetworkRequest> DeepSeekTranslationService::makeLiveTranslationWebSocketRequest()
{
    return makeTranslationSocketRequest(m_proxyService, QString::fromLatin1(requestPath));
}

QCoro::Task<void> DeepSeekTranslationService::establishTranslationSocket(CancellationToken token)
{
    if (m_webSocketTask)
        co_return;
    m_translationSocketReady = false;

    QPointer<DeepSeekTranslationService> self(this);
    const QNetworkRequest request = co_await makeLiveTranslationWebSocketRequest();
    if (!self)
        throw CancellationError();
    token.throwIfCancelled();
    if (m_webSocketTask)
        co_return;

    const WebSocketTask::Pointer task = WebSocketTask::create(request);
    m_webSocketTask = task;
    task->resume();
    m_receiveTask = startReceiveLoop(task);
    m_keepAliveTask = startKeepAliveLoop(task);

    // The relay speaks first: "ready" comes before our "configure".
    std::exception_ptr failure;
    try {
        co_await waitForReadySignal();
        if (!self)
            throw CancellationError();
        token.throwIfCancelled();
        TranslationConfigureMessage configure;
        configure.sessionId = m_liveSessionID;
        configure.sourceLanguage = m_sourceLanguageCode;
        configure.targetLanguage = m_targetLanguageCode;
        const QByteArray json = configure.toJson();
        co_await sendSocketMessage(json);
        if (!self)
            throw CancellationError();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        co_return;
    if (self && (!m_webSocketTask || m_webSocketTask == task))
        closeSocketForReconnect();
    std::rethrow_exception(failure);
}

void DeepSeekTranslationService::closeSocketForReconnect()
{
    m_isStopping = true;
    closeSocket(cancelledRequest(), 1001);
    m_isStopping = false;
}

void DeepSeekTranslationService::closeSocket(std::exception_ptr error, int closeCode)
{
    failReadyIfNeeded(error);
    failAllPendingTurns(error);
    m_receiveTask.cancel();
    m_receiveTask = {};
    m_keepAliveTask.cancel();
    m_keepAliveTask = {};
    if (m_webSocketTask)
        std::exchange(m_webSocketTask, nullptr)->cancel(closeCode);
    m_translationSocketReady = false;
}

QCoro::Task<QString> DeepSeekTranslationService::requestLiveTranslationWithTimeout(QString transcript, QUuid turnID, bool isFinal,
                                                                                   CancellationToken token)
{
    return requestLiveTranslation(std::move(transcript), turnID, isFinal, std::move(token), m_timings.requestTimeout);
}

QCoro::Task<QString> DeepSeekTranslationService::requestLiveTranslation(QString transcript, QUuid turnID, bool isFinal,
                                                                        CancellationToken token, std::chrono::milliseconds timeout)
{
    if (!m_webSocketTask || !m_translationSocketReady)
        throw DeepSeekTranslationError::connectionLost();
    token.throwIfCancelled();

    const QString key = TranslationTurnKey::fromUuid(turnID);
    if (const auto stale = m_pendingTurnContinuations.constFind(key); stale != m_pendingTurnContinuations.constEnd())
        failPendingTurn(key, std::make_exception_ptr(CancellationError()), stale->continuation);
    const auto continuation = Continuation<QString>::create();
    m_pendingTurnContinuations.insert(key, PendingTranslationContinuation{continuation, isFinal});
    const std::weak_ptr<Continuation<QString>> weak = continuation;

    const QByteArray json = turnMessageJson(key, transcript, isFinal);

    QPointer<DeepSeekTranslationService> self(this);
    spawnTask([self, json, key, weak](CancellationToken) -> QCoro::Task<void> {
        if (!self)
            co_return;
        std::exception_ptr failure = (co_await outcomeOf(self->sendSocketMessage(json))).error;
        if (self && failure)
            self->failPendingTurn(key, failure, weak.lock());
    });
    const CancellationToken::CallbackId cancelCallback = token.onCancel([self, key, weak] {
        if (self)
            self->failPendingTurn(key, std::make_exception_ptr(CancellationError()), weak.lock());
    });
    // The losing side of the race against the time-out fails only its own request.
    if (timeout.count() > 0) {
        QTimer::singleShot(timeout, this, [this, key, weak] {
            failPendingTurn(key, std::make_exception_ptr(DeepSeekTranslationError::timedOut()), weak.lock());
        });
    }

    TaskOutcome<QString> translationOutcome = co_await outcomeOf(Continuation<QString>::wait(continuation));
    std::optional<QString> translation = std::move(translationOutcome.value);
    std::exception_ptr failure = translationOutcome.error;
    token.removeCallback(cancelCallback);
    if (failure)
        std::rethrow_exception(failure);
    co_return *translation;
}

QByteArray DeepSeekTranslationService::turnMessageJson(const QString &key, const QString &transcript, bool isFinal) const
{
    TranslationTurnMessage message;
    message.turnId = key;
    message.transcript = transcript;
    message.isFinal = isFinal;
    message.sourceLanguage = m_sourceLanguageCode;
    return message.toJson();
}

QCoro::Task<void> DeepSeekTranslationService::sendInterimRevisionImmediately(QString text, QUuid turnID)
{
    const QString key = TranslationTurnKey::fromUuid(turnID);
    const QByteArray json = turnMessageJson(key, text, false);
    QPointer<DeepSeekTranslationService> self(this);
    std::exception_ptr failure = (co_await outcomeOf(sendSocketMessage(json))).error;
    if (!self || !failure)
        co_return;
    m_queue.countDropped();
    qCWarning(sharedLog()).noquote() << QStringLiteral("live interim send failed turn=%1 error=%2").arg(key, errorMessage(failure));
}

TaskHandle<void> DeepSeekTranslationService::startReceiveLoop(WebSocketTask::Pointer task)
{
    const auto onText = [this, task](QString text) { return handleIncomingTextMessage(std::move(text), task); };
    const auto onFailure = [this, task](std::exception_ptr failure) {
        if (!m_isStopping)
            handleSocketFailure(std::make_exception_ptr(DeepSeekTranslationError::requestFailed(failure)), task);
    };
    return TranslationSocketFrames::startReceiveLoop(this, task, onText, onFailure);
}

TaskHandle<void> DeepSeekTranslationService::startKeepAliveLoop(WebSocketTask::Pointer task)
{
    QPointer<DeepSeekTranslationService> self(this);
    return spawnTask([self, task](CancellationToken token) -> QCoro::Task<void> {
        co_await yieldOnce();
        if (!self || token.isCancelled())
            co_return;
        co_await self->keepAliveLoop(task, token);
    });
}

QCoro::Task<void> DeepSeekTranslationService::keepAliveLoop(WebSocketTask::Pointer task, CancellationToken token)
{
    QPointer<DeepSeekTranslationService> self(this);
    while (!token.isCancelled()) {
        const std::chrono::milliseconds interval = m_timings.keepAliveInterval;
        try {
            co_await sleepFor(interval, token);
        } catch (const CancellationError &) {
        }
        if (!self || token.isCancelled())
            co_return;
        // A socket still opening has nothing to ping; the wait for "ready" bounds the opening.
        if (m_isStopping || task->state() == WebSocketTask::State::suspended
            || task->state() == WebSocketTask::State::connecting)
            continue;
        std::exception_ptr failure = (co_await outcomeOf(task->sendPing(token))).error;
        if (!self)
            co_return;
        if (failure && !token.isCancelled() && !isCancellation(failure))
            handleSocketFailure(std::make_exception_ptr(DeepSeekTranslationError::requestFailed(failure)), task);
    }
}

QCoro::Task<void> DeepSeekTranslationService::waitForReadySignal()
{
    if (m_translationSocketReady)
        co_return;
    const std::exception_ptr noReady = std::make_exception_ptr(DeepSeekTranslationError::invalidResponse());
    co_await m_readyContinuation.wait(m_timings.readyTimeout, noReady);
}

QCoro::Task<void> DeepSeekTranslationService::sendSocketMessage(QByteArray json)
{
    return TranslationSocketFrames::sendJson(m_webSocketTask, std::move(json));
}

QCoro::Task<void> DeepSeekTranslationService::handleIncomingTextMessage(QString text, WebSocketTask::Pointer task)
{
    const QByteArray bytes = text.toUtf8();
    if (task != m_webSocketTask) {
        qCDebug(sharedLog()).noquote() << QStringLiteral("ignored message from stale websocket bytes=%1").arg(bytes.size());
        co_return;
    }
    QString summary = text;
    summary.replace(QLatin1Char('\n'), QLatin1Char(' '));
    qCDebug(sharedLog()).noquote() << QStringLiteral("incoming message bytes=%1 summary=%2").arg(bytes.size()).arg(summary.left(100));

    const QString type = TranslationMessageEnvelope::decode(bytes).type;
    if (type == QLatin1String("ready")) {
        qCInfo(sharedLog()).noquote() << QStringLiteral("socket ready session=%1").arg(m_liveSessionID);
        m_translationSocketReady = true;
        m_readyContinuation.resume();
        co_return;
    }
    if (type == QLatin1String("translation_revision")) {
        const TranslationRevisionMessage revision = TranslationRevisionMessage::decode(bytes);
        const std::optional<QUuid> turn = TranslationTurnKey::parse(revision.turnId);
        if (!turn) {
            qCWarning(sharedLog()).noquote() << QStringLiteral("ignored revision with invalid turnId=%1").arg(revision.turnId);
            co_return;
        }
        const QString translated = Text::trimmed(revision.text);
        if (translated.isEmpty()) {
            qCWarning(sharedLog()).noquote()
                << QStringLiteral("ignored empty translation revision turn=%1 revision=%2").arg(revision.turnId).arg(revision.revision);
            co_return;
        }
        const qint64 previous = m_latestTranslationRevisionByTurn.value(revision.turnId, 0);
        const bool finalized = m_finalizedTranslationTurnIDs.contains(revision.turnId);
        if (revision.revision <= previous || finalized) {
            qCWarning(sharedLog()).noquote()
                << QStringLiteral("ignored stale/finalized revision turn=%1 revision=%2 previous=%3 finalized=%4")
                       .arg(revision.turnId)
                       .arg(revision.revision)
                       .arg(previous)
                       .arg(finalized ? QStringLiteral("true") : QStringLiteral("false"));
            co_return;
        }
        m_latestTranslationRevisionByTurn.insert(revision.turnId, revision.revision);
        if (!revision.isFinal) {
            QPointer<DeepSeekTranslationService> self(this);
            emitEvent(DeepSeekTranslationEvent::preview(*turn, translated));
            if (self)
                resumePendingInterimTurnIfNeeded(revision.turnId, translated);
            co_return;
        }
        m_finalizedTranslationTurnIDs.insert(revision.turnId);
        const PendingTranslationContinuation waiting = m_pendingTurnContinuations.take(revision.turnId);
        if (waiting.continuation)
            waiting.continuation->resume(translated);
        co_return;
    }
    if (type == QLatin1String("error")) {
        QString message = QStringLiteral("Unknown translation service error.");
        try {
            if (const std::optional<QString> text = TranslationSocketErrorMessage::decode(bytes).message)
                message = *text;
        } catch (const KavrelError &) {
        }
        qCWarning(sharedLog()).noquote() << QStringLiteral("backend error message=%1").arg(message);
        throw DeepSeekTranslationError::serverError(message);
    }
    co_return;
}

void DeepSeekTranslationService::handleSocketFailure(std::exception_ptr error, const WebSocketTask::Pointer &task)
{
    if (m_isStopping) {
        qCDebug(sharedLog()).noquote() << QStringLiteral("socket failure ignored during intentional stop error=%1").arg(errorMessage(error));
        return;
    }
    qCWarning(sharedLog()).noquote() << QStringLiteral("socket failure error=%1 pendingTurns=%2")
                                            .arg(errorMessage(error))
                                            .arg(m_pendingTurnContinuations.size());
    if (task != m_webSocketTask)
        return;
    closeSocket(error, 1001);
}

void DeepSeekTranslationService::failReadyIfNeeded(std::exception_ptr error)
{
    m_readyContinuation.fail(std::move(error));
}

void DeepSeekTranslationService::failAllPendingTurns(std::exception_ptr error)
{
    const auto waiting = std::exchange(m_pendingTurnContinuations, {});
    for (const PendingTranslationContinuation &pending : waiting)
        pending.continuation->fail(error);
}

void DeepSeekTranslationService::failPendingTurn(const QString &turnID, std::exception_ptr error,
                                                 const Continuation<QString>::Pointer &expected)
{
    const auto waiting = m_pendingTurnContinuations.constFind(turnID);
    if (!expected || waiting == m_pendingTurnContinuations.constEnd() || waiting->continuation != expected)
        return;
    m_pendingTurnContinuations.remove(turnID);
    expected->fail(std::move(error));
}

void DeepSeekTranslationService::resumePendingInterimTurnIfNeeded(const QString &turnID, const QString &text)
{
    const auto waiting = m_pendingTurnContinuations.constFind(turnID);
    if (waiting == m_pendingTurnContinuations.constEnd() || waiting->expectsFinalRevision)
        return;
    const Continuation<QString>::Pointer continuation = waiting->continuation;
    m_pendingTurnContinuations.remove(turnID);
    continuation->resume(text);
}

void DeepSeekTranslationService::emitEvent(const DeepSeekTranslationEvent &event)
{
    const EventHandler handler = m_eventHandler;
    if (handler)
        handler(event);
}
