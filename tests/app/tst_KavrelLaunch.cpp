// What the user sees after a launch with the desktop's tray: the first run (nobody signed in)
// keeps the main window with the sign-in screen, a signed-in user starts in the tray, and any
// kavrel:// link handed to the launch leaves the main window shown. Run on the real X
// server with its XEmbed tray host, as the program is.

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "app/KavrelAppDelegate.h"
#include "app/KavrelNotifications.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelTrayItem.h"
#include "localization/KavrelLocalizationStore.h"
#include "support/TestProgramObjects.h"

#include <QApplication>
#include <QTest>

class tst_KavrelLaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mainWindowAfterLaunch_data();
    void mainWindowAfterLaunch();
};

void tst_KavrelLaunch::mainWindowAfterLaunch_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<bool>("windowShown");

    QTest::newRow("signed in: the tray only") << true << QStringList{} << false;
    QTest::newRow("first run: the sign-in window") << false << QStringList{} << true;
    QTest::newRow("signed in, cold start by a link") << true << QStringList{"kavrel://auth/callback?code=1"} << true;
    QTest::newRow("first run by a link") << false << QStringList{"kavrel://auth/microsoft/complete"} << true;
    QTest::newRow("signed in, cold start by any other link") << true << QStringList{"kavrel://open"} << true;
    QTest::newRow("an unrelated link changes nothing") << true << QStringList{"https://example.com/"} << false;
}

void tst_KavrelLaunch::mainWindowAfterLaunch()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no tray host: run under scripts/test, which starts one");
    QFETCH(bool, signedIn);
    QFETCH(QStringList, links);
    QFETCH(bool, windowShown);

    TestProgramObjects objects(signedIn, &KavrelTrayItem::isAvailable);
    AuthSessionStore &authStore = *objects.authStore;
    auto app = std::make_unique<KavrelApp>(objects.dependencies());
    KavrelTrayItem tray(objects.session, authStore, *objects.presentation, *objects.starter, *objects.defaults,
                        *objects.updates, app->windowOpener());
    KavrelAppDelegate delegate(objects.authService.get(), KavrelNotifications::defaultCenter(),
                               [&app] { return app->hasVisibleWindows(); }, [&app] { app->activate(); });

    // As main() does: the launch, then the links the program was started with.
    app->launch(tray);
    QList<QUrl> urls;
    for (const QString &link : std::as_const(links))
        urls.append(QUrl(link));
    delegate.openURLs(urls);

    QTRY_VERIFY(!authStore.isRestoringSession());
    QTest::qWait(150);
    QWidget *mainWindow = app->window(QStringLiteral("kavrel-main"));
    QCOMPARE(mainWindow && mainWindow->isVisible(), windowShown);
    QCOMPARE(app->hasVisibleWindows(), windowShown);
    QVERIFY(tray.trayIcon().isVisible());
    // It stays that way.
    QTest::qWait(150);
    mainWindow = app->window(QStringLiteral("kavrel-main"));
    QCOMPARE(mainWindow && mainWindow->isVisible(), windowShown);

    // A launcher's reopen brings the window of a tray-only start.
    if (!windowShown) {
        delegate.handleReopen();
        QTRY_VERIFY(app->window(QStringLiteral("kavrel-main")) && app->window(QStringLiteral("kavrel-main"))->isVisible());
    }
    tray.trayIcon().hide();
    app.reset();
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("KAVREL_TEST_TRAY") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    tst_KavrelLaunch test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_KavrelLaunch.moc"
