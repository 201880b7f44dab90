#pragma once

#include "base/Async.h"
#include "services/BillingMessages.h"
#include "session/SessionCompanions.h"

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

class KavrelBillingService;

// Meters listening time for the plan: one stretch runs from the first moment something is
// captured until the session stops, and becomes one "live_listening" usage event. Reports go
// out one after another in stop order; their replies and failures are ignored, and nothing
// in the client depends on them.
//
// A report belongs to the account of its meeting and goes out only with that account's
// session: while another account, or none, is signed in, it is held (and stays pending) until
// that account signs in again (noteSignedIn).
//
// Main thread only.
class BillingUsageReporter final : public BillingUsageReporting
{
public:
    using Clock = std::function<QDateTime()>;

    static constexpr const char *clientSessionPrefix = "kavrel-macos-session-";
    static constexpr const char *sourceApp = "macos";
    static constexpr const char *usageType = "live_listening";

    // The service is not owned. Without a clock the system clock is used.
    explicit BillingUsageReporter(KavrelBillingService *billingService, Clock clock = Clock());
    // A report still on the network is aborted.
    ~BillingUsageReporter() override;

    // What the engine knows at the moment of a call: whether audio is being captured, and the
    // conversation (generation, server record and account) the stretch belongs to.
    struct Context
    {
        std::function<bool()> isCapturing;
        std::function<QUuid()> conversationGeneration;
        std::function<std::optional<QString>()> meetingSessionID;
        std::function<std::optional<QString>()> accountID;
    };
    void setContext(Context context) { m_context = std::move(context); }

    // The engine's calls, with the context above.
    void markBillingUsageStartedIfNeeded() override;
    void scheduleBillingUsageEventSyncIfNeeded() override;
    QCoro::Task<void> waitForPendingReports() override;

    // Opens a stretch when something is being captured and none is open; an open stretch keeps
    // its start. The start is kept in whole seconds.
    void markStartedIfNeeded(bool isCapturing);

    // Closes the open stretch. Stretches under one second are dropped without an event.
    std::optional<KavrelBillingUsageEvent> makeEventIfNeeded(const QUuid &conversationGeneration,
                                                             const std::optional<QString> &meetingSessionID);

    // Closes the open stretch and reports it behind the report before it, for the account.
    void scheduleSyncIfNeeded(const QUuid &conversationGeneration, const std::optional<QString> &meetingSessionID,
                              const std::optional<QString> &accountID = std::nullopt);

    // A new conversation: the open stretch is dropped unreported and events count from 1 again.
    void resetForNewConversation();

    std::optional<QDateTime> intervalStartedAt() const { return m_intervalStartedAt; }
    int eventSequence() const { return m_eventSequence; }
    // A conversation carried on from the last run: its events go on counting from there, so no
    // event id of that run is sent again for a new stretch.
    void continueEventSequence(int next) { m_eventSequence = std::max(next, 1); }
    // The last report task (to await the reports at quit, and for tests).
    TaskHandle<void> syncTask() const { return m_syncTask; }
    // The events made whose report is not through yet, in order.
    QList<KavrelBillingUsageEvent> pendingEvents() const { return m_pending->events; }
    // Told the id of each event whose report is through, whatever the answer (an event whose
    // report was cut off by the program's end stays pending).
    void setReportFinishedHandler(std::function<void(const QString &eventId)> handler)
    {
        m_pending->onFinished = std::move(handler);
    }
    // Reports events an earlier run made and did not get through, behind the reports before,
    // for the account of their meeting.
    void reportKeptEvents(const QList<KavrelBillingUsageEvent> &events, const std::optional<QString> &accountID);
    // The account signed in: the reports held for it go out now.
    void noteSignedIn(const QString &accountID);
    // Reports held until their account signs in.
    int heldReportCount() const { return int(m_pending->held.size()); }

    static QString clientSessionID(const QUuid &conversationGeneration);

private:
    struct Report
    {
        KavrelBillingUsageEvent event;
        std::optional<QString> accountID;
    };
    struct Pending
    {
        QList<KavrelBillingUsageEvent> events;
        // Found another account, or none, signed in.
        QList<Report> held;
        std::function<void(const QString &eventId)> onFinished;
    };

    QDateTime now() const;
    // A new report, pending from now until it is through.
    void queueReport(const KavrelBillingUsageEvent &event, const std::optional<QString> &accountID);
    void sendBehindPrevious(Report report);

    QPointer<KavrelBillingService> m_billingService;
    Clock m_clock;
    Context m_context;
    std::optional<QDateTime> m_intervalStartedAt;
    int m_eventSequence = 1;
    TaskHandle<void> m_syncTask;
    // Shared with the report tasks, which may outlive this object.
    std::shared_ptr<Pending> m_pending = std::make_shared<Pending>();
    CancellationToken m_lifetime;
};
