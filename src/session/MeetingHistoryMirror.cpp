#include "session/MeetingHistoryMirror.h"

#include "base/KavrelDiagnostics.h"
#include "base/KavrelError.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "platform/ApplicationInfo.h"
#include "services/MeetingSessionHistoryService.h"
#include "services/MeetingSessionHistoryServiceError.h"

#include <algorithm>

namespace {

// Shown as they stand: the history texts are not looked up in the interface tables.
const QString transientFailureMessage = QStringLiteral(
    "Не удалось синхронизировать историю встречи. Проверьте интернет-соединение — повторим попытку автоматически.");
const QString failurePrefix = QStringLiteral("Не удалось синхронизировать историю встречи: ");
// A finished meeting's save that fails after a new one began: its notice names the meeting it
// is about, so a success or failure of the new meeting never clears or stands for it.
const QString previousTransientFailureMessage = QStringLiteral(
    "Не удалось сохранить в истории предыдущую встречу. Проверьте интернет-соединение — повторим попытку автоматически.");
const QString previousFailurePrefix = QStringLiteral("Не удалось сохранить в истории предыдущую встречу: ");
// In place of the server's own words for a record it no longer has ("Meeting session not found").
const QString recordGoneReason = QStringLiteral("её запись удалена с сервера.");
const QString refusedMeetingTextKeptIn = QStringLiteral("Текст встречи сохранён на этом компьютере в файле: %1");
const QString refusedMeetingTextNotWritten = QStringLiteral(
    "Записать её текст в файл не удалось: он хранится на этом компьютере, и программа попробует записать его снова "
    "при следующем запуске.");

bool isMissingAuthSession(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const MeetingSessionHistoryServiceError &historyError) {
        return historyError.errorCase() == MeetingSessionHistoryServiceError::Case::missingAuthSession;
    } catch (...) {
    }
    return false;
}

} // namespace

MeetingHistoryMirror::MeetingHistoryMirror(MeetingSessionHistoryService *service, Clock clock, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_clock(std::move(clock))
{
}

MeetingHistoryMirror::~MeetingHistoryMirror()
{
    m_current->deferredRetryTask.cancel();
    for (const ConversationPointer &conversation : m_handedOver)
        conversation->deferredRetryTask.cancel();
    m_lifetime.cancel();
}

void MeetingHistoryMirror::setErrorMessageAccess(ErrorMessageReader reader, ErrorMessageWriter writer)
{
    m_readErrorMessage = std::move(reader);
    m_writeErrorMessage = std::move(writer);
}

QString MeetingHistoryMirror::clientSessionID() const
{
    return QLatin1String(clientSessionPrefix) + m_current->generation.toString(QUuid::WithoutBraces).toLower();
}

QString MeetingHistoryMirror::currentAppVersion()
{
    if (std::optional<QString> version = ApplicationInfo::value(QLatin1String(ApplicationInfo::ShortVersionKey)))
        return *version;
    if (std::optional<QString> version = ApplicationInfo::value(QLatin1String(ApplicationInfo::BuildVersionKey)))
        return *version;
    return QStringLiteral("0");
}

std::optional<QString> &MeetingHistoryMirror::lastSignature(Conversation &conversation, MeetingSessionHistoryStatus status)
{
    return status == MeetingSessionHistoryStatus::completed ? conversation.lastCompletedSnapshotSignature
                                                            : conversation.lastSavedSnapshotSignature;
}

QDateTime MeetingHistoryMirror::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

bool MeetingHistoryMirror::isLive(const ConversationPointer &conversation) const
{
    return conversation == m_current
           || std::find(m_handedOver.begin(), m_handedOver.end(), conversation) != m_handedOver.end();
}

void MeetingHistoryMirror::fixEndIfUnset(Conversation &conversation)
{
    if (conversation.endedAt)
        return;
    conversation.endedAt = now();
    noteRecordChanged(conversation);
}

void MeetingHistoryMirror::noteMeetingEndedAt(const QDateTime &end)
{
    m_current->endedAt = end;
    noteRecordChanged(*m_current);
}

void MeetingHistoryMirror::noteRecordChanged(const Conversation &conversation)
{
    // A conversation being handed over is still the current one until finishConversation()
    // resets, and its first save starts before that: it is announced as handed over.
    for (const ConversationPointer &handedOver : m_handedOver) {
        if (handedOver.get() == &conversation) {
            Q_EMIT handedOverMeetingChanged(handedOverMeetingOf(conversation));
            return;
        }
    }
    if (&conversation == m_current.get())
        Q_EMIT recordChanged();
}

MeetingHistoryRecord MeetingHistoryMirror::record() const
{
    return recordOf(*m_current);
}

MeetingHistoryRecord MeetingHistoryMirror::recordOf(const Conversation &conversation) const
{
    MeetingHistoryRecord record;
    record.conversationGeneration = conversation.generation;
    record.sessionID = conversation.sessionID;
    record.sessionRevision = conversation.sessionRevision;
    record.startedAt = conversation.startedAt;
    record.endedAt = conversation.endedAt;
    record.source = conversation.finalSnapshot ? conversation.finalSnapshot->sessionParams.source : m_source;
    record.focusMode = conversation.finalSnapshot ? conversation.finalSnapshot->sessionParams.focusMode.value_or(false)
                                                  : m_focusModeEnabled;
    record.lastSavedSignature = conversation.lastSavedSnapshotSignature;
    record.lastCompletedSignature = conversation.lastCompletedSnapshotSignature;
    record.startUncertain = conversation.startUncertain;
    record.accountID = conversation.accountID;
    record.settings = conversation.settings;
    return record;
}

HandedOverMeeting MeetingHistoryMirror::handedOverMeetingOf(const Conversation &conversation) const
{
    HandedOverMeeting meeting;
    meeting.record = recordOf(conversation);
    meeting.finalSnapshot = conversation.finalSnapshot.value_or(MeetingSessionHistorySnapshot());
    meeting.accountID = conversation.accountID;
    return meeting;
}

bool MeetingHistoryMirror::isHandedOver(const ConversationPointer &conversation) const
{
    return std::find(m_handedOver.begin(), m_handedOver.end(), conversation) != m_handedOver.end();
}

QList<HandedOverMeeting> MeetingHistoryMirror::handedOverMeetings() const
{
    QList<HandedOverMeeting> meetings;
    for (const ConversationPointer &conversation : m_handedOver)
        meetings.append(handedOverMeetingOf(*conversation));
    return meetings;
}

void MeetingHistoryMirror::resumeHandedOverMeetings(const QList<HandedOverMeeting> &meetings)
{
    for (const HandedOverMeeting &meeting : meetings) {
        const QUuid generation = meeting.record.conversationGeneration;
        const bool known = generation == m_current->generation
                           || std::any_of(m_handedOver.begin(), m_handedOver.end(),
                                          [&generation](const ConversationPointer &c) { return c->generation == generation; });
        if (generation.isNull() || known)
            continue;
        auto conversation = std::make_shared<Conversation>();
        conversation->generation = generation;
        if (meeting.record.sessionID && meeting.record.sessionRevision) {
            conversation->sessionID = meeting.record.sessionID;
            conversation->sessionRevision = meeting.record.sessionRevision;
        }
        conversation->startedAt = meeting.record.startedAt;
        conversation->endedAt = meeting.record.endedAt;
        conversation->lastSavedSnapshotSignature = meeting.record.lastSavedSignature;
        conversation->lastCompletedSnapshotSignature = meeting.record.lastCompletedSignature;
        conversation->startUncertain = meeting.record.startUncertain;
        conversation->finalSnapshot = meeting.finalSnapshot;
        conversation->accountID = meeting.accountID ? meeting.accountID : meeting.record.accountID;
        conversation->settings = meeting.record.settings;
        m_handedOver.push_back(conversation);
        enqueueSave(conversation, MeetingSessionHistoryStatus::completed);
    }
}

void MeetingHistoryMirror::noteSignedIn(const QString &accountID)
{
    m_signedInAccount = accountID;
    for (const ConversationPointer &conversation : m_handedOver) {
        if (conversation->queuedSaves > 0 || (conversation->accountID && *conversation->accountID != accountID))
            continue;
        retrySaveNow(conversation, MeetingSessionHistoryStatus::completed);
    }
    // A save that found nobody signed in scheduled nothing: the sign-in is what it waits for.
    if (m_current->lastSaveFailed && m_current->queuedSaves == 0
        && (!m_current->accountID || *m_current->accountID == accountID))
        retrySaveNow(m_current, m_current->failedSaveStatus);
}

void MeetingHistoryMirror::noteMeetingAccount(const QString &accountID)
{
    if (m_current->accountID || accountID.isEmpty())
        return;
    m_current->accountID = accountID;
    noteRecordChanged(*m_current);
}

QCoro::Task<bool> MeetingHistoryMirror::mayUpload(ConversationPointer conversation, MeetingSessionHistoryStatus status)
{
    if (!m_readAccount)
        co_return true;
    QPointer<MeetingHistoryMirror> self(this);
    const AccountReader readAccount = m_readAccount;
    const std::optional<QString> account = co_await readAccount();
    if (!self || !self->isLive(conversation))
        co_return false;
    if (!conversation->accountID && account) {
        conversation->accountID = account;
        noteRecordChanged(*conversation);
    }
    if (account && account == conversation->accountID)
        co_return true;
    // Nobody, or another account, is signed in: no request goes out, and the meeting waits for
    // its own account's sign-in.
    conversation->lastSaveFailed = true;
    conversation->failedSaveStatus = status;
    co_return false;
}

bool MeetingHistoryMirror::adoptRecord(const MeetingHistoryRecord &record)
{
    Conversation &current = *m_current;
    if (record.conversationGeneration.isNull() || current.sessionID || current.startedAt || current.queuedSaves > 0
        || current.lastSavedSnapshotSignature || current.lastCompletedSnapshotSignature)
        return false;
    current.generation = record.conversationGeneration;
    // An id is only of use with its revision: without both the next save starts the record,
    // and looks it up first by the client session id when a start of the last run went unanswered.
    if (record.sessionID && record.sessionRevision) {
        current.sessionID = record.sessionID;
        current.sessionRevision = record.sessionRevision;
    }
    current.startedAt = record.startedAt;
    current.endedAt = record.endedAt;
    current.lastSavedSnapshotSignature = record.lastSavedSignature;
    current.lastCompletedSnapshotSignature = record.lastCompletedSignature;
    current.startUncertain = record.startUncertain;
    if (record.accountID)
        current.accountID = record.accountID;
    if (record.settings)
        current.settings = record.settings;
    if (!record.source.isEmpty())
        m_source = record.source;
    m_focusModeEnabled = record.focusMode;
    noteRecordChanged(current);
    return true;
}

void MeetingHistoryMirror::saveAdoptedMeetingIfBehind()
{
    // A crash just after Start New can leave the draft of the meeting it handed over: that
    // meeting is on its way already.
    const QUuid generation = m_current->generation;
    if (std::any_of(m_handedOver.begin(), m_handedOver.end(),
                    [&generation](const ConversationPointer &c) { return c->generation == generation; }))
        return;
    const bool allowEmptySession = m_current->startedAt.has_value() || m_current->sessionID.has_value();
    const std::optional<MeetingSessionHistorySnapshot> record =
        m_snapshotProvider ? m_snapshotProvider(MeetingSessionHistoryStatus::completed, allowEmptySession) : std::nullopt;
    if (!record || (m_current->sessionID && holdsCompletedRecord(*m_current, *record)))
        return;
    enqueueSnapshotSync(MeetingSessionHistoryStatus::completed);
}

bool MeetingHistoryMirror::holdsCompletedRecord(const Conversation &conversation, const MeetingSessionHistorySnapshot &record)
{
    return conversation.lastCompletedSnapshotSignature == Text::digest(record.signature());
}

// ---- Queue ----

TaskHandle<void> MeetingHistoryMirror::scheduleWork(ConversationPointer conversation,
                                                    std::function<QCoro::Task<void>(CancellationToken)> work)
{
    TaskHandle<void> previous = conversation->saveTask;
    QPointer<MeetingHistoryMirror> self(this);
    ++conversation->queuedSaves;
    conversation->saveTask = spawnTask([previous, conversation, self, work](CancellationToken token) -> QCoro::Task<void> {
        if (previous.isValid())
            co_await previous.completion();
        if (self && !token.isCancelled() && self->isLive(conversation)) {
            try {
                co_await work(token);
            } catch (...) {
                qCWarning(KavrelDiagnostics::history()).noquote()
                    << QStringLiteral("Meeting history work failed: %1").arg(errorMessage(std::current_exception()));
            }
        }
        --conversation->queuedSaves;
    }, m_lifetime);
    return conversation->saveTask;
}

void MeetingHistoryMirror::scheduleSessionStartIfNeeded()
{
    QPointer<MeetingHistoryMirror> self(this);
    ConversationPointer conversation = m_current;
    scheduleWork(conversation, [self, conversation](CancellationToken token) -> QCoro::Task<void> {
        if (self)
            co_await self->ensureSessionStartedIfNeeded(conversation, token);
    });
}

TaskHandle<void> MeetingHistoryMirror::enqueueSnapshotSync(MeetingSessionHistoryStatus status)
{
    if (status == MeetingSessionHistoryStatus::completed)
        fixEndIfUnset(*m_current);
    return enqueueSave(m_current, status);
}

void MeetingHistoryMirror::retrySaveNow(const ConversationPointer &conversation, MeetingSessionHistoryStatus status)
{
    conversation->deferredRetryTask.cancel();
    enqueueSave(conversation, status);
}

TaskHandle<void> MeetingHistoryMirror::enqueueSave(ConversationPointer conversation, MeetingSessionHistoryStatus status)
{
    QPointer<MeetingHistoryMirror> self(this);
    return scheduleWork(conversation, [self, status, conversation](CancellationToken token) -> QCoro::Task<void> {
        if (self)
            co_await self->persistSnapshot(status, conversation, token);
    });
}

void MeetingHistoryMirror::noteListeningStarted(const QString &source)
{
    // A continued conversation keeps its first start.
    if (!m_current->startedAt)
        m_current->startedAt = now();
    // The meeting is recorded under the account signed in now.
    if (!m_current->accountID)
        m_current->accountID = m_signedInAccount;
    // Listening again: the meeting runs on, and its next stop fixes a new end.
    m_current->endedAt.reset();
    m_source = source;
    if (m_readSettings) {
        const MeetingSettings chosen = m_readSettings();
        m_current->settings = m_current->settings ? m_current->settings->continuedWith(chosen) : chosen;
    }
    noteRecordChanged(*m_current);
}

void MeetingHistoryMirror::noteMeetingSettingsIfUnknown()
{
    if (m_current->settings || !m_readSettings)
        return;
    m_current->settings = m_readSettings();
    noteRecordChanged(*m_current);
}

QCoro::Task<void> MeetingHistoryMirror::waitForPendingSave()
{
    TaskHandle<void> pending = m_current->saveTask;
    if (pending.isValid())
        co_await pending.completion();
}

QCoro::Task<void> MeetingHistoryMirror::waitForEverySave()
{
    // The server is away or answers with errors: the quit would otherwise sit through the
    // pauses (1, 3 and 8 s) until its time limit ends the program, its windows still open.
    m_quitting.cancel();
    QList<TaskHandle<void>> pending;
    // A meeting stopped while the server was away (or nobody was signed in) would otherwise
    // end the program unsent, its record behind its turns.
    if (m_current->lastSaveFailed && m_current->queuedSaves == 0)
        retrySaveNow(m_current, m_current->failedSaveStatus);
    pending.append(m_current->saveTask);
    for (const ConversationPointer &conversation : m_handedOver) {
        // A finished meeting waiting for its next retry gets one more attempt now, like the
        // current meeting's final save.
        if (conversation->queuedSaves == 0 && conversation->deferredRetryTask.isValid()
            && !conversation->deferredRetryTask.isFinished())
            retrySaveNow(conversation, MeetingSessionHistoryStatus::completed);
        pending.append(conversation->saveTask);
    }
    for (const TaskHandle<void> &task : pending) {
        if (task.isValid())
            co_await task.completion();
    }
}

bool MeetingHistoryMirror::hasUnsavedMeeting() const
{
    if (!m_handedOver.empty())
        return true;
    return m_current->queuedSaves > 0 || m_current->lastSaveFailed;
}

QStringList MeetingHistoryMirror::waitingSessionIDs() const
{
    QStringList ids;
    if (m_current->sessionID && (m_current->queuedSaves > 0 || m_current->lastSaveFailed))
        ids.append(*m_current->sessionID);
    for (const ConversationPointer &conversation : m_handedOver) {
        if (conversation->sessionID)
            ids.append(*conversation->sessionID);
    }
    return ids;
}

QCoro::Task<void> MeetingHistoryMirror::persistMeetingHistorySnapshot(MeetingSessionHistoryStatus status)
{
    TaskHandle<void> save = enqueueSnapshotSync(status);
    co_await save.completion();
}

void MeetingHistoryMirror::resetMeetingHistoryState()
{
    m_current->deferredRetryTask.cancel();
    m_current = std::make_shared<Conversation>();
    m_source = QLatin1String(defaultSource);
    Q_EMIT conversationReset();
}

void MeetingHistoryMirror::finishConversation()
{
    ConversationPointer finished = m_current;
    fixEndIfUnset(*finished);
    const bool allowEmptySession = finished->startedAt.has_value() || finished->sessionID.has_value();
    std::optional<MeetingSessionHistorySnapshot> record =
        m_snapshotProvider ? m_snapshotProvider(MeetingSessionHistoryStatus::completed, allowEmptySession) : std::nullopt;
    // The conversation's notice goes with it; a later failure shows the previous meeting's own.
    if (finished->syncErrorMessage && m_readErrorMessage && m_writeErrorMessage
        && m_readErrorMessage() == finished->syncErrorMessage)
        m_writeErrorMessage(std::nullopt);
    finished->syncErrorMessage.reset();
    finished->deferredRetryTask.cancel();
    const bool landed = record && holdsCompletedRecord(*finished, *record) && finished->queuedSaves == 0;
    if (record && !landed) {
        finished->finalSnapshot = *record;
        m_handedOver.push_back(finished);
        // Kept on disk before the caller clears the draft, the meeting's only other copy.
        Q_EMIT handedOverMeetingChanged(handedOverMeetingOf(*finished));
        enqueueSave(finished, MeetingSessionHistoryStatus::completed);
    }
    resetMeetingHistoryState();
}

// ---- Saves ----

QCoro::Task<void> MeetingHistoryMirror::ensureSessionStartedIfNeeded(ConversationPointer conversation, CancellationToken token)
{
    // A handed-over conversation starts its record, if need be, with its final save.
    if (conversation->sessionID || conversation->finalSnapshot || !m_snapshotProvider)
        co_return;
    QPointer<MeetingHistoryMirror> self(this);
    const bool allowed = co_await mayUpload(conversation, MeetingSessionHistoryStatus::active);
    if (!self || !allowed || conversation->sessionID)
        co_return;
    std::optional<MeetingSessionHistorySnapshot> snapshot = m_snapshotProvider(MeetingSessionHistoryStatus::active, true);
    if (!snapshot)
        co_return;

    const RemoteCall call = startCall(conversation, *snapshot);
    std::optional<MeetingSessionHistoryRemoteState> state =
        co_await callWithRetries(call, MeetingSessionHistoryStatus::active, conversation, token);
    if (!self || !state)
        co_return;
    conversation->sessionID = state->id;
    conversation->sessionRevision = state->revision;
    conversation->startUncertain = false;
    conversation->lastSavedSnapshotSignature.reset();
    conversation->lastCompletedSnapshotSignature.reset();
    markSyncSucceeded(conversation);
    noteRecordChanged(*conversation);
}

QCoro::Task<void> MeetingHistoryMirror::persistSnapshot(MeetingSessionHistoryStatus status, ConversationPointer conversation,
                                                      CancellationToken token)
{
    std::optional<MeetingSessionHistorySnapshot> snapshot = conversation->finalSnapshot;
    if (!snapshot && m_snapshotProvider) {
        const bool allowEmptySession = conversation->startedAt.has_value() || conversation->sessionID.has_value();
        snapshot = m_snapshotProvider(status, allowEmptySession);
    }
    if (!snapshot) {
        conversation->lastSaveFailed = false;
        co_return;
    }
    const MeetingSessionHistorySnapshot record = *snapshot;
    // A meeting that has ended is saved as completed whatever asked for the save.
    const MeetingSessionHistoryStatus savedStatus = record.status;
    QPointer<MeetingSessionHistoryService> service = m_service;
    QPointer<MeetingHistoryMirror> self(this);

    // A meeting of another account (or of one signed out) waits for its own.
    const bool allowed = co_await mayUpload(conversation, savedStatus);
    if (!self || !allowed)
        co_return;

    if (!conversation->sessionID || !conversation->sessionRevision) {
        const RemoteCall start = startCall(conversation, record);
        std::optional<MeetingSessionHistoryRemoteState> started =
            co_await callWithRetries(start, savedStatus, conversation, token);
        if (!self || !started)
            co_return;
        conversation->sessionID = started->id;
        conversation->sessionRevision = started->revision;
        conversation->startUncertain = false;
        noteRecordChanged(*conversation);
    }

    // A digest stands for the signature between saves: the signature is as long as the record.
    const QString signature = Text::digest(record.signature());
    if (lastSignature(*conversation, savedStatus) == signature) {
        markSyncSucceeded(conversation);
        co_return;
    }

    const QString id = *conversation->sessionID;
    const qint64 revision = *conversation->sessionRevision;
    const std::optional<QString> account = conversation->accountID;
    RemoteCall update = [service, id, revision, record, account](CancellationToken callToken)
        -> QCoro::Task<MeetingSessionHistoryRemoteState> {
        if (!service)
            throw CancellationError();
        co_return co_await service->updateSession(id, revision, record, callToken, account);
    };
    std::optional<MeetingSessionHistoryRemoteState> updated = co_await callWithRetries(update, savedStatus, conversation, token);
    if (!self || !updated)
        co_return;
    conversation->sessionRevision = updated->revision;
    lastSignature(*conversation, savedStatus) = signature;
    markSyncSucceeded(conversation);
    noteRecordChanged(*conversation);
}

MeetingHistoryMirror::RemoteCall MeetingHistoryMirror::startCall(ConversationPointer conversation,
                                                                 MeetingSessionHistorySnapshot record)
{
    QPointer<MeetingHistoryMirror> self(this);
    QPointer<MeetingSessionHistoryService> service = m_service;
    return [self, service, conversation, record](CancellationToken token) -> QCoro::Task<MeetingSessionHistoryRemoteState> {
        if (!self || !service)
            throw CancellationError();
        const QString clientSessionID = record.sessionParams.clientSessionId.value_or(QString());
        // The service remembers only the starts of this run.
        if (conversation->startUncertain)
            service->noteUncertainStart(clientSessionID);
        self->noteStartUncertain(*conversation, true);
        // Only with the session of the meeting's own account.
        const std::optional<QString> account = conversation->accountID;
        const TaskOutcome<MeetingSessionHistoryRemoteState> answer =
            co_await outcomeOf(service->startSession(record, token, account));
        // A success is noted with the record's id by the caller; a cancellation says nothing of
        // what the server did.
        if (answer.failed() && !isCancellation(answer.error) && self && service)
            self->noteStartUncertain(*conversation, service->isStartUncertain(clientSessionID));
        if (answer.failed())
            std::rethrow_exception(answer.error);
        co_return *answer.value;
    };
}

void MeetingHistoryMirror::noteStartUncertain(Conversation &conversation, bool uncertain)
{
    if (conversation.startUncertain == uncertain)
        return;
    conversation.startUncertain = uncertain;
    noteRecordChanged(conversation);
}

QCoro::Task<std::optional<MeetingSessionHistoryRemoteState>> MeetingHistoryMirror::callWithRetries(
    RemoteCall call, MeetingSessionHistoryStatus retryStatus, ConversationPointer conversation, CancellationToken token)
{
    QPointer<MeetingHistoryMirror> self(this);
    const int retryLimit = static_cast<int>(m_timings.retryDelays.size());
    int attempt = 0;
    while (true) {
        const TaskOutcome<MeetingSessionHistoryRemoteState> answer = co_await outcomeOf(call(token));
        // A reply for a conversation that was dropped meanwhile belongs to no record any more.
        if (!self || !self->isLive(conversation))
            co_return std::nullopt;
        if (answer.succeeded())
            co_return answer.value;

        if (!MeetingSessionHistoryService::isRetryableError(answer.error) || attempt >= retryLimit
            || m_quitting.isCancelled()) {
            handleSyncError(answer.error, retryStatus, conversation);
            co_return std::nullopt;
        }
        const std::chrono::milliseconds delay = m_timings.retryDelays[static_cast<size_t>(attempt)];
        qCWarning(KavrelDiagnostics::history()).noquote()
            << QStringLiteral("Meeting history sync interrupted; retry %1/%2 in %3s")
                   .arg(attempt + 1)
                   .arg(retryLimit)
                   .arg(QString::asprintf("%f", static_cast<double>(delay.count()) / 1000.0));
        // The pause ends with the save's task, or when the quit begins: the next attempt, the
        // last, is made at once then.
        const CancellationToken pauseEnds;
        const CancellationToken::CallbackId bySave = token.onCancel([pauseEnds] { pauseEnds.cancel(); });
        const CancellationToken::CallbackId byQuit = m_quitting.onCancel([pauseEnds] { pauseEnds.cancel(); });
        const TaskOutcome<void> pause = co_await outcomeOf(sleepFor(delay, pauseEnds));
        token.removeCallback(bySave);
        if (!self || !self->isLive(conversation))
            co_return std::nullopt;
        m_quitting.removeCallback(byQuit);
        if (pause.failed() && token.isCancelled()) {
            handleSyncError(pause.error, retryStatus, conversation);
            co_return std::nullopt;
        }
        ++attempt;
    }
}

// ---- Outcome ----

void MeetingHistoryMirror::markSyncSucceeded(const ConversationPointer &conversation)
{
    conversation->lastSaveFailed = false;
    conversation->deferredRetryTask.cancel();
    conversation->deferredRetryTask = TaskHandle<void>();
    if (m_readErrorMessage && m_writeErrorMessage && m_readErrorMessage() == conversation->syncErrorMessage)
        m_writeErrorMessage(std::nullopt);
    conversation->syncErrorMessage.reset();
    if (conversation->finalSnapshot)
        releaseHandedOver(conversation);
    Q_EMIT meetingSaved(conversation->generation);
}

void MeetingHistoryMirror::releaseHandedOver(const ConversationPointer &conversation)
{
    if (!isHandedOver(conversation))
        return;
    m_handedOver.erase(std::remove(m_handedOver.begin(), m_handedOver.end(), conversation), m_handedOver.end());
    Q_EMIT handedOverMeetingReleased(conversation->generation);
}

void MeetingHistoryMirror::handleSyncError(const std::exception_ptr &error, MeetingSessionHistoryStatus retryStatus,
                                           const ConversationPointer &conversation)
{
    if (isCancellation(error))
        return;
    conversation->lastSaveFailed = true;
    conversation->failedSaveStatus = retryStatus;
    if (isMissingAuthSession(error)) {
        // Nobody, or another account, is signed in: there is no history of its own to save to.
        // The meeting waits, unsaved, until its account signs in again (noteSignedIn), or for
        // the next run.
        return;
    }
    const bool previousMeeting = conversation->finalSnapshot.has_value();
    const bool recordGone = MeetingSessionHistoryService::isMeetingNotFoundError(error);
    const QString description = errorMessage(error);
    QString message;
    if (MeetingSessionHistoryService::isRetryableError(error)) {
        message = previousMeeting ? previousTransientFailureMessage : transientFailureMessage;
        scheduleDeferredRetry(retryStatus, conversation);
    } else {
        message = (previousMeeting ? previousFailurePrefix : failurePrefix) + (recordGone ? recordGoneReason : description);
        // Refused by the server: retrying the same record cannot help. Its draft is gone, so
        // its text is kept elsewhere on this computer first; a meeting whose text file could
        // not be written (a full disk) stays handed over, kept on disk, for the next run. A
        // record deleted elsewhere refuses the meeting on screen as well: its text is kept now.
        if (previousMeeting || recordGone) {
            std::optional<MeetingSessionHistorySnapshot> record = conversation->finalSnapshot;
            if (!record && m_snapshotProvider)
                record = m_snapshotProvider(retryStatus, true);
            const std::optional<QString> kept = record ? keepRefusedMeetingText(*conversation, *record) : QString();
            const QString separator = message.endsWith(QLatin1Char('.')) ? QStringLiteral(" ") : QStringLiteral(". ");
            if (kept) {
                if (!kept->isEmpty())
                    message += separator + *kept;
                releaseHandedOver(conversation);
                // The file stands for this content: neither Start New nor the quit sends it to
                // the gone record again, nor keeps it twice.
                if (!previousMeeting && record) {
                    lastSignature(*conversation, record->status) = Text::digest(record->signature());
                    conversation->lastSaveFailed = false;
                    noteRecordChanged(*conversation);
                }
            } else {
                message += separator + refusedMeetingTextNotWritten;
            }
        }
    }
    qCWarning(KavrelDiagnostics::history()).noquote() << QStringLiteral("Meeting history sync failed: %1").arg(description);
    conversation->syncErrorMessage = message;
    if (m_writeErrorMessage)
        m_writeErrorMessage(message);
}

std::optional<QString> MeetingHistoryMirror::keepRefusedMeetingText(const Conversation &conversation,
                                                                    const MeetingSessionHistorySnapshot &record) const
{
    if (!m_keepRefusedMeeting)
        return QString();
    HandedOverMeeting meeting = handedOverMeetingOf(conversation);
    meeting.finalSnapshot = record;
    const std::optional<QString> path = m_keepRefusedMeeting(meeting);
    if (!path)
        return std::nullopt;
    return refusedMeetingTextKeptIn.arg(*path);
}

void MeetingHistoryMirror::scheduleDeferredRetry(MeetingSessionHistoryStatus status, const ConversationPointer &conversation)
{
    conversation->deferredRetryTask.cancel();
    QPointer<MeetingHistoryMirror> self(this);
    const std::weak_ptr<Conversation> weakConversation = conversation;
    const std::chrono::milliseconds delay = m_timings.deferredRetryDelay;
    conversation->deferredRetryTask =
        spawnTask([self, weakConversation, status, delay](CancellationToken token) -> QCoro::Task<void> {
            try {
                co_await sleepFor(delay, token);
            } catch (...) {
                co_return;
            }
            ConversationPointer conversation = weakConversation.lock();
            if (token.isCancelled() || !self || !conversation || !self->isLive(conversation))
                co_return;
            self->enqueueSave(conversation, status);
        });
}
