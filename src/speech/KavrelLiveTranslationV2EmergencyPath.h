#pragma once

#include "base/Async.h"
#include "speech/DeepSeekTranslationMessages.h"
#include "speech/TranslationV2Messages.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>

class KavrelBackendProxyService;
class LiveTranslationTurnTable;

// The live translation client's emergency path: while its socket is not ready, turns are
// translated through chat completions instead. Two lanes, each with at most one request in
// flight: the preview lane translates the newest text of one wanted turn after a short pause
// that gathers rapid interim texts; the final lane translates the pending finals, the first
// enqueued first, at most twice per turn. Both stop once the socket is ready or the client
// stops, and neither emits a failed event.
//
// Main thread only. Its tasks hold it weakly; it belongs to the client, so while it exists
// the client and its turn table exist too.
class KavrelLiveTranslationV2EmergencyPath final : public QObject
{
public:
    static constexpr int maxFinalAttempts = 2;
    static constexpr int historyTurns = 4;

    // What the lanes ask of the client that runs them.
    struct Host
    {
        // The socket is ready or a reset is under way: the lanes stand down.
        std::function<bool()> isLive;
        std::function<bool()> hasEventHandler;
        std::function<void(const DeepSeekTranslationEvent &)> emitEvent;
    };

    // The proxy service must outlive this object; turns must outlive it.
    KavrelLiveTranslationV2EmergencyPath(KavrelBackendProxyService *proxyService, LiveTranslationTurnTable *turns, Host host);
    ~KavrelLiveTranslationV2EmergencyPath() override;

    void setLanguageNames(QString sourceLanguageName, QString targetLanguageName);
    void setPreviewDelay(std::chrono::milliseconds delay) { m_previewDelay = delay; }
    QList<DeepSeekTranslationHistoryTurn> history() const { return m_history; }
    // Keeps the last four turns as the context of both lanes.
    void replaceHistory(QList<DeepSeekTranslationHistoryTurn> turns);

    // One chat completion that translates a block from the source language into the target
    // language. Throws DeepSeekTranslationError::invalidResponse for a blank block or reply,
    // and the proxy's errors as they are.
    QCoro::Task<QString> translateStableBlock(QString text, QList<DeepSeekTranslationHistoryTurn> history,
                                              CancellationToken token);

    // Wants a preview of the turn (nothing without an event handler).
    void scheduleEmergencyPreview(const QString &turnID);
    // Stops the preview lane when it works for this turn, or whatever turn it works for.
    void cancelEmergencyPreview(const QString &turnID);
    void cancelEmergencyPreviews();
    // Starts the final lane on the oldest pending final that still has a run left.
    void scheduleEmergencyFinalIfNeeded();
    // Stops the final lane when it runs for this turn, or whatever turn it runs for.
    void cancelEmergencyFinal(const QString &turnID);
    void cancelEmergencyFinal();
    // Stops both lanes and forgets the history.
    void reset();

private:
    void startEmergencyPreviewTaskIfNeeded();
    QCoro::Task<void> runEmergencyPreview(CancellationToken token);
    void finishEmergencyPreview(qint64 completedGeneration, const CancellationToken &token);
    QCoro::Task<void> runEmergencyFinal(V2PendingFinal pending, CancellationToken token);
    bool isWantedTurnOpen() const;

    QPointer<KavrelBackendProxyService> m_proxyService;
    LiveTranslationTurnTable *m_turns;
    Host m_host;
    QString m_sourceLanguageName;
    QString m_targetLanguageName;
    std::chrono::milliseconds m_previewDelay{180};
    QList<DeepSeekTranslationHistoryTurn> m_history;

    TaskHandle<void> m_previewTask;
    qint64 m_previewGeneration = 0;
    std::optional<QString> m_previewTurnID;
    TaskHandle<void> m_finalTask;
    std::optional<QString> m_finalTurnID;
};
