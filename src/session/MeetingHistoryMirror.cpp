#include "session/MeetingHistoryMirror.h"

#include "base/KavrelDiagnostics.h"
#include "base/KavrelError.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "platform/ApplicationInfo.h"
#include "services/MeetingSessionHistoryService.h"
#include "services/MeetingSessionHistoryServiceError.h"

namespace {

// Shown as they stand: the history texts are not looked up in the interface tables.
const QString transientFailureMessage = QStringLiteral(
    "Не удалось синхронизировать историю встречи. Проверьте интернет-соединение — повторим попытку автоматически.");
const QString failurePrefix = QStringLiteral("Не удалось синхронизировать историю встречи: ");

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
    m_deferredRetryTask.cancel();
    m_lifetime.cancel();
}

void MeetingHistoryMirror::setErrorMessageAccess(ErrorMessageReader reader, ErrorMessageWriter writer)
{
    m_readErrorMessage = std::move(reader);
    m_writeErrorMessage = std::move(writer);
}

QString MeetingHistoryMirror::clientSessionID() const
{
    return QLatin1String(clientSessionPrefix) + m_conversationGeneration.toString(QUuid::WithoutBraces).toLower();
}

void MeetingHistoryMirror::setStartedAtIfUnset(const QDateTime &now)
{
    if (!m_startedAt)
        m_startedAt = now;
}

QString MeetingHistoryMirror::currentAppVersion()
{
    if (std::optional<QString> version = ApplicationInfo::value(QLatin1String(ApplicationInfo::ShortVersionKey)))
        return *version;
    if (std::optional<QString> version = ApplicationInfo::value(QLatin1String(ApplicationInfo::BuildVersionKey)))
        return *version;
    return QStringLiteral("0");
}

std::optional<QString> &MeetingHistoryMirror::lastSignature(MeetingSessionHistoryStatus status)
{
    return status == MeetingSessionHistoryStatus::completed ? m_lastCompletedSnapshotSignature : m_lastSavedSnapshotSignature;
}

// ---- Queue ----

TaskHandle<void> MeetingHistoryMirror::scheduleWork(std::function<QCoro::Task<void>(CancellationToken)> work)
{
    TaskHandle<void> previous = m_saveTask;
    const QUuid generation = m_conversationGeneration;
    QPointer<MeetingHistoryMirror> self(this);
    m_saveTask = spawnTask([previous, generation, self, work](CancellationToken token) -> QCoro::Task<void> {
        if (previous.isValid())
            co_await previous.completion();
        if (!self || token.isCancelled() || self->m_conversationGeneration != generation)
            co_return;
        try {
            co_await work(token);
        } catch (...) {
            qCWarning(KavrelDiagnostics::history()).noquote()
                << QStringLiteral("Meeting history work failed: %1").arg(errorMessage(std::current_exception()));
        }
    }, m_lifetime);
    return m_saveTask;
}

void MeetingHistoryMirror::scheduleSessionStartIfNeeded()
{
    QPointer<MeetingHistoryMirror> self(this);
    const QUuid generation = m_conversationGeneration;
    scheduleWork([self, generation](CancellationToken token) -> QCoro::Task<void> {
        if (self)
            co_await self->ensureSessionStartedIfNeeded(generation, token);
    });
}

TaskHandle<void> MeetingHistoryMirror::enqueueSnapshotSync(MeetingSessionHistoryStatus status)
{
    QPointer<MeetingHistoryMirror> self(this);
    const QUuid generation = m_conversationGeneration;
    return scheduleWork([self, status, generation](CancellationToken token) -> QCoro::Task<void> {
        if (self)
            co_await self->persistSnapshot(status, generation, token);
    });
}

void MeetingHistoryMirror::noteListeningStarted(const QString &source)
{
    setStartedAtIfUnset(m_clock ? m_clock() : QDateTime::currentDateTimeUtc());
    m_source = source;
}

QCoro::Task<void> MeetingHistoryMirror::waitForPendingSave()
{
    TaskHandle<void> pending = m_saveTask;
    if (pending.isValid())
        co_await pending.completion();
}

QCoro::Task<void> MeetingHistoryMirror::persistMeetingHistorySnapshot(MeetingSessionHistoryStatus status)
{
    TaskHandle<void> save = enqueueSnapshotSync(status);
    co_await save.completion();
}

void MeetingHistoryMirror::resetMeetingHistoryState()
{
    m_deferredRetryTask.cancel();
    m_deferredRetryTask = TaskHandle<void>();
    m_syncErrorMessage.reset();
    m_conversationGeneration = QUuid::createUuid();
    m_sessionID.reset();
    m_sessionRevision.reset();
    m_startedAt.reset();
    m_lastSavedSnapshotSignature.reset();
    m_lastCompletedSnapshotSignature.reset();
    m_source = QLatin1String(defaultSource);
    m_saveTask = TaskHandle<void>();
    Q_EMIT conversationReset();
}

// ---- Saves ----

QCoro::Task<void> MeetingHistoryMirror::ensureSessionStartedIfNeeded(QUuid generation, CancellationToken token)
{
    if (m_sessionID || !m_snapshotProvider)
        co_return;
    std::optional<MeetingSessionHistorySnapshot> snapshot = m_snapshotProvider(MeetingSessionHistoryStatus::active, true);
    if (!snapshot)
        co_return;

    QPointer<MeetingSessionHistoryService> service = m_service;
    MeetingSessionHistorySnapshot record = *snapshot;
    RemoteCall call = [service, record](CancellationToken callToken) -> QCoro::Task<MeetingSessionHistoryRemoteState> {
        if (!service)
            throw CancellationError();
        co_return co_await service->startSession(record, callToken);
    };
    QPointer<MeetingHistoryMirror> self(this);
    std::optional<MeetingSessionHistoryRemoteState> state =
        co_await callWithRetries(call, MeetingSessionHistoryStatus::active, generation, token);
    if (!self || !state)
        co_return;
    m_sessionID = state->id;
    m_sessionRevision = state->revision;
    m_lastSavedSnapshotSignature.reset();
    m_lastCompletedSnapshotSignature.reset();
    markSyncSucceeded();
}

QCoro::Task<void> MeetingHistoryMirror::persistSnapshot(MeetingSessionHistoryStatus status, QUuid generation,
                                                      CancellationToken token)
{
    if (!m_snapshotProvider)
        co_return;
    const bool allowEmptySession = m_startedAt.has_value() || m_sessionID.has_value();
    std::optional<MeetingSessionHistorySnapshot> snapshot = m_snapshotProvider(status, allowEmptySession);
    if (!snapshot)
        co_return;
    const MeetingSessionHistorySnapshot record = *snapshot;
    QPointer<MeetingSessionHistoryService> service = m_service;
    QPointer<MeetingHistoryMirror> self(this);

    if (!m_sessionID || !m_sessionRevision) {
        RemoteCall start = [service, record](CancellationToken callToken) -> QCoro::Task<MeetingSessionHistoryRemoteState> {
            if (!service)
                throw CancellationError();
            co_return co_await service->startSession(record, callToken);
        };
        std::optional<MeetingSessionHistoryRemoteState> started = co_await callWithRetries(start, status, generation, token);
        if (!self || !started)
            co_return;
        m_sessionID = started->id;
        m_sessionRevision = started->revision;
    }

    // A digest stands for the signature between saves: the signature is as long as the record.
    const QString signature = Text::digest(record.signature());
    if (lastSignature(status) == signature)
        co_return;

    const QString id = *m_sessionID;
    const qint64 revision = *m_sessionRevision;
    RemoteCall update = [service, id, revision, record](CancellationToken callToken) -> QCoro::Task<MeetingSessionHistoryRemoteState> {
        if (!service)
            throw CancellationError();
        co_return co_await service->updateSession(id, revision, record, callToken);
    };
    std::optional<MeetingSessionHistoryRemoteState> updated = co_await callWithRetries(update, status, generation, token);
    if (!self || !updated)
        co_return;
    m_sessionRevision = updated->revision;
    lastSignature(status) = signature;
    markSyncSucceeded();
}

QCoro::Task<std::optional<MeetingSessionHistoryRemoteState>> MeetingHistoryMirror::callWithRetries(
    RemoteCall call, MeetingSessionHistoryStatus retryStatus, QUuid generation, CancellationToken token)
{
    QPointer<MeetingHistoryMirror> self(this);
    const int retryLimit = static_cast<int>(m_timings.retryDelays.size());
    int attempt = 0;
    while (true) {
        const TaskOutcome<MeetingSessionHistoryRemoteState> answer = co_await outcomeOf(call(token));
        // A reply for a conversation that has ended meanwhile belongs to the old record.
        if (!self || self->m_conversationGeneration != generation)
            co_return std::nullopt;
        if (answer.succeeded())
            co_return answer.value;

        if (!MeetingSessionHistoryService::isTransientNetworkError(answer.error) || attempt >= retryLimit) {
            handleSyncError(answer.error, retryStatus);
            co_return std::nullopt;
        }
        const std::chrono::milliseconds delay = m_timings.retryDelays[static_cast<size_t>(attempt)];
        qCWarning(KavrelDiagnostics::history()).noquote()
            << QStringLiteral("Meeting history sync interrupted; retry %1/%2 in %3s")
                   .arg(attempt + 1)
                   .arg(retryLimit)
                   .arg(QString::asprintf("%f", static_cast<double>(delay.count()) / 1000.0));
        const TaskOutcome<void> pause = co_await outcomeOf(sleepFor(delay, token));
        if (!self || self->m_conversationGeneration != generation)
            co_return std::nullopt;
        if (pause.failed()) {
            handleSyncError(pause.error, retryStatus);
            co_return std::nullopt;
        }
        ++attempt;
    }
}

// ---- Outcome ----

void MeetingHistoryMirror::markSyncSucceeded()
{
    m_deferredRetryTask.cancel();
    m_deferredRetryTask = TaskHandle<void>();
    if (m_readErrorMessage && m_writeErrorMessage && m_readErrorMessage() == m_syncErrorMessage)
        m_writeErrorMessage(std::nullopt);
    m_syncErrorMessage.reset();
}

void MeetingHistoryMirror::handleSyncError(const std::exception_ptr &error, MeetingSessionHistoryStatus retryStatus)
{
    if (isCancellation(error) || isMissingAuthSession(error))
        return;
    const QString description = errorMessage(error);
    QString message;
    if (MeetingSessionHistoryService::isTransientNetworkError(error)) {
        message = transientFailureMessage;
        scheduleDeferredRetry(retryStatus);
    } else {
        message = failurePrefix + description;
    }
    qCWarning(KavrelDiagnostics::history()).noquote() << QStringLiteral("Meeting history sync failed: %1").arg(description);
    m_syncErrorMessage = message;
    if (m_writeErrorMessage)
        m_writeErrorMessage(message);
}

void MeetingHistoryMirror::scheduleDeferredRetry(MeetingSessionHistoryStatus status)
{
    m_deferredRetryTask.cancel();
    QPointer<MeetingHistoryMirror> self(this);
    const QUuid generation = m_conversationGeneration;
    const std::chrono::milliseconds delay = m_timings.deferredRetryDelay;
    m_deferredRetryTask = spawnTask([self, generation, status, delay](CancellationToken token) -> QCoro::Task<void> {
        try {
            co_await sleepFor(delay, token);
        } catch (...) {
            co_return;
        }
        if (token.isCancelled() || !self || self->m_conversationGeneration != generation)
            co_return;
        self->scheduleSnapshotSync(status);
    });
}
