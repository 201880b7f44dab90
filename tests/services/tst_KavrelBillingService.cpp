#include "accounts/AuthService.h"
#include "platform/NetworkError.h"
#include "services/KavrelBillingService.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/RawReplyServer.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"
#include "support/JsonLiteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QTimeZone>

#include <memory>

using BillingError = KavrelBillingServiceError;

namespace {

QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

KavrelBillingUsageEvent usageEvent(const QString &id, std::optional<QString> meetingSessionId, qint64 duration)
{
    KavrelBillingUsageEvent e;
    e.eventId = id;
    e.meetingSessionId = std::move(meetingSessionId);
    e.clientSessionId = QStringLiteral("kavrel-macos-history-1");
    e.sourceApp = QStringLiteral("macos");
    e.usageType = QStringLiteral("transcription");
    e.startedAt = QStringLiteral("2025-03-01T10:00:00Z");
    e.endedAt = QStringLiteral("2025-03-01T10:01:00Z");
    e.durationSeconds = duration;
    return e;
}

AppConfigurationStore baseUrlConfiguration(const QString &baseUrl)
{
    return AppConfigurationStore(
        nullptr,
        [baseUrl](const QString &name) -> std::optional<QString> {
            if (name == QLatin1String("KAVREL_AUTH_BASE_URL"))
                return baseUrl;
            return std::nullopt;
        },
        [](const QString &) -> std::optional<QString> { return std::nullopt; });
}

} // namespace

class tst_KavrelBillingService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void summaryWithTheSessionsToken();
    void summaryWithTheCallersToken();
    void signedOutSendsNothing();
    void usageEventsAreSentAndCounted();
    void failureMessages_data();
    void failureMessages();
    void unreadableReplies_data();
    void unreadableReplies();
    void basePathAndInvalidBase();
    void networkFailuresPassThrough();
    void repliesThatAreNotHttpAreInvalid_data();
    void repliesThatAreNotHttpAreInvalid();
    void oversizedRepliesFailCleanly();
    void serviceDroppedWhileTheTokenIsRefreshed();

private:
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeBillingBackend> m_billing;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<KavrelBillingService> m_service;
};

void tst_KavrelBillingService::init()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_billing = std::make_unique<FakeBillingBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_service = std::make_unique<KavrelBillingService>(m_auth.get());
}

void tst_KavrelBillingService::cleanup()
{
    m_service.reset();
    m_auth.reset();
    m_billing.reset();
    m_backend.reset();
}

void tst_KavrelBillingService::summaryWithTheSessionsToken()
{
    m_billing->setIncludedSeconds(600);
    const auto outcome = runTask(m_service->fetchSummary());
    QVERIFY(outcome.succeeded());

    const auto requests = m_backend->requests(QStringLiteral("/api/billing/summary"));
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().method, QByteArray("GET"));
    QCOMPARE(requests.first().header("Accept"), QByteArray("application/json"));
    QCOMPARE(requests.first().header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(requests.first().header("Authorization"), QByteArray("Bearer test-access-token"));
    QVERIFY(requests.first().body.isEmpty());

    const KavrelBillingSummary &summary = *outcome.value;
    QCOMPARE(summary.serverTime, QDateTime(QDate(2025, 3, 1), QTime(10, 0), QTimeZone::utc()));
    QCOMPARE(summary.subscription.planName, QStringLiteral("Pro"));
    QCOMPARE(summary.subscription.status, QStringLiteral("active"));
    QCOMPARE(summary.subscription.lastSuccessfulPaymentAt, std::nullopt);
    QCOMPARE(summary.subscription.currentPeriodEnd, QDateTime(QDate(2025, 4, 1), QTime(0, 0), QTimeZone::utc()));
    QCOMPARE(summary.subscription.cancelAtPeriodEnd, false);
    QCOMPARE(summary.usage.includedMinutes, 10);
    QCOMPARE(summary.usage.remainingSeconds, 600);
    QCOMPARE(summary.usage.canUseTranscription, true);
}

void tst_KavrelBillingService::summaryWithTheCallersToken()
{
    auto signedOut = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
    KavrelBillingService service(signedOut.get());
    m_billing->setAccessToken(QStringLiteral("published-token"));

    const auto outcome = runTask(service.fetchSummary(QStringLiteral("published-token")));
    QVERIFY(outcome.succeeded());
    QCOMPARE(m_backend->requests(QStringLiteral("/api/billing/summary")).first().header("Authorization"),
             QByteArray("Bearer published-token"));

    // The token is not checked here; the backend's refusal is the answer.
    const auto refused = runTask(service.fetchSummary(QString()));
    QCOMPARE(refused.errorAs<BillingError>(), BillingError::requestFailed(QStringLiteral("Unauthorized: A valid access token is required.")));
    QCOMPARE(m_backend->requestCount(QStringLiteral("/api/billing/summary")), 2);
}

void tst_KavrelBillingService::signedOutSendsNothing()
{
    auto signedOut = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
    KavrelBillingService service(signedOut.get());
    const auto summary = runTask(service.fetchSummary());
    QCOMPARE(summary.errorAs<BillingError>(), BillingError::authenticationRequired());
    QCOMPARE(summary.errorAs<BillingError>()->message(), QStringLiteral("Sign in to load billing data."));
    const auto events = runTask(service.reportUsageEvents({usageEvent(QStringLiteral("e-1"), std::nullopt, 60)}));
    QCOMPARE(events.errorAs<BillingError>(), BillingError::authenticationRequired());
    QCOMPARE(m_backend->requests().size(), 0);
}

void tst_KavrelBillingService::usageEventsAreSentAndCounted()
{
    const QList<KavrelBillingUsageEvent> first{
        usageEvent(QStringLiteral("e-1"), std::nullopt, 60),
        usageEvent(QStringLiteral("e-2"), QString(), 30),
        usageEvent(QStringLiteral("e-3"), QStringLiteral("meeting-7"), -5),
    };
    const auto reported = runTask(m_service->reportUsageEvents(first));
    QVERIFY(reported.succeeded());

    const RecordedRequest request = m_backend->requests(QStringLiteral("/api/billing/usage-events")).first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer test-access-token"));
    const QJsonObject expected = jsonObject(j(
        "{'events':["
        "{'eventId':'e-1','clientSessionId':'kavrel-macos-history-1','sourceApp':'macos','usageType':'transcription',"
        "'startedAt':'2025-03-01T10:00:00Z','endedAt':'2025-03-01T10:01:00Z','durationSeconds':60},"
        "{'eventId':'e-2','meetingSessionId':'','clientSessionId':'kavrel-macos-history-1','sourceApp':'macos',"
        "'usageType':'transcription','startedAt':'2025-03-01T10:00:00Z','endedAt':'2025-03-01T10:01:00Z','durationSeconds':30},"
        "{'eventId':'e-3','meetingSessionId':'meeting-7','clientSessionId':'kavrel-macos-history-1','sourceApp':'macos',"
        "'usageType':'transcription','startedAt':'2025-03-01T10:00:00Z','endedAt':'2025-03-01T10:01:00Z','durationSeconds':-5}]}"));
    QCOMPARE(request.json(), expected);

    QCOMPARE(reported.value->acceptedEvents, 2);
    QCOMPARE(reported.value->duplicateEvents, 0);
    QCOMPARE(reported.value->rejectedEvents.size(), 1);
    QCOMPARE(reported.value->rejectedEvents.first().eventId, QStringLiteral("e-3"));
    QCOMPARE(reported.value->rejectedEvents.first().reason, QStringLiteral("invalid_duration"));
    QCOMPARE(reported.value->rejectedEvents.first().detail, std::nullopt);
    QCOMPARE(reported.value->usage.usedSeconds, 90);

    const auto again = runTask(m_service->reportUsageEvents({first.first()}));
    QCOMPARE(again.value->duplicateEvents, 1);
    QCOMPARE(again.value->acceptedEvents, 0);

    const auto empty = runTask(m_service->reportUsageEvents({}));
    QVERIFY(empty.succeeded());
    QCOMPARE(m_backend->requests(QStringLiteral("/api/billing/usage-events")).last().body, QByteArray("{\"events\":[]}"));
}

void tst_KavrelBillingService::failureMessages_data()
{
    QTest::addColumn<FakeResponse>("reply");
    QTest::addColumn<QString>("message");

    QTest::newRow("title and detail") << FakeBillingBackend::problem(400, QStringLiteral("Bad Request"), QStringLiteral("Plan not found"))
                                      << "Bad Request: Plan not found";
    QTest::newRow("blank title") << FakeBillingBackend::problem(400, QStringLiteral("   "), QStringLiteral(" Plan not found\n"))
                                 << "Plan not found";
    QTest::newRow("title only") << FakeBillingBackend::problem(400, QStringLiteral("Bad Request"), std::nullopt) << "Bad Request";
    QTest::newRow("blank detail") << FakeBillingBackend::problem(402, QStringLiteral("Payment Required"), QStringLiteral("\t"))
                                  << "Payment Required";
    QTest::newRow("status only") << FakeResponse::json(400, j(" {'status':400} \n")) << "{\"status\":400}";
    QTest::newRow("title of the wrong type") << FakeResponse::json(422, j("{'title':5,'detail':'x'}")) << "{\"title\":5,\"detail\":\"x\"}";
    QTest::newRow("plain text") << FakeResponse::text(500, "  Internal Server Error\n") << "Internal Server Error";
    QTest::newRow("gateway page") << FakeResponse::text(502, "<html><body><h1>502 Bad Gateway</h1></body></html>", "text/html")
                                  << "Billing request failed with status 502.";
    QTest::newRow("empty body") << FakeResponse::empty(503) << "Billing request failed with status 503.";
    QTest::newRow("blank body") << FakeResponse::text(502, " \n ") << "Billing request failed with status 502.";
    QTest::newRow("not UTF-8") << FakeResponse::text(500, "\xff\xfe") << "Billing request failed with status 500.";
    QTest::newRow("401 like any status") << FakeBillingBackend::problem(401, QStringLiteral("Unauthorized"), std::nullopt) << "Unauthorized";
}

void tst_KavrelBillingService::failureMessages()
{
    QFETCH(FakeResponse, reply);
    QFETCH(QString, message);
    m_billing->failNext(QString::fromLatin1(FakeBillingBackend::summaryPath), reply);
    const auto outcome = runTask(m_service->fetchSummary());
    QCOMPARE(outcome.errorAs<BillingError>(), BillingError::requestFailed(message));
    QCOMPARE(m_backend->requestCount(QStringLiteral("/api/billing/summary")), 1);
}

void tst_KavrelBillingService::unreadableReplies_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("change"); // "-" for an empty body, else a key to drop or "key=<json value>"
    QTest::addColumn<bool>("readable");

    QTest::newRow("empty 2xx body") << "summary" << "-" << false;
    QTest::newRow("summary without usage") << "summary" << "usage" << false;
    QTest::newRow("bare date") << "summary" << "serverTime=\"2025-03-01\"" << false;
    QTest::newRow("date with a fraction") << "summary" << "serverTime=\"2025-03-01T10:00:00.250Z\"" << true;
    QTest::newRow("date with an offset") << "summary" << "serverTime=\"2025-03-01T10:00:00+03:00\"" << true;
    QTest::newRow("date as a number") << "summary" << "serverTime=1740823200" << false;
    QTest::newRow("usage without its counters") << "summary" << "usage={\"meteringUnit\":\"s\"}" << false;
    QTest::newRow("events without rejected list") << "events" << "rejectedEvents" << false;
    QTest::newRow("events with an empty rejected list") << "events" << "rejectedEvents=[]" << true;
}

void tst_KavrelBillingService::unreadableReplies()
{
    QFETCH(QString, path);
    QFETCH(QString, change);
    QFETCH(bool, readable);

    QJsonObject body = m_billing->summaryJson();
    if (path == QLatin1String("events")) {
        body.insert(QStringLiteral("acceptedEvents"), 1);
        body.insert(QStringLiteral("duplicateEvents"), 0);
        body.insert(QStringLiteral("rejectedEvents"), QJsonArray());
    }
    FakeResponse reply = FakeResponse::empty(200);
    if (change != QLatin1String("-")) {
        const int equals = change.indexOf(QLatin1Char('='));
        if (equals < 0) {
            body.remove(change);
        } else {
            const QByteArray wrapped = "{\"v\":" + change.mid(equals + 1).toUtf8() + "}";
            body.insert(change.left(equals), QJsonDocument::fromJson(wrapped).object().value(QStringLiteral("v")));
        }
        reply = FakeResponse::json(200, body);
    }

    if (path == QLatin1String("summary")) {
        m_billing->failNext(QString::fromLatin1(FakeBillingBackend::summaryPath), reply);
        const auto outcome = runTask(m_service->fetchSummary());
        QCOMPARE(outcome.succeeded(), readable);
        if (!readable)
            QCOMPARE(outcome.errorAs<BillingError>(), BillingError::invalidResponse());
    } else {
        m_billing->failNext(QString::fromLatin1(FakeBillingBackend::usageEventsPath), reply);
        const auto outcome = runTask(m_service->reportUsageEvents({usageEvent(QStringLiteral("e"), std::nullopt, 1)}));
        QCOMPARE(outcome.succeeded(), readable);
        if (!readable)
            QCOMPARE(outcome.errorAs<BillingError>()->message(),
                     QStringLiteral("The billing backend returned a response КАВРЕЛ could not understand."));
    }
}

void tst_KavrelBillingService::basePathAndInvalidBase()
{
    FakeBillingBackend prefixed(m_backend.get(), QStringLiteral("/base"));
    for (const QString &suffix : {QStringLiteral("/base/"), QStringLiteral("/base")}) {
        KavrelBillingService service(m_auth.get(), baseUrlConfiguration(m_backend->baseUrl().toString() + suffix));
        QVERIFY(runTask(service.fetchSummary()).succeeded());
        QVERIFY(runTask(service.reportUsageEvents({})).succeeded());
    }
    QCOMPARE(m_backend->requestCount(QStringLiteral("/base/api/billing/summary")), 2);
    QCOMPARE(m_backend->requestCount(QStringLiteral("/base/api/billing/usage-events")), 2);

    KavrelBillingService invalid(m_auth.get(), baseUrlConfiguration(QStringLiteral("not a url")));
    const auto outcome = runTask(invalid.fetchSummary(QStringLiteral("token")));
    QCOMPARE(outcome.errorAs<BillingError>(), BillingError::invalidBackendBaseURL(QStringLiteral("not a url")));
    QCOMPARE(outcome.errorAs<BillingError>()->message(), QStringLiteral("The saved КАВРЕЛ backend URL is invalid: not a url"));
}

void tst_KavrelBillingService::networkFailuresPassThrough()
{
    m_service->setRequestTimeout(std::chrono::milliseconds(200));
    m_billing->failNext(QString::fromLatin1(FakeBillingBackend::summaryPath), FakeResponse::hang());
    const auto timedOut = runTask(m_service->fetchSummary());
    QVERIFY(timedOut.errorAs<NetworkError>().has_value());
    QCOMPARE(timedOut.errorAs<NetworkError>()->kind(), NetworkError::Kind::timedOut);
}

void tst_KavrelBillingService::repliesThatAreNotHttpAreInvalid_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("status 000") << QByteArray("HTTP/1.1 000 Zero\r\nContent-Length: 2\r\n\r\nhi");
    QTest::newRow("status 999") << QByteArray("HTTP/1.1 999 Odd\r\nContent-Length: 2\r\n\r\nhi");
}

void tst_KavrelBillingService::oversizedRepliesFailCleanly()
{
    m_billing->failNext(QString::fromLatin1(FakeBillingBackend::summaryPath),
                        FakeResponse::text(200, QByteArray(5 * 1024 * 1024, ' ')));
    const auto outcome = runTask(m_service->fetchSummary());
    QCOMPARE(outcome.errorAs<NetworkError>()->kind(), NetworkError::Kind::responseTooLarge);
}

void tst_KavrelBillingService::repliesThatAreNotHttpAreInvalid()
{
    QFETCH(QByteArray, reply);
    RawReplyServer server(reply);
    QVERIFY(server.start());
    KavrelBillingService service(m_auth.get(), baseUrlConfiguration(server.baseUrl().toString()));
    const auto outcome = runTask(service.fetchSummary(QStringLiteral("token")));
    QCOMPARE(outcome.errorAs<BillingError>(), BillingError::invalidResponse());
}

void tst_KavrelBillingService::serviceDroppedWhileTheTokenIsRefreshed()
{
    // The profile screen may close while the token provider refreshes; the suspended calls
    // must end without touching the dead service.
    AuthSession session = TestAuth::defaultSession();
    session.expiresAt = QDateTime::currentDateTimeUtc().addSecs(30);
    auto auth = TestAuth::signedInService(m_backend->baseUrl(), session);
    FakeAuthBackend authBackend(m_backend.get());
    authBackend.registerSession(session);
    authBackend.setReplyDelay(100);
    auto service = std::make_unique<KavrelBillingService>(auth.get());
    auto summary = service->fetchSummary();
    auto usage = service->reportUsageEvents({usageEvent(QStringLiteral("e1"), std::nullopt, 60)});
    service.reset();
    QVERIFY(runTask(std::move(summary)).isCancellation());
    QVERIFY(runTask(std::move(usage)).isCancellation());
    QCOMPARE(m_backend->requests(QStringLiteral("/api/billing/summary")).size(), 0);
    QCOMPARE(m_backend->requests(QStringLiteral("/api/billing/usage-events")).size(), 0);
}

QTEST_GUILESS_MAIN(tst_KavrelBillingService)
#include "tst_KavrelBillingService.moc"
