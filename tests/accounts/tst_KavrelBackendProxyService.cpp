#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "platform/InMemorySecretStore.h"
#include "platform/NetworkError.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QTest>
#include <QWebSocket>

namespace {

QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

KavrelChatCompletionRequest chatRequest()
{
    KavrelChatCompletionRequest request;
    request.model = QStringLiteral("deepseek-chat");
    request.messages = {{QStringLiteral("system"), QStringLiteral("Be brief.")}, {QStringLiteral("user"), QStringLiteral("Hello")}};
    request.temperature = 0.3;
    return request;
}

} // namespace

class tst_KavrelBackendProxyService : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_auth;
    std::unique_ptr<AuthService> m_service;

    void signIn(const QUrl &baseUrl, std::optional<AuthSession> session = TestAuth::defaultSession())
    {
        m_service = TestAuth::signedInService(baseUrl, session);
        if (session)
            m_auth->registerSession(*session);
    }

private Q_SLOTS:
    void init()
    {
        m_backend = std::make_unique<FakeBackend>();
        QVERIFY(m_backend->start());
        m_auth = std::make_unique<FakeAuthBackend>(m_backend.get());
        signIn(m_backend->baseUrl());
    }

    void cleanup()
    {
        m_service.reset();
        m_auth.reset();
        m_backend.reset();
    }

    void signedOutSendsNothing()
    {
        signIn(m_backend->baseUrl(), std::nullopt);
        KavrelBackendProxyService proxy(m_service.get());
        const auto chat = runTask(proxy.performChatCompletion(chatRequest()));
        QCOMPARE(chat.errorAs<KavrelBackendProxyError>()->errorCase(), KavrelBackendProxyError::Case::authenticationRequired);
        QCOMPARE(chat.errorText(), QStringLiteral("Sign in to use КАВРЕЛ AI and live transcription features."));
        // Signed out beats an invalid base URL.
        signIn(QUrl(QStringLiteral("http://")), std::nullopt);
        KavrelBackendProxyService broken(m_service.get());
        const auto socket = runTask(broken.makeWebSocketRequest(QStringLiteral("/api/stt/deepgram/live"), {}));
        QCOMPARE(socket.errorAs<KavrelBackendProxyError>()->errorCase(), KavrelBackendProxyError::Case::authenticationRequired);
        QCOMPARE(m_backend->requests().size(), 0);
    }

    void chatCompletionRequest()
    {
        KavrelBackendProxyService proxy(m_service.get());
        const auto result = runTask(proxy.performChatCompletion(chatRequest()));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(result.value->choices.first().message.content, std::optional<QString>(QStringLiteral("echo: Hello")));
        const RecordedRequest request = m_backend->requests(QString::fromLatin1(FakeAuthBackend::chatCompletionsPath)).first();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer test-access-token"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QCOMPARE(request.json(), chatRequest().toJson());
    }

    void chatCompletionReplies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("expectedCase"); // -1: success
        QTest::addColumn<QString>("expectedText");
        using C = KavrelBackendProxyError::Case;
        QTest::newRow("envelope message trimmed") << 500 << j("{'error':{'message':'  Model overloaded  '}}") << int(C::serverError) << "Model overloaded";
        QTest::newRow("empty 401") << 401 << QByteArray() << int(C::serverError) << "КАВРЕЛ backend request failed with status 401.";
        QTest::newRow("plain text trimmed") << 502 << QByteArray("Bad gateway\n") << int(C::serverError) << "Bad gateway";
        QTest::newRow("gateway page") << 503 << QByteArray("<html><head><title>503 Service Unavailable</title></head></html>")
                                      << int(C::serverError) << "КАВРЕЛ backend request failed with status 503.";
        QTest::newRow("empty envelope message: the whole body")
            << 400 << j("{'error':{'message':''}}") << int(C::serverError) << QString::fromUtf8(j("{'error':{'message':''}}"));
        QTest::newRow("empty 200") << 200 << QByteArray() << int(C::invalidResponse) << "";
        QTest::newRow("undecodable 200") << 200 << j("{'choices':{}}") << int(C::invalidResponse) << "";
        QTest::newRow("no choices") << 200 << j("{'choices':[]}") << -1 << "";
        QTest::newRow("choice without content") << 200 << j("{'choices':[{'message':{}}]}") << -1 << "";
    }

    void chatCompletionReplies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, expectedCase);
        QFETCH(QString, expectedText);
        m_auth->setChatCompletionReply(FakeResponse::text(status, body, "application/json"));
        KavrelBackendProxyService proxy(m_service.get());
        const auto result = runTask(proxy.performChatCompletion(chatRequest()));
        if (expectedCase < 0) {
            QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
            return;
        }
        const auto error = result.errorAs<KavrelBackendProxyError>();
        QVERIFY(error);
        QCOMPARE(int(error->errorCase()), expectedCase);
        if (!expectedText.isEmpty())
            QCOMPARE(error->message(), expectedText);
    }

    void transportFailuresPassThrough()
    {
        m_auth->setChatCompletionReply(FakeResponse::dropConnection());
        KavrelBackendProxyService proxy(m_service.get());
        QVERIFY(runTask(proxy.performChatCompletion(chatRequest())).errorAs<NetworkError>());

        m_auth->setChatCompletionReply(FakeResponse::hang());
        proxy.setRequestTimeout(std::chrono::milliseconds(100));
        const auto timedOut = runTask(proxy.performChatCompletion(chatRequest()));
        QCOMPARE(timedOut.errorAs<NetworkError>()->kind(), NetworkError::Kind::timedOut);
        QVERIFY(!timedOut.isCancellation());
    }

    void nearExpirySessionIsRefreshedFirst()
    {
        AuthSession session = TestAuth::defaultSession();
        session.expiresAt = QDateTime::currentDateTimeUtc().addSecs(30);
        signIn(m_backend->baseUrl(), session);
        KavrelBackendProxyService proxy(m_service.get());
        const auto result = runTask(proxy.performChatCompletion(chatRequest()));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(m_backend->requestCount(QString::fromLatin1(FakeAuthBackend::refreshPath)), 1);
        const QByteArray sent = m_backend->requests(QString::fromLatin1(FakeAuthBackend::chatCompletionsPath)).first().header("Authorization");
        QVERIFY(sent.startsWith("Bearer access-"));
    }

    void proxyDroppedWhileTheTokenIsRefreshed()
    {
        // The owner (a speech client, an AI service) may go away while the token provider
        // refreshes; the suspended calls must end without touching the dead proxy.
        AuthSession session = TestAuth::defaultSession();
        session.expiresAt = QDateTime::currentDateTimeUtc().addSecs(30);
        signIn(m_backend->baseUrl(), session);
        m_auth->setReplyDelay(100);
        auto proxy = std::make_unique<KavrelBackendProxyService>(m_service.get());
        auto chat = proxy->performChatCompletion(chatRequest());
        auto socket = proxy->makeWebSocketRequest(QStringLiteral("/api/stt/deepgram/live"), {});
        proxy.reset();
        QVERIFY(runTask(std::move(chat)).isCancellation());
        QVERIFY(runTask(std::move(socket)).isCancellation());
        QCOMPARE(m_backend->requests(QString::fromLatin1(FakeAuthBackend::chatCompletionsPath)).size(), 0);
    }

    void baseURLPrefixJoinsWithOneSlash()
    {
        QUrl base = m_backend->baseUrl();
        base.setPath(QStringLiteral("/proxy/"));
        signIn(base);
        m_backend->route("POST", QStringLiteral("/proxy/api/ai/deepseek/chat/completions"), FakeResponse::json(200, j("{'choices':[]}")));
        KavrelBackendProxyService proxy(m_service.get());
        QVERIFY(runTask(proxy.performChatCompletion(chatRequest())).succeeded());
    }

    void webSocketRequests_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("query"); // name, value, name, value...
        QTest::addColumn<QString>("expectedUrl");
        QTest::addColumn<QString>("expectedOrigin");

        QTest::newRow("https becomes wss, api. dropped")
            << "https://api.kavrel.app" << "/api/stt/deepgram/live" << QStringList{QStringLiteral("model"), QStringLiteral("nova-2"), QStringLiteral("language"), QStringLiteral("ru")}
            << "wss://api.kavrel.app/api/stt/deepgram/live?model=nova-2&language=ru" << "https://kavrel.app";
        QTest::newRow("http becomes ws, port kept, no query")
            << "http://api.example.test:8443/base/" << "api/v2/ai/translation/live" << QStringList{}
            << "ws://api.example.test:8443/base/api/v2/ai/translation/live" << "http://example.test:8443";
        QTest::newRow("path, query and fragment left out of the origin")
            << "https://api.example.test/x?debug=1#top" << "/api/ai/translation/live" << QStringList{}
            << "wss://api.example.test/x/api/ai/translation/live#top" << "https://example.test";
        QTest::newRow("api. only as the first label")
            << "https://eu.api.example.test" << "/s" << QStringList{} << "wss://eu.api.example.test/s" << "https://eu.api.example.test";
    }

    void webSocketRequests()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QStringList, query);
        QFETCH(QString, expectedUrl);
        QFETCH(QString, expectedOrigin);
        signIn(QUrl(base));
        KavrelBackendProxyService proxy(m_service.get());
        KavrelBackendProxyService::QueryItems items;
        for (qsizetype i = 0; i + 1 < query.size(); i += 2)
            items.append({query.at(i), query.at(i + 1)});
        const auto result = runTask(proxy.makeWebSocketRequest(path, items));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(result.value->url().toString(QUrl::FullyEncoded), expectedUrl);
        QCOMPARE(result.value->rawHeader("Origin"), expectedOrigin.toUtf8());
        QCOMPARE(result.value->rawHeader("Authorization"), QByteArray("Bearer test-access-token"));
        QCOMPARE(result.value->rawHeader("Cookie"), QByteArray("norvantis_refresh_token=test-refresh-token"));
        QVERIFY(!result.value->hasRawHeader("Content-Type"));
        QCOMPARE(result.value->rawHeaderList(), (QList<QByteArray>{"Authorization", "Cookie", "Origin"}));
    }

    void invalidBaseURL()
    {
        signIn(QUrl(QStringLiteral("not a url")));
        KavrelBackendProxyService proxy(m_service.get());
        const auto result = runTask(proxy.makeWebSocketRequest(QStringLiteral("/s"), {}));
        QCOMPARE(result.errorText(), QStringLiteral("The saved КАВРЕЛ backend URL is invalid: not a url"));
    }

    void webSocketOpensWithTheHeaders()
    {
        KavrelBackendProxyService proxy(m_service.get());
        const auto result = runTask(proxy.makeWebSocketRequest(QString::fromLatin1(FakeAuthBackend::speechSocketPath),
                                                              {{QStringLiteral("encoding"), QStringLiteral("linear16")}}));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QWebSocket socket;
        socket.open(*result.value);
        QVERIFY(FakeBackend::waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
        const RecordedRequest upgrade = m_backend->upgradeRequests(QString::fromLatin1(FakeAuthBackend::speechSocketPath)).first();
        QCOMPARE(upgrade.header("Authorization"), QByteArray("Bearer test-access-token"));
        QCOMPARE(upgrade.header("Cookie"), QByteArray("norvantis_refresh_token=test-refresh-token"));
        QCOMPARE(upgrade.header("Origin"), m_backend->baseUrl().toString().toUtf8());
        QCOMPARE(upgrade.headerCount("Origin"), 1);
        QCOMPARE(upgrade.query.queryItemValue(QStringLiteral("encoding")), QStringLiteral("linear16"));
        socket.close();
    }

    void makeURLJoining_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both empty") << "https://h" << "" << "https://h/";
        QTest::newRow("slashes on both sides") << "https://h//v1//" << "//a/b//" << "https://h/v1/a/b";
        QTest::newRow("inner slashes kept") << "https://h/a/b" << "c/d" << "https://h/a/b/c/d";
    }

    void makeURLJoining()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(KavrelBackendProxyService::makeURL(QUrl(base), path, std::nullopt, {}).toString(), expected);
    }
};

QTEST_GUILESS_MAIN(tst_KavrelBackendProxyService)
#include "tst_KavrelBackendProxyService.moc"
