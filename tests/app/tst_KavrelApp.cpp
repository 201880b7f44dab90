// The program's windows by identifier, and what the user sees at launch without a tray.

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "services/KavrelUpdateController.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "app/widgets/KavrelTrayItem.h"
#include "platform/ApplicationInfo.h"
#include "platform/PulseAudioContext.h"
#include "platform/UserDefaults.h"
#include "support/FakeBackend.h"
#include "support/FakeSessionSurface.h"
#include "support/TestAuth.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

class tst_KavrelApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowsOpenByIdentifierAndWithoutATrayTheMainWindowStays();
};

void tst_KavrelApp::windowsOpenByIdentifierAndWithoutATrayTheMainWindowStays()
{
    QVERIFY(!KavrelTrayItem::isAvailable());
    FakeBackend backend;
    QVERIFY(backend.start());
    auto service = TestAuth::signedInService(backend.baseUrl(), std::nullopt);
    AuthSessionStore authStore(service.get());
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    FakeSessionSurface session;
    KavrelMiniWindowCoordinator windows([] { return std::optional<X11WindowListSnapshot>(); });
    KavrelPresentationStore presentation(windows, &KavrelTrayItem::isAvailable);
    KavrelListeningStarter starter(&authStore, &session);
    KavrelUpdateController updates([](QObject *parent) { return new KavrelUpdater(std::nullopt, QStringLiteral("1.0"), parent); });

    KavrelApp::Dependencies dependencies;
    dependencies.defaults = &defaults;
    dependencies.authService = service.get();
    dependencies.authStore = &authStore;
    dependencies.session = &session;
    dependencies.starter = &starter;
    dependencies.presentation = &presentation;
    dependencies.miniWindows = &windows;
    dependencies.updates = &updates;
    dependencies.audioServer = PulseAudioContext::shared();
    KavrelApp app(dependencies);
    KavrelTrayItem tray(session, authStore, presentation, starter, defaults, updates, app.windowOpener());
    QVERIFY(!app.hasVisibleWindows());

    // No tray to come back from: the main window stays after launch.
    app.launch(tray);
    QTest::qWait(20);
    QWidget *mainWindow = app.window(QStringLiteral("kavrel-main"));
    QVERIFY(mainWindow);
    QVERIFY(mainWindow->isVisible());
    QCOMPARE(mainWindow->windowTitle(), ApplicationInfo::displayName());
    QCOMPARE(windows.mainWindow(), mainWindow);
    QVERIFY(app.hasVisibleWindows());

    // An open window is brought forward, not made twice; a closed one comes back afresh.
    app.openWindow(QStringLiteral("kavrel-settings"));
    QPointer<QWidget> settings = app.window(QStringLiteral("kavrel-settings"));
    QVERIFY(settings && settings->isVisible());
    QCOMPARE(settings->objectName(), QStringLiteral("kavrel-settings"));
    app.openWindow(QStringLiteral("kavrel-settings"));
    QCOMPARE(app.window(QStringLiteral("kavrel-settings")), settings.data());
    settings->close();
    QTRY_VERIFY(!settings);
    app.openWindow(QStringLiteral("kavrel-settings"));
    QVERIFY(app.window(QStringLiteral("kavrel-settings")));

    app.openWindow(QStringLiteral("kavrel-listening-mini"));
    QWidget *mini = app.window(QStringLiteral("kavrel-listening-mini"));
    QVERIFY(mini && mini->isVisible());
    QVERIFY(windows.isMiniWindow(mini));

    // Closing every window leaves nothing on screen, and the main window comes back anew.
    QPointer<QWidget> closedMain = mainWindow;
    for (const char *identifier : {"kavrel-settings", "kavrel-listening-mini", "kavrel-main"})
        app.window(QString::fromLatin1(identifier))->close();
    QTRY_VERIFY(!closedMain);
    QVERIFY(!app.hasVisibleWindows());
    app.openWindow(QStringLiteral("kavrel-main"));
    QVERIFY(app.window(QStringLiteral("kavrel-main"))->isVisible());

    app.openWindow(QStringLiteral("no-such-window"));
    QVERIFY(!app.window(QStringLiteral("no-such-window")));
}

QTEST_MAIN(tst_KavrelApp)
#include "tst_KavrelApp.moc"
