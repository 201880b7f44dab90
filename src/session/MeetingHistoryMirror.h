#pragma once

#include "base/Async.h"
#include "services/MeetingSessionHistoryTypes.h"
#include "services/MeetingSessionHistorySnapshot.h"
#include "session/HandedOverMeeting.h"
#include "session/MeetingHistoryRecord.h"
#include "session/SessionCompanions.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MeetingSessionHistoryService;

// Mirrors each listening conversation as one meeting record on the history server. Saves run
// one after another in one queue and are skipped when the content did not change since the
// last save of the same status; a save that the server did not refuse (no answer, a gateway's
// error, an answer that does not read) is retried 1, 3 and 8 seconds later, then every 30
// seconds, with a notice in the engine's error message until a save succeeds.
//
// A meeting's end is fixed when it stops (a meeting restored after a crash ended with its last
// turn): later saves, such as the summary asked for after the stop, keep that end and the
// completed status, instead of moving the end to the moment of the save.
//
// A conversation is identified by a generation. A plain reset drops the work still queued for
// the old conversation and ignores its late replies, so the new conversation never inherits the
// old record's id or revision. Finishing a conversation (Start New) hands its completed record
// over instead: it keeps its own queue and retries, behind nothing of the next conversation,
// until it lands or the server refuses it; its notices say that they are about the previous
// meeting. A handed-over meeting is announced (handedOverMeetingChanged) whenever what is known
// of it changes, so that it can be kept on disk and taken up again by the next run
// (resumeHandedOverMeetings). The current meeting whose last save did not land (the server away,
// nobody signed in) is tried again by its retries, at its account's next sign-in, by the quit
// and, restored from its draft, by the next run (saveAdoptedMeetingIfBehind).
//
// Every meeting belongs to the account signed in when it was recorded (or, for one kept from
// before accounts were kept, to the first account that signs in). It is only ever sent with that
// account's sign-in, each request checked against the session whose token it carries; while
// another account, or none, is signed in, it waits on this computer for its own (noteSignedIn).
//
// Main thread only.
class MeetingHistoryMirror final : public QObject, public MeetingHistorySync
{
    Q_OBJECT

public:
    struct Timings
    {
        std::array<std::chrono::milliseconds, 3> retryDelays{std::chrono::milliseconds(1000), std::chrono::milliseconds(3000),
                                                             std::chrono::milliseconds(8000)};
        std::chrono::milliseconds deferredRetryDelay{30000};
    };

    // The record to save for a status, or nothing when there is nothing to save. allowEmpty
    // asks for a record even without turns or AI texts.
    using SnapshotProvider = std::function<std::optional<MeetingSessionHistorySnapshot>(MeetingSessionHistoryStatus status,
                                                                                        bool allowEmptySession)>;
    // The settings chosen now (the ones a meeting that starts listening is recorded with).
    using SettingsReader = std::function<MeetingSettings()>;
    using ErrorMessageReader = std::function<std::optional<QString>()>;
    using ErrorMessageWriter = std::function<void(const std::optional<QString> &)>;
    using Clock = std::function<QDateTime()>;
    // The id of the account signed in now, if any.
    using AccountReader = std::function<QCoro::Task<std::optional<QString>>()>;
    // Keeps the text of a handed-over meeting the server refused on this computer; where, or
    // nothing when it could not.
    using RefusedMeetingKeeper = std::function<std::optional<QString>(const HandedOverMeeting &meeting)>;

    static constexpr const char *clientSessionPrefix = "kavrel-macos-history-";
    static constexpr const char *defaultSource = "system_audio";

    // The service is not owned and must outlive this object.
    // Without a clock the system clock is used.
    explicit MeetingHistoryMirror(MeetingSessionHistoryService *service, Clock clock = Clock(), QObject *parent = nullptr);
    ~MeetingHistoryMirror() override;

    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }
    void setSnapshotProvider(SnapshotProvider provider) { m_snapshotProvider = std::move(provider); }
    // Without it, meetings are recorded with no settings of their own.
    void setSettingsReader(SettingsReader reader) { m_readSettings = std::move(reader); }
    // Without it, meetings are not told apart by account.
    void setAccountReader(AccountReader reader) { m_readAccount = std::move(reader); }
    void setRefusedMeetingKeeper(RefusedMeetingKeeper keeper) { m_keepRefusedMeeting = std::move(keeper); }
    // The engine's published error message, which this class shares with the rest of the
    // engine: it only clears a message it wrote itself.
    void setErrorMessageAccess(ErrorMessageReader reader, ErrorMessageWriter writer);

    // Conversation facts that go into the record.
    QUuid conversationGeneration() const { return m_current->generation; }
    QString clientSessionID() const;
    std::optional<QString> sessionID() const { return m_current->sessionID; }
    std::optional<qint64> sessionRevision() const { return m_current->sessionRevision; }
    std::optional<QDateTime> startedAt() const { return m_current->startedAt; }
    QString source() const { return m_source; }
    void setSource(const QString &source) { m_source = source; }
    bool focusModeEnabled() const { return m_focusModeEnabled; }
    void setFocusModeEnabled(bool enabled) { m_focusModeEnabled = enabled; }
    std::optional<QString> syncErrorMessage() const { return m_current->syncErrorMessage; }
    // The settings the current meeting was recorded with, once it has listened or was restored.
    std::optional<MeetingSettings> meetingSettings() const { return m_current->settings; }
    // A meeting restored without the settings it was recorded with (its draft is older than
    // them) keeps those chosen now, not those of whatever comes next.
    void noteMeetingSettingsIfUnknown();

    // Notes the first start of the conversation, the audio source and the settings it listens
    // with (a continued conversation keeps its own; see MeetingSettings::continuedWith).
    void noteListeningStarted(const QString &source) override;
    // Queues the creation of the server record, unless one exists.
    void scheduleSessionStartIfNeeded() override;
    // Queues a save of the current content with the status. A completed save fixes the
    // meeting's end at this moment unless it is fixed already.
    void scheduleSnapshotSync(MeetingSessionHistoryStatus status) override { enqueueSnapshotSync(status); }
    TaskHandle<void> enqueueSnapshotSync(MeetingSessionHistoryStatus status);
    QCoro::Task<void> waitForPendingSave();
    // Saves now, behind the work already queued: a final save never overtakes (or is
    // overtaken by) a save of the same conversation.
    QCoro::Task<void> persistMeetingHistorySnapshot(MeetingSessionHistoryStatus status);
    // Forgets the server record and begins a new conversation generation. A save that runs
    // finishes; work queued behind it is dropped, and its reply is ignored.
    void resetMeetingHistoryState();
    // Ends the conversation: its completed record, taken now, is handed over to be saved in
    // the background, and a new conversation begins.
    void finishConversation() override;
    // Waits for every save queued now, of this conversation and of the handed-over ones. A
    // handed-over meeting waiting for its 30-second retry, and the current one whose last save
    // failed, are tried once more at once. For the quit: from here on an attempt that fails is
    // not tried again after a pause (a pause under way ends at once); the meeting stays on this
    // computer, unsaved, for the next run.
    QCoro::Task<void> waitForEverySave() override;
    // A save asked for has not landed: it is queued or running, or it failed.
    bool hasUnsavedMeeting() const override;
    // The server ids of the meetings whose record has not landed: the current one while a save
    // of it is queued, running or failed, and every handed-over one the server knows.
    QStringList waitingSessionIDs() const;

    // The meeting's end, once it is fixed.
    std::optional<QDateTime> endedAt() const { return m_current->endedAt; }
    // A meeting restored from the draft ended with its last turn.
    void noteMeetingEndedAt(const QDateTime &end);

    // The tail of the queue (empty after a reset).
    TaskHandle<void> saveTask() const { return m_current->saveTask; }
    bool hasDeferredRetry() const
    {
        return m_current->deferredRetryTask.isValid() && !m_current->deferredRetryTask.isFinished();
    }
    // Finished conversations whose record has not landed yet.
    int handedOverCount() const { return int(m_handedOver.size()); }
    QList<HandedOverMeeting> handedOverMeetings() const;
    // Takes up the meetings a previous run handed over and did not get through: each is saved
    // again, on its own queue, behind nothing of the current conversation.
    void resumeHandedOverMeetings(const QList<HandedOverMeeting> &meetings);
    // An account signed in: the meetings that wait for it (handed over, or the current one
    // whose last save failed) are sent now. A meeting recorded from here on belongs to it.
    void noteSignedIn(const QString &accountID);
    // Nobody is signed in any more.
    void noteSignedOut() { m_signedInAccount.reset(); }
    // The account the current meeting belongs to, once it is known.
    std::optional<QString> accountID() const { return m_current->accountID; }
    // The current meeting, made before its account was known, belongs to this one. An account
    // it has already stays.
    void noteMeetingAccount(const QString &accountID);

    // The current meeting's record as far as it is known, to be kept across a restart (without
    // the draft it belongs to, which the caller fills in).
    MeetingHistoryRecord record() const;
    // Goes on with a record kept from the last run: its generation (so its client session id),
    // server id, revision, times and the signatures of its last saves. Only a conversation that
    // has done nothing yet adopts one; false otherwise.
    bool adoptRecord(const MeetingHistoryRecord &record);
    // Saves the meeting taken over with adoptRecord() unless the server holds its completed record
    // already: one stopped while the server was away or nobody was signed in, or cut off by a
    // crash, goes to the history now instead of waiting for Start New.
    void saveAdoptedMeetingIfBehind();

    static QString currentAppVersion();

Q_SIGNALS:
    // A fact of the current meeting's record changed (record() differs).
    void recordChanged();
    // A new conversation began (the billing stretch and its numbering start over).
    void conversationReset();
    // A conversation was handed over, or what is known of a handed-over one changed (its server
    // record, its account). Emitted by finishConversation() before it returns.
    void handedOverMeetingChanged(const HandedOverMeeting &meeting);
    // A handed-over meeting landed, or the server refused it: it is no longer retried.
    void handedOverMeetingReleased(const QUuid &conversationGeneration);
    // A meeting's record is through: the server holds what was last asked to be saved.
    void meetingSaved(const QUuid &conversationGeneration);

private:
    using RemoteCall = std::function<QCoro::Task<MeetingSessionHistoryRemoteState>(CancellationToken token)>;

    // One meeting record and the work queued for it.
    struct Conversation
    {
        QUuid generation = QUuid::createUuid();
        std::optional<QString> sessionID;
        std::optional<qint64> sessionRevision;
        std::optional<QDateTime> startedAt;
        std::optional<QDateTime> endedAt;
        std::optional<QString> lastSavedSnapshotSignature;
        std::optional<QString> lastCompletedSnapshotSignature;
        std::optional<QString> syncErrorMessage;
        TaskHandle<void> saveTask;
        TaskHandle<void> deferredRetryTask;
        // The completed record of a finished conversation, taken before its turns went.
        std::optional<MeetingSessionHistorySnapshot> finalSnapshot;
        // The account of the first save that asked who is signed in.
        std::optional<QString> accountID;
        std::optional<MeetingSettings> settings;
        int queuedSaves = 0;
        bool lastSaveFailed = false;
        // A start went out and its answer was not read: the record may exist on the server.
        bool startUncertain = false;
        // The status of the save that failed, for the attempt that takes it up again.
        MeetingSessionHistoryStatus failedSaveStatus = MeetingSessionHistoryStatus::active;
    };
    using ConversationPointer = std::shared_ptr<Conversation>;

    TaskHandle<void> scheduleWork(ConversationPointer conversation, std::function<QCoro::Task<void>(CancellationToken)> work);
    TaskHandle<void> enqueueSave(ConversationPointer conversation, MeetingSessionHistoryStatus status);
    // A save now in place of the one the conversation's retry waits for.
    void retrySaveNow(const ConversationPointer &conversation, MeetingSessionHistoryStatus status);
    // Work for the conversation still counts: it is the current one or a handed-over one.
    bool isLive(const ConversationPointer &conversation) const;
    QDateTime now() const;
    void fixEndIfUnset(Conversation &conversation);
    void noteRecordChanged(const Conversation &conversation);
    MeetingHistoryRecord recordOf(const Conversation &conversation) const;
    HandedOverMeeting handedOverMeetingOf(const Conversation &conversation) const;
    bool isHandedOver(const ConversationPointer &conversation) const;
    // The server holds this completed record of the conversation, as far as is known.
    static bool holdsCompletedRecord(const Conversation &conversation, const MeetingSessionHistorySnapshot &record);
    // Notes the signed-in account on a conversation that has none yet. False when another
    // account, or none, is signed in: the conversation then waits for its own (a failed save
    // of the current one is taken up again at that sign-in).
    QCoro::Task<bool> mayUpload(ConversationPointer conversation, MeetingSessionHistoryStatus status);
    QCoro::Task<void> ensureSessionStartedIfNeeded(ConversationPointer conversation, CancellationToken token);
    // The start of the conversation's record, as a call for callWithRetries. The start counts as
    // uncertain (and is kept so on disk) from before it goes out until its answer is read, so
    // that a run ended meanwhile looks the record up instead of making a second one.
    RemoteCall startCall(ConversationPointer conversation, MeetingSessionHistorySnapshot record);
    void noteStartUncertain(Conversation &conversation, bool uncertain);
    QCoro::Task<void> persistSnapshot(MeetingSessionHistoryStatus status, ConversationPointer conversation,
                                      CancellationToken token);
    // Runs the call, retrying network interruptions. Nothing when it failed (the failure is
    // handled) or when the conversation was dropped meanwhile.
    QCoro::Task<std::optional<MeetingSessionHistoryRemoteState>> callWithRetries(RemoteCall call,
                                                                                 MeetingSessionHistoryStatus retryStatus,
                                                                                 ConversationPointer conversation,
                                                                                 CancellationToken token);
    void markSyncSucceeded(const ConversationPointer &conversation);
    // The record of a handed-over conversation landed or was refused: it leaves the list.
    void releaseHandedOver(const ConversationPointer &conversation);
    void handleSyncError(const std::exception_ptr &error, MeetingSessionHistoryStatus retryStatus,
                         const ConversationPointer &conversation);
    // The notice's sentence that says where a refused meeting's text (that of the record) was
    // written; nothing when it could not be written (the meeting then stays handed over), empty
    // without a keeper.
    std::optional<QString> keepRefusedMeetingText(const Conversation &conversation,
                                                  const MeetingSessionHistorySnapshot &record) const;
    void scheduleDeferredRetry(MeetingSessionHistoryStatus status, const ConversationPointer &conversation);
    static std::optional<QString> &lastSignature(Conversation &conversation, MeetingSessionHistoryStatus status);

    QPointer<MeetingSessionHistoryService> m_service;
    Clock m_clock;
    Timings m_timings;
    SnapshotProvider m_snapshotProvider;
    SettingsReader m_readSettings;
    ErrorMessageReader m_readErrorMessage;
    ErrorMessageWriter m_writeErrorMessage;
    AccountReader m_readAccount;
    RefusedMeetingKeeper m_keepRefusedMeeting;
    // As last told; a meeting that starts listening belongs to it.
    std::optional<QString> m_signedInAccount;

    ConversationPointer m_current = std::make_shared<Conversation>();
    std::vector<ConversationPointer> m_handedOver;
    QString m_source = QLatin1String(defaultSource);
    bool m_focusModeEnabled = false;
    // Cancelled when this object goes: a save still on the network is aborted rather than
    // left waiting for ever, and queued saves do not start.
    CancellationToken m_lifetime;
    // Cancelled when the quit begins to wait for the saves: no more pauses between attempts.
    CancellationToken m_quitting;
};
