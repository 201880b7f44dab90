#include "base/Continuation.h"
#include "base/TaskOutcome.h"
#include "base/Timeout.h"

#include "support/TaskResult.h"

#include <QTest>
#include <QTimer>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

namespace {

class TestError final : public KavrelError
{
public:
    explicit TestError(int code = 0) : m_code(code) {}
    QString message() const override { return QStringLiteral("failure %1").arg(m_code); }
    int code() const { return m_code; }

private:
    int m_code;
};

class TimedOut final : public KavrelError
{
public:
    QString message() const override { return QStringLiteral("timed out"); }
};

QCoro::Task<int> valueAfter(std::chrono::milliseconds delay, int value, bool fail,
                            CancellationToken token = CancellationToken())
{
    co_await sleepFor(delay, token);
    if (fail)
        throw TestError(value);
    co_return value;
}

const std::exception_ptr timedOut = std::make_exception_ptr(TimedOut());

} // namespace

class tst_AsyncOutcome : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void outcomeKeepsValueOrError();
    void timeoutFiresOrNot_data();
    void timeoutFiresOrNot();
    void timeoutEndsAtOnceOnCancel();
    void timeoutAroundAContinuation();
    void continuationResumesEveryWaiterOnce();
    void slotIsEmptyWhenItsCallersResume();
};

void tst_AsyncOutcome::outcomeKeepsValueOrError()
{
    const TaskOutcome<int> success = QCoro::waitFor(outcomeOf(valueAfter(0ms, 7, false)));
    QVERIFY(success.succeeded());
    QCOMPARE(success.get(), 7);

    const TaskOutcome<int> failure = QCoro::waitFor(outcomeOf(valueAfter(0ms, 3, true)));
    QVERIFY(failure.failed());
    QVERIFY(!failure.value);
    QCOMPARE(failure.errorAs<TestError>()->code(), 3);
    QVERIFY(!failure.errorAs<TimedOut>());
    QVERIFY(!failure.isCancellation());
    QVERIFY_THROWS_EXCEPTION(TestError, failure.get());

    auto cancelled = []() -> QCoro::Task<void> { throw CancellationError(); co_return; };
    const TaskOutcome<void> voidOutcome = QCoro::waitFor(outcomeOf(cancelled()));
    QVERIFY(voidOutcome.isCancellation());
}

void tst_AsyncOutcome::timeoutFiresOrNot_data()
{
    QTest::addColumn<int>("workMs");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<bool>("workFails");
    QTest::addColumn<QString>("expected");

    QTest::newRow("work first") << 0 << 5000 << false << "7";
    QTest::newRow("work fails first: its error passes") << 0 << 5000 << true << "failure 7";
    QTest::newRow("time-out first") << 200 << 10 << false << "timed out";
    QTest::newRow("time-out first, late failure dropped") << 200 << 10 << true << "timed out";
}

void tst_AsyncOutcome::timeoutFiresOrNot()
{
    QFETCH(int, workMs);
    QFETCH(int, timeoutMs);
    QFETCH(bool, workFails);
    QFETCH(QString, expected);

    const auto result = runTask(withTimeout(valueAfter(std::chrono::milliseconds(workMs), 7, workFails),
                                            std::chrono::milliseconds(timeoutMs), timedOut));
    QCOMPARE(result.succeeded() ? QString::number(*result.value) : result.errorText(), expected);
    // Whatever ended first, nothing resumes the caller a second time when the work ends.
    QTest::qWait(workMs + 20);
}

void tst_AsyncOutcome::timeoutEndsAtOnceOnCancel()
{
    CancellationToken token;
    QTimer::singleShot(10, [token] { token.cancel(); });
    const auto result = runTask(withTimeout(valueAfter(60s, 1, false, token), 60s, timedOut, token));
    QVERIFY(result.isCancellation());

    const auto alreadyCancelled = runTask(withTimeout(valueAfter(0ms, 1, false), 60s, timedOut, token));
    QVERIFY(alreadyCancelled.isCancellation());
    QTest::qWait(10);
}

void tst_AsyncOutcome::timeoutAroundAContinuation()
{
    const auto continuation = Continuation<QString>::create();
    QTimer::singleShot(5, [continuation] { continuation->resume(QStringLiteral("hello")); });
    const auto resumed = runTask(withTimeout(Continuation<QString>::wait(continuation), 5s, timedOut));
    QCOMPARE(resumed.value.value_or(QString()), QStringLiteral("hello"));

    const auto never = Continuation<>::create();
    const auto expired = runTask(withTimeout(Continuation<>::wait(never), 10ms, timedOut));
    QCOMPARE(expired.errorText(), QStringLiteral("timed out"));
    // Ending it after the time-out changes nothing for the caller that already left.
    never->fail(std::make_exception_ptr(TestError()));
    QTest::qWait(10);
}

void tst_AsyncOutcome::continuationResumesEveryWaiterOnce()
{
    for (const auto resumption : {Continuation<int>::Resumption::onNextTurn, Continuation<int>::Resumption::immediately}) {
        const auto continuation = Continuation<int>::create(resumption);
        QList<int> seen;
        auto waiter = [&seen](Continuation<int>::Pointer pointer) -> QCoro::Task<void> {
            const int value = co_await Continuation<int>::wait(pointer);
            seen.append(value);
        };
        auto first = waiter(continuation);
        auto second = waiter(continuation);
        continuation->resume(4);
        continuation->resume(5);
        continuation->fail(std::make_exception_ptr(TestError()));
        // A deferred resumption never runs inside the call that ended the wait.
        QCOMPARE(seen.size(), resumption == Continuation<int>::Resumption::immediately ? 2 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(seen, (QList<int>{4, 4}), 1000);
        auto late = waiter(continuation);
        QCOMPARE(seen.size(), 3);
    }
}

void tst_AsyncOutcome::slotIsEmptyWhenItsCallersResume()
{
    ContinuationSlot<int> slot;
    QVERIFY(!slot.fail(std::make_exception_ptr(TestError())));
    QList<QString> seen;
    auto caller = [&]() -> QCoro::Task<void> {
        try {
            const int value = co_await slot.install();
            seen.append(QString::number(value) + (slot.isPending() ? QStringLiteral(" pending") : QString()));
        } catch (const TestError &error) {
            seen.append(error.message());
        }
    };
    auto first = caller();
    auto joined = caller();
    QVERIFY(slot.isPending());
    QVERIFY(slot.resume(9));
    QCOMPARE(seen, (QList<QString>{QStringLiteral("9"), QStringLiteral("9")}));
    QVERIFY(!slot.resume(10));

    auto failing = caller();
    QVERIFY(slot.fail(std::make_exception_ptr(TestError(2))));
    QCOMPARE(seen.last(), QStringLiteral("failure 2"));
}

QTEST_GUILESS_MAIN(tst_AsyncOutcome)
#include "tst_AsyncOutcome.moc"
