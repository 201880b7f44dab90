// The mini window on a real X server: a window of another process covers the main window, the
// mini window stands in for it, and uncovering brings the main window back. The mini window never
// takes the keyboard from the application in front, and once the user minimized it, it stays so
// until the user asks for a window of the program or the meeting ends. And a window kept on the
// screen is fitted again once the window manager has framed it, and when the screen's free area
// shrinks under it: the program's main window with its workspace too.

#include "ProgramOverTheSession.h"

#include "app/KavrelAppDelegate.h"
#include "app/KavrelNotifications.h"
#include "app/KavrelWindowListReader.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelBackgroundCoordinator.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "app/widgets/KavrelTrayItem.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "support/FakeSessionSurface.h"
#include "support/TestChildProcess.h"
#include "support/X11TestMain.h"
#include "support/TestProgramObjects.h"
#include "support/X11TestWindows.h"
#include "workspace/widgets/ContentView.h"
#include "workspace/widgets/ListeningSetupSheet.h"
#include "workspace/widgets/PrimaryActionButton.h"

#include <QApplication>
#include <QMenu>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

using namespace std::chrono_literals;

class tst_KavrelMiniWindowOnX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void coveringWindowOfAnotherProcessSwapsInTheMiniWindow();
    void windowListIsReadOnlyWhileASessionRuns();
    void minimizedMiniWindowStaysUntilAsked_data();
    void minimizedMiniWindowStaysUntilAsked();
    void windowIsFittedAgainOnceFramed();
    void windowIsFittedAgainWhenTheFreeAreaShrinks();
    void mainWindowIsFittedAgainWhenTheFreeAreaShrinks_data();
    void mainWindowIsFittedAgainWhenTheFreeAreaShrinks();
};

void tst_KavrelMiniWindowOnX11::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server: run under scripts/test, which starts Xvfb with openbox");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

void tst_KavrelMiniWindowOnX11::coveringWindowOfAnotherProcessSwapsInTheMiniWindow()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    FakeSessionSurface session;
    KavrelWindowListReader reader(qApp->devicePixelRatio());
    KavrelMiniWindowCoordinator windows(reader);
    KavrelPresentationStore presentation(windows, [] { return true; });

    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("КАВРЕЛ"));
    mainWindow.resize(640, 420);
    mainWindow.move(200, 200);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));

    QPointer<KavrelListeningMiniWindow> mini;
    KavrelBackgroundCoordinator coordinator(session, presentation, windows, defaults, [&](const QString &identifier) {
        if (identifier == QLatin1String("kavrel-main")) {
            mainWindow.show();
        } else if (!mini) {
            mini = new KavrelListeningMiniWindow(session, presentation, defaults, [&] { mainWindow.show(); });
            mini->show();
        }
    });
    coordinator.setTimings({100ms, 350ms, 100ms, 1500ms});
    coordinator.start();
    session.update([](auto &s) { s.hasActiveSession = true; });

    // Uncovered, the main window stays.
    QTRY_VERIFY(reader.hasRead() && reader.latest().has_value());
    QTest::qWait(300);
    QVERIFY(mainWindow.isVisible());
    QVERIFY(!windows.isMiniWindowVisible());

    auto cover = TestChildProcess::start(QStringLiteral("x11-windows"), {QStringLiteral("Covering meeting|1600|1000|")});
    QVERIFY(cover);
    QTRY_VERIFY_WITH_TIMEOUT(windows.isMiniWindowVisible(), 3000);
    QTRY_VERIFY(!mainWindow.isVisible());
    QVERIFY(mini);
    QVERIFY(mini->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(mini->windowFlags() & Qt::FramelessWindowHint);
    // It opens inside the screen's free area, towards its bottom-right corner.
    const QRect available = mini->screen()->availableGeometry();
    QTRY_VERIFY(available.contains(mini->frameGeometry()));
    QVERIFY(mini->frameGeometry().center().x() > available.center().x());
    QVERIFY(mini->frameGeometry().center().y() > available.center().y());

    TestChildProcess::finish(*cover);
    QTRY_VERIFY_WITH_TIMEOUT(mainWindow.isVisible(), 3000);
    QTRY_VERIFY(!windows.isMiniWindowVisible());
    // It stays that way: the main window, back on screen, is not taken for covered.
    QTest::qWait(600);
    QVERIFY(mainWindow.isVisible());
    QVERIFY(!windows.isMiniWindowVisible());
}

// Without a session no decision depends on the window list, so it is not read at all; while a
// session runs it is read for the decisions, but again only after the X server reported a
// change that can alter it; and it stops again when the session ends.
void tst_KavrelMiniWindowOnX11::windowListIsReadOnlyWhileASessionRuns()
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    FakeSessionSurface session;
    KavrelWindowListReader reader(qApp->devicePixelRatio());
    KavrelMiniWindowCoordinator windows(reader);
    KavrelPresentationStore presentation(windows, [] { return true; });
    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("КАВРЕЛ"));
    mainWindow.resize(640, 420);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    KavrelBackgroundCoordinator coordinator(session, presentation, windows, defaults, [](const QString &) {});
    coordinator.setTimings({20ms, 350ms, 100ms, 1500ms});
    QSignalSpy reads(&reader, &KavrelWindowListReader::snapshotRead);
    coordinator.start();
    QTest::qWait(300);
    QCOMPARE(reads.count(), 0);

    session.update([](auto &s) { s.hasActiveSession = true; });
    QTRY_VERIFY(reads.count() >= 1);
    // Fifteen decisions while nothing moves: the answer at hand serves them.
    QTest::qWait(300);
    const int steady = int(reads.count());
    QVERIFY2(steady <= 5, qPrintable(QString::number(steady)));
    mainWindow.move(mainWindow.pos() + QPoint(40, 30));
    QTRY_VERIFY(reads.count() > steady);
    QVERIFY(reader.latest().has_value());

    session.update([](auto &s) { s.hasActiveSession = false; });
    QTest::qWait(100); // a read already under way may still come back
    const int afterSession = int(reads.count());
    mainWindow.move(mainWindow.pos() + QPoint(-40, -30));
    QTest::qWait(300);
    QCOMPARE(reads.count(), afterSession);

    // The mini window switched off in the settings: no decision reads the list either.
    defaults.setBool(QString::fromLatin1(KavrelBackgroundCoordinator::miniWindowEnabledKey), false);
    session.update([](auto &s) { s.hasActiveSession = true; });
    mainWindow.move(mainWindow.pos() + QPoint(40, 30));
    QTest::qWait(300);
    QCOMPARE(reads.count(), afterSession);
}

void tst_KavrelMiniWindowOnX11::minimizedMiniWindowStaysUntilAsked_data()
{
    QTest::addColumn<QString>("ending");

    QTest::newRow("the tray's Show") << "Show КАВРЕЛ";
    QTest::newRow("a link") << "kavrel://open";
    QTest::newRow("started again") << "reopen";
    QTest::newRow("the meeting ends") << "stop";
}

// The program as main() wires it, over the real window list: while listening, a meeting's
// window comes over the main window and has the keyboard; the mini window shows without taking
// it. The user minimizes the mini window through the window manager: the periodic decisions leave
// it minimized and the meeting keeps the keyboard, until the user asks for a window of the
// program (it comes, active) or the meeting ends (the main window comes back, the keyboard stays
// with the meeting).
void tst_KavrelMiniWindowOnX11::minimizedMiniWindowStaysUntilAsked()
{
    QFETCH(QString, ending);
    const QString main = QStringLiteral("kavrel-main");
    const QString miniIdentifier = QStringLiteral("kavrel-listening-mini");

    KavrelWindowListReader reader(qApp->devicePixelRatio());
    TestProgramObjects objects(true, [] { return true; }, [&reader] {
        reader.requestRead();
        return reader.latest();
    });
    auto app = std::make_unique<KavrelApp>(objects.dependencies());
    KavrelTrayItem tray(objects.session, *objects.authStore, *objects.presentation, *objects.starter, *objects.defaults,
                        *objects.updates, app->windowOpener());
    KavrelAppDelegate delegate(objects.authService.get(), KavrelNotifications::defaultCenter(),
                               [&app] { return app->hasVisibleWindows(); }, [&app] { app->activate(); });
    QTRY_VERIFY(!objects.authStore->isRestoringSession());
    app->openWindow(main);
    QPointer<QWidget> mainWindow = app->window(main);
    QVERIFY(QTest::qWaitForWindowActive(mainWindow));
    auto *coordinator = mainWindow->findChild<KavrelBackgroundCoordinator *>();
    QVERIFY(coordinator);
    constexpr auto tick = 50ms;
    coordinator->setTimings({tick, 350ms, 100ms, 1500ms});

    auto meeting = TestChildProcess::start(QStringLiteral("x11-windows"), {QStringLiteral("Meeting|1600|1000|activate")});
    QVERIFY(meeting);
    const auto endMeeting = qScopeGuard([&meeting] { TestChildProcess::finish(*meeting); });
    const qint64 meetingProcess = meeting->processId();
    // The window manager's active window is the meeting's, and no window of the program has the focus.
    const auto meetingHasTheKeyboard = [meetingProcess] {
        return X11TestWindows::activeWindowProcessId() == meetingProcess && !QGuiApplication::focusWindow();
    };
    QTRY_VERIFY(meetingHasTheKeyboard());
    objects.session.update([](auto &s) {
        s.hasActiveSession = true;
        s.status = SubtitleStatus::listening;
    });
    QTRY_VERIFY_WITH_TIMEOUT(app->window(miniIdentifier) && app->window(miniIdentifier)->isVisible(), 3000);
    QPointer<QWidget> mini = app->window(miniIdentifier);
    QTRY_VERIFY(X11TestWindows::isViewable(quint32(mini->winId())));
    QTRY_VERIFY(!mainWindow->isVisible());
    QTest::qWait(10 * tick.count());
    QVERIFY(meetingHasTheKeyboard());

    X11TestWindows::iconify(quint32(mini->winId()));
    QTRY_VERIFY(mini->isMinimized());
    QTRY_VERIFY(!X11TestWindows::isViewable(quint32(mini->winId())));
    // Twenty decisions later it is still minimized, and the meeting has the keyboard.
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(tick.count());
        QVERIFY2(mini && mini->isMinimized() && !X11TestWindows::isViewable(quint32(mini->winId())),
                 qPrintable(QStringLiteral("back on screen after %1 ticks").arg(i + 1)));
    }
    QVERIFY(meetingHasTheKeyboard());
    QCOMPARE(objects.presentation->isBackgroundOnly(), false);

    if (ending == QLatin1String("stop")) {
        objects.session.update([](auto &s) {
            s.hasActiveSession = false;
            s.status = SubtitleStatus::stopped;
        });
        QTRY_VERIFY(!mini || !mini->isVisible());
        QTRY_VERIFY(mainWindow->isVisible());
        QTRY_VERIFY(X11TestWindows::isViewable(quint32(mainWindow->winId())));
        QTest::qWait(10 * tick.count());
        QVERIFY(meetingHasTheKeyboard());
    } else {
        if (ending == QLatin1String("reopen")) {
            delegate.handleReopen();
        } else if (ending.startsWith(QLatin1String("kavrel:"))) {
            delegate.openURLs({QUrl(ending)});
        } else {
            tray.rebuildMenu();
            const QList<QAction *> entries = tray.menu()->actions();
            const auto entry = std::find_if(entries.begin(), entries.end(), [&](QAction *a) { return a->text() == ending; });
            QVERIFY(entry != entries.end());
            (*entry)->trigger();
        }
        QTRY_VERIFY(mainWindow->isVisible() && !mainWindow->isMinimized());
        QVERIFY(QTest::qWaitForWindowActive(mainWindow));
        QTRY_VERIFY(!mini || !mini->isVisible());
    }
    tray.trayIcon().hide();
    app.reset();
}

void tst_KavrelMiniWindowOnX11::windowIsFittedAgainOnceFramed()
{
    // Asked for the whole free area before openbox has said what its frame takes: the frame's
    // sides and foot must come off once it has.
    QWidget window;
    window.setWindowTitle(QStringLiteral("КАВРЕЛ"));
    KavrelScreenFit::keepOnScreen(&window);
    const QRect available = window.screen()->availableGeometry();
    window.resize(available.size());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(!window.windowHandle()->frameMargins().isNull());
    const QMargins frame = window.windowHandle()->frameMargins();
    QVERIFY2(frame != QMargins(0, KavrelScreenFit::assumedTitleBarHeight, 0, 0), "the frame is as assumed: nothing to learn");
    QTRY_VERIFY2(available.contains(window.frameGeometry()),
                 qPrintable(QStringLiteral("frame %1,%2 %3x%4 in %5x%6")
                                .arg(window.frameGeometry().x())
                                .arg(window.frameGeometry().y())
                                .arg(window.frameGeometry().width())
                                .arg(window.frameGeometry().height())
                                .arg(available.width())
                                .arg(available.height())));
}

namespace {

QString describe(const QRect &frame, const QRect &available)
{
    return QStringLiteral("frame %1,%2 %3x%4 in %5,%6 %7x%8")
        .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
        .arg(available.x()).arg(available.y()).arg(available.width()).arg(available.height());
}

} // namespace

void tst_KavrelMiniWindowOnX11::windowIsFittedAgainWhenTheFreeAreaShrinks()
{
    // A window as the main window is made: its content asks for more height than the screen
    // has, so the content's minimum, bounded by the free area, holds the window's size.
    QWidget window;
    window.setWindowTitle(QStringLiteral("КАВРЕЛ"));
    KavrelScreenFit::keepOnScreen(&window);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *content = new QWidget(&window);
    layout->addWidget(content);
    QScreen *screen = window.screen();
    const QRect before = screen->availableGeometry();
    KavrelScreenFit::setMinimumSize(content, QSize(600, 4000));
    window.resize(before.size());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(!window.windowHandle()->frameMargins().isNull());
    QTRY_VERIFY2(before.contains(window.frameGeometry()), qPrintable(describe(window.frameGeometry(), before)));
    const QRect shown = window.frameGeometry();

    // A panel takes 240 pixels off the bottom while the window is open (a resolution change
    // shrinks the free area the same way).
    auto panel = TestChildProcess::start(QStringLiteral("x11-windows"), {QStringLiteral("Panel|%1|240|strut-bottom=240").arg(before.width())});
    QVERIFY(panel);
    QTRY_VERIFY(screen->availableGeometry().height() <= before.height() - 200);
    const QRect smaller = screen->availableGeometry();
    QTRY_VERIFY2(smaller.contains(window.frameGeometry()), qPrintable(describe(window.frameGeometry(), smaller)));
    QVERIFY(window.frameGeometry().height() < shown.height());

    // The panel goes: the content may ask for its height again, and the window stays inside.
    TestChildProcess::finish(*panel);
    QTRY_COMPARE(screen->availableGeometry(), before);
    QTRY_VERIFY(content->minimumHeight() > smaller.height() - 100);
    QTRY_VERIFY2(before.contains(window.frameGeometry()), qPrintable(describe(window.frameGeometry(), before)));
}

void tst_KavrelMiniWindowOnX11::mainWindowIsFittedAgainWhenTheFreeAreaShrinks_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("edge");
    QTest::newRow("the workspace") << QStringLiteral("workspace") << QStringLiteral("bottom");
    QTest::newRow("the start sheet open") << QStringLiteral("sheet") << QStringLiteral("bottom");
    QTest::newRow("while listening") << QStringLiteral("listening") << QStringLiteral("bottom");
    QTest::newRow("a panel on the left") << QStringLiteral("workspace") << QStringLiteral("left");
}

// The real main window: its workspace's minimum reaches the window through the shell's and the
// root view's layouts, each a level deeper than the window's own.
void tst_KavrelMiniWindowOnX11::mainWindowIsFittedAgainWhenTheFreeAreaShrinks()
{
    QFETCH(QString, state);
    QFETCH(QString, edge);
    // A work area 720 high, as on a small laptop under its own panels (the window manager
    // gives a panel at most half the screen, so they take the top and the bottom).
    QScreen *screen = QGuiApplication::primaryScreen();
    const int screenWidth = screen->geometry().width();
    const int top = (screen->geometry().height() - 720) / 2;
    const int bottom = screen->geometry().height() - 720 - top;
    auto desk = TestChildProcess::start(QStringLiteral("x11-windows"),
                                        {QStringLiteral("Desk|%1|40|strut-top=%2,strut-bottom=%3").arg(screenWidth).arg(top).arg(bottom)});
    QVERIFY(desk);
    QTRY_COMPARE(screen->availableGeometry().height(), 720);
    const QRect before = screen->availableGeometry();

    AppTest::ProgramOverTheSession program;
    program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
    QWidget *window = program.mainWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_VERIFY(!window->windowHandle()->frameMargins().isNull());
    auto *workspace = window->findChild<ContentView *>();
    QVERIFY(workspace);
    QTRY_VERIFY2(before.contains(window->frameGeometry()), qPrintable(describe(window->frameGeometry(), before)));
    // The workspace asks for more height than the area has: the window takes all of it.
    QTRY_COMPARE(window->frameGeometry().height(), before.height());
    const QRect shown = window->frameGeometry();

    QPointer<ListeningSetupSheet> sheet;
    if (state == QLatin1String("sheet")) {
        QTRY_VERIFY(workspace->primaryButton()->isEnabled());
        QTest::mouseClick(workspace->primaryButton(), Qt::LeftButton);
        QTRY_VERIFY((sheet = window->findChild<ListeningSetupSheet *>()) && sheet->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QTRY_VERIFY2(before.contains(sheet->frameGeometry()), qPrintable(describe(sheet->frameGeometry(), before)));
    } else if (state == QLatin1String("listening")) {
        QVERIFY(program.engine.start());
        QVERIFY(program.engine.model->hasActiveSession());
        program.engine.model->turnStore()->setLiveSubtitlePreview(QStringLiteral("and one more thing about the budget"));
    }

    // A panel takes 240 pixels more off the bottom while the window is open, or one on the left
    // leaves the window less width than it has (and more than its least).
    const int leastWidth = window->minimumWidth() + shown.width() - window->width();
    const int freeWidth = std::min(shown.width() - 100, (leastWidth + shown.width()) / 2);
    QVERIFY2(freeWidth >= leastWidth, qPrintable(QStringLiteral("%1 < %2").arg(freeWidth).arg(leastWidth)));
    const QString panelWindow = edge == QLatin1String("left")
                                    ? QStringLiteral("Panel|%1|%2|strut-left=%1").arg(screenWidth - freeWidth).arg(screen->geometry().height())
                                    : QStringLiteral("Panel|%1|240|strut-bottom=%2").arg(screenWidth).arg(bottom + 240);
    auto panel = TestChildProcess::start(QStringLiteral("x11-windows"), {panelWindow});
    QVERIFY(panel);
    if (edge == QLatin1String("left"))
        QTRY_COMPARE(screen->availableGeometry().width(), freeWidth);
    else
        QTRY_COMPARE(screen->availableGeometry().height(), 480);
    const QRect smaller = screen->availableGeometry();
    QTRY_VERIFY2(smaller.contains(window->frameGeometry()), qPrintable(describe(window->frameGeometry(), smaller)));
    if (sheet)
        QTRY_VERIFY2(smaller.contains(sheet->frameGeometry()), qPrintable(describe(sheet->frameGeometry(), smaller)));

    if (edge == QLatin1String("left"))
        QTRY_COMPARE(window->frameGeometry().width(), freeWidth);

    // The panel goes: the window grows back to what it had.
    TestChildProcess::finish(*panel);
    QTRY_COMPARE(screen->availableGeometry(), before);
    QTRY_COMPARE(window->frameGeometry().size(), shown.size());
    QVERIFY2(before.contains(window->frameGeometry()), qPrintable(describe(window->frameGeometry(), before)));
    if (sheet)
        QTRY_VERIFY2(before.contains(sheet->frameGeometry()), qPrintable(describe(sheet->frameGeometry(), before)));
    if (state == QLatin1String("listening"))
        QVERIFY(program.engine.stop());
    TestChildProcess::finish(*desk);
}

KAVREL_X11_TEST_MAIN_WITH_CHILDREN(tst_KavrelMiniWindowOnX11, "KAVREL_TEST_X11")

#include "tst_KavrelMiniWindowOnX11.moc"
