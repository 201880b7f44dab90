#include "speech/KavrelLiveTranslationV2EmergencyPath.h"

#include "accounts/KavrelBackendProxyService.h"
#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "speech/DeepSeekTranslationError.h"
#include "speech/LiveTranslationTurnTable.h"
#include "speech/StableBlockTranslation.h"
#include "speech/TranslationTurnKey.h"

#include <QElapsedTimer>

namespace {

const QLoggingCategory &logger()
{
    return KavrelDiagnostics::translationV2();
}

} // namespace

KavrelLiveTranslationV2EmergencyPath::KavrelLiveTranslationV2EmergencyPath(KavrelBackendProxyService *proxyService,
                                                                           LiveTranslationTurnTable *turns, Host host)
    : m_proxyService(proxyService)
    , m_turns(turns)
    , m_host(std::move(host))
{
}

KavrelLiveTranslationV2EmergencyPath::~KavrelLiveTranslationV2EmergencyPath()
{
    m_previewTask.cancel();
    m_finalTask.cancel();
}

void KavrelLiveTranslationV2EmergencyPath::setLanguageNames(QString sourceLanguageName, QString targetLanguageName)
{
    m_sourceLanguageName = std::move(sourceLanguageName);
    m_targetLanguageName = std::move(targetLanguageName);
}

void KavrelLiveTranslationV2EmergencyPath::replaceHistory(QList<DeepSeekTranslationHistoryTurn> turns)
{
    if (turns.size() > historyTurns)
        turns = turns.mid(turns.size() - historyTurns);
    m_history = std::move(turns);
}

void KavrelLiveTranslationV2EmergencyPath::reset()
{
    cancelEmergencyPreviews();
    cancelEmergencyFinal();
    m_history.clear();
}

QCoro::Task<QString> KavrelLiveTranslationV2EmergencyPath::translateStableBlock(QString text,
                                                                               QList<DeepSeekTranslationHistoryTurn> history,
                                                                               CancellationToken token)
{
    return StableBlockTranslation::translate(m_proxyService, std::move(text), std::move(history), m_sourceLanguageName,
                                             m_targetLanguageName, std::move(token));
}

// ---------------------------------------------------------------------------------------------
// The preview lane

bool KavrelLiveTranslationV2EmergencyPath::isWantedTurnOpen() const
{
    return m_previewTurnID && !m_turns->isFinalized(*m_previewTurnID);
}

void KavrelLiveTranslationV2EmergencyPath::scheduleEmergencyPreview(const QString &turnID)
{
    if (m_host.isLive() || !m_host.hasEventHandler())
        return;
    ++m_previewGeneration;
    m_previewTurnID = turnID;
    startEmergencyPreviewTaskIfNeeded();
}

void KavrelLiveTranslationV2EmergencyPath::startEmergencyPreviewTaskIfNeeded()
{
    if (m_previewTask.isValid() || !m_previewTurnID)
        return;
    QPointer<KavrelLiveTranslationV2EmergencyPath> self(this);
    const auto delay = m_previewDelay;
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
        m_previewTask = task;
}

QCoro::Task<void> KavrelLiveTranslationV2EmergencyPath::runEmergencyPreview(CancellationToken token)
{
    const auto endRun = [this, &token] {
        if (m_previewTask.token() == token)
            m_previewTask = {};
    };
    if (token.isCancelled() || m_host.isLive() || !isWantedTurnOpen()) {
        endRun();
        co_return;
    }
    const QString turnID = *m_previewTurnID;
    std::optional<QString> text;
    if (const LiveTranslationTurn *turn = m_turns->find(turnID))
        text = turn->pendingFinal ? std::optional<QString>(turn->pendingFinal->sourceText) : turn->latestPreview;
    if (!text || text->isEmpty()) {
        endRun();
        co_return;
    }

    QPointer<KavrelLiveTranslationV2EmergencyPath> self(this);
    const qint64 generation = m_previewGeneration;
    const QList<DeepSeekTranslationHistoryTurn> history = m_history;
    QElapsedTimer elapsed;
    elapsed.start();
    TaskOutcome<QString> translationOutcome = co_await outcomeOf(translateStableBlock(*text, history, token));
    std::optional<QString> translation = std::move(translationOutcome.value);
    std::exception_ptr failure = translationOutcome.error;
    if (!self)
        co_return;

    if (translation) {
        const std::optional<QUuid> turn = TranslationTurnKey::parse(turnID);
        if (token.isCancelled() || m_host.isLive() || m_turns->isFinalized(turnID) || m_previewTurnID != turnID || !turn) {
            qCDebug(logger()).noquote()
                << QStringLiteral("discarded stale emergency preview turn=%1 generation=%2").arg(turnID).arg(generation);
        } else {
            m_host.emitEvent(DeepSeekTranslationEvent::preview(*turn, *translation));
            if (!self)
                co_return;
            qCInfo(logger()).noquote()
                << QStringLiteral("emergency preview completed turn=%1 generation=%2 currentGeneration=%3 durationMs=%4")
                       .arg(turnID)
                       .arg(generation)
                       .arg(m_previewGeneration)
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

void KavrelLiveTranslationV2EmergencyPath::finishEmergencyPreview(qint64 completedGeneration, const CancellationToken &token)
{
    // Only the run's own handle: a newer task stored meanwhile keeps running and is not orphaned.
    if (m_previewTask.token() == token)
        m_previewTask = {};
    if (m_host.isLive() || !isWantedTurnOpen())
        return;
    const LiveTranslationTurn *turn = m_turns->find(*m_previewTurnID);
    if (turn && (turn->pendingFinal || turn->latestPreview) && m_previewGeneration != completedGeneration)
        startEmergencyPreviewTaskIfNeeded();
}

void KavrelLiveTranslationV2EmergencyPath::cancelEmergencyPreview(const QString &turnID)
{
    if (m_previewTurnID != turnID)
        return;
    cancelEmergencyPreviews();
}

void KavrelLiveTranslationV2EmergencyPath::cancelEmergencyPreviews()
{
    ++m_previewGeneration;
    m_previewTurnID.reset();
    m_previewTask.cancel();
    m_previewTask = {};
}

// ---------------------------------------------------------------------------------------------
// The final lane

void KavrelLiveTranslationV2EmergencyPath::cancelEmergencyFinal(const QString &turnID)
{
    if (m_finalTurnID == turnID)
        cancelEmergencyFinal();
}

void KavrelLiveTranslationV2EmergencyPath::cancelEmergencyFinal()
{
    m_finalTask.cancel();
    m_finalTask = {};
    m_finalTurnID.reset();
}

void KavrelLiveTranslationV2EmergencyPath::scheduleEmergencyFinalIfNeeded()
{
    if (m_host.isLive() || m_finalTask.isValid())
        return;
    std::optional<V2PendingFinal> candidate;
    for (const V2PendingFinal &pending : m_turns->pendingFinalsInEnqueueOrder()) {
        const LiveTranslationTurn *turn = m_turns->find(pending.turnID);
        if (!turn->emergencyFinalCompleted && turn->emergencyFinalAttempts < maxFinalAttempts) {
            candidate = pending;
            break;
        }
    }
    if (!candidate)
        return;
    m_finalTurnID = candidate->turnID;
    m_turns->record(candidate->turnID).emergencyFinalAttempts += 1;

    QPointer<KavrelLiveTranslationV2EmergencyPath> self(this);
    const V2PendingFinal pending = *candidate;
    TaskHandle<void> task = spawnTask([self, pending](CancellationToken token) -> QCoro::Task<void> {
        // Start on the next turn, so the handle is stored before the run can end.
        co_await yieldOnce();
        if (!self)
            co_return;
        co_await self->runEmergencyFinal(pending, token);
    });
    if (!task.isFinished())
        m_finalTask = task;
}

QCoro::Task<void> KavrelLiveTranslationV2EmergencyPath::runEmergencyFinal(V2PendingFinal pending, CancellationToken token)
{
    QPointer<KavrelLiveTranslationV2EmergencyPath> self(this);
    QElapsedTimer elapsed;
    elapsed.start();
    const QList<DeepSeekTranslationHistoryTurn> history = m_history;
    std::optional<QString> translation;
    std::exception_ptr failure;
    try {
        token.throwIfCancelled();
        translation = co_await translateStableBlock(pending.sourceText, history, token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;

    if (translation) {
        // Delivered only while that very final (same revision, same text) still waits.
        const V2PendingFinal *current = m_turns->pendingFinal(pending.turnID);
        const std::optional<QUuid> turn = TranslationTurnKey::parse(pending.turnID);
        const bool deliver = !token.isCancelled() && !m_host.isLive() && !m_turns->isFinalized(pending.turnID) && current
            && current->clientRevision == pending.clientRevision && Text::nfcEquals(current->sourceText, pending.sourceText) && turn;
        if (deliver) {
            m_turns->record(pending.turnID).emergencyFinalCompleted = true;
            cancelEmergencyPreview(pending.turnID);
            m_host.emitEvent(DeepSeekTranslationEvent::completed(*turn, *translation));
            if (!self)
                co_return;
            qCInfo(logger()).noquote() << QStringLiteral("emergency final completed turn=%1 revision=%2 durationMs=%3")
                                              .arg(pending.turnID)
                                              .arg(pending.clientRevision)
                                              .arg(elapsed.elapsed());
        }
    } else if (!isCancellation(failure)) {
        const LiveTranslationTurn *turn = m_turns->find(pending.turnID);
        qCWarning(logger()).noquote() << QStringLiteral("emergency final failed turn=%1 revision=%2 attempt=%3 error=%4")
                                             .arg(pending.turnID)
                                             .arg(pending.clientRevision)
                                             .arg(turn ? turn->emergencyFinalAttempts : 0)
                                             .arg(errorMessage(failure));
    }

    // Only the run's own handle: a newer run stored meanwhile keeps its task and its turn.
    if (m_finalTask.token() == token) {
        m_finalTask = {};
        m_finalTurnID.reset();
    }
    scheduleEmergencyFinalIfNeeded();
}
