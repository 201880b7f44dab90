// What the user sees after a launch with the desktop's tray: the first run (nobody signed in)
// keeps the main window with the sign-in screen, a signed-in user starts in the tray, and any
// kavrel:// link handed to the launch leaves the main window shown. And a window the user
// minimized comes back by every way in (the tray's entries, a link, a start of the program
// again): mapped, no longer minimized, active. Run on the real X server with its window
// manager and XEmbed tray host, as the program is.

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "app/KavrelAppDelegate.h"
#include "app/KavrelNotifications.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelTrayItem.h"
#include "localization/KavrelLocalizationStore.h"
#include "support/TestProgramObjects.h"
#include "support/X11TestWindows.h"

#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QWindow>

namespace {

// Whether the X server shows the window, as another client sees it.
bool viewableOnTheServer(const QWidget *window)
{
    return X11TestWindows::isViewable(quint32(window->winId()));
}

QAction *trayEntry(KavrelTrayItem &tray, const QString &text)
{
    tray.rebuildMenu();
    for (QAction *action : tray.menu()->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

class tst_KavrelLaunch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mainWindowAfterLaunch_data();
    void mainWindowAfterLaunch();
    void minimizedWindowComesBackEveryWayIn_data();
    void minimizedWindowComesBackEveryWayIn();
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

void tst_KavrelLaunch::minimizedWindowComesBackEveryWayIn_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("wayIn");

    QTest::newRow("main window, the tray's Show") << "kavrel-main" << "Show КАВРЕЛ";
    QTest::newRow("main window, a link") << "kavrel-main" << "kavrel://open";
    QTest::newRow("main window, started again") << "kavrel-main" << "reopen";
    QTest::newRow("settings, the tray's Settings...") << "kavrel-settings" << "Settings...";
}

void tst_KavrelLaunch::minimizedWindowComesBackEveryWayIn()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_TRAY"))
        QSKIP("no window manager and tray host: run under scripts/test, which starts them");
    QFETCH(QString, window);
    QFETCH(QString, wayIn);

    TestProgramObjects objects(true, &KavrelTrayItem::isAvailable);
    auto app = std::make_unique<KavrelApp>(objects.dependencies());
    KavrelTrayItem tray(objects.session, *objects.authStore, *objects.presentation, *objects.starter, *objects.defaults,
                        *objects.updates, app->windowOpener());
    KavrelAppDelegate delegate(objects.authService.get(), KavrelNotifications::defaultCenter(),
                               [&app] { return app->hasVisibleWindows(); }, [&app] { app->activate(); });
    app->launch(tray);
    QTRY_VERIFY(!objects.authStore->isRestoringSession());

    app->openWindow(window);
    QPointer<QWidget> target = app->window(window);
    QVERIFY(target);
    QVERIFY(QTest::qWaitForWindowActive(target));
    // Minimized: the window manager iconifies and unmaps it, as for its title bar's button.
    target->showMinimized();
    QTRY_VERIFY(target->isMinimized());
    QTRY_VERIFY(!viewableOnTheServer(target));

    if (wayIn == QLatin1String("reopen")) {
        delegate.handleReopen();
    } else if (wayIn.startsWith(QLatin1String("kavrel:"))) {
        delegate.openURLs({QUrl(wayIn)});
    } else {
        QAction *entry = trayEntry(tray, wayIn);
        QVERIFY(entry);
        entry->trigger();
    }

    QTRY_VERIFY(target && !target->isMinimized());
    QTRY_VERIFY(viewableOnTheServer(target));
    QVERIFY(QTest::qWaitForWindowActive(target));
    QVERIFY(QTest::qWaitForWindowExposed(target));
    QCOMPARE(app->window(window), target.data());
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
