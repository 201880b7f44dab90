// The mini window over a meeting's window that covers the main window, on two monitors of an X
// server of the test's own with openbox (as tst_KavrelWindowsAcrossScreens has them): whatever
// the user does on the mini window — taps and presses on its background and its edge, drags,
// its layout tabs, its microphone button — with clicks on the meeting's window between them or
// not, there is one mini window, the same, the whole time, and the main window stays hidden.
// Only "Развернуть", Escape and the tray bring the main window back.

#include "ProgramOnTwoMonitors.h"

#include "app/KavrelWindowListReader.h"
#include "app/widgets/KavrelBackgroundCoordinator.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniMicrophoneControl.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "support/TestChildProcess.h"
#include "support/X11PrivateDisplay.h"
#include "support/X11TestInput.h"
#include "support/X11TestWindows.h"

#include <QApplication>
#include <QScopeGuard>
#include <QTimer>

using namespace std::chrono_literals;
using namespace AppTest;

class tst_KavrelMiniWindowOverTheMeeting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void miniWindowStaysWhileTheMainWindowIsCovered_data();
    void miniWindowStaysWhileTheMainWindowIsCovered();
};

void tst_KavrelMiniWindowOverTheMeeting::initTestCase()
{
    if (!X11PrivateDisplay::unavailable().isEmpty())
        QSKIP(qPrintable(QStringLiteral("no X server of the test's own: ") + X11PrivateDisplay::unavailable()));
    QVERIFY(takeLeftMonitor());
    QVERIFY(showBothMonitors());
}

void tst_KavrelMiniWindowOverTheMeeting::miniWindowStaysWhileTheMainWindowIsCovered_data()
{
    QTest::addColumn<bool>("clickTheMeetingBetween");
    QTest::newRow("a click on the meeting after each") << true;
    QTest::newRow("one after another") << false;
}

void tst_KavrelMiniWindowOverTheMeeting::miniWindowStaysWhileTheMainWindowIsCovered()
{
    QFETCH(bool, clickTheMeetingBetween);
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
    auto meeting = TestChildProcess::start(
        QStringLiteral("x11-windows"),
        {QStringLiteral("Meeting|%1|%2|activate,at=0,0").arg(leftMonitor.width()).arg(leftMonitor.height())});
    QVERIFY(meeting);
    auto endMeeting = qScopeGuard([&meeting] { TestChildProcess::finish(*meeting); });
    program.objects.session.update([](auto &s) {
        s.hasActiveSession = true;
        s.status = SubtitleStatus::listening;
        s.isMicrophoneListening = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(program.app->window(miniIdentifier) && program.app->window(miniIdentifier)->isVisible(), 5000);
    QTRY_VERIFY(!mainWindow->isVisible());
    const QPointer<KavrelListeningMiniWindow> mini = qobject_cast<KavrelListeningMiniWindow *>(program.app->window(miniIdentifier));
    QVERIFY(mini);
    QVERIFY(moveByWindowManager(mini, QPoint(400, 300)));
    QTRY_COMPARE(mini->geometry().topLeft(), QPoint(400, 300));
    QTest::qWait(300);
    QCOMPARE(coordinator->miniWindowOpenCount(), 1);

    // Watched at every turn of the event loop, not only between the gestures.
    QStringList faults;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!faults.isEmpty())
            return;
        if (mainWindow->isVisible())
            faults << QStringLiteral("the main window came back");
        if (!mini || !mini->isVisible())
            faults << QStringLiteral("the mini window closed");
        else if (program.app->window(miniIdentifier) != mini)
            faults << QStringLiteral("another mini window opened");
    });
    watch.start(5);

    // Over the meeting, away from the mini window wherever the drags take it.
    const QPoint meetingSpot(1400, 100);
    const QStringList gestures{QStringLiteral("background"), QStringLiteral("edge"), QStringLiteral("layout"),
                               QStringLiteral("drag"), QStringLiteral("microphone")};
    // A touchpad's taps, quick clicks and presses held a while.
    const QList<int> held{0, 20, 400, 10, 120, 0, 30, 60, 0, 250, 10, 0, 90, 0, 20};
    int microphonePresses = 0;
    for (int round = 0; round < held.size() && faults.isEmpty(); ++round) {
        const QString gesture = gestures.at(round % gestures.size());
        if (gesture == QLatin1String("background")) {
            QVERIFY(X11TestInput::tap(mini->mapToGlobal(QPoint(12, mini->height() / 2)), held.at(round)));
        } else if (gesture == QLatin1String("edge")) {
            QVERIFY(X11TestInput::tap(mini->mapToGlobal(QPoint(mini->width() - 3, mini->height() / 2)), held.at(round)));
        } else if (gesture == QLatin1String("layout")) {
            KavrelSegmentedPicker *picker = mini->view()->layoutPicker();
            QVERIFY(X11TestInput::tap(picker->mapToGlobal(picker->segmentArea(round % 2).center()), held.at(round) % 100));
            QTRY_COMPARE(picker->value(), picker->segment(round % 2).value);
        } else if (gesture == QLatin1String("drag")) {
            const QPoint from = mini->mapToGlobal(QPoint(12, mini->height() / 2));
            QVERIFY(X11TestInput::drag(from, from + (round % 2 ? QPoint(-80, -40) : QPoint(80, 40))));
        } else {
            QVERIFY(X11TestInput::click(mini->view()->microphoneControl()->toggleButton()));
            ++microphonePresses;
        }
        QTest::qWait(200);
        if (clickTheMeetingBetween) {
            QVERIFY(X11TestInput::click(meetingSpot));
            QTest::qWait(200);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(QStringLiteral("after %1 (round %2): ").arg(gesture).arg(round) + faults.join(QStringLiteral(", "))));
    }
    // Nothing comes of it a while later either.
    QTest::qWait(1500);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral(", "))));
    watch.stop();
    QCOMPARE(coordinator->miniWindowOpenCount(), 1);
    QVERIFY(!X11TestWindows::isViewable(quint32(mainWindow->winId())));
    // The presses reached the microphone button.
    QCOMPARE(program.objects.session.commands.count(QStringLiteral("toggleMicrophoneCapture()")), microphonePresses);

    // And the user's way back still works: "Развернуть" brings the main window over the meeting.
    QVERIFY(X11TestInput::click(mini->view()->expandButton()));
    QTRY_VERIFY(mainWindow->isVisible() && X11TestWindows::isViewable(quint32(mainWindow->winId())));
    QTRY_VERIFY(!mini);
    program.tray.trayIcon().hide();
}

KAVREL_X11_PRIVATE_DISPLAY_TEST_MAIN(tst_KavrelMiniWindowOverTheMeeting, 3200, 1000)

#include "tst_KavrelMiniWindowOverTheMeeting.moc"
