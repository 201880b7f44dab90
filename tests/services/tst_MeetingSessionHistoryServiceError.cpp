// How the meeting history service's requests fail: each answer of the server, a raw one or none
// at all mapped to its error and text, and whether a later attempt may get through; a signed-out
// service that sends nothing, and a request that ends with the service that made it.

#include "MeetingSessionHistoryFixture.h"

#include "accounts/AuthServiceError.h"
#include "base/Json.h"
#include "platform/NetworkError.h"
#include "support/RawReplyServer.h"
#include "support/RefusedPort.h"
#include "support/TaskResult.h"

#include <QMetaEnum>
#include <QNetworkReply>
#include <QSet>
#include <QTest>

using namespace MeetingSessionHistoryTest;
using Script = FakeHistoryBackend::ScriptedReply;
using ServiceError = MeetingSessionHistoryServiceError;

class tst_MeetingSessionHistoryServiceError : public QObject, protected MeetingSessionHistoryFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { initFixture(); }
    void cleanup() { cleanupFixture(); }

    void transportMapsAnswers_data();
    void transportMapsAnswers();
    void signedOutSendsNothing();
    void transientNetworkErrors_data();
    void transientNetworkErrors();
    void realNetworkFailuresAreTransient();
    void droppedServiceEndsItsRequestWithCancellation();
};

void tst_MeetingSessionHistoryServiceError::transportMapsAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // "ok", "decode", or the service error's message ("gone:" when it says the meeting is not found)
    // Whether the same request may still go through: only the server's refusal says no.
    QTest::addColumn<bool>("retryable");

    const QByteArray okData = j("{'data':{'deleteMeetingSession':{'id':'m','status':'deleted','deletedAt':'2025-03-14T09:26:53Z','revision':2}}");
    QTest::newRow("data") << 200 << okData + "}" << "ok" << false;
    QTest::newRow("empty error list beside data") << 200 << okData + j(",'errors':[]}") << "ok" << false;
    QTest::newRow("status 299") << 299 << okData + "}" << "ok" << false;
    QTest::newRow("data and an error") << 200 << okData + j(",'errors':[{'message':'boom'}]}") << "boom" << false;
    QTest::newRow("error without message") << 200 << j("{'errors':[{'extensions':{'code':'X'}}]}") << "GraphQL request failed." << false;
    QTest::newRow("blank error message") << 200 << j("{'data':null,'errors':[{'message':'  \\n'}]}") << "GraphQL request failed." << false;
    QTest::newRow("content unavailable") << 200 << j("{'errors':[{'message':'gone','extensions':{'code':'MEETING_CONTENT_UNAVAILABLE'}}]}") << "content:gone" << false;
    QTest::newRow("code in lower case") << 200 << j("{'errors':[{'message':'gone','extensions':{'code':'meeting_content_unavailable'}}]}") << "gone" << false;
    QTest::newRow("empty object") << 200 << QByteArray("{}") << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("data null without errors") << 200 << j("{'data':null}") << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("data of the wrong shape") << 200 << j("{'data':{'deleteMeetingSession':null}}") << "decode" << true;
    QTest::newRow("not JSON") << 200 << QByteArray("OK") << "decode" << true;
    QTest::newRow("500 with GraphQL error") << 500 << j("{'errors':[{'message':'gone','extensions':{'code':'MEETING_CONTENT_UNAVAILABLE'}}]}") << "content:gone" << true;
    QTest::newRow("502 with text") << 502 << QByteArray("  Bad gateway\n") << "Bad gateway" << true;
    QTest::newRow("503 with GraphQL error") << 503 << j("{'errors':[{'message':'upstream unavailable'}]}") << "upstream unavailable" << true;
    // A gateway's page is no message: the status is.
    QTest::newRow("504 with a page") << 504 << QByteArray("<html>Gateway Time-out</html>") << "Сервер истории встреч ответил ошибкой (статус 504)." << true;
    QTest::newRow("429 with a page") << 429 << QByteArray("<html><body><h1>429 Too Many Requests</h1></body></html>\n")
                                     << "Сервер истории встреч ответил ошибкой (статус 429)." << true;
    // Only the server's own code says that the meeting is gone, not a page or a word in a text.
    QTest::newRow("not found") << 200 << j("{'data':null,'errors':[{'message':'Meeting session not found','extensions':{'code':'NOT_FOUND'}}]}")
                               << "gone:Meeting session not found" << false;
    QTest::newRow("404 with GraphQL not found") << 404 << j("{'errors':[{'message':'Meeting session not found','extensions':{'code':'NOT_FOUND'}}]}")
                                                << "gone:Meeting session not found" << false;
    QTest::newRow("not found in lower case") << 200 << j("{'errors':[{'message':'Meeting session not found','extensions':{'code':'not_found'}}]}")
                                             << "Meeting session not found" << false;
    QTest::newRow("404 page") << 404 << QByteArray("<html><body><h1>404 Not Found</h1></body></html>")
                              << "Сервер истории встреч ответил ошибкой (статус 404)." << false;
    QTest::newRow("404 text") << 404 << QByteArray("Not Found") << "Not Found" << false;
    QTest::newRow("408") << 408 << QByteArray("Request Timeout") << "Request Timeout" << true;
    QTest::newRow("429") << 429 << j("{'errors':[{'message':'slow down'}]}") << "slow down" << true;
    QTest::newRow("401") << 401 << QByteArray("Unauthorized") << "Unauthorized" << true;
    QTest::newRow("400 with JSON but no errors") << 400 << j("{'message':'bad'}") << "{\"message\":\"bad\"}" << false;
    QTest::newRow("403 with text") << 403 << QByteArray("Forbidden") << "Forbidden" << false;
    QTest::newRow("422 with GraphQL error") << 422 << j("{'errors':[{'message':'title too long'}]}") << "title too long" << false;
    QTest::newRow("404 empty") << 404 << QByteArray() << "Сервер истории встреч вернул некорректный ответ." << false;
    QTest::newRow("status 300") << 300 << QByteArray("Multiple choices") << "Multiple choices" << true;
    QTest::newRow("500 empty") << 500 << QByteArray() << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("500 blank") << 500 << QByteArray(" \n\t ") << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("500 not UTF-8") << 500 << QByteArray("\xff\xfe\xfd") << "Сервер истории встреч вернул некорректный ответ." << true;
    // A long meeting's detail is larger than other clients' answers may be; past its own
    // cap the exchange stops.
    QTest::newRow("5 MB answer") << 200 << QByteArray(5 * 1024 * 1024, ' ') << "decode" << true;
    QTest::newRow("9 MB answer") << 200 << QByteArray(9 * 1024 * 1024, ' ') << "too large" << true;
    // Answers that are not HTTP at all come from a raw server.
    QTest::newRow("status 000") << -1 << QByteArray("HTTP/1.1 000 Zero\r\nContent-Length: 4\r\n\r\nOops")
                                << "Сервер истории встреч вернул некорректный ответ." << true;
    // A status line followed by a broken body is no answer: the save is tried again.
    QTest::newRow("body cut short") << -1
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 400\r\n\r\n{\"data\":{\"delete")
        << "transient" << true;
    // A refusal counts only when it came whole: one cut short is a broken exchange, and the
    // record it would have dropped stays for another try.
    QTest::newRow("refusal cut short") << -1
        << QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 400\r\n\r\nForb")
        << "transient" << true;
    // Without a length the end of the connection is the end of the body, and a cut one reads
    // as whole.
    QTest::newRow("body cut short without a length") << -1
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n{\"data\":{\"delete")
        << "decode" << true;
    QTest::newRow("corrupt compressed body") << -1
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\nContent-Length: 24\r\n\r\n")
               + QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03not-deflate-data", 24)
        << "network" << true;
}

void tst_MeetingSessionHistoryServiceError::transportMapsAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QFETCH(bool, retryable);
    m_backend->route("POST", QStringLiteral("/graphql"), FakeResponse::json(status, body));
    RawReplyServer raw(body);
    std::unique_ptr<AuthService> rawAuth;
    std::unique_ptr<MeetingSessionHistoryService> rawService;
    if (status < 0) {
        QVERIFY(raw.start());
        rawAuth = TestAuth::signedInService(raw.baseUrl());
        rawService = std::make_unique<MeetingSessionHistoryService>(rawAuth.get());
    }
    MeetingSessionHistoryService *service = rawService ? rawService.get() : m_service.get();

    const auto outcome = runTask(service->deleteSession(QStringLiteral("m")));
    if (expected == QLatin1String("ok")) {
        QVERIFY(outcome.succeeded());
        return;
    }
    QCOMPARE(MeetingSessionHistoryService::isRetryableError(outcome.error), retryable);
    if (expected == QLatin1String("too large")) {
        QCOMPARE(outcome.errorAs<NetworkError>()->kind(), NetworkError::Kind::responseTooLarge);
        return;
    }
    if (expected == QLatin1String("transient") || expected == QLatin1String("network")) {
        QVERIFY2(outcome.errorAs<NetworkError>().has_value(), qPrintable(outcome.errorText()));
        if (expected == QLatin1String("transient"))
            QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(outcome.error));
        return;
    }
    if (expected == QLatin1String("decode")) {
        QVERIFY2(outcome.errorAs<JsonDecodeError>().has_value(), qPrintable(outcome.errorText()));
        return;
    }
    const auto error = outcome.errorAs<ServiceError>();
    QVERIFY(error.has_value());
    QCOMPARE(error->httpStatus(), status < 0 || (status >= 200 && status <= 299) ? 0 : status);
    QCOMPARE(MeetingSessionHistoryService::isMeetingNotFoundError(outcome.error), expected.startsWith(QLatin1String("gone:")));
    if (expected.startsWith(QLatin1String("gone:")))
        expected = expected.mid(5);
    if (expected.startsWith(QLatin1String("content:"))) {
        QCOMPARE(*error, ServiceError::meetingContentUnavailable(expected.mid(8)));
    } else {
        QCOMPARE(error->message(), expected);
        QVERIFY(error->errorCase() != ServiceError::Case::meetingContentUnavailable);
    }
}

void tst_MeetingSessionHistoryServiceError::signedOutSendsNothing()
{
    auto signedOut = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
    MeetingSessionHistoryService service(signedOut.get());
    const auto outcome = runTask(service.startSession(snapshot()));
    QCOMPARE(outcome.errorAs<ServiceError>(), ServiceError::missingAuthSession());
    QCOMPARE(outcome.errorAs<ServiceError>()->message(), QStringLiteral("Войдите в аккаунт, чтобы синхронизировать историю встреч."));
    QVERIFY(runTask(service.fetchSessions(MeetingSessionHistoryListQuery())).errorAs<ServiceError>() == ServiceError::missingAuthSession());
    QCOMPARE(m_backend->requestCount(QStringLiteral("/graphql")), 0);
}

void tst_MeetingSessionHistoryServiceError::transientNetworkErrors_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("transient");

    // The conditions a later attempt may get past: timed out, host not found, cannot
    // connect, connection lost, no network. Everything else is final, a cancel above all.
    const QSet<QNetworkReply::NetworkError> transient{
        QNetworkReply::ConnectionRefusedError, QNetworkReply::RemoteHostClosedError, QNetworkReply::HostNotFoundError,
        QNetworkReply::TimeoutError, QNetworkReply::TemporaryNetworkFailureError, QNetworkReply::NetworkSessionFailedError,
        QNetworkReply::ProxyConnectionRefusedError, QNetworkReply::ProxyConnectionClosedError,
        QNetworkReply::ProxyNotFoundError, QNetworkReply::ProxyTimeoutError,
        // No route to the network or the host, as when offline.
        QNetworkReply::UnknownNetworkError,
    };
    const QMetaEnum codes = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    for (int i = 0; i < codes.keyCount(); ++i) {
        const auto code = QNetworkReply::NetworkError(codes.value(i));
        QTest::newRow(codes.key(i)) << int(code) << transient.contains(code);
    }
}

void tst_MeetingSessionHistoryServiceError::transientNetworkErrors()
{
    QFETCH(int, code);
    QFETCH(bool, transient);
    const auto networkCode = QNetworkReply::NetworkError(code);
    const auto error = std::make_exception_ptr(NetworkError(NetworkError::Kind::other, networkCode, QString()));
    QCOMPARE(MeetingSessionHistoryService::isTransientNetworkError(error), transient);
    // Whatever kept the answer from being read, the request may still go through.
    QVERIFY(MeetingSessionHistoryService::isRetryableError(error));

    // Errors that are not network failures never are.
    if (code == QNetworkReply::NoError) {
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(CancellationError())));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(ServiceError::invalidResponse())));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(JsonDecodeError("x", "y"))));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(
            std::make_exception_ptr(AuthServiceError::requestFailed(QStringLiteral("Gateway timeout"), 504))));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(nullptr));
        // Nothing to retry for a cancel or without a sign-in; a broken address is not the
        // server's refusal, so a record waits for it to be mended.
        QVERIFY(!MeetingSessionHistoryService::isRetryableError(nullptr));
        QVERIFY(!MeetingSessionHistoryService::isRetryableError(std::make_exception_ptr(CancellationError())));
        QVERIFY(!MeetingSessionHistoryService::isRetryableError(std::make_exception_ptr(ServiceError::missingAuthSession())));
        QVERIFY(MeetingSessionHistoryService::isRetryableError(
            std::make_exception_ptr(ServiceError::invalidBackendBaseURL(QStringLiteral("::")))));
        // Our own timer's time-out is transient whatever code came with it.
        QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(
            NetworkError(NetworkError::Kind::timedOut, QNetworkReply::OperationCanceledError, QString()))));
    }
}

void tst_MeetingSessionHistoryServiceError::realNetworkFailuresAreTransient()
{
    const RefusedPort refusing;
    auto auth = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(refusing.port())));
    MeetingSessionHistoryService refused(auth.get());
    const auto outcome = runTask(refused.fetchSessions(MeetingSessionHistoryListQuery()));
    QVERIFY(outcome.errorAs<NetworkError>().has_value());
    QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(outcome.error));

    m_service->setRequestTimeout(std::chrono::milliseconds(200));
    m_history->script(QStringLiteral("MeetingSessions"), Script::hang(false));
    const auto timedOut = runTask(m_service->fetchSessions(MeetingSessionHistoryListQuery()));
    QCOMPARE(timedOut.errorAs<NetworkError>()->kind(), NetworkError::Kind::timedOut);
    QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(timedOut.error));
}

void tst_MeetingSessionHistoryServiceError::droppedServiceEndsItsRequestWithCancellation()
{
    // The history browser closes while a list request is on its way.
    m_history->script(QStringLiteral("MeetingSessions"), Script::hang(false));
    MeetingSessionHistoryService *service = m_service.get();
    auto fetch = spawnTask([service](CancellationToken) -> QCoro::Task<void> {
        co_await service->fetchSessions(MeetingSessionHistoryListQuery());
    });
    QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(QStringLiteral("/graphql")) == 1; }));
    m_service.reset();
    QVERIFY(FakeBackend::waitUntil([&] { return fetch.isFinished(); }));
    const auto outcome = runTask([](TaskHandle<void> handle) -> QCoro::Task<void> { co_await handle.result(); }(fetch));
    QVERIFY(outcome.isCancellation());
}

QTEST_GUILESS_MAIN(tst_MeetingSessionHistoryServiceError)
#include "tst_MeetingSessionHistoryServiceError.moc"
