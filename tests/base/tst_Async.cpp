#include "base/Async.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

using namespace std::chrono_literals;

class tst_Async : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sleepWakesAtOnceWhenCancelled();
    void sleepFinishesWhenNotCancelled();
    void cancelledTaskNeverRunsItsRemainder();
    void severalWaitersGetTheResult();
    void waitersSeeTheTasksError();
    void awaitingAFinishedTaskReturnsAtOnce();
    void serialChainKeepsOrder();
    void serialChainSkipsCancelledItemsAndSurvivesFailures();
    void handleIdentity();
    void generationIdMakesOldIdsStale();
    void cancellationCallbacks();
    void callbackRemovedDuringCancelNeverRuns();
    void throwingFinishCallbackStillWakesWaiters();
};

void tst_Async::sleepWakesAtOnceWhenCancelled()
{
    CancellationToken token;
    bool threw = false;
    bool finished = false;
    auto task = [&]() -> QCoro::Task<void> {
        try {
            co_await sleepFor(60s, token);
        } catch (const CancellationError &) {
            threw = true;
        }
        finished = true;
    };
    QElapsedTimer timer;
    timer.start();
    auto running = task();
    QTimer::singleShot(20, [&] { token.cancel(); });
    QTRY_VERIFY_WITH_TIMEOUT(finished, 5000);
    QVERIFY(threw);
    QVERIFY(timer.elapsed() < 5000);

    // Already cancelled: no suspension beyond the throw.
    bool threwAgain = false;
    auto again = [&]() -> QCoro::Task<void> {
        try {
            co_await cancellableSleep(60s, token);
        } catch (const CancellationError &) {
            threwAgain = true;
        }
    };
    auto second = again();
    QTRY_VERIFY_WITH_TIMEOUT(threwAgain, 1000);

    // A yield (no duration) cancelled before the next turn throws there, and only once.
    CancellationToken yieldToken;
    int yieldEnds = 0;
    bool yieldThrew = false;
    auto yielding = [&]() -> QCoro::Task<void> {
        try {
            co_await sleepFor(0ms, yieldToken);
        } catch (const CancellationError &) {
            yieldThrew = true;
        }
        ++yieldEnds;
    };
    auto third = yielding();
    QCOMPARE(yieldEnds, 0);
    yieldToken.cancel();
    QTRY_COMPARE_WITH_TIMEOUT(yieldEnds, 1, 1000);
    QVERIFY(yieldThrew);
    QTest::qWait(10);
    QCOMPARE(yieldEnds, 1);
}

void tst_Async::sleepFinishesWhenNotCancelled()
{
    CancellationToken token;
    bool done = false;
    auto task = [&]() -> QCoro::Task<void> {
        co_await sleepFor(10ms, token);
        done = true;
    };
    auto running = task();
    QVERIFY(!done);
    QTRY_VERIFY_WITH_TIMEOUT(done, 2000);
    // Cancelling after the sleep ended must not resume anything twice.
    token.cancel();
    QTest::qWait(20);
}

void tst_Async::cancelledTaskNeverRunsItsRemainder()
{
    int steps = 0;
    auto handle = spawnTask([&](CancellationToken token) -> QCoro::Task<void> {
        ++steps;
        co_await sleepFor(30s, token);
        ++steps; // must never run
    });
    QCOMPARE(steps, 1); // starts at once
    QVERIFY(!handle.isFinished());
    handle.cancel();
    QTRY_VERIFY_WITH_TIMEOUT(handle.isFinished(), 2000);
    QCOMPARE(steps, 1);
    QVERIFY(handle.isCancelled());
}

void tst_Async::severalWaitersGetTheResult()
{
    auto handle = spawnTask([](CancellationToken token) -> QCoro::Task<int> {
        co_await sleepFor(20ms, token);
        co_return 42;
    });
    QList<int> results;
    auto waiter = [&](TaskHandle<int> h) -> QCoro::Task<void> {
        const int value = co_await h.result();
        results.append(value);
    };
    auto a = waiter(handle);
    auto b = waiter(handle);
    auto c = waiter(handle);
    int finishedCallbacks = 0;
    handle.onFinished([&] { ++finishedCallbacks; });
    QTRY_COMPARE_WITH_TIMEOUT(results.size(), 3, 2000);
    QCOMPARE(results, (QList<int>{42, 42, 42}));
    QCOMPARE(finishedCallbacks, 1);
}

namespace {
class TestError final : public KavrelError
{
public:
    QString message() const override { return QStringLiteral("boom"); }
};
} // namespace

void tst_Async::waitersSeeTheTasksError()
{
    auto handle = spawnTask([](CancellationToken token) -> QCoro::Task<int> {
        co_await sleepFor(5ms, token);
        throw TestError();
    });
    QString seen;
    auto waiter = [&](TaskHandle<int> h) -> QCoro::Task<void> {
        try {
            co_await h.result();
        } catch (const KavrelError &error) {
            seen = error.message();
        }
    };
    auto a = waiter(handle);
    QTRY_COMPARE_WITH_TIMEOUT(seen, QStringLiteral("boom"), 2000);
}

void tst_Async::awaitingAFinishedTaskReturnsAtOnce()
{
    auto handle = spawnTask([](CancellationToken) -> QCoro::Task<QString> { co_return QStringLiteral("done"); });
    QVERIFY(handle.isFinished());
    QString value;
    auto waiter = [&]() -> QCoro::Task<void> { value = co_await handle.result(); };
    auto a = waiter();
    QCOMPARE(value, QStringLiteral("done"));
}

void tst_Async::serialChainKeepsOrder()
{
    SerialChain chain;
    QStringList log;
    // Earlier items sleep longer, so only the chain can keep them in order.
    for (int i = 0; i < 5; ++i) {
        chain.enqueue([&log, i](CancellationToken token) -> QCoro::Task<void> {
            log.append(QStringLiteral("start %1").arg(i));
            co_await sleepFor(std::chrono::milliseconds(25 - i * 5), token);
            log.append(QStringLiteral("end %1").arg(i));
        });
    }
    auto last = chain.last();
    QTRY_VERIFY_WITH_TIMEOUT(last.isFinished(), 3000);
    QStringList expected;
    for (int i = 0; i < 5; ++i)
        expected << QStringLiteral("start %1").arg(i) << QStringLiteral("end %1").arg(i);
    QCOMPARE(log, expected);
}

void tst_Async::serialChainSkipsCancelledItemsAndSurvivesFailures()
{
    SerialChain chain;
    QStringList log;
    chain.enqueue([&](CancellationToken token) -> QCoro::Task<void> {
        co_await sleepFor(20ms, token);
        log.append(QStringLiteral("first"));
        throw TestError();
    });
    auto skipped = chain.enqueue([&](CancellationToken) -> QCoro::Task<void> {
        log.append(QStringLiteral("skipped"));
        co_return;
    });
    chain.enqueue([&](CancellationToken) -> QCoro::Task<void> {
        log.append(QStringLiteral("third"));
        co_return;
    });
    skipped.cancel();
    // Nobody awaits the failed item: the chain must not swallow its failure unreported.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("detached task failed")));
    QTRY_VERIFY_WITH_TIMEOUT(chain.last().isFinished(), 3000);
    QCOMPARE(log, (QStringList{QStringLiteral("first"), QStringLiteral("third")}));
}

void tst_Async::handleIdentity()
{
    TaskHandle<void> empty;
    QVERIFY(!empty.isValid());
    auto a = spawnTask([](CancellationToken token) -> QCoro::Task<void> { co_await sleepFor(10ms, token); });
    auto b = spawnTask([](CancellationToken token) -> QCoro::Task<void> { co_await sleepFor(10ms, token); });
    TaskHandle<void> copy = a;
    QVERIFY(copy == a);
    QVERIFY(a != b);
    QVERIFY(empty != a);
    QTRY_VERIFY(a.isFinished() && b.isFinished());
}

void tst_Async::generationIdMakesOldIdsStale()
{
    GenerationId generation;
    const QUuid first = generation.current();
    QVERIFY(generation.isCurrent(first));
    const QUuid second = generation.renew();
    QVERIFY(first != second);
    QVERIFY(!generation.isCurrent(first));
    QVERIFY(generation.isCurrent(second));
}

void tst_Async::cancellationCallbacks()
{
    CancellationToken token;
    int calls = 0;
    const auto removed = token.onCancel([&] { calls += 100; });
    token.onCancel([&] { calls += 1; });
    token.removeCallback(removed);
    CancellationToken copy = token;
    copy.cancel();
    copy.cancel();
    QVERIFY(token.isCancelled());
    QCOMPARE(calls, 1);
    // Registering after cancellation runs at once.
    token.onCancel([&] { calls += 10; });
    QCOMPARE(calls, 11);
    QVERIFY_THROWS_EXCEPTION(CancellationError, token.throwIfCancelled());
}

void tst_Async::callbackRemovedDuringCancelNeverRuns()
{
    CancellationToken token;
    QStringList log;
    CancellationToken::CallbackId second = 0;
    token.onCancel([&] {
        log.append(QStringLiteral("first"));
        // The owner of the second callback goes away in reaction to the first.
        token.removeCallback(second);
    });
    second = token.onCancel([&] { log.append(QStringLiteral("second")); });
    token.onCancel([&] { log.append(QStringLiteral("third")); });
    token.cancel();
    QCOMPARE(log, (QStringList{QStringLiteral("first"), QStringLiteral("third")}));

    // A callback may drop the last token the canceller held.
    auto owned = std::make_unique<CancellationToken>();
    int calls = 0;
    owned->onCancel([&] { owned.reset(); });
    owned->onCancel([&] { ++calls; });
    owned->cancel();
    QCOMPARE(calls, 1);
}

void tst_Async::throwingFinishCallbackStillWakesWaiters()
{
    auto handle = spawnTask([](CancellationToken token) -> QCoro::Task<int> {
        co_await sleepFor(5ms, token);
        co_return 7;
    });
    handle.onFinished([] { throw TestError(); });
    std::optional<int> received;
    auto waiter = [](TaskHandle<int> h, std::optional<int> *out) -> QCoro::Task<void> {
        *out = co_await h.result();
    };
    waiter(handle, &received);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("finish callback failed")));
    QTRY_VERIFY_WITH_TIMEOUT(handle.isFinished(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(received, std::optional<int>(7), 3000);
}

QTEST_GUILESS_MAIN(tst_Async)
#include "tst_Async.moc"
