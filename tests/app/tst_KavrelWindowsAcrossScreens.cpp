// The program's windows on two monitors of one X screen (3200 × 1000, split with xrandr into
// LEFT and RIGHT, as a laptop with an external monitor has them), on an X server of the test's
// own with openbox: the monitors change under it, which no other test may see. A window on a
// monitor that goes away or shrinks comes back wholly onto a remaining one by itself; one left
// off the screens comes back when the user asks for the program; the main window comes back from
// the mini window where the user left it; a tap on the mini window is not a move; and a
// full-screen or maximized window keeps that state when its monitor goes.

#include "ProgramOnTwoMonitors.h"

#include "app/KavrelWindowListReader.h"
#include "app/widgets/KavrelBackgroundCoordinator.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "support/TestChildProcess.h"
#include "support/X11PrivateDisplay.h"
#include "support/X11TestInput.h"

#include <QApplication>
#include <QScopeGuard>
#include <QWindow>

using namespace std::chrono_literals;
using namespace AppTest;

class tst_KavrelWindowsAcrossScreens : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void windowComesBackWhenItsScreenGoes_data();
    void windowComesBackWhenItsScreenGoes();
    void windowLeftOffTheScreensComesBackWhenAskedFor_data();
    void windowLeftOffTheScreensComesBackWhenAskedFor();
    void mainWindowComesBackFromTheMiniWindowWhereItWasLeft_data();
    void mainWindowComesBackFromTheMiniWindowWhereItWasLeft();
    void miniWindowMovesOnlyWhenDragged_data();
    void miniWindowMovesOnlyWhenDragged();
    void fullScreenOrMaximizedWindowKeepsItsStateWhenItsMonitorGoes_data();
    void fullScreenOrMaximizedWindowKeepsItsStateWhenItsMonitorGoes();
};

void tst_KavrelWindowsAcrossScreens::initTestCase()
{
    if (!X11PrivateDisplay::unavailable().isEmpty())
        QSKIP(qPrintable(QStringLiteral("no X server of the test's own: ") + X11PrivateDisplay::unavailable()));
    QVERIFY(takeLeftMonitor());
}

void tst_KavrelWindowsAcrossScreens::init()
{
    QVERIFY(showBothMonitors());
}

void tst_KavrelWindowsAcrossScreens::windowComesBackWhenItsScreenGoes_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QRect>("rightBecomes"); // empty: it goes

    QTest::newRow("the main window, its monitor unplugged") << mainIdentifier << QRect();
    QTest::newRow("the settings, its monitor unplugged") << settingsIdentifier << QRect();
    QTest::newRow("the mini window, its monitor unplugged") << miniIdentifier << QRect();
    QTest::newRow("the main window, its monitor made smaller") << mainIdentifier << QRect(1600, 0, 1024, 700);
    QTest::newRow("the mini window, its monitor made smaller") << miniIdentifier << QRect(1600, 0, 800, 600);
}

void tst_KavrelWindowsAcrossScreens::windowComesBackWhenItsScreenGoes()
{
    QFETCH(QString, identifier);
    QFETCH(QRect, rightBecomes);
    Program program;
    // The mini window opens on the monitor under the pointer; the others the user takes there.
    QVERIFY(X11TestInput::movePointer(rightMonitor.center()));
    QWidget *window = program.open(identifier);
    QVERIFY(window);
    if (identifier != miniIdentifier)
        QVERIFY(moveByWindowManager(window, rightMonitor.topLeft() + QPoint(200, 60)));
    QTRY_VERIFY2(window->screen() == screenNamed(QStringLiteral("RIGHT"))
                     && screenNamed(QStringLiteral("RIGHT"))->availableGeometry().contains(window->frameGeometry()),
                 qPrintable(describe(window)));
    // Far enough in that the window manager alone would leave most of it where nothing shows it.
    QVERIFY(window->frameGeometry().left() > rightMonitor.left() + 100);

    if (rightBecomes.isEmpty()) {
        QVERIFY(removeRightMonitor());
        QTRY_VERIFY(screensAre({leftMonitor}));
    } else {
        QVERIFY(setRightMonitor(rightBecomes));
        QTRY_VERIFY(screensAre({leftMonitor, rightBecomes}));
    }
    QTRY_VERIFY2_WITH_TIMEOUT(isWhollyOnAScreen(window), qPrintable(describe(window)), 3000);
    // Nothing takes it back off afterwards.
    QTest::qWait(500);
    QVERIFY2(isWhollyOnAScreen(window), qPrintable(describe(window)));
    QVERIFY(window->isVisible());
}

void tst_KavrelWindowsAcrossScreens::windowLeftOffTheScreensComesBackWhenAskedFor_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("request");

    QTest::newRow("the main window, the tray's Show") << mainIdentifier << QStringLiteral("Show КАВРЕЛ");
    QTest::newRow("the main window, a link") << mainIdentifier << QStringLiteral("kavrel://open");
    QTest::newRow("the main window, started again") << mainIdentifier << QStringLiteral("reopen");
    QTest::newRow("the mini window, started again") << miniIdentifier << QStringLiteral("reopen");
}

// The window manager keeps a little of a window on the monitors, as openbox does when one goes
// away; the rest of it, with its controls, is where nothing shows it.
void tst_KavrelWindowsAcrossScreens::windowLeftOffTheScreensComesBackWhenAskedFor()
{
    QFETCH(QString, identifier);
    QFETCH(QString, request);
    QVERIFY(removeRightMonitor());
    QTRY_VERIFY(screensAre({leftMonitor}));
    Program program;
    QWidget *window = program.open(identifier);
    QVERIFY(window);
    QTRY_VERIFY2(isWhollyOnAScreen(window), qPrintable(describe(window)));
    QVERIFY(moveByWindowManager(window, QPoint(leftMonitor.right() - 100, 150)));
    QTRY_VERIFY2(window->frameGeometry().left() > leftMonitor.right() - 200, qPrintable(describe(window)));
    QTest::qWait(300);
    QVERIFY2(!isWhollyOnAScreen(window), qPrintable(describe(window)));

    if (request == QLatin1String("reopen"))
        program.delegate.handleReopen();
    else if (request.startsWith(QLatin1String("kavrel:")))
        program.delegate.openURLs({QUrl(request)});
    else
        QVERIFY(program.chooseInTray(request));
    QTRY_VERIFY2_WITH_TIMEOUT(isWhollyOnAScreen(window), qPrintable(describe(window)), 3000);
    QVERIFY(window->isVisible());
}

void tst_KavrelWindowsAcrossScreens::mainWindowComesBackFromTheMiniWindowWhereItWasLeft_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<bool>("monitorGoesMeanwhile");

    QTest::newRow("the meeting ends") << QStringLiteral("stop") << false;
    QTest::newRow("the tray's Show") << QStringLiteral("Show КАВРЕЛ") << false;
    QTest::newRow("its monitor unplugged meanwhile") << QStringLiteral("stop") << true;
}

// While listening, a meeting's window comes over the main window: the mini window stands in for
// it, and the main window comes back when the meeting ends or the user asks for it.
void tst_KavrelWindowsAcrossScreens::mainWindowComesBackFromTheMiniWindowWhereItWasLeft()
{
    QFETCH(QString, ending);
    QFETCH(bool, monitorGoesMeanwhile);
    KavrelWindowListReader reader(qApp->devicePixelRatio());
    Program program([&reader] {
        reader.requestRead();
        return reader.latest();
    });
    QWidget *mainWindow = program.open(mainIdentifier);
    QVERIFY(mainWindow);
    auto *coordinator = mainWindow->findChild<KavrelBackgroundCoordinator *>();
    QVERIFY(coordinator);
    coordinator->setTimings({50ms, 350ms, 100ms, 1500ms});
    // Where the window manager would not put it on its own.
    const QRect monitor = monitorGoesMeanwhile ? rightMonitor : leftMonitor;
    QVERIFY(moveByWindowManager(mainWindow, monitor.topLeft() + QPoint(168, 97)));
    QTRY_VERIFY2(mainWindow->geometry().topLeft() == monitor.topLeft() + QPoint(168, 97), qPrintable(describe(mainWindow)));
    QTest::qWait(200);
    const QRect left = mainWindow->geometry();

    auto meeting = TestChildProcess::start(
        QStringLiteral("x11-windows"), {QStringLiteral("Meeting|%1|%2|activate,at=%3,0").arg(monitor.width()).arg(monitor.height()).arg(monitor.x())});
    QVERIFY(meeting);
    auto endMeeting = qScopeGuard([&meeting] { TestChildProcess::finish(*meeting); });
    program.objects.session.update([](auto &s) {
        s.hasActiveSession = true;
        s.status = SubtitleStatus::listening;
    });
    QTRY_VERIFY_WITH_TIMEOUT(program.app->window(miniIdentifier) && program.app->window(miniIdentifier)->isVisible(), 5000);
    QTRY_VERIFY(!mainWindow->isVisible());
    if (monitorGoesMeanwhile) {
        QVERIFY(removeRightMonitor());
        QTRY_VERIFY(screensAre({leftMonitor}));
    }

    if (ending == QLatin1String("stop")) {
        program.objects.session.update([](auto &s) {
            s.hasActiveSession = false;
            s.status = SubtitleStatus::stopped;
        });
    } else {
        QVERIFY(program.chooseInTray(ending));
        QTRY_VERIFY(mainWindow->isVisible());
        // The meeting's window goes too, so that nothing covers the main window again: the
        // mini window would stand in for it once more.
        endMeeting.dismiss();
        TestChildProcess::finish(*meeting);
    }
    QTRY_VERIFY(mainWindow->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(mainWindow));
    if (monitorGoesMeanwhile) {
        QTRY_VERIFY2_WITH_TIMEOUT(isWhollyOnAScreen(mainWindow), qPrintable(describe(mainWindow)), 3000);
    } else {
        QTRY_COMPARE(mainWindow->geometry(), left);
        // Where the window manager has it, not only where the program thinks it is.
        QTest::qWait(300);
        QCOMPARE(mainWindow->geometry(), left);
    }
    program.tray.trayIcon().hide();
}

void tst_KavrelWindowsAcrossScreens::miniWindowMovesOnlyWhenDragged_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QPoint>("drag"); // null: a tap

    QTest::newRow("a tap on the background") << QStringLiteral("background") << QPoint();
    QTest::newRow("a drag on the background") << QStringLiteral("background") << QPoint(300, 150);
    QTest::newRow("a tap on the right edge") << QStringLiteral("right edge") << QPoint();
    QTest::newRow("a drag on the right edge") << QStringLiteral("right edge") << QPoint(150, 0);
}

void tst_KavrelWindowsAcrossScreens::miniWindowMovesOnlyWhenDragged()
{
    QFETCH(QString, where);
    QFETCH(QPoint, drag);
    Program program;
    auto *mini = qobject_cast<KavrelListeningMiniWindow *>(program.open(miniIdentifier));
    QVERIFY(mini);
    // Away from the corner, so that a drag stays on the monitor.
    QVERIFY(moveByWindowManager(mini, QPoint(200, 150)));
    QTRY_COMPARE(mini->geometry().topLeft(), QPoint(200, 150));
    QTest::qWait(200);
    const QRect before = mini->geometry();

    const QPoint inside = where == QLatin1String("background") ? QPoint(12, mini->height() / 2) : QPoint(mini->width() - 3, mini->height() / 2);
    // Nothing there takes the press: the window's background, or its edge.
    if (where == QLatin1String("background"))
        QCOMPARE(mini->childAt(inside), static_cast<QWidget *>(mini->view()));
    const QPoint at = mini->mapToGlobal(inside);
    QRect after;
    const auto describe = [](const QRect &r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    const auto describeChange = [&] { return describe(before) + QStringLiteral(" became ") + describe(after); };
    // Then the pointer goes on without a button held: the window stays where the gesture left it.
    // What went wrong, or nothing.
    const auto pointerGoesOn = [&](QPoint from) {
        const QRect left = mini->geometry();
        if (!X11TestInput::movePointer(from + QPoint(120, 90)))
            return QStringLiteral("the pointer could not be moved");
        QTest::qWait(400);
        after = mini->geometry();
        if (after == left)
            return QString();
        return describe(left) + QStringLiteral(" went on to ") + describe(after) + QStringLiteral(" with the pointer");
    };
    if (drag.isNull()) {
        // Taps as a touchpad gives them: the button up at once, or a few milliseconds later.
        for (const int held : {0, 10, 20, 30, 0, 20}) {
            QVERIFY(X11TestInput::tap(at, held));
            QTest::qWait(300);
            const QString fault = pointerGoesOn(at);
            QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("held %1 ms: ").arg(held) + fault));
            QVERIFY2(after == before, qPrintable(QStringLiteral("held %1 ms: ").arg(held) + describeChange()));
            QVERIFY(X11TestInput::movePointer(at));
        }
        return;
    }
    QVERIFY(X11TestInput::drag(at, at + drag));
    QTest::qWait(300);
    const QString fault = pointerGoesOn(at + drag);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    if (where == QLatin1String("background")) {
        // It follows the pointer from where the move began, past the drag distance.
        QVERIFY2(after.size() == before.size(), qPrintable(describeChange()));
        const QPoint moved = after.topLeft() - before.topLeft();
        QVERIFY2(moved.x() > drag.x() - 60 && moved.x() <= drag.x() && moved.y() > drag.y() - 60 && moved.y() <= drag.y(),
                 qPrintable(describeChange()));
    } else {
        QVERIFY2(after.topLeft() == before.topLeft() && after.height() == before.height(), qPrintable(describeChange()));
        QVERIFY2(after.width() > before.width() + drag.x() - 60 && after.width() <= before.width() + drag.x(),
                 qPrintable(describeChange()));
    }
}

void tst_KavrelWindowsAcrossScreens::fullScreenOrMaximizedWindowKeepsItsStateWhenItsMonitorGoes_data()
{
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<Qt::WindowState>("state");

    QTest::newRow("the main window, full screen") << mainIdentifier << Qt::WindowFullScreen;
    QTest::newRow("the main window, maximized") << mainIdentifier << Qt::WindowMaximized;
    QTest::newRow("the settings, full screen") << settingsIdentifier << Qt::WindowFullScreen;
}

// The window manager takes such a window to a remaining monitor and sizes it there, as it does
// for any application's; the program leaves it to it.
void tst_KavrelWindowsAcrossScreens::fullScreenOrMaximizedWindowKeepsItsStateWhenItsMonitorGoes()
{
    QFETCH(QString, identifier);
    QFETCH(Qt::WindowState, state);
    Program program;
    QWidget *window = program.open(identifier);
    QVERIFY(window);
    QVERIFY(moveByWindowManager(window, rightMonitor.topLeft() + QPoint(200, 60)));
    QTRY_VERIFY2(window->screen() == screenNamed(QStringLiteral("RIGHT")), qPrintable(describe(window)));
    QTest::qWait(200);
    window->setWindowState(state);
    const auto settledOn = [&](const QRect &monitor) {
        if (!(window->windowState() & state) || window->screen() != QGuiApplication::screenAt(monitor.center()))
            return false;
        // Full screen takes the monitor whole; maximized, the free area of it. (The frame's edges
        // that Qt knows may be those of the window before, when the window manager's word on them
        // comes late: then the frame reaches past the free area, the window itself fills it.)
        const QRect free = window->screen()->availableGeometry();
        return state == Qt::WindowFullScreen ? window->frameGeometry() == monitor
                                             : window->frameGeometry().contains(free) && free.contains(window->geometry());
    };
    QTRY_VERIFY2(settledOn(rightMonitor), qPrintable(describe(window)));
    QTest::qWait(300);

    QVERIFY(removeRightMonitor());
    QTRY_VERIFY(screensAre({leftMonitor}));
    QTRY_VERIFY2_WITH_TIMEOUT(settledOn(leftMonitor), qPrintable(describe(window)), 3000);
    // Nothing takes it out of that state afterwards.
    QTest::qWait(800);
    QVERIFY2(settledOn(leftMonitor), qPrintable(describe(window)));
    QVERIFY(window->isVisible());
}

KAVREL_X11_PRIVATE_DISPLAY_TEST_MAIN(tst_KavrelWindowsAcrossScreens, 3200, 1000)

#include "tst_KavrelWindowsAcrossScreens.moc"
