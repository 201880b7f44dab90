#include "accounts/AuthService.h"
#include "services/KavrelBillingService.h"
#include "session/BillingUsageReporter.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/TestAuth.h"

#include "platform/InMemorySecretStore.h"

#include <QJsonArray>
#include <QTest>
#include <QTimeZone>

#include <memory>

namespace {

const QUuid generation(QStringLiteral("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
const QString clientSession = QStringLiteral("kavrel-macos-session-6f9619ff-8b86-d011-b42d-00c04fc964ff");

QDateTime at(int hour, int minute, int second, int ms)
{
    return QDateTime(QDate(2026, 5, 4), QTime(hour, minute, second, ms), QTimeZone::utc());
}

} // namespace

class tst_BillingUsageReporter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void stretches_data();
    void stretches();
    void eventFieldsAndNumbering();
    void anOpenStretchKeepsItsStart();
    void resetDropsTheStretchAndRestartsNumbering();
    void reportsGoOutOneAfterAnotherAndFailuresAreDropped();
    void aReportGoesOnlyWithItsAccountsSession_data();
    void aReportGoesOnlyWithItsAccountsSession();

private:
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeBillingBackend> m_billing;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<KavrelBillingService> m_service;
    QDateTime m_now;
    std::unique_ptr<BillingUsageReporter> m_reporter;
};

void tst_BillingUsageReporter::init()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_billing = std::make_unique<FakeBillingBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_service = std::make_unique<KavrelBillingService>(m_auth.get());
    m_reporter = std::make_unique<BillingUsageReporter>(m_service.get(), [this] { return m_now; });
}

void tst_BillingUsageReporter::cleanup()
{
    m_reporter.reset();
    m_service.reset();
    m_auth.reset();
    m_billing.reset();
    m_backend.reset();
}

void tst_BillingUsageReporter::stretches_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QDateTime>("stop");
    QTest::addColumn<qint64>("duration"); // 0: no event
    QTest::addColumn<QString>("startedAt");
    QTest::addColumn<QString>("endedAt");
    QTest::newRow("under a second") << at(10, 0, 0, 200) << at(10, 0, 0, 900) << qint64(0) << "" << "";
    QTest::newRow("start rounded down") << at(10, 0, 0, 700) << at(10, 0, 1, 600) << qint64(1) << "2026-05-04T10:00:00Z"
                                        << "2026-05-04T10:00:01Z";
    QTest::newRow("over a minute") << at(10, 0, 0, 700) << at(10, 1, 5, 200) << qint64(65) << "2026-05-04T10:00:00Z"
                                   << "2026-05-04T10:01:05Z";
    QTest::newRow("clock went back") << at(10, 0, 5, 0) << at(10, 0, 1, 0) << qint64(0) << "" << "";
}

void tst_BillingUsageReporter::stretches()
{
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, stop);
    QFETCH(qint64, duration);
    QFETCH(QString, startedAt);
    QFETCH(QString, endedAt);

    m_now = start;
    m_reporter->markStartedIfNeeded(true);
    m_now = stop;
    const std::optional<KavrelBillingUsageEvent> event = m_reporter->makeEventIfNeeded(generation, std::nullopt);
    QVERIFY(!m_reporter->intervalStartedAt());
    QCOMPARE(event.has_value(), duration > 0);
    QCOMPARE(m_reporter->eventSequence(), duration > 0 ? 2 : 1);
    if (event) {
        QCOMPARE(event->durationSeconds, duration);
        QCOMPARE(event->startedAt, startedAt);
        QCOMPARE(event->endedAt, endedAt);
    }
}

void tst_BillingUsageReporter::eventFieldsAndNumbering()
{
    m_reporter->markStartedIfNeeded(false);
    QVERIFY(!m_reporter->intervalStartedAt());
    QVERIFY(!m_reporter->makeEventIfNeeded(generation, std::nullopt));

    for (int i = 1; i <= 2; ++i) {
        m_now = at(10, i, 0, 0);
        m_reporter->markStartedIfNeeded(true);
        m_now = at(10, i, 30, 0);
        const std::optional<QString> meeting = i == 1 ? std::nullopt : std::optional<QString>(QStringLiteral("meeting-7"));
        const std::optional<KavrelBillingUsageEvent> event = m_reporter->makeEventIfNeeded(generation, meeting);
        QVERIFY(event);
        QCOMPARE(event->eventId, clientSession + QStringLiteral("-%1").arg(i));
        QCOMPARE(event->clientSessionId, clientSession);
        QCOMPARE(event->meetingSessionId, meeting);
        QCOMPARE(event->sourceApp, QStringLiteral("macos"));
        QCOMPARE(event->usageType, QStringLiteral("live_listening"));
        QCOMPARE(event->durationSeconds, 30);
    }
}

void tst_BillingUsageReporter::anOpenStretchKeepsItsStart()
{
    m_now = at(10, 0, 0, 0);
    m_reporter->markStartedIfNeeded(true);
    m_now = at(10, 0, 20, 0);
    m_reporter->markStartedIfNeeded(true); // the microphone joins later
    QCOMPARE(*m_reporter->intervalStartedAt(), at(10, 0, 0, 0));
}

void tst_BillingUsageReporter::resetDropsTheStretchAndRestartsNumbering()
{
    m_now = at(10, 0, 0, 0);
    m_reporter->markStartedIfNeeded(true);
    m_now = at(10, 0, 9, 0);
    QVERIFY(m_reporter->makeEventIfNeeded(generation, std::nullopt));
    m_reporter->markStartedIfNeeded(true);
    m_reporter->resetForNewConversation();
    QVERIFY(!m_reporter->intervalStartedAt());
    QCOMPARE(m_reporter->eventSequence(), 1);
}

void tst_BillingUsageReporter::reportsGoOutOneAfterAnotherAndFailuresAreDropped()
{
    const QString path = QString::fromLatin1(FakeBillingBackend::usageEventsPath);
    // The first report never gets an answer and fails on its time-out; the second may only
    // leave after that.
    m_billing->failNext(path, FakeResponse::hang());
    m_service->setRequestTimeout(std::chrono::milliseconds(400));

    m_now = at(10, 0, 0, 0);
    m_reporter->markStartedIfNeeded(true);
    m_now = at(10, 0, 10, 0);
    m_reporter->scheduleSyncIfNeeded(generation, std::nullopt);
    m_reporter->markStartedIfNeeded(true);
    m_now = at(10, 0, 25, 0);
    m_reporter->scheduleSyncIfNeeded(generation, QStringLiteral("meeting-1"));
    // Nothing open: no third report.
    m_reporter->scheduleSyncIfNeeded(generation, QStringLiteral("meeting-1"));

    QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(path) == 1; }));
    QTest::qWait(100);
    QCOMPARE(m_backend->requestCount(path), 1);
    QVERIFY(FakeBackend::waitUntil([&] { return m_reporter->syncTask().isFinished(); }));
    const QList<RecordedRequest> requests = m_backend->requests(path);
    QCOMPARE(requests.size(), 2);
    const QJsonObject first = requests[0].json()["events"].toArray().first().toObject();
    const QJsonObject second = requests[1].json()["events"].toArray().first().toObject();
    QCOMPARE(first["eventId"].toString(), clientSession + "-1");
    QVERIFY(!first.contains("meetingSessionId"));
    QCOMPARE(first["durationSeconds"].toInt(), 10);
    QCOMPARE(second["eventId"].toString(), clientSession + "-2");
    QCOMPARE(second["meetingSessionId"].toString(), QStringLiteral("meeting-1"));
    QCOMPARE(second["startedAt"].toString(), QStringLiteral("2026-05-04T10:00:10Z"));
    QCOMPARE(second["durationSeconds"].toInt(), 15);
    // Only the second reached the store; the failed one is not sent again.
    QCOMPARE(m_billing->events().keys(), QStringList{clientSession + "-2"});
}

void tst_BillingUsageReporter::aReportGoesOnlyWithItsAccountsSession_data()
{
    QTest::addColumn<bool>("anotherAccount");
    QTest::newRow("another account signed in") << true;
    QTest::newRow("nobody signed in") << false;
}

// The listening of one account is never reported with another's session, and not lost for want
// of its own: the report waits until its account signs in again.
void tst_BillingUsageReporter::aReportGoesOnlyWithItsAccountsSession()
{
    QFETCH(bool, anotherAccount);
    const QString path = QString::fromLatin1(FakeBillingBackend::usageEventsPath);
    const QString sessionItem = QString::fromLatin1(AuthService::sessionAccount);
    InMemorySecretStore *secrets = TestAuth::secretStoreOf(m_auth.get());
    if (anotherAccount)
        secrets->setValue(sessionItem, TestAuth::secondSession().toJsonBytes());
    else
        secrets->removeValue(sessionItem);
    m_now = at(10, 0, 0, 0);
    m_reporter->markStartedIfNeeded(true);
    m_now = at(10, 0, 30, 0);
    m_reporter->scheduleSyncIfNeeded(generation, std::nullopt, QStringLiteral("user-1"));
    QVERIFY(FakeBackend::waitUntil([&] { return m_reporter->syncTask().isFinished(); }));
    QCOMPARE(m_backend->requestCount(path), 0);
    QCOMPARE(m_reporter->pendingEvents().size(), 1);
    // Another account's sign-in does not send it either.
    m_reporter->noteSignedIn(TestAuth::secondSession().user.id);
    QVERIFY(FakeBackend::waitUntil([&] { return m_reporter->syncTask().isFinished(); }));
    QCOMPARE(m_backend->requestCount(path), 0);

    secrets->setValue(sessionItem, TestAuth::defaultSession().toJsonBytes());
    m_reporter->noteSignedIn(TestAuth::defaultSession().user.id);
    QVERIFY(FakeBackend::waitUntil([&] { return m_reporter->syncTask().isFinished() && m_billing->events().size() == 1; }));
    const QList<RecordedRequest> requests = m_backend->requests(path);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().header("Authorization"), "Bearer " + TestAuth::defaultSession().accessToken.toUtf8());
    QVERIFY(m_reporter->pendingEvents().isEmpty());
    QCOMPARE(m_reporter->heldReportCount(), 0);
}

QTEST_GUILESS_MAIN(tst_BillingUsageReporter)
#include "tst_BillingUsageReporter.moc"
