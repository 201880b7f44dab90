#include "accounts/AppleAuthorizationController.h"
#include "accounts/AppleAuthorizationError.h"
#include "accounts/AppleAuthorizationSession.h"
#include "accounts/AuthService.h"
#include "accounts/DesktopOAuthCallbackWaiter.h"
#include "accounts/LoopbackOAuthRedirectServer.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTest>

namespace {

class FakeAppleController final : public AppleAuthorizationController
{
public:
    int cancelCount = 0;
    void cancel() override { ++cancelCount; }
};

// Starts waiting and lets the event loop run until the wait has ended or the time is up.
template<typename T>
TaskHandle<T> startWaiting(std::function<QCoro::Task<T>()> wait)
{
    return spawnTask([wait](CancellationToken) { return wait(); });
}

template<typename T>
TaskResult<T> resultOf(TaskHandle<T> handle)
{
    return runTask([](TaskHandle<T> h) -> QCoro::Task<T> {
        T value = co_await h.result();
        co_return value;
    }(handle));
}

// Waits on a receiver and deletes it the moment the wait ends, as a sign-in flow that is
// done with its receiver would.
template<typename T, typename Receiver>
TaskHandle<T> waitThenDelete(Receiver *receiver, std::function<QCoro::Task<T>(Receiver *)> wait)
{
    return spawnTask([receiver, wait](CancellationToken) -> QCoro::Task<T> {
        const TaskOutcome<T> outcome = co_await outcomeOf(wait(receiver));
        delete receiver;
        co_return outcome.get();
    });
}

void spin()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

class tst_ProviderSignInCompletion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void waiterKeepsTheFirstURL()
    {
        DesktopOAuthCallbackWaiter waiter;
        waiter.receive(QUrl(QStringLiteral("kavrel://auth/callback?code=first")));
        waiter.receive(QUrl(QStringLiteral("kavrel://auth/callback?code=second")));
        spin();
        const auto result = runTask(waiter.waitForCallback());
        QCOMPARE(result.value->query(), QStringLiteral("code=first"));
        QVERIFY(!waiter.bufferedCallbackURL());
    }

    void waiterResumesAWaitingCaller()
    {
        DesktopOAuthCallbackWaiter waiter;
        auto wait = startWaiting<QUrl>([&waiter] { return waiter.waitForCallback(); });
        QVERIFY(waiter.isWaiting());
        waiter.receive(QUrl(QStringLiteral("kavrel://auth/callback?code=a&state=s")));
        QVERIFY(!wait.isFinished()); // applied on the waiter's next turn, never inside receive()
        QVERIFY(FakeBackend::waitUntil([&] { return wait.isFinished(); }));
        QCOMPARE(resultOf(wait).value->toString(), QStringLiteral("kavrel://auth/callback?code=a&state=s"));
        // A later URL lands in the now empty buffer.
        waiter.receive(QUrl(QStringLiteral("kavrel://auth/callback?code=b")));
        spin();
        QCOMPARE(waiter.bufferedCallbackURL()->query(), QStringLiteral("code=b"));
    }

    void waiterEndsWithItsFirstError()
    {
        DesktopOAuthCallbackWaiter waiter;
        waiter.cancel();
        waiter.receive(QUrl(QStringLiteral("kavrel://auth/callback?code=late")));
        spin();
        QVERIFY(waiter.hasEnded());
        QVERIFY(!waiter.bufferedCallbackURL());
        QVERIFY(runTask(waiter.waitForCallback()).isCancellation());

        DesktopOAuthCallbackWaiter waiting;
        auto wait = startWaiting<QUrl>([&waiting] { return waiting.waitForCallback(); });
        waiting.cancel();
        QVERIFY(FakeBackend::waitUntil([&] { return wait.isFinished(); }));
        QVERIFY(resultOf(wait).isCancellation());
    }

    void callbackRouting_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<bool>("matched");
        QTest::addColumn<QString>("delivered"); // empty: nothing delivered

        QTest::newRow("callback with query") << QStringList{QStringLiteral("kavrel://auth/callback?code=1&state=x")} << true
                                             << "kavrel://auth/callback?code=1&state=x";
        QTest::newRow("scheme and host in capitals") << QStringList{QStringLiteral("KAVREL://AUTH/callback")} << true << "kavrel://auth/callback";
        QTest::newRow("path differs in case") << QStringList{QStringLiteral("kavrel://auth/Callback")} << false << "";
        QTest::newRow("microsoft completion wakes nobody") << QStringList{QStringLiteral("kavrel://auth/microsoft/complete?x=1")} << true << "";
        QTest::newRow("first match wins")
            << QStringList{QStringLiteral("https://example.test/callback"), QStringLiteral("kavrel://auth/microsoft/complete"),
                           QStringLiteral("kavrel://auth/callback?code=2")}
            << true << "";
        QTest::newRow("other host") << QStringList{QStringLiteral("kavrel://settings/callback")} << false << "";
        QTest::newRow("no host") << QStringList{QStringLiteral("kavrel:/callback")} << false << "";
    }

    void callbackRouting()
    {
        QFETCH(QStringList, urls);
        QFETCH(bool, matched);
        QFETCH(QString, delivered);
        auto service = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:1")));
        auto *waiter = new DesktopOAuthCallbackWaiter();
        service->setActiveDesktopCallbackWaiter(waiter);
        QList<QUrl> list;
        for (const QString &url : urls)
            list.append(QUrl(url));
        QCOMPARE(service->handleCallbackURLs(list), matched);
        spin();
        QCOMPARE(waiter->bufferedCallbackURL().value_or(QUrl()).toString(), delivered);

        // Without a waiter a callback still matches and is dropped.
        auto bare = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:1")));
        QCOMPARE(bare->handleCallbackURLs(list), matched);
    }

    void loopbackServerReceivesTheRedirect()
    {
        LoopbackOAuthRedirectServer server(QStringLiteral("/oauth/callback"));
        QVERIFY(server.start());
        QVERIFY(server.port() != 0);
        auto wait = startWaiting<QUrl>([&server] { return server.waitForCallback(); });

        QNetworkAccessManager manager;
        QUrl other = server.redirectURL();
        other.setPath(QStringLiteral("/favicon.ico"));
        std::unique_ptr<QNetworkReply> miss(manager.get(QNetworkRequest(other)));
        QVERIFY(FakeBackend::waitUntil([&] { return miss->isFinished(); }));
        QCOMPARE(miss->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
        QVERIFY(server.isListening());

        QUrl redirect = server.redirectURL();
        redirect.setQuery(QStringLiteral("code=abc%2Fdef&state=xyz"));
        std::unique_ptr<QNetworkReply> hit(manager.get(QNetworkRequest(redirect)));
        QVERIFY(FakeBackend::waitUntil([&] { return wait.isFinished() && hit->isFinished(); }));
        QCOMPARE(hit->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        const auto result = resultOf(wait);
        QCOMPARE(result.value->toString(QUrl::FullyEncoded), redirect.toString(QUrl::FullyEncoded));
        QVERIFY(!server.isListening());
    }

    void loopbackServerListensOnLoopbackOnly()
    {
        LoopbackOAuthRedirectServer server(QStringLiteral("/cb"));
        QVERIFY(server.start());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(socket.waitForConnected(2000));
        QCOMPARE(socket.peerAddress(), QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(server.redirectURL().host(), QStringLiteral("127.0.0.1"));
    }

    void loopbackServerKeepsTheLastOutcome()
    {
        LoopbackOAuthRedirectServer server(QStringLiteral("/cb"));
        QVERIFY(server.start());
        server.finishCallback(QUrl(QStringLiteral("http://127.0.0.1/cb?code=1")));
        QVERIFY(!server.isListening());
        server.finishCallback(QUrl(QStringLiteral("http://127.0.0.1/cb?code=2")));
        QCOMPARE(server.bufferedCallbackURL()->query(), QStringLiteral("code=2"));
        QCOMPARE(runTask(server.waitForCallback()).value->query(), QStringLiteral("code=2"));
    }

    void cancelPathEndsEveryReceiver()
    {
        auto service = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:1")));
        auto *server = new LoopbackOAuthRedirectServer(QStringLiteral("/cb"));
        QVERIFY(server->start());
        auto *waiter = new DesktopOAuthCallbackWaiter();
        auto *apple = new AppleAuthorizationSession(QStringLiteral("nonce"), QStringLiteral("state"));
        FakeAppleController controller;
        apple->setController(&controller);
        service->setActiveRedirectServer(server);
        service->setActiveDesktopCallbackWaiter(waiter);
        service->setActiveAppleAuthorizationSession(apple);
        auto serverWait = startWaiting<QUrl>([server] { return server->waitForCallback(); });
        auto waiterWait = startWaiting<QUrl>([waiter] { return waiter->waitForCallback(); });
        auto appleWait = startWaiting<AppleAuthorizationResult>([apple] { return apple->waitForResult(); });

        service->cancelActiveAuthentication();
        QVERIFY(!service->activeRedirectServer());
        QVERIFY(!service->activeDesktopCallbackWaiter());
        QVERIFY(!service->activeAppleAuthorizationSession());
        QVERIFY(FakeBackend::waitUntil([&] { return serverWait.isFinished() && waiterWait.isFinished() && appleWait.isFinished(); }));
        QVERIFY(resultOf(serverWait).isCancellation());
        QVERIFY(resultOf(waiterWait).isCancellation());
        QVERIFY(resultOf(appleWait).isCancellation());
        QCOMPARE(controller.cancelCount, 1);
    }

    void callersMayDeleteTheReceiverWhenTheirWaitEnds()
    {
        std::function<QCoro::Task<QUrl>(LoopbackOAuthRedirectServer *)> serverWait =
            [](LoopbackOAuthRedirectServer *server) { return server->waitForCallback(); };

        // A redirect delivered directly, and one that arrives from the browser.
        auto *direct = new LoopbackOAuthRedirectServer(QStringLiteral("/cb"));
        QVERIFY(direct->start());
        auto directWait = waitThenDelete<QUrl>(direct, serverWait);
        direct->finishCallback(QUrl(QStringLiteral("http://127.0.0.1/cb?code=1")));
        QCOMPARE(resultOf(directWait).value->query(), QStringLiteral("code=1"));

        auto *browserTarget = new LoopbackOAuthRedirectServer(QStringLiteral("/cb"));
        QVERIFY(browserTarget->start());
        auto browserWait = waitThenDelete<QUrl>(browserTarget, serverWait);
        QNetworkAccessManager manager;
        QUrl redirect = browserTarget->redirectURL();
        redirect.setQuery(QStringLiteral("code=2"));
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(redirect)));
        QVERIFY(FakeBackend::waitUntil([&] { return browserWait.isFinished(); }));
        QCOMPARE(resultOf(browserWait).value->query(), QStringLiteral("code=2"));

        // The cancel path.
        auto service = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:1")));
        auto *server = new LoopbackOAuthRedirectServer(QStringLiteral("/cb"));
        QVERIFY(server->start());
        auto *apple = new AppleAuthorizationSession(QStringLiteral("nonce"), QStringLiteral("state"));
        service->setActiveRedirectServer(server);
        service->setActiveAppleAuthorizationSession(apple);
        auto cancelledServerWait = waitThenDelete<QUrl>(server, serverWait);
        std::function<QCoro::Task<AppleAuthorizationResult>(AppleAuthorizationSession *)> appleWait =
            [](AppleAuthorizationSession *session) { return session->waitForResult(); };
        auto cancelledAppleWait = waitThenDelete<AppleAuthorizationResult>(apple, appleWait);
        service->cancelActiveAuthentication();
        QVERIFY(resultOf(cancelledServerWait).isCancellation());
        QVERIFY(resultOf(cancelledAppleWait).isCancellation());
        spin();
    }

    void secondWaiterJoinsTheFirst()
    {
        LoopbackOAuthRedirectServer server(QStringLiteral("/cb"));
        auto first = startWaiting<QUrl>([&server] { return server.waitForCallback(); });
        auto second = startWaiting<QUrl>([&server] { return server.waitForCallback(); });
        server.finishCallback(QUrl(QStringLiteral("http://127.0.0.1/cb?code=x")));
        QVERIFY(first.isFinished());
        QVERIFY(second.isFinished());
        QCOMPARE(resultOf(first).value->query(), QStringLiteral("code=x"));
        QCOMPARE(resultOf(second).value->query(), QStringLiteral("code=x"));

        DesktopOAuthCallbackWaiter waiter;
        auto one = startWaiting<QUrl>([&waiter] { return waiter.waitForCallback(); });
        auto two = startWaiting<QUrl>([&waiter] { return waiter.waitForCallback(); });
        waiter.cancel();
        QVERIFY(FakeBackend::waitUntil([&] { return one.isFinished() && two.isFinished(); }));
        QVERIFY(resultOf(one).isCancellation());
        QVERIFY(resultOf(two).isCancellation());
    }

    void appleOutcomes_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<QString>("expected"); // "ok", "cancel", "mismatch", "invalid", "passthrough"
        QTest::newRow("user closed the sheet") << 0 << "cancel";
        QTest::newRow("other controller error") << 1 << "passthrough";
        QTest::newRow("credential without state") << 2 << "mismatch";
        QTest::newRow("credential with another state") << 3 << "mismatch";
        QTest::newRow("not an Apple ID credential") << 4 << "invalid";
        QTest::newRow("no name, no e-mail") << 5 << "ok";
    }

    void appleOutcomes()
    {
        QFETCH(int, scenario);
        QFETCH(QString, expected);
        AppleAuthorizationSession session(QStringLiteral("nonce"), QStringLiteral("state-1"));
        auto wait = startWaiting<AppleAuthorizationResult>([&session] { return session.waitForResult(); });
        AppleIDCredential credential;
        credential.state = QStringLiteral("state-1");
        credential.identityToken = QByteArray("id-token");
        credential.authorizationCode = QByteArray("\xff\xfe"); // not UTF-8
        AppleAuthorization authorization;
        authorization.appleIDCredential = credential;
        switch (scenario) {
        case 0:
            session.didCompleteWithError(std::make_exception_ptr(
                AppleAuthorizationError(QString::fromLatin1(AppleAuthorizationError::authorizationErrorDomain), 1001, QStringLiteral("canceled"))));
            break;
        case 1:
            session.didCompleteWithError(std::make_exception_ptr(
                AppleAuthorizationError(QString::fromLatin1(AppleAuthorizationError::authorizationErrorDomain), 1000, QStringLiteral("unknown"))));
            break;
        case 2:
            authorization.appleIDCredential->state.reset();
            session.didCompleteWithAuthorization(authorization);
            break;
        case 3:
            authorization.appleIDCredential->state = QStringLiteral("state-2");
            session.didCompleteWithAuthorization(authorization);
            break;
        case 4:
            authorization.appleIDCredential.reset();
            session.didCompleteWithAuthorization(authorization);
            break;
        case 5:
            session.didCompleteWithAuthorization(authorization);
            break;
        }
        // Anything after the first outcome changes nothing.
        session.didCompleteWithError(std::make_exception_ptr(CancellationError()));
        QVERIFY(wait.isFinished());
        const auto result = resultOf(wait);
        if (expected == QLatin1String("ok")) {
            QCOMPARE(result.value->idToken, std::optional<QString>(QStringLiteral("id-token")));
            QVERIFY(!result.value->authorizationCode);
            QVERIFY(!result.value->firstName && !result.value->lastName && !result.value->email);
        } else if (expected == QLatin1String("cancel")) {
            QVERIFY(result.isCancellation());
        } else if (expected == QLatin1String("mismatch")) {
            QCOMPARE(result.errorAs<AuthServiceError>()->errorCase(), AuthServiceError::Case::callbackStateMismatch);
        } else if (expected == QLatin1String("invalid")) {
            QCOMPARE(result.errorAs<AuthServiceError>()->errorCase(), AuthServiceError::Case::invalidResponse);
        } else {
            QCOMPARE(result.errorAs<AppleAuthorizationError>()->code(), 1000);
        }
    }
};

QTEST_GUILESS_MAIN(tst_ProviderSignInCompletion)
#include "tst_ProviderSignInCompletion.moc"
