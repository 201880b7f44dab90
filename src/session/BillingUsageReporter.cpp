#include "session/BillingUsageReporter.h"

#include "base/Dates.h"
#include "services/KavrelBillingService.h"

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
    scheduleSyncIfNeeded(generation, meetingSessionID);
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
                                                const std::optional<QString> &meetingSessionID)
{
    std::optional<KavrelBillingUsageEvent> event = makeEventIfNeeded(conversationGeneration, meetingSessionID);
    if (event)
        queueReport(*event);
}

void BillingUsageReporter::reportKeptEvents(const QList<KavrelBillingUsageEvent> &events)
{
    for (const KavrelBillingUsageEvent &event : events)
        queueReport(event);
}

void BillingUsageReporter::queueReport(const KavrelBillingUsageEvent &event)
{
    m_pending->events.append(event);
    TaskHandle<void> previous = m_syncTask;
    QPointer<KavrelBillingService> service = m_billingService;
    const std::weak_ptr<Pending> pending = m_pending;
    KavrelBillingUsageEvent report = event;
    m_syncTask = spawnTask([previous, service, report, pending](CancellationToken token) -> QCoro::Task<void> {
        if (previous.isValid())
            co_await previous.completion();
        if (!service || token.isCancelled())
            co_return;
        QList<KavrelBillingUsageEvent> events;
        events.append(report);
        try {
            co_await service->reportUsageEvents(events, token);
        } catch (...) {
            // Billing is best effort: an unreported stretch is not sent again.
        }
        // Cut off by the program's end: the report may not have reached the server.
        if (token.isCancelled())
            co_return;
        if (const std::shared_ptr<Pending> state = pending.lock()) {
            state->events.removeIf([&report](const KavrelBillingUsageEvent &kept) { return kept.eventId == report.eventId; });
            if (state->onFinished)
                state->onFinished(report.eventId);
        }
    }, m_lifetime);
}

void BillingUsageReporter::resetForNewConversation()
{
    m_intervalStartedAt.reset();
    m_eventSequence = 1;
}
