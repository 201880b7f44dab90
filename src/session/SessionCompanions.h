#pragma once

// The listening lifecycle calls into live translation, the meeting history, billing and the
// AI panels at fixed points of a start, a stop and a reset. Those concerns live in classes of
// their own that implement the interfaces below and are handed to SubtitleViewModel with
// setCompanions(). Where a companion is not connected, its calls are skipped: a session then
// runs without translation, history records, usage reports or AI panels.

#include "services/MeetingSessionHistoryTypes.h"

#include <QUuid>

#include <qcoro/qcorotask.h>

// Live translation of turns, for one streaming session at a time.
class TranslationRouting
{
public:
    virtual ~TranslationRouting() = default;
    // Brings live translation up for the streaming session of this generation; runs in the
    // background and drops its result when the generation is no longer current.
    virtual QCoro::Task<void> prepareTranslationIfPossible(QUuid generation) = 0;
    // Keeps the previews on screen as their turns' translations (a stop, before the open
    // turn is closed).
    virtual void commitPendingTranslationDrafts() = 0;
    // Forgets the pending preview texts and the previewed turn (the live translation line
    // itself is SessionTurnStore's and is emptied by the caller).
    virtual void clearPreviews() = 0;
    // Live translation was switched off because source and target became the same language:
    // forgets the previewed turn; pending preview texts stay for the stop to commit.
    virtual void translationWasTurnedOff() = 0;
};

// The server-side record of the meeting.
class MeetingHistorySync
{
public:
    virtual ~MeetingHistorySync() = default;
    // The conversation is over (a new one begins): its completed record is saved in the
    // background without holding up the next conversation.
    virtual void finishConversation() = 0;
    // For the quit: waits for the saves queued now, trying once more those that failed.
    virtual QCoro::Task<void> waitForEverySave() = 0;
    // A save asked for has not reached the server (queued, running or failed).
    virtual bool hasUnsavedMeeting() const = 0;
    // Audio started flowing: notes the first start time (kept by a continued session) and the
    // source ("system_audio", "system_audio+microphone" or "microphone").
    virtual void noteListeningStarted(const QString &source) = 0;
    // Creates the server record unless one exists.
    virtual void scheduleSessionStartIfNeeded() = 0;
    // Queues a save of the record with this status.
    virtual void scheduleSnapshotSync(MeetingSessionHistoryStatus status) = 0;
};

// Listening time reported to billing.
class BillingUsageReporting
{
public:
    virtual ~BillingUsageReporting() = default;
    virtual void markBillingUsageStartedIfNeeded() = 0;
    virtual void scheduleBillingUsageEventSyncIfNeeded() = 0;
    // For the quit: waits for the reports sent so far.
    virtual QCoro::Task<void> waitForPendingReports() = 0;
};

// The six AI result panels.
class AIResultPanels
{
public:
    virtual ~AIResultPanels() = default;
    // Empties every panel's text and error and hides every panel (the session is cleared).
    virtual void clearPanels() = 0;
};

struct SessionCompanions
{
    TranslationRouting *translation = nullptr;
    MeetingHistorySync *history = nullptr;
    BillingUsageReporting *billing = nullptr;
    AIResultPanels *panels = nullptr;
};
