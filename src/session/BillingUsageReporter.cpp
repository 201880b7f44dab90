#include "session/BillingUsageReporter.h"

#include "base/Dates.h"
#include "services/KavrelBillingService.h"
#include "services/KavrelBillingServiceError.h"

BillingUsageReporter::BillingUsageReporter(KavrelBillingService *billingService, Clock clock)
    : m_billingService(billingService)
    , m_clock(std::move(clock))
{
}

BillingUsageReporter::~BillingUsageReporter()
{
    m_lifetime.cancel();
}

QDateTime BillingUsageReporter::now() const
{
    return m_clock ? m_clock() : QDateTime::currentDateTimeUtc();
}

QString BillingUsageReporter::clientSessionID(const QUuid &conversationGeneration)
{
    return QLatin1String(clientSessionPrefix) + conversationGeneration.toString(QUuid::WithoutBraces).toLower();
}

void BillingUsageReporter::markBillingUsageStartedIfNeeded()
{
    markStartedIfNeeded(m_context.isCapturing && m_context.isCapturing());
}

void BillingUsageReporter::scheduleBillingUsageEventSyncIfNeeded()
{
    const QUuid generation = m_context.conversationGeneration ? m_context.conversationGeneration() : QUuid();
    const std::optional<QString> meetingSessionID = m_context.meetingSessionID ? m_context.meetingSessionID() : std::nullopt;
    const std::optional<QString> accountID = m_context.accountID ? m_context.accountID() : std::nullopt;
    scheduleSyncIfNeeded(generation, meetingSessionID, accountID);
}

QCoro::Task<void> BillingUsageReporter::waitForPendingReports()
{
    // Reports go out one behind the other: the last one ends after all the others.
    const TaskHandle<void> last = m_syncTask;
    if (last.isValid())
        co_await last.completion();
}

void BillingUsageReporter::markStartedIfNeeded(bool isCapturing)
{
    if (!isCapturing || m_intervalStartedAt)
        return;
    const qint64 wholeSeconds = now().toMSecsSinceEpoch() / 1000;
    m_intervalStartedAt = QDateTime::fromSecsSinceEpoch(wholeSeconds, Qt::UTC);
}

std::optional<KavrelBillingUsageEvent> BillingUsageReporter::makeEventIfNeeded(const QUuid &conversationGeneration,
                                                                               const std::optional<QString> &meetingSessionID)
{
    if (!m_intervalStartedAt)
        return std::nullopt;
    const QDateTime start = *m_intervalStartedAt;
    const qint64 elapsed = (now().toMSecsSinceEpoch() - start.toMSecsSinceEpoch()) / 1000;
    m_intervalStartedAt.reset();
    if (elapsed < 1)
        return std::nullopt;

    KavrelBillingUsageEvent event;
    event.eventId = clientSessionID(conversationGeneration) + QLatin1Char('-') + QString::number(m_eventSequence);
    event.meetingSessionId = meetingSessionID;
    event.clientSessionId = clientSessionID(conversationGeneration);
    event.sourceApp = QLatin1String(sourceApp);
    event.usageType = QLatin1String(usageType);
    event.startedAt = Dates::formatIso8601(start);
    event.endedAt = Dates::formatIso8601(start.addSecs(elapsed));
    event.durationSeconds = elapsed;
    ++m_eventSequence;
    return event;
}

void BillingUsageReporter::scheduleSyncIfNeeded(const QUuid &conversationGeneration,
                                                const std::optional<QString> &meetingSessionID,
                                                const std::optional<QString> &accountID)
{
    std::optional<KavrelBillingUsageEvent> event = makeEventIfNeeded(conversationGeneration, meetingSessionID);
    if (event)
        queueReport(*event, accountID);
}

void BillingUsageReporter::reportKeptEvents(const QList<KavrelBillingUsageEvent> &events,
                                            const std::optional<QString> &accountID)
{
    for (const KavrelBillingUsageEvent &event : events)
        queueReport(event, accountID);
}

void BillingUsageReporter::noteSignedIn(const QString &accountID)
{
    QList<Report> waiting;
    m_pending->held.removeIf([&](const Report &report) {
        if (report.accountID != accountID)
            return false;
        waiting.append(report);
        return true;
    });
    for (Report &report : waiting)
        sendBehindPrevious(std::move(report));
}

void BillingUsageReporter::queueReport(const KavrelBillingUsageEvent &event, const std::optional<QString> &accountID)
{
    m_pending->events.append(event);
    sendBehindPrevious(Report{event, accountID});
}

void BillingUsageReporter::sendBehindPrevious(Report report)
{
    TaskHandle<void> previous = m_syncTask;
    QPointer<KavrelBillingService> service = m_billingService;
    const std::weak_ptr<Pending> pending = m_pending;
    m_syncTask = spawnTask([previous, service, report, pending](CancellationToken token) -> QCoro::Task<void> {
        if (previous.isValid())
            co_await previous.completion();
        if (!service || token.isCancelled())
            co_return;
        QList<KavrelBillingUsageEvent> events;
        events.append(report.event);
        bool waitsForItsAccount = false;
        try {
            co_await service->reportUsageEvents(events, token, report.accountID);
        } catch (const KavrelBillingServiceError &error) {
            // Nothing was sent: its account is not the one signed in (or nobody is).
            waitsForItsAccount =
                report.accountID && error.errorCase() == KavrelBillingServiceError::Case::authenticationRequired;
        } catch (...) {
            // Billing is best effort: an unreported stretch is not sent again.
        }
        // Cut off by the program's end: the report may not have reached the server.
        if (token.isCancelled())
            co_return;
        const std::shared_ptr<Pending> state = pending.lock();
        if (!state)
            co_return;
        if (waitsForItsAccount) {
            state->held.append(report);
            co_return;
        }
        const QString eventId = report.event.eventId;
        state->events.removeIf([&eventId](const KavrelBillingUsageEvent &kept) { return kept.eventId == eventId; });
        if (state->onFinished)
            state->onFinished(eventId);
    }, m_lifetime);
}

void BillingUsageReporter::resetForNewConversation()
{
    m_intervalStartedAt.reset();
    m_eventSequence = 1;
}
