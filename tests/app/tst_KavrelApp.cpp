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
#include "support/TestProgramObjects.h"

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
    TestProgramObjects objects(false, &KavrelTrayItem::isAvailable);
    KavrelMiniWindowCoordinator &windows = objects.windows;
    KavrelApp::Dependencies dependencies = objects.dependencies();
    KavrelApp app(dependencies);
    KavrelTrayItem tray(objects.session, *objects.authStore, *objects.presentation, *objects.starter, *objects.defaults,
                        *objects.updates, app.windowOpener());
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
