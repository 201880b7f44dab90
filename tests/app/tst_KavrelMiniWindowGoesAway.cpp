// The mini window with the keyboard (reached by Alt+Tab) while a meeting's window covers the main
// window, on the real X server with its window manager: the meeting's window closes, the mini
// window goes and the main window takes its place. The main window is the window manager's active
// window and Qt's, with the keyboard on a place whose press ends nothing; Tab goes on from there.

#include "ProgramOverTheSession.h"

#include "app/KavrelWindowListReader.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelBackgroundCoordinator.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniMicrophoneControl.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelKeyBurstGuard.h"
#include "localization/KavrelLocalizationStore.h"
#include "support/TestChildProcess.h"
#include "support/X11TestInput.h"
#include "support/X11TestMain.h"
#include "support/X11TestWindows.h"

#include <QApplication>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>

using namespace std::chrono_literals;

class tst_KavrelMiniWindowGoesAway : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void mainWindowTakesTheKeyboard_data();
    void mainWindowTakesTheKeyboard();
};

void tst_KavrelMiniWindowGoesAway::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_X11"))
        QSKIP("no X server with a window manager: run under scripts/test, which starts them");
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelKeyBurstGuard::install();
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
}

void tst_KavrelMiniWindowGoesAway::mainWindowTakesTheKeyboard_data()
{
    // Where the mini window's keyboard is when it goes.
    QTest::addColumn<QString>("miniControl");
    QTest::newRow("on Развернуть") << QStringLiteral("expand");
    QTest::newRow("on the mini window's stop") << QStringLiteral("stop");
    QTest::newRow("on the mini window's microphone") << QStringLiteral("microphone");
}

void tst_KavrelMiniWindowGoesAway::mainWindowTakesTheKeyboard()
{
    QFETCH(QString, miniControl);
    const QString main = QString::fromLatin1(KavrelApp::mainWindowIdentifier);
    const QString miniIdentifier = QString::fromLatin1(KavrelApp::miniWindowIdentifier);
    KavrelWindowListReader reader(qApp->devicePixelRatio());
    AppTest::ProgramOverTheSession program(true, [] { return true; }, [&reader] {
        reader.requestRead();
        return reader.latest();
    });
    program.engine.localization->setLanguage(KavrelAppLanguage::russian);
    KavrelApp *app = program.app.get();
    app->openWindow(main);
    QPointer<QWidget> mainWindow = app->window(main);
    QVERIFY(QTest::qWaitForWindowActive(mainWindow));
    auto *coordinator = mainWindow->findChild<KavrelBackgroundCoordinator *>();
    if (!coordinator)
        coordinator = app->findChild<KavrelBackgroundCoordinator *>();
    QVERIFY(coordinator);
    coordinator->setTimings({50ms, 350ms, 100ms, 1500ms});
    SubtitleViewModel &model = *program.engine.model;
    QVERIFY(program.engine.start(ListeningSessionStartMode::newSession, true));
    QTRY_VERIFY(model.hasActiveSession() && model.isMicrophoneListening() && !model.isMicrophoneBusy());
    const auto stopping = qScopeGuard([&program] {
        if (program.engine.model->hasActiveSession())
            (void)program.engine.stop();
    });

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    auto meeting = TestChildProcess::start(
        QStringLiteral("x11-windows"),
        {QStringLiteral("Meeting|%1|%2|activate,at=0,0").arg(screen.width()).arg(screen.height())});
    QVERIFY(meeting);
    auto endMeeting = qScopeGuard([&meeting] { TestChildProcess::finish(*meeting); });
    QTRY_VERIFY_WITH_TIMEOUT(app->window(miniIdentifier) && app->window(miniIdentifier)->isVisible(), 5000);
    QTRY_VERIFY(!mainWindow->isVisible());
    QPointer<KavrelListeningMiniWindow> mini = qobject_cast<KavrelListeningMiniWindow *>(app->window(miniIdentifier));
    QVERIFY(mini);
    QTRY_VERIFY(X11TestWindows::isViewable(quint32(mini->winId())));

    // Alt+Tab to the mini window, Tab to one of its controls.
    mini->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mini));
    QVERIFY(X11TestWindows::settledActive(mini));
    KavrelListeningMiniView *view = mini->view();
    QWidget *aimed = miniControl == QLatin1String("stop")         ? static_cast<QWidget *>(view->stopButton())
                     : miniControl == QLatin1String("microphone") ? view->microphoneControl()->toggleButton()
                                                                  : view->expandButton();
    QTRY_VERIFY(aimed->isEnabled());
    aimed->setFocus(Qt::TabFocusReason);
    QTRY_COMPARE(QApplication::focusWidget(), aimed);

    // The meeting's window closes.
    endMeeting.dismiss();
    TestChildProcess::finish(*meeting);
    QTRY_VERIFY_WITH_TIMEOUT(!mini || !mini->isVisible(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), mainWindow.data(), 5000);
    QVERIFY(X11TestWindows::settledActive(mainWindow));
    QWidget *landing = QApplication::focusWidget();
    QVERIFY(landing && mainWindow->isAncestorOf(landing));

    // What the key that was on its way does there: nothing.
    QVERIFY(X11TestInput::keys({QStringLiteral("space"), QStringLiteral("Return")}, 150));
    QTest::qWait(300);
    QVERIFY2(model.hasActiveSession() && !model.isBusy() && !model.listeningSession()->isStopping(), "the meeting ended");
    QVERIFY2(model.isMicrophoneListening() && !model.isMicrophoneBusy(), "the microphone was switched");
    QVERIFY(X11TestInput::keys({QStringLiteral("Tab")}));
    QTRY_VERIFY(QApplication::focusWidget() != landing);
    QVERIFY(mainWindow->isAncestorOf(QApplication::focusWidget()));
}

KAVREL_X11_TEST_MAIN_WITH_CHILDREN(tst_KavrelMiniWindowGoesAway, "KAVREL_TEST_X11")

#include "tst_KavrelMiniWindowGoesAway.moc"
