#include "accounts/AuthService.h"
#include "accounts/DesktopOAuthCallbackWaiter.h"
#include "app/KavrelAppDelegate.h"
#include "app/KavrelNotifications.h"

#include "support/TestAuth.h"

#include <QSignalSpy>
#include <QTest>

// Callback URLs from the browser and reopen requests, as the running program receives them.
class tst_KavrelAppDelegate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void routesTheFirstCallbackURL_data();
    void routesTheFirstCallbackURL();
    void callbackWithoutWaitingSignInStillRaisesTheProgram();
    void reopenAsksForTheMainWindowOnlyWithoutVisibleWindows();
};

void tst_KavrelAppDelegate::routesTheFirstCallbackURL_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QString>("handedToSignIn"); // empty: nobody gets a URL
    QTest::addColumn<bool>("raised");

    QTest::newRow("callback") << QStringList{"kavrel://auth/callback?code=abc&state=s1"}
                              << "kavrel://auth/callback?code=abc&state=s1" << true;
    QTest::newRow("scheme and host in capitals")
        << QStringList{"KAVREL://AUTH/callback?code=1"} << "kavrel://auth/callback?code=1" << true;
    // Any other link of the program's scheme shows the program but reaches no sign-in.
    QTest::newRow("path with a capital letter") << QStringList{"kavrel://auth/Callback?code=1"} << "" << true;
    QTest::newRow("trailing slash") << QStringList{"kavrel://auth/callback/?code=1"} << "" << true;
    QTest::newRow("other host") << QStringList{"kavrel://login/callback?code=1"} << "" << true;
    QTest::newRow("no host") << QStringList{"kavrel:/callback"} << "" << true;
    QTest::newRow("open") << QStringList{"kavrel://open"} << "" << true;
    QTest::newRow("open, in capitals") << QStringList{"KAVREL://OPEN"} << "" << true;
    QTest::newRow("other scheme") << QStringList{"https://auth/callback?code=1"} << "" << false;
    QTest::newRow("other schemes only") << QStringList{"https://example.com/", "file:///tmp/kavrel"} << "" << false;
    QTest::newRow("empty list") << QStringList{} << "" << false;
    QTest::newRow("unrelated, then a match with its query")
        << QStringList{"https://example.com/x", "kavrel://auth/callback?code=second"}
        << "kavrel://auth/callback?code=second" << true;
    QTest::newRow("only the first match is routed")
        << QStringList{"kavrel://auth/callback?code=first", "kavrel://auth/callback?code=second"}
        << "kavrel://auth/callback?code=first" << true;
    QTest::newRow("microsoft completion raises but hands nothing on")
        << QStringList{"kavrel://auth/microsoft/complete?x=1"} << "" << true;
    QTest::newRow("microsoft completion first ends the scan")
        << QStringList{"kavrel://auth/microsoft/complete", "kavrel://auth/callback?code=late"} << "" << true;
}

void tst_KavrelAppDelegate::routesTheFirstCallbackURL()
{
    QFETCH(QStringList, urls);
    QFETCH(QString, handedToSignIn);
    QFETCH(bool, raised);

    auto auth = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:9")));
    auto *waiter = new DesktopOAuthCallbackWaiter();
    auth->setActiveDesktopCallbackWaiter(waiter);
    KavrelNotifications &center = KavrelNotifications::defaultCenter();
    QSignalSpy posted(&center, &KavrelNotifications::posted);
    int activations = 0;
    KavrelAppDelegate delegate(auth.get(), center, [] { return false; }, [&activations] { ++activations; });

    QList<QUrl> list;
    for (const QString &url : urls)
        list.append(QUrl(url));
    delegate.openURLs(list);
    QCoreApplication::processEvents();

    const std::optional<QUrl> received = waiter->bufferedCallbackURL();
    if (handedToSignIn.isEmpty()) {
        QVERIFY(!received.has_value());
    } else {
        QVERIFY(received.has_value());
        QCOMPARE(received->scheme().toLower(), QStringLiteral("kavrel"));
        QCOMPARE(received->query(), QUrl(handedToSignIn).query());
    }
    QCOMPARE(activations, raised ? 1 : 0);
    QCOMPARE(posted.count(), raised ? 1 : 0);
    if (raised)
        QCOMPARE(posted.first().first().toString(), KavrelNotifications::openMainWindow);
}

void tst_KavrelAppDelegate::callbackWithoutWaitingSignInStillRaisesTheProgram()
{
    auto auth = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:9")));
    QVERIFY(!auth->activeDesktopCallbackWaiter());
    KavrelNotifications &center = KavrelNotifications::defaultCenter();
    QSignalSpy posted(&center, &KavrelNotifications::posted);
    int activations = 0;
    KavrelAppDelegate delegate(auth.get(), center, [] { return true; }, [&activations] { ++activations; });

    delegate.openURLs({QUrl(QStringLiteral("kavrel://auth/callback?code=abc"))});
    QCOMPARE(posted.count(), 1);
    QCOMPARE(activations, 1);

    // And with the service gone the URL is simply dropped.
    auth.reset();
    delegate.openURLs({QUrl(QStringLiteral("kavrel://auth/callback?code=abc"))});
    QCOMPARE(posted.count(), 2);
}

void tst_KavrelAppDelegate::reopenAsksForTheMainWindowOnlyWithoutVisibleWindows()
{
    KavrelNotifications &center = KavrelNotifications::defaultCenter();
    QSignalSpy posted(&center, &KavrelNotifications::posted);
    bool visible = true;
    int activations = 0;
    KavrelAppDelegate delegate(nullptr, center, [&visible] { return visible; }, [&activations] { ++activations; });

    delegate.handleReopen();
    QCOMPARE(posted.count(), 0);
    QCOMPARE(activations, 1);

    visible = false;
    delegate.handleReopen();
    QCOMPARE(posted.count(), 1);
    QCOMPARE(posted.first().first().toString(), KavrelNotifications::openMainWindow);
}

QTEST_GUILESS_MAIN(tst_KavrelAppDelegate)
#include "tst_KavrelAppDelegate.moc"
