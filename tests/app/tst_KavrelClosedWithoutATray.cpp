// Where no tray shows the program, its own windows carry what the tray item would. On an X
// server of the test's own with a window manager and no tray program (nor a StatusNotifier
// watcher on the bus), the program finding no tray as it does at its start: the main window
// closed by the window manager while listening gives way to the mini window and the meeting goes
// on; the last window closed while idle ends the program; Ctrl+Q in any window and the account
// menu's Quit end it too; the main window minimized while listening comes back when the mini
// window goes. With a tray (one the program is told is there), a closed main window leaves the
// program to it, and a minimized one stays so.

#include "ProgramOverTheSession.h"

#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelTrayItem.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "localization/KavrelLocalizationStore.h"
#include "screens/widgets/KavrelSidebarView.h"
#include "signin/widgets/KavrelRootView.h"
#include "support/TestProgramObjects.h"
#include "support/X11PrivateDisplay.h"
#include "support/X11TestInput.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTest>

namespace {

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// As the user closes it: Alt+F4 to the window manager, or its close request elsewhere.
void closeAsTheUserDoes(QWidget *window)
{
    if (!onX11()) {
        window->close();
        return;
    }
    QVERIFY(QTest::qWaitForWindowActive(window));
    QVERIFY(X11TestInput::keys({QStringLiteral("alt+F4")}));
}

void pressCtrlQ(QWidget *window)
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    if (onX11())
        QVERIFY(X11TestInput::keys({QStringLiteral("ctrl+q")}));
    else
        QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
}

bool anyProgramWindowShown()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (KavrelMiniWindowCoordinator::isProgramWindow(widget) && widget->isVisible())
            return true;
    }
    return false;
}

// Without a tray the program asks the desktop, as it does at its start; the test's own X server
// has none to show.
std::function<bool()> trayAvailability(bool tray)
{
    if (!tray)
        return &KavrelTrayItem::isAvailable;
    return [] { return true; };
}

struct Program
{
    Program(bool tray, bool signedIn = false)
        : objects(signedIn, trayAvailability(tray))
    {
        objects.defaults->setInteger(QString::fromLatin1(KavrelRootView::onboardingVersionKey), 1);
        KavrelApp::Dependencies dependencies = objects.dependencies();
        dependencies.quit = [this] { ++quits; };
        app = std::make_unique<KavrelApp>(std::move(dependencies));
    }

    QWidget *window(const char *identifier) const { return app->window(QString::fromLatin1(identifier)); }

    TestProgramObjects objects;
    std::unique_ptr<KavrelApp> app;
    int quits = 0;
};

} // namespace

class tst_KavrelClosedWithoutATray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void closingTheMainWindow_data();
    void closingTheMainWindow();
    void quitFromTheWindows_data();
    void quitFromTheWindows();
    void minimizedWhileListening_data();
    void minimizedWhileListening();
};

void tst_KavrelClosedWithoutATray::initTestCase()
{
    if (!X11PrivateDisplay::unavailable().isEmpty())
        qWarning("no X server of the test's own, the windows are offscreen: %s", qPrintable(X11PrivateDisplay::unavailable()));
    // What the rows without a tray stand on: nothing on the desktop shows tray items.
    QVERIFY2(!KavrelTrayItem::isAvailable(), "a system tray or a StatusNotifier watcher is there");
}

void tst_KavrelClosedWithoutATray::closingTheMainWindow_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("settingsOpen");
    // After the close, while listening: the meeting ends, or the mini window's "Expand" is pressed.
    QTest::addColumn<QString>("then");
    QTest::newRow("no tray, listening, the meeting ends") << false << true << false << "meeting ends";
    QTest::newRow("no tray, listening, expanded") << false << true << false << "expand";
    QTest::newRow("no tray, idle") << false << false << false << "";
    QTest::newRow("no tray, idle, the settings open") << false << false << true << "";
    QTest::newRow("tray, listening") << true << true << false << "";
    QTest::newRow("tray, idle") << true << false << false << "";
}

void tst_KavrelClosedWithoutATray::closingTheMainWindow()
{
    QFETCH(bool, tray);
    QFETCH(bool, listening);
    QFETCH(bool, settingsOpen);
    QFETCH(QString, then);

    Program program(tray);
    FakeSessionSurface &session = program.objects.session;
    program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    QPointer<QWidget> mainWindow = program.window(KavrelApp::mainWindowIdentifier);
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
    QPointer<QWidget> settings;
    if (settingsOpen) {
        program.app->openWindow(QString::fromLatin1(KavrelApp::settingsWindowIdentifier));
        settings = program.window(KavrelApp::settingsWindowIdentifier);
        QVERIFY(QTest::qWaitForWindowExposed(settings));
        program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    }
    session.update([listening](FakeSessionSurface::State &state) { state.hasActiveSession = listening; });
    QTest::qWait(300);
    QVERIFY(!program.window(KavrelApp::miniWindowIdentifier) || !program.window(KavrelApp::miniWindowIdentifier)->isVisible());

    closeAsTheUserDoes(mainWindow);
    if (QTest::currentTestFailed())
        return;

    if (!tray && listening) {
        // The mini window stands in; the meeting goes on in sight, and nothing quits.
        QPointer<QWidget> mini;
        QTRY_VERIFY((mini = program.window(KavrelApp::miniWindowIdentifier)) && mini->isVisible());
        QVERIFY(mainWindow && !mainWindow->isVisible());
        QTest::qWait(600); // the coordinator's ticks keep it
        QVERIFY(mini && mini->isVisible());
        QVERIFY(session.hasActiveSession());
        QCOMPARE(program.quits, 0);
        if (then == QLatin1String("expand")) {
            static_cast<KavrelListeningMiniWindow *>(mini.data())->view()->expandButton()->click();
        } else {
            session.update([](FakeSessionSurface::State &state) { state.hasActiveSession = false; });
        }
        // The same main window comes back, and the mini window goes.
        QTRY_VERIFY(mainWindow && mainWindow->isVisible() && !mainWindow->isMinimized());
        QTRY_VERIFY(!mini || !mini->isVisible());
        QCOMPARE(program.app->window(QString::fromLatin1(KavrelApp::mainWindowIdentifier)), mainWindow.data());
        QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
        QTest::qWait(600);
        QVERIFY(mainWindow->isVisible());
        QCOMPARE(program.quits, 0);
        return;
    }

    QTRY_VERIFY(!mainWindow);
    QTest::qWait(300);
    QVERIFY(!program.window(KavrelApp::miniWindowIdentifier) || !program.window(KavrelApp::miniWindowIdentifier)->isVisible());
    if (tray) {
        // The tray item stays, and the program with it.
        QVERIFY(!anyProgramWindowShown());
        QCOMPARE(program.quits, 0);
        return;
    }
    if (settingsOpen) {
        // Not the last window yet.
        QVERIFY(settings && settings->isVisible());
        QCOMPARE(program.quits, 0);
        closeAsTheUserDoes(settings);
        QTRY_VERIFY(!settings);
    }
    QTRY_COMPARE(program.quits, 1);
    QVERIFY(!anyProgramWindowShown());
}

void tst_KavrelClosedWithoutATray::quitFromTheWindows_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("way");
    QTest::newRow("Ctrl+Q in the main window") << false << "kavrel-main" << "Ctrl+Q";
    QTest::newRow("Ctrl+Q in the settings window") << false << "kavrel-settings" << "Ctrl+Q";
    QTest::newRow("Ctrl+Q in the mini window") << false << "kavrel-listening-mini" << "Ctrl+Q";
    QTest::newRow("Ctrl+Q with a tray") << true << "kavrel-main" << "Ctrl+Q";
    QTest::newRow("the account menu") << false << "kavrel-main" << "menu";
    QTest::newRow("the account menu with a tray") << true << "kavrel-main" << "menu";
}

void tst_KavrelClosedWithoutATray::quitFromTheWindows()
{
    QFETCH(bool, tray);
    QFETCH(QString, window);
    QFETCH(QString, way);

    if (way == QLatin1String("Ctrl+Q")) {
        Program program(tray);
        program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
        program.app->openWindow(window);
        QWidget *target = program.app->window(window);
        QVERIFY(QTest::qWaitForWindowExposed(target));
        pressCtrlQ(target);
        QTRY_COMPARE(program.quits, 1);
        return;
    }
    // The account menu of the signed-in workspace.
    AppTest::ProgramOverTheSession program(true, trayAvailability(tray));
    program.app->openWindow(window);
    QWidget *target = program.mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(target));
    KavrelSidebarView *sidebar = nullptr;
    QTRY_VERIFY((sidebar = target->findChild<KavrelSidebarView *>()) && sidebar->accountPanel()->isVisible());
    sidebar->showAccountMenu(sidebar->accountPanel()->mapToGlobal(QPoint(10, 10)));
    QTRY_VERIFY(sidebar->findChild<QAction *>(QStringLiteral("signOutAction")));
    QAction *quit = sidebar->findChild<QAction *>(QStringLiteral("quitAction"));
    // With a tray its menu holds Quit, as before.
    QCOMPARE(quit != nullptr, !tray);
    if (quit) {
        QCOMPARE(quit->text(), KavrelLocalizationStore::shared().localized(QStringLiteral("Quit КАВРЕЛ completely")));
        quit->trigger();
    }
    if (auto *menu = sidebar->findChild<QMenu *>())
        menu->close();
    QCOMPARE(program.quitRequests, tray ? 0 : 1);
}

void tst_KavrelClosedWithoutATray::minimizedWhileListening_data()
{
    QTest::addColumn<bool>("tray");
    // How the mini window goes: the meeting ends, or its "Expand" is pressed.
    QTest::addColumn<QString>("then");
    QTest::newRow("no tray, the meeting ends") << false << "meeting ends";
    QTest::newRow("no tray, expanded") << false << "expand";
    QTest::newRow("tray, the meeting ends") << true << "meeting ends";
}

void tst_KavrelClosedWithoutATray::minimizedWhileListening()
{
    QFETCH(bool, tray);
    QFETCH(QString, then);
    if (!onX11())
        QSKIP("minimizing needs a window manager");

    Program program(tray);
    FakeSessionSurface &session = program.objects.session;
    program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    QPointer<QWidget> mainWindow = program.window(KavrelApp::mainWindowIdentifier);
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
    session.update([](FakeSessionSurface::State &state) { state.hasActiveSession = true; });
    mainWindow->showMinimized();

    // The mini window stands in while the meeting goes on.
    QPointer<QWidget> mini;
    QTRY_VERIFY((mini = program.window(KavrelApp::miniWindowIdentifier)) && mini->isVisible());
    QTRY_VERIFY(mainWindow->isMinimized());
    if (then == QLatin1String("expand"))
        static_cast<KavrelListeningMiniWindow *>(mini.data())->view()->expandButton()->click();
    else
        session.update([](FakeSessionSurface::State &state) { state.hasActiveSession = false; });
    QTRY_VERIFY(!mini || !mini->isVisible());

    if (tray) {
        // The tray shows the program: the window stays where the user put it.
        QTest::qWait(600);
        QVERIFY(mainWindow->isMinimized());
        return;
    }
    // Nothing else would show the program, nor let it be quit: the main window is back.
    QTRY_VERIFY(mainWindow && mainWindow->isVisible() && !mainWindow->isMinimized());
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
    QTest::qWait(600); // the coordinator's ticks keep it
    QVERIFY(!mainWindow->isMinimized());
    QVERIFY(!mini || !mini->isVisible());
    QCOMPARE(program.quits, 0);
}

KAVREL_X11_PRIVATE_DISPLAY_TEST_MAIN(tst_KavrelClosedWithoutATray, 1600, 1000)

#include "tst_KavrelClosedWithoutATray.moc"
