// The open observer on its own: one outcome per task identifier whatever the order of the
// callbacks and the wait, and the texts the user reads after a failed open.

#include "speech/DeepgramWebSocketOpenError.h"
#include "speech/DeepgramWebSocketOpenObserver.h"

#include "base/Async.h"
#include "platform/WebSocketError.h"
#include "support/TaskResult.h"

#include <QTest>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

std::shared_ptr<StartedTask<void>> startWait(DeepgramWebSocketOpenObserver *observer, int identifier,
                                             std::chrono::milliseconds timeout)
{
    return startTask([observer, identifier, timeout] { return observer->waitForOpen(identifier, timeout); });
}

} // namespace

class tst_DeepgramWebSocketOpenObserver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failureTexts_data()
    {
        QTest::addColumn<int>("callback"); // 0 close, 1 transport
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("hasReason");
        QTest::addColumn<QString>("expected");

        const QString closedPrefix = QStringLiteral("The transcription service closed the connection before it was ready. Code 1008");
        QTest::newRow("close with a reason") << 0 << QStringLiteral("x") << true << closedPrefix + QStringLiteral(": x");
        QTest::newRow("close with an empty reason") << 0 << QString() << true << closedPrefix + QStringLiteral(".");
        QTest::newRow("close without a reason") << 0 << QString() << false << closedPrefix + QStringLiteral(".");
        QTest::newRow("transport") << 1 << QString() << false
                                   << WebSocketError::upgradeRejected(401, QString()).message();
    }

    void failureTexts()
    {
        QFETCH(int, callback);
        QFETCH(QString, reason);
        QFETCH(bool, hasReason);
        QFETCH(QString, expected);

        DeepgramWebSocketOpenObserver observer;
        observer.prepare(7);
        auto wait = startWait(&observer, 7, 5s);
        QTest::qWait(10);
        QVERIFY(!wait->finished);
        if (callback == 0)
            observer.didClose(7, 1008, hasReason ? std::optional<QString>(reason) : std::nullopt);
        else
            observer.didCompleteWithError(7, std::make_exception_ptr(WebSocketError::upgradeRejected(401, QString())));
        QTRY_VERIFY(wait->finished);
        QCOMPARE(errorMessage(wait->error), expected);
    }

    void outcomeBeforeWaitReturnsAtOnce()
    {
        DeepgramWebSocketOpenObserver observer;
        observer.prepare(1);
        observer.didOpen(1);
        observer.didClose(1, 1000, std::nullopt); // a later close is ignored
        auto wait = startWait(&observer, 1, 1ms);
        QTRY_VERIFY(wait->finished);
        QVERIFY(!wait->error);
    }

    void timeoutWinsAndLaterCallbacksAreIgnored()
    {
        DeepgramWebSocketOpenObserver observer;
        observer.prepare(2);
        auto wait = startWait(&observer, 2, 50ms);
        QTRY_VERIFY(wait->finished);
        QCOMPARE(errorMessage(wait->error),
                 QStringLiteral("The transcription service did not accept the connection in time."));
        observer.didOpen(2); // too late: ignored, and nothing is stored for a next wait

        observer.prepare(2);
        auto again = startWait(&observer, 2, 5s);
        QTest::qWait(20);
        QVERIFY(!again->finished);
        observer.didOpen(2);
        QTRY_VERIFY(again->finished);
        QVERIFY(!again->error);
    }

    void prepareForgetsAStoredOutcome()
    {
        DeepgramWebSocketOpenObserver observer;
        observer.prepare(3);
        observer.didCompleteWithError(3, nullptr); // a completion without an error does nothing
        observer.didOpen(3);
        observer.prepare(3);
        auto wait = startWait(&observer, 3, 5s);
        QTest::qWait(20);
        QVERIFY(!wait->finished);
        observer.didClose(3, 4000, QStringLiteral("late"));
        QTRY_VERIFY(wait->finished);
        QVERIFY(errorMessage(wait->error).endsWith(QLatin1String("Code 4000: late")));
    }
};

QTEST_GUILESS_MAIN(tst_DeepgramWebSocketOpenObserver)
#include "tst_DeepgramWebSocketOpenObserver.moc"
