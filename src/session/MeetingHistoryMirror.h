#pragma once

#include "base/Async.h"
#include "services/MeetingSessionHistoryTypes.h"
#include "services/MeetingSessionHistorySnapshot.h"
#include "session/SessionCompanions.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <array>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>

class MeetingSessionHistoryService;

// Mirrors each listening conversation as one meeting record on the history server. Saves run
// one after another in one queue and are skipped when the content did not change since the
// last save of the same status; network interruptions are retried 1, 3 and 8 seconds later,
// then every 30 seconds, with a notice in the engine's error message until a save succeeds.
//
// A conversation is identified by a generation; a new conversation (reset) drops the work
// still queued for the old one, and replies that arrive for the old one after the reset are
// ignored, so the new conversation never inherits the old record's id or revision.
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
    using ErrorMessageReader = std::function<std::optional<QString>()>;
    using ErrorMessageWriter = std::function<void(const std::optional<QString> &)>;
    using Clock = std::function<QDateTime()>;

    static constexpr const char *clientSessionPrefix = "kavrel-macos-history-";
    static constexpr const char *defaultSource = "system_audio";

    // The service is not owned and must outlive this object.
    // Without a clock the system clock is used.
    explicit MeetingHistoryMirror(MeetingSessionHistoryService *service, Clock clock = Clock(), QObject *parent = nullptr);
    ~MeetingHistoryMirror() override;

    void setTimings(const Timings &timings) { m_timings = timings; }
    void setSnapshotProvider(SnapshotProvider provider) { m_snapshotProvider = std::move(provider); }
    // The engine's published error message, which this class shares with the rest of the
    // engine: it only clears a message it wrote itself.
    void setErrorMessageAccess(ErrorMessageReader reader, ErrorMessageWriter writer);

    // Conversation facts that go into the record.
    QUuid conversationGeneration() const { return m_conversationGeneration; }
    QString clientSessionID() const;
    std::optional<QString> sessionID() const { return m_sessionID; }
    std::optional<qint64> sessionRevision() const { return m_sessionRevision; }
    std::optional<QDateTime> startedAt() const { return m_startedAt; }
    // Keeps the first start of a continued conversation.
    void setStartedAtIfUnset(const QDateTime &now);
    QString source() const { return m_source; }
    void setSource(const QString &source) { m_source = source; }
    bool focusModeEnabled() const { return m_focusModeEnabled; }
    void setFocusModeEnabled(bool enabled) { m_focusModeEnabled = enabled; }
    std::optional<QString> syncErrorMessage() const { return m_syncErrorMessage; }

    // Notes the first start of the conversation and the audio source.
    void noteListeningStarted(const QString &source) override;
    // Queues the creation of the server record, unless one exists.
    void scheduleSessionStartIfNeeded() override;
    // Queues a save of the current content with the status.
    void scheduleSnapshotSync(MeetingSessionHistoryStatus status) override { enqueueSnapshotSync(status); }
    TaskHandle<void> enqueueSnapshotSync(MeetingSessionHistoryStatus status);
    QCoro::Task<void> waitForPendingSave() override;
    // Saves now, behind the work already queued: a final save never overtakes (or is
    // overtaken by) a save of the same conversation.
    QCoro::Task<void> persistMeetingHistorySnapshot(MeetingSessionHistoryStatus status) override;
    // Forgets the server record and begins a new conversation generation. A save that runs
    // finishes; work queued behind it is dropped, and its reply is ignored.
    void resetMeetingHistoryState() override;

    // The tail of the queue (empty after a reset).
    TaskHandle<void> saveTask() const { return m_saveTask; }
    bool hasDeferredRetry() const { return m_deferredRetryTask.isValid() && !m_deferredRetryTask.isFinished(); }

    static QString currentAppVersion();

Q_SIGNALS:
    // A new conversation began (the billing stretch and its numbering start over).
    void conversationReset();

private:
    using RemoteCall = std::function<QCoro::Task<MeetingSessionHistoryRemoteState>(CancellationToken token)>;

    TaskHandle<void> scheduleWork(std::function<QCoro::Task<void>(CancellationToken)> work);
    QCoro::Task<void> ensureSessionStartedIfNeeded(QUuid generation, CancellationToken token);
    QCoro::Task<void> persistSnapshot(MeetingSessionHistoryStatus status, QUuid generation, CancellationToken token);
    // Runs the call, retrying network interruptions. Nothing when it failed (the failure is
    // handled) or when the conversation changed meanwhile.
    QCoro::Task<std::optional<MeetingSessionHistoryRemoteState>> callWithRetries(RemoteCall call,
                                                                                 MeetingSessionHistoryStatus retryStatus,
                                                                                 QUuid generation, CancellationToken token);
    void markSyncSucceeded();
    void handleSyncError(const std::exception_ptr &error, MeetingSessionHistoryStatus retryStatus);
    void scheduleDeferredRetry(MeetingSessionHistoryStatus status);
    std::optional<QString> &lastSignature(MeetingSessionHistoryStatus status);

    QPointer<MeetingSessionHistoryService> m_service;
    Clock m_clock;
    Timings m_timings;
    SnapshotProvider m_snapshotProvider;
    ErrorMessageReader m_readErrorMessage;
    ErrorMessageWriter m_writeErrorMessage;

    QUuid m_conversationGeneration = QUuid::createUuid();
    std::optional<QString> m_sessionID;
    std::optional<qint64> m_sessionRevision;
    std::optional<QDateTime> m_startedAt;
    std::optional<QString> m_lastSavedSnapshotSignature;
    std::optional<QString> m_lastCompletedSnapshotSignature;
    std::optional<QString> m_syncErrorMessage;
    QString m_source = QLatin1String(defaultSource);
    bool m_focusModeEnabled = false;
    TaskHandle<void> m_saveTask;
    TaskHandle<void> m_deferredRetryTask;
    // Cancelled when this object goes: a save still on the network is aborted rather than
    // left waiting for ever, and queued saves do not start.
    CancellationToken m_lifetime;
};
