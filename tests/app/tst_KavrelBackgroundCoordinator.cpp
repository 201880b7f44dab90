#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "app/KavrelNotifications.h"
#include "app/widgets/KavrelBackgroundCoordinator.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "platform/UserDefaults.h"
#include "support/FakeBackend.h"
#include "support/FakeSessionSurface.h"
#include "support/TestAuth.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr qint64 otherPid = 4242;

#define QVERIFY_IN_CONSTRUCTOR(condition) \
    do { \
        if (!(condition)) \
            qFatal("%s failed", #condition); \
    } while (false)

// The shell's windows over a window list the test writes.
struct Shell
{
    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("prefs.ini"))};
    FakeSessionSurface session;
    std::optional<X11WindowListSnapshot> list;
    bool trayAvailable = true;
    QDateTime now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    KavrelMiniWindowCoordinator windows{[this] { return list; }};
    KavrelPresentationStore presentation{windows, [this] { return trayAvailable; }};
    std::unique_ptr<QWidget> mainWindow = std::make_unique<QWidget>();
    QList<QPointer<QWidget>> openedMiniWindows;
    QStringList opened;
    std::unique_ptr<KavrelBackgroundCoordinator> coordinator;

    Shell()
    {
        windows.setSettleTime(0ms);
        mainWindow->setWindowTitle(QStringLiteral("КАВРЕЛ"));
        mainWindow->resize(600, 400);
        mainWindow->show();
        QVERIFY_IN_CONSTRUCTOR(QTest::qWaitForWindowExposed(mainWindow.get()));
        coordinator = std::make_unique<KavrelBackgroundCoordinator>(
            session, presentation, windows, defaults, [this](const QString &identifier) { open(identifier); });
        coordinator->setTimings({24h, 1ms, 1ms, 1500ms});
        coordinator->setClock([this] { return now; });
        coordinator->start();
        session.update([](auto &s) { s.hasActiveSession = true; });
    }

    ~Shell()
    {
        for (const auto &window : openedMiniWindows)
            delete window.data();
    }

    void open(const QString &identifier)
    {
        opened << identifier;
        if (identifier == QLatin1String("kavrel-main")) {
            mainWindow->show();
            return;
        }
        auto *mini = new QWidget;
        mini->setAttribute(Qt::WA_DeleteOnClose);
        KavrelMiniWindowCoordinator::configureMiniWindow(mini);
        mini->show();
        openedMiniWindows << mini;
    }

    // The window list: the main window (while shown) behind one window of another application
    // that covers it, or nothing in front of it.
    void setCovered(bool covered, std::optional<qint64> active = otherPid)
    {
        X11WindowListSnapshot snapshot;
        if (covered) {
            X11Window cover;
            cover.id = 0xFFFF0001; // not an id of the offscreen platform's windows
            cover.processId = otherPid;
            cover.bounds = QRectF(0, 0, 4000, 4000);
            snapshot.windows.push_back(cover);
        }
        if (mainWindow->isVisible()) {
            X11Window main;
            main.id = quint32(mainWindow->winId());
            main.processId = QCoreApplication::applicationPid();
            main.bounds = QRectF(100, 100, 600, 400);
            snapshot.windows.push_back(main);
        }
        snapshot.activeWindowProcessId = active;
        list = snapshot;
    }

    bool miniVisible() const { return windows.isMiniWindowVisible(); }
    bool mainVisible() const { return mainWindow->isVisible(); }

    // Covered with a session: the mini window stands in for the main window.
    void bringUpMiniWindow()
    {
        setCovered(true);
        coordinator->synchronizeMiniWindowVisibility();
        QTest::qWait(5); // the follow-up check
    }
};

} // namespace

class tst_KavrelBackgroundCoordinator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void coveredMainWindowIsSwappedForTheMiniWindow();
    void eachRuleClosesTheMiniWindow_data();
    void eachRuleClosesTheMiniWindow();
    void languageChangeKeepsTheMiniWindowClosedForAMoment();
    void followUpClosesAMiniWindowNoLongerDue();
    void mainWindowBroughtBackIsNotTakenForCoveredBeforeItIsListed();
    void minimisedMainWindowCallsForTheMiniWindowButIsNotRemembered();
    void backgroundOnlyModeHidesEverythingAndRenewsTheGenerationOnLeaving();
    void withoutATrayTheProgramNeverHidesEverything();
    void failedSessionRefreshShowsTheErrorAndRevealsTheMainWindow();
};

void tst_KavrelBackgroundCoordinator::coveredMainWindowIsSwappedForTheMiniWindow()
{
    Shell shell;
    shell.setCovered(false);
    shell.coordinator->synchronizeMiniWindowVisibility();
    QVERIFY(!shell.miniVisible());

    shell.bringUpMiniWindow();
    QVERIFY(shell.miniVisible());
    QVERIFY(!shell.mainVisible());
    QCOMPARE(shell.windows.mainWindowHiddenForMiniWindow(), shell.mainWindow.get());
    // Later decisions keep the one mini window and do not open (or log) it again.
    for (int i = 0; i < 3; ++i)
        shell.coordinator->synchronizeMiniWindowVisibility();
    QCOMPARE(shell.coordinator->miniWindowOpenCount(), 1);
    QCOMPARE(shell.opened, QStringList{QStringLiteral("kavrel-listening-mini")});
    const QWidget *mini = shell.windows.miniWindows().value(0);
    QVERIFY(mini->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(mini->windowFlags() & Qt::FramelessWindowHint);
}

void tst_KavrelBackgroundCoordinator::eachRuleClosesTheMiniWindow_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("mini window disabled") << "disabled";
    QTest::newRow("session ended") << "ended";
    QTest::newRow("covering application left") << "uncovered";
    QTest::newRow("program in front, nothing recorded") << "focused";
}

void tst_KavrelBackgroundCoordinator::eachRuleClosesTheMiniWindow()
{
    QFETCH(QString, change);
    Shell shell;
    shell.bringUpMiniWindow();
    QVERIFY(shell.miniVisible());
    if (change == QLatin1String("disabled")) {
        shell.defaults.setBool(QStringLiteral("kavrel.isMiniWindowEnabled"), false);
        shell.coordinator->synchronizeMiniWindowVisibility();
    } else if (change == QLatin1String("ended")) {
        shell.session.update([](auto &s) { s.hasActiveSession = false; }); // decides at once
    } else if (change == QLatin1String("uncovered")) {
        shell.setCovered(false);
        shell.coordinator->synchronizeMiniWindowVisibility();
    } else {
        // The covering application was recorded when the main window was hidden; clicking the
        // mini window brings this program to the front and that record decides.
        shell.setCovered(true, QCoreApplication::applicationPid());
        shell.coordinator->synchronizeMiniWindowVisibility();
        QVERIFY(shell.miniVisible());
        shell.setCovered(false, QCoreApplication::applicationPid());
        shell.coordinator->synchronizeMiniWindowVisibility();
    }
    QTRY_VERIFY(!shell.miniVisible());
    QVERIFY(shell.mainVisible());
    QVERIFY(!shell.windows.mainWindowHiddenForMiniWindow());
}

void tst_KavrelBackgroundCoordinator::languageChangeKeepsTheMiniWindowClosedForAMoment()
{
    Shell shell;
    shell.bringUpMiniWindow();
    KavrelNotifications::defaultCenter().post(KavrelNotifications::interfaceLanguageWillChange);
    QTRY_VERIFY(!shell.miniVisible());
    QVERIFY(shell.mainVisible());

    shell.setCovered(true);
    shell.now = shell.now.addMSecs(1400);
    shell.coordinator->synchronizeMiniWindowVisibility();
    QVERIFY(!shell.miniVisible());
    QVERIFY(shell.mainVisible());
    shell.now = shell.now.addMSecs(200);
    shell.coordinator->synchronizeMiniWindowVisibility();
    QTRY_VERIFY(shell.miniVisible());
    QVERIFY(!shell.mainVisible());
}

void tst_KavrelBackgroundCoordinator::followUpClosesAMiniWindowNoLongerDue()
{
    Shell shell;
    shell.coordinator->setTimings({24h, 1ms, 50ms, 1500ms});
    shell.setCovered(true);
    shell.coordinator->synchronizeMiniWindowVisibility();
    QVERIFY(shell.miniVisible());
    // The session ends without the coordinator hearing of it before the follow-up.
    shell.session.state.hasActiveSession = false;
    QTRY_VERIFY(!shell.miniVisible());
    QVERIFY(shell.mainVisible());
}

void tst_KavrelBackgroundCoordinator::mainWindowBroughtBackIsNotTakenForCoveredBeforeItIsListed()
{
    Shell shell;
    shell.windows.setSettleTime(200ms);
    shell.bringUpMiniWindow();
    // The covering application goes; the list read now no longer shows the hidden main window.
    shell.setCovered(false);
    shell.coordinator->synchronizeMiniWindowVisibility();
    QTRY_VERIFY(shell.mainVisible());
    QVERIFY(!shell.miniVisible());
    // Until the window manager lists it again, the main window counts as on screen...
    shell.coordinator->synchronizeMiniWindowVisibility();
    QVERIFY(shell.mainVisible());
    QVERIFY(!shell.miniVisible());
    // ...but a main window that stays unlisted is not on screen after all.
    QTest::qWait(250);
    shell.coordinator->synchronizeMiniWindowVisibility();
    QTRY_VERIFY(shell.miniVisible());
}

void tst_KavrelBackgroundCoordinator::minimisedMainWindowCallsForTheMiniWindowButIsNotRemembered()
{
    Shell shell;
    shell.setCovered(false);
    shell.mainWindow->setWindowState(Qt::WindowMinimized);
    shell.coordinator->synchronizeMiniWindowVisibility();
    QTRY_VERIFY(shell.miniVisible());
    QVERIFY(!shell.windows.mainWindowHiddenForMiniWindow());
    // Closing the mini window without restoring leaves the main window as it is.
    shell.windows.closeMiniWindow(false);
    QTRY_VERIFY(!shell.miniVisible());
    QVERIFY(shell.mainWindow->isMinimized());
}

void tst_KavrelBackgroundCoordinator::backgroundOnlyModeHidesEverythingAndRenewsTheGenerationOnLeaving()
{
    Shell shell;
    QWidget settings;
    settings.setWindowTitle(QStringLiteral("Settings"));
    settings.show();
    shell.bringUpMiniWindow();
    const QUuid generation = shell.presentation.miniWindowGeneration();
    QSignalSpy modeChanges(&shell.presentation, &KavrelPresentationStore::isBackgroundOnlyChanged);

    shell.presentation.enterBackgroundOnlyMode();
    shell.presentation.enterBackgroundOnlyMode();
    QCOMPARE(modeChanges.count(), 1);
    QTRY_VERIFY(!shell.miniVisible());
    QVERIFY(!shell.mainVisible());
    QVERIFY(!settings.isVisible());
    QCOMPARE(shell.presentation.activationPolicy(), KavrelPresentationStore::ActivationPolicy::accessory);
    // Every decision now keeps all of it hidden.
    shell.coordinator->synchronizeMiniWindowVisibility();
    QVERIFY(!shell.miniVisible());
    QVERIFY(!shell.mainVisible());

    shell.presentation.restoreApplication([&] { shell.open(QStringLiteral("kavrel-main")); });
    QTRY_VERIFY(shell.mainVisible());
    QVERIFY(!settings.isVisible()); // only the main window comes back
    QVERIFY(shell.presentation.miniWindowGeneration() != generation);
    QCOMPARE(shell.presentation.activationPolicy(), KavrelPresentationStore::ActivationPolicy::regular);

    // Restoring in the regular mode keeps the generation.
    const QUuid regular = shell.presentation.miniWindowGeneration();
    shell.presentation.restoreApplication([&] { shell.open(QStringLiteral("kavrel-main")); });
    QCOMPARE(shell.presentation.miniWindowGeneration(), regular);
    QCOMPARE(modeChanges.count(), 2);
}

void tst_KavrelBackgroundCoordinator::withoutATrayTheProgramNeverHidesEverything()
{
    Shell shell;
    shell.trayAvailable = false;
    shell.bringUpMiniWindow();
    QVERIFY(!shell.presentation.canEnterBackgroundOnlyMode());
    shell.presentation.enterBackgroundOnlyMode();
    QVERIFY(!shell.presentation.isBackgroundOnly());
    QVERIFY(shell.miniVisible());
}

void tst_KavrelBackgroundCoordinator::failedSessionRefreshShowsTheErrorAndRevealsTheMainWindow()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    auto service = TestAuth::signedInService(backend.baseUrl(), std::nullopt);
    AuthSessionStore authStore(service.get());
    QTRY_VERIFY(!authStore.isRestoringSession());
    for (const bool backgroundOnly : {false, true}) {
        Shell shell;
        KavrelListeningStarter starter(&authStore, &shell.session);
        shell.bringUpMiniWindow();
        if (backgroundOnly)
            shell.presentation.enterBackgroundOnlyMode();
        QVERIFY(!shell.mainVisible());
        shell.coordinator->startListeningAfterAuthRefresh(starter);
        QTRY_VERIFY(shell.session.state.errorMessage.has_value());
        QVERIFY(!shell.session.commands.contains(QStringLiteral("promptAndStartListening(false)")));
        // A start from a meeting prompt leaves a hidden program hidden.
        QTRY_COMPARE(shell.mainVisible(), !backgroundOnly);
        QCOMPARE(shell.opened.contains(QStringLiteral("kavrel-main")), !backgroundOnly);
    }
}

QTEST_MAIN(tst_KavrelBackgroundCoordinator)
#include "tst_KavrelBackgroundCoordinator.moc"
