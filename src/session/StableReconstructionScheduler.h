#pragma once

#include "base/Async.h"
#include "session/SessionModel.h"
#include "session/StableTranscriptText.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

class KavrelBackendProxyService;
class KavrelLiveTranslationV2Service;
class LiveTranslationRouter;
class SessionTurnStore;

// Rewrites closed turns into clean, stable text in the background. Two seconds after the last
// turn closed, a window of up to five new closed turns (with up to two stable ones before them
// as context) goes to a chat model; its reply replaces the turns' texts one for one, and while
// live translation runs the cleaned window is translated again as one block. A window that
// changed while the model worked is not written back; a live preview postpones the run.
//
// Main thread only.
class StableReconstructionScheduler final : public QObject
{
    Q_OBJECT

public:
    // None of the arguments is owned; all must outlive this object.
    StableReconstructionScheduler(SessionTurnStore *turns, KavrelBackendProxyService *proxyService,
                                  KavrelLiveTranslationV2Service *translationService, LiveTranslationRouter *translation,
                                  QObject *parent = nullptr);
    ~StableReconstructionScheduler() override;

    void setDebounce(std::chrono::milliseconds debounce) { m_debounceTimer.setInterval(debounce); }
    std::chrono::milliseconds debounce() const { return m_debounceTimer.intervalAsDuration(); }

    // How many closed turns, counted among closed turns, are stable.
    int nextStableTurnIndex() const { return m_nextStableTurnIndex; }
    // Restored turns count as stable.
    void setNextStableTurnIndex(int index) { m_nextStableTurnIndex = index; }
    // Starts the wait again. A run whose requests are already out is not cancelled by it: it
    // finishes and the wait starts afterwards, so continuous speech cannot starve the rewrite.
    void scheduleStableReconstructionIfNeeded();
    // A cleared session: nothing is stable, and pending work is dropped.
    void reset();

    // One run (the scheduled task calls it after the wait).
    QCoro::Task<void> performStableReconstructionIfNeeded(CancellationToken token);

    // The last run (for tests and a graceful quit).
    TaskHandle<void> task() const { return m_task; }
    bool isWaiting() const { return m_debounceTimer.isActive(); }
    bool isRunning() const { return m_isRunning; }

private:
    struct RewriteResult
    {
        std::vector<SessionTurn> turns;
        // True when the block translation gave every turn of the window its translation.
        bool translationReplaced = false;
    };

    QCoro::Task<std::vector<SessionTurn>> reconstructStableTurns(std::vector<SessionTurn> window, CancellationToken token);
    // Nothing when the reply did not fit the turns.
    QCoro::Task<std::optional<std::vector<SessionTurn>>> translatedStableTurns(std::vector<SessionTurn> turns);
    bool stableWindowStillMatches(const QString &signature, int first, int end) const;
    void writeBack(const StableTranscriptText::StableWindow &window, const RewriteResult &result);
    void finishRun();
    void startRun();

    QPointer<SessionTurnStore> m_turns;
    QPointer<KavrelBackendProxyService> m_proxyService;
    QPointer<KavrelLiveTranslationV2Service> m_translationService;
    QPointer<LiveTranslationRouter> m_translation;
    QTimer m_debounceTimer;
    int m_nextStableTurnIndex = 0;
    TaskHandle<void> m_task;
    bool m_isRunning = false;
    bool m_rescheduleAfterRun = false;
};
