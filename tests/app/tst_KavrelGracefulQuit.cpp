#include "app/KavrelGracefulQuit.h"
#include "app/KavrelTerminationSignals.h"

#include "base/Async.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <memory>

// Every way out of the program stops the session first, and never waits for it for ever.
class tst_KavrelGracefulQuit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quitWaitsForTheSessionToStop_data();
    void quitWaitsForTheSessionToStop();
    void applicationQuitTakesTheSameRoad();
    void terminationSignalsArriveOnTheMainThread();
};

void tst_KavrelGracefulQuit::quitWaitsForTheSessionToStop_data()
{
    QTest::addColumn<int>("stopMilliseconds");
    QTest::addColumn<bool>("throws");
    QTest::addColumn<bool>("stoppedInTime");
    QTest::newRow("stops at once") << 0 << false << true;
    QTest::newRow("stops after a while") << 50 << false << true;
    QTest::newRow("stop fails") << 10 << true << true;
    QTest::newRow("stop hangs past the limit") << 60000 << false << false;
}

void tst_KavrelGracefulQuit::quitWaitsForTheSessionToStop()
{
    QFETCH(int, stopMilliseconds);
    QFETCH(bool, throws);
    QFETCH(bool, stoppedInTime);

    int stops = 0;
    bool stopEnded = false;
    CancellationToken hangingStop;
    // The windows go before the stop begins (see started()).
    int startedBeforeStop = -1;
    std::unique_ptr<QSignalSpy> started;
    KavrelGracefulQuit quit([&stops, &stopEnded, &startedBeforeStop, &started, stopMilliseconds, throws,
                             hangingStop]() -> QCoro::Task<void> {
        startedBeforeStop = int(started->count());
        ++stops;
        co_await sleepFor(std::chrono::milliseconds(stopMilliseconds), hangingStop);
        if (throws)
            throw std::runtime_error("recording could not be finished");
        stopEnded = true;
    });
    quit.setStopTimeLimit(std::chrono::milliseconds(300));
    int exits = 0;
    bool stopEndedBeforeExit = false;
    quit.setExit([&] {
        ++exits;
        stopEndedBeforeExit = stopEnded;
    });
    QSignalSpy finished(&quit, &KavrelGracefulQuit::finished);
    started = std::make_unique<QSignalSpy>(&quit, &KavrelGracefulQuit::started);

    quit.requestQuit();
    quit.requestQuit(); // a second Quit while stopping changes nothing
    QVERIFY(quit.isQuitting());
    QCOMPARE(exits, 0);
    QTRY_COMPARE(exits, 1);
    QCOMPARE(stops, 1);
    QCOMPARE(startedBeforeStop, 1);
    QCOMPARE(started->count(), 1);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toBool(), stoppedInTime);
    QCOMPARE(stopEndedBeforeExit, stoppedInTime && !throws);
    QTest::qWait(50);
    QCOMPARE(exits, 1);
    hangingStop.cancel();
    QTest::qWait(10);
}

void tst_KavrelGracefulQuit::applicationQuitTakesTheSameRoad()
{
    int stops = 0;
    KavrelGracefulQuit quit([&stops]() -> QCoro::Task<void> {
        ++stops;
        co_return;
    });
    int exits = 0;
    quit.setExit([&exits] { ++exits; });
    quit.interceptQuitOf(*QCoreApplication::instance());

    QEvent quitEvent(QEvent::Quit);
    QVERIFY(QCoreApplication::sendEvent(QCoreApplication::instance(), &quitEvent));
    QTRY_COMPARE(exits, 1);
    QCOMPARE(stops, 1);

    // Once the session has stopped, the application's own quit goes through.
    QEvent again(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &again);
    QCOMPARE(stops, 1);
}

void tst_KavrelGracefulQuit::terminationSignalsArriveOnTheMainThread()
{
    auto signals_ = std::make_unique<KavrelTerminationSignals>();
    QVERIFY(signals_->isInstalled());
    QSignalSpy requested(signals_.get(), &KavrelTerminationSignals::terminationRequested);
    ::raise(SIGTERM);
    ::raise(SIGINT);
    QTRY_COMPARE(requested.count(), 2);
    QCOMPARE(requested.at(0).first().toInt(), SIGTERM);
    QCOMPARE(requested.at(1).first().toInt(), SIGINT);

    // A second watcher while one is installed handles nothing; after the first goes, a new one can.
    KavrelTerminationSignals second;
    QVERIFY(!second.isInstalled());
    signals_.reset();
    KavrelTerminationSignals third;
    QVERIFY(third.isInstalled());
}

QTEST_GUILESS_MAIN(tst_KavrelGracefulQuit)
#include "tst_KavrelGracefulQuit.moc"
