#include "accounts/AuthRequestTransport.h"
#include "accounts/AuthServiceError.h"
#include "base/Json.h"
#include "platform/NetworkError.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTest>
#include <QTimer>

#include <qcoro/qcorotask.h>

namespace {

QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}


} // namespace

class tst_AuthRequestTransport : public QObject
{
    Q_OBJECT

private:
    FakeBackend m_backend;
    QObject m_owner;
    std::unique_ptr<AuthRequestTransport> m_transport;

    QUrl url(const QString &path) const
    {
        QUrl result = m_backend.baseUrl();
        result.setPath(path);
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_backend.start());
        m_transport = std::make_unique<AuthRequestTransport>(&m_owner);
    }

    void init() { m_backend.clearRecords(); }

    void failureMessages_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");

        QTest::newRow("error_description beats error")
            << 401 << j("{'error':'invalid_grant','error_description':'Code expired'}") << "Code expired";
        QTest::newRow("empty message, then detail") << 400 << j("{'message':'','detail':'Bad code'}") << "Bad code";
        QTest::newRow("white-space message counts as absent") << 400 << j("{'message':'   ','title':'Too short'}") << "Too short";
        QTest::newRow("object without the keys: the JSON text")
            << 500 << j("{'statusCode':500}") << QString::fromUtf8(j("{'statusCode':500}"));
        QTest::newRow("error as object: the JSON text")
            << 422 << j("{'error':{'message':'x'}}") << QString::fromUtf8(j("{'error':{'message':'x'}}"));
        QTest::newRow("plain text kept as sent") << 502 << QByteArray("Bad gateway\n") << "Bad gateway\n";
        // A gateway's page is no message for the sign-in screen: the status is.
        QTest::newRow("gateway page") << 502 << QByteArray("<html><body><h1>502 Bad Gateway</h1></body></html>")
                                      << "Auth backend request failed with status 502.";
        QTest::newRow("blank body") << 503 << QByteArray(" \r\n  ") << "Auth backend request failed with status 503.";
        QTest::newRow("empty body") << 500 << QByteArray() << "Auth backend request failed with status 500.";
        QTest::newRow("not UTF-8") << 404 << QByteArray("\xff\xfe\xfd") << "Auth backend request failed with status 404.";
        QTest::newRow("redirect status is a failure") << 302 << QByteArray() << "Auth backend request failed with status 302.";
    }

    void failureMessages()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        m_backend.route("POST", QStringLiteral("/fail"), FakeResponse::text(status, body, "application/json"));
        const TaskResult<HttpReply> outcome = runTask(m_transport->performRawJSONRequest(url(QStringLiteral("/fail")), "POST", QByteArray("{}"), std::nullopt));
        const auto error = outcome.errorAs<AuthServiceError>();
        QVERIFY(error);
        QCOMPARE(error->errorCase(), AuthServiceError::Case::requestFailed);
        QCOMPARE(error->message(), expected);
        QCOMPARE(error->httpStatus(), status);
    }

    void successAndHeaders()
    {
        m_backend.route("*", QStringLiteral("/ok"), FakeResponse::empty(204));
        TaskResult<HttpReply> outcome = runTask(m_transport->performRawJSONRequest(url(QStringLiteral("/ok")), "GET", std::nullopt, QString()));
        QVERIFY(outcome.value);
        QCOMPARE(outcome.value->status, 204);
        QVERIFY(outcome.value->body.isEmpty());
        RecordedRequest request = m_backend.requests(QStringLiteral("/ok")).last();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QCOMPARE(request.headerCount("Authorization"), 0);

        outcome = runTask(m_transport->performRawJSONRequest(url(QStringLiteral("/ok")), "POST", QByteArray("{\"a\":1}"), QStringLiteral("tok")));
        QVERIFY(outcome.value);
        request = m_backend.requests(QStringLiteral("/ok")).last();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok"));
        QCOMPARE(request.body, QByteArray("{\"a\":1}"));
    }

    void transportFailures()
    {
        m_backend.route("POST", QStringLiteral("/drop"), FakeResponse::dropConnection());
        TaskResult<HttpReply> outcome = runTask(m_transport->performRawJSONRequest(url(QStringLiteral("/drop")), "POST", QByteArray("{}"), std::nullopt));
        QVERIFY(outcome.errorAs<NetworkError>());

        m_backend.route("POST", QStringLiteral("/hang"), FakeResponse::hang());
        m_transport->setTimeout(std::chrono::milliseconds(150));
        outcome = runTask(m_transport->performRawJSONRequest(url(QStringLiteral("/hang")), "POST", QByteArray("{}"), std::nullopt));
        m_transport->setTimeout(std::chrono::milliseconds(60000));
        const auto timeout = outcome.errorAs<NetworkError>();
        QVERIFY(timeout);
        QCOMPARE(timeout->kind(), NetworkError::Kind::timedOut);

        // Cancelling aborts the request at once, long before any time-out.
        CancellationToken token;
        QTimer::singleShot(50, [token] { token.cancel(); });
        outcome = runTask(m_transport->performRawJSONRequest(url(QStringLiteral("/hang")), "POST", QByteArray("{}"), std::nullopt, token));
        QVERIFY(isCancellation(outcome.error));
    }

    void sessionReplies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("accessToken"); // "<fail>" when decoding must fail
        QTest::addColumn<QString>("refreshToken"); // "<nil>"
        QTest::addColumn<QString>("tokenType");
        QTest::addColumn<qint64>("expiresInSeconds"); // from the decode time; -1: 2030-01-01

        const QByteArray user = ",'user':{'id':'u','email':'a@b.c'}}";
        QTest::newRow("snake case") << j("{'access_token':' at ','refresh_token':'rt','token_type':'bearer','expires_at':'2030-01-01T00:00:00Z'" + user)
                                    << "at" << "rt" << "bearer" << qint64(-1);
        QTest::newRow("camel case, expires in") << j("{'accessToken':'at','refreshToken':'rt','tokenType':'Bearer','expiresIn':900" + user)
                                               << "at" << "rt" << "Bearer" << qint64(900);
        QTest::newRow("blank snake token falls to camel") << j("{'access_token':'  ','accessToken':'at2','expires_at':'2030-01-01T00:00:00.5Z'" + user)
                                                          << "at2" << "<nil>" << "Bearer" << qint64(-1);
        QTest::newRow("expires_at beats expires_in") << j("{'access_token':'at','expires_in':5,'expires_at':'2030-01-01T00:00:00Z'" + user)
                                                     << "at" << "<nil>" << "Bearer" << qint64(-1);
        QTest::newRow("null expires_at falls to expires_in") << j("{'access_token':'at','expires_at':null,'expires_in':60" + user)
                                                             << "at" << "<nil>" << "Bearer" << qint64(60);
        QTest::newRow("blank refresh token is none") << j("{'access_token':'at','refresh_token':' ','expires_in':1" + user)
                                                     << "at" << "<nil>" << "Bearer" << qint64(1);
        QTest::newRow("no expiry") << j("{'access_token':'at'" + user) << "<fail>" << "" << "" << qint64(0);
        QTest::newRow("no access token") << j("{'access_token':'','expires_in':1" + user) << "<fail>" << "" << "" << qint64(0);
        QTest::newRow("numeric token, no fallback") << j("{'access_token':5,'accessToken':'at','expires_in':1" + user)
                                                    << "<fail>" << "" << "" << qint64(0);
        QTest::newRow("malformed date") << j("{'access_token':'at','expires_at':'2030-01-01'" + user) << "<fail>" << "" << "" << qint64(0);
        QTest::newRow("no user") << j("{'access_token':'at','expires_in':1}") << "<fail>" << "" << "" << qint64(0);
        QTest::newRow("empty body") << QByteArray() << "<fail>" << "" << "" << qint64(0);
    }

    void sessionReplies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, accessToken);
        QFETCH(QString, refreshToken);
        QFETCH(QString, tokenType);
        QFETCH(qint64, expiresInSeconds);
        const QDateTime now = QDateTime::fromString(QStringLiteral("2029-06-01T12:00:00Z"), Qt::ISODate);
        try {
            const SessionResponse response = AuthRequestTransport::decodeSessionResponse(body, now);
            QVERIFY2(accessToken != QLatin1String("<fail>"), "decoding should have failed");
            QCOMPARE(response.accessToken, accessToken);
            QCOMPARE(response.refreshToken.value_or(QStringLiteral("<nil>")), refreshToken);
            QCOMPARE(response.tokenType, tokenType);
            const QDateTime expected = expiresInSeconds < 0
                                           ? QDateTime::fromString(QStringLiteral("2030-01-01T00:00:00Z"), Qt::ISODate)
                                           : now.addSecs(expiresInSeconds);
            QCOMPARE(response.expiresAt.toSecsSinceEpoch(), expected.toSecsSinceEpoch());
        } catch (const AuthServiceError &error) {
            QCOMPARE(accessToken, QStringLiteral("<fail>"));
            QCOMPARE(error.errorCase(), AuthServiceError::Case::invalidResponse);
        }
    }

    void setCookieParsing_data()
    {
        QTest::addColumn<QList<QByteArray>>("fields");
        QTest::addColumn<QString>("expected"); // "<nil>"

        QTest::newRow("percent-encoded, expiry with comma, HttpOnly")
            << QList<QByteArray>{"norvantis_refresh_token=a%2Bb%2Fc%3D; Path=/; Expires=Wed, 21 Oct 2099 07:28:00 GMT; HttpOnly"}
            << "a+b/c=";
        QTest::newRow("second cookie of one field")
            << QList<QByteArray>{"theme=dark; Path=/, norvantis_refresh_token=tok; Path=/"} << "tok";
        QTest::newRow("fields joined by a line break")
            << QList<QByteArray>{"theme=dark; Path=/\nnorvantis_refresh_token=tok2; Secure"} << "tok2";
        QTest::newRow("empty value, then a later one")
            << QList<QByteArray>{"norvantis_refresh_token=; Max-Age=0", "norvantis_refresh_token=later"} << "later";
        QTest::newRow("bad percent escape kept as sent") << QList<QByteArray>{"norvantis_refresh_token=%zz1; Path=/"} << "%zz1";
        QTest::newRow("no value anywhere") << QList<QByteArray>{"norvantis_refresh_token=  ; Path=/"} << "<nil>";
        QTest::newRow("name is case-sensitive") << QList<QByteArray>{"Norvantis_Refresh_Token=x"} << "<nil>";
        QTest::newRow("similar name") << QList<QByteArray>{"norvantis_refresh_token_old=x"} << "<nil>";
        QTest::newRow("no fields") << QList<QByteArray>{} << "<nil>";
    }

    void setCookieParsing()
    {
        QFETCH(QList<QByteArray>, fields);
        QFETCH(QString, expected);
        QCOMPARE(AuthRequestTransport::refreshTokenFromSetCookie(fields).value_or(QStringLiteral("<nil>")), expected);
    }

    void cookieJarComesFirst()
    {
        m_backend.route("POST", QStringLiteral("/cookie"),
                        FakeResponse::json(200, QByteArray("{}")).withHeader("Set-Cookie", "norvantis_refresh_token=from-jar; Path=/"));
        TaskResult<HttpReply> outcome = runTask(m_transport->performRawJSONRequest(url(QStringLiteral("/cookie")), "POST", QByteArray("{}"), std::nullopt));
        QVERIFY(outcome.value);
        // The jar's cookie is read even when the reply's fields say something else.
        HttpReply reply = *outcome.value;
        reply.headers = {{"Set-Cookie", "norvantis_refresh_token=from-header"}};
        QCOMPARE(m_transport->refreshToken(reply), std::optional<QString>(QStringLiteral("from-jar")));

        // An empty jar cookie does not end the search.
        QNetworkCookie empty("norvantis_refresh_token", "");
        empty.setPath(QStringLiteral("/"));
        empty.setDomain(QStringLiteral("127.0.0.1"));
        m_transport->cookieJar()->insertCookie(empty);
        QCOMPARE(m_transport->refreshToken(reply), std::optional<QString>(QStringLiteral("from-header")));
    }
};

QTEST_GUILESS_MAIN(tst_AuthRequestTransport)
#include "tst_AuthRequestTransport.moc"
