// The version-2 client's reconnect loop against the fake relay: the stepped pauses without a
// limit, the three errors that end it, a socket dropped right after ready, and a loop replaced
// by a newer one after a reset.

#include "TranslationTestSupport.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>

using namespace TranslationTest;

namespace {

// Makes the relay's end of a connection stop reading: the client's writes then back up.
bool stallReading(FakeBackend &backend, FakeWebSocketSession *session)
{
    auto *webSocket = session ? session->findChild<QWebSocket *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!webSocket)
        return false;
    const auto sockets = backend.findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets) {
        if (socket->localPort() == webSocket->localPort() && socket->peerPort() == webSocket->peerPort()) {
            socket->blockSignals(true);
            socket->setReadBufferSize(4096);
            return true;
        }
    }
    return false;
}

} // namespace

class tst_KavrelLiveTranslationV2Reconnect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void steppedPausesWithoutLimit()
    {
        Fixture f;
        auto timings = fastTimings();
        timings.reconnectDelays = {30ms, 60ms, 90ms, 120ms};
        f.service->setTimings(timings);
        // Refused upgrades are no reason to give up.
        f.relay->setV2UpgradeStatus(401);

        QElapsedTimer clock;
        QList<qint64> attempts;
        QObject::connect(&f.backend, &FakeBackend::requestReceived, &f.backend, [&](const RecordedRequest &request) {
            if (request.path == QLatin1String(FakeTranslationRelay::v2Path))
                attempts.append(clock.elapsed());
        });
        clock.start();
        f.start();
        QTRY_VERIFY_WITH_TIMEOUT(attempts.size() >= 7, 10000);

        // Lower bounds only: each attempt waits at least its pause after the previous one.
        const QList<qint64> pauses = {30, 60, 90, 120, 120, 120, 120};
        qint64 previous = 0;
        for (int i = 0; i < 7; ++i) {
            QVERIFY2(attempts.at(i) - previous >= pauses.at(i) - 1,
                     qPrintable(QStringLiteral("attempt %1 came %2 ms after the previous one").arg(i + 1).arg(attempts.at(i) - previous)));
            previous = attempts.at(i);
        }
        QVERIFY(f.service->isReconnecting());
        QVERIFY(f.events.isEmpty());
        const RecordedRequest upgrade = f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).first();
        QCOMPARE(upgrade.header("Authorization"), QByteArray("Bearer test-access-token"));
        QCOMPARE(upgrade.header("Cookie"), QByteArray("norvantis_refresh_token=test-refresh-token"));
        QCOMPARE(upgrade.rawQuery, QString());
    }

    void errorsThatEndTheLoop_data()
    {
        QTest::addColumn<int>("account");
        QTest::addColumn<QString>("message");
        QTest::newRow("signed out") << int(Account::signedOut) << QStringLiteral("Sign in to use live translation.");
        QTest::newRow("invalid backend address") << int(Account::invalidBaseURL)
                                                 << QStringLiteral("The app could not create the translation request.");
    }

    void errorsThatEndTheLoop()
    {
        QFETCH(int, account);
        QFETCH(QString, message);
        LogCapture log;
        Fixture f{Account(account)};
        f.start();
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::failed(message));
        QTRY_VERIFY(!f.service->isReconnecting());
        QVERIFY(log.contains(QStringLiteral("v2 connection stopped after non-recoverable error=") + message));
        QCOMPARE(f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size(), 0);

        // The next text that finds the client not ready starts one more loop, which ends alike.
        f.enqueueInterim(1, QStringLiteral("hello"));
        QTRY_COMPARE(f.events.size(), 2);
        QCOMPARE(f.events.last(), DeepSeekTranslationEvent::failed(message));
        QTRY_VERIFY(!f.service->isReconnecting());
    }

    void resetEndsTheLoopSilently()
    {
        Fixture f;
        auto timings = fastTimings();
        timings.reconnectDelays = {10ms, 10ms, 10ms, 10ms};
        f.service->setTimings(timings);
        f.relay->setV2UpgradeStatus(503);
        f.start();
        QTRY_VERIFY(f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size() >= 2);
        f.reset();
        QVERIFY(!f.service->isReconnecting());
        const qsizetype attempts = f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size();
        QTest::qWait(100);
        QCOMPARE(f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size(), attempts);
        QVERIFY(f.events.isEmpty());
    }

    void newerLoopIsNotOrphaned()
    {
        // A reset cancels the running loop; a new session starts another at once. The old loop
        // wakes later and must leave the new one's handle alone.
        Fixture f;
        auto timings = fastTimings();
        timings.reconnectDelays = {60ms, 60ms, 60ms, 60ms};
        f.service->setTimings(timings);
        f.relay->setV2UpgradeStatus(503);
        f.start();
        QTRY_COMPARE(f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size(), 1);
        f.reset();
        f.start();
        QVERIFY(f.service->isReconnecting());
        QTest::qWait(20); // the old loop has woken from its cancelled pause by now
        QVERIFY(f.service->isReconnecting());

        // One loop, so one attempt per pause: the next attempt is the new loop's first.
        const qsizetype before = f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size();
        f.enqueueInterim(1, QStringLiteral("hello"));
        QTRY_COMPARE(f.backend.upgradeRequests(QString::fromLatin1(FakeTranslationRelay::v2Path)).size(), before + 1);
        f.relay->setV2UpgradeStatus(0);
        QTRY_VERIFY(f.service->isReady());
        QTRY_VERIFY(!f.service->isReconnecting());
        QCOMPARE(f.relay->v2ConnectionCount(), 1);
    }

    // A language change resets and starts again at once, while the old loop still waits for
    // hello. That loop learns of its cancellation only afterwards; the new session must not
    // hear of it.
    void cancelledLoopStaysSilentForTheNextSession()
    {
        LogCapture log;
        Fixture f;
        FakeTranslationRelay::V2Script silent;
        silent.sendHello = false;
        f.relay->queueV2Script(silent);
        f.start();
        QTRY_VERIFY(log.contains(QStringLiteral("v2 websocket upgrade completed")));

        QCoro::Task<void> reset = f.service->resetSession();
        QCoro::Task<void> start =
            f.service->startSession(QStringLiteral("ru"), QStringLiteral("Russian"), QStringLiteral("de"), QStringLiteral("German"), f.handler());
        QVERIFY(reset.isReady());
        QVERIFY(start.isReady());
        QTRY_VERIFY(f.service->isReady());
        QTest::qWait(50);
        QVERIFY(f.events.isEmpty());
        QCOMPARE(f.relay->v2ConnectionCount(), 2);
        QCOMPARE(text(f.relay->v2Received(1).first(), "targetLanguage"), QStringLiteral("de"));
    }

    // The server reports a recoverable connection error while the flush after ready is still
    // writing. Closing the socket ends that write with a cancellation, which is a lost
    // connection to retry, not the end of the reconnect loop.
    void socketClosedDuringTheFlushIsRetried()
    {
        Fixture f;
        FakeTranslationRelay::V2Script withheld;
        withheld.sendReady = false;
        f.relay->queueV2Script(withheld);
        // The emergency lane keeps one request open and stays out of the way.
        f.relay->setChatDelayMs(60000);
        f.start();
        // Far more than the socket buffers hold while the relay does not read.
        const QString large(1024 * 1024, QLatin1Char('a'));
        for (int number = 1; number <= 16; ++number)
            f.enqueueFinal(number, large);
        QTRY_VERIFY(f.relay->v2ConnectionCount() == 1 && !f.relay->v2Received(0, QStringLiteral("configure")).isEmpty());

        QVERIFY(stallReading(f.backend, f.relay->v2Session(0)));
        const auto &first = f.relay->v2Connection(0);
        f.relay->sendV2(FakeTranslationRelay::ready(first.sessionId, first.connectionId, false), 0);
        QTRY_VERIFY(f.service->isReady());
        QTest::qWait(100);
        f.relay->sendV2(FakeTranslationRelay::error(QStringLiteral("busy"), QStringLiteral("try again"), true,
                                                    QStringLiteral("connection")),
                        0);

        QTRY_COMPARE_WITH_TIMEOUT(f.relay->v2ConnectionCount(), 2, 10000);
        // The connection counts from its upgrade; the resume follows the relay's hello.
        QTRY_VERIFY(!f.relay->v2Received(1).isEmpty());
        QCOMPARE(text(f.relay->v2Received(1).first(), "type"), QStringLiteral("resume"));
        QTRY_VERIFY(f.service->isReady());
        QVERIFY(f.eventsOf(DeepSeekTranslationEvent::Kind::failed).isEmpty());
    }

    void socketDroppedAfterReadyIsResumed()
    {
        Fixture f;
        FakeTranslationRelay::V2Script dropping;
        dropping.dropAfterReady = true;
        dropping.translateFinals = false;
        f.relay->queueV2Script(dropping);
        f.relay->queueV2Script(dropping);
        // Only the server's translation counts here; the chat fallback fails.
        f.relay->failNextChatRequests(10);
        f.start();
        f.enqueueFinal(1, QStringLiteral("still here"));
        QTRY_COMPARE(f.relay->v2ConnectionCount(), 3);
        QTRY_COMPARE(f.events.size(), 1);
        QCOMPARE(f.events.first(), DeepSeekTranslationEvent::completed(turn(1), QStringLiteral("en: still here")));
        QCOMPARE(text(f.relay->v2Received(0).first(), "type"), QStringLiteral("configure"));
        QCOMPARE(text(f.relay->v2Received(1).first(), "type"), QStringLiteral("resume"));
        QCOMPARE(text(f.relay->v2Received(2).first(), "type"), QStringLiteral("resume"));
        QCOMPARE(f.relay->v2Received(2).first().value(QStringLiteral("pendingFinals")).toArray().size(), 1);
        // Each socket got the final again in its flush.
        for (int connection = 0; connection < 3; ++connection)
            QCOMPARE(f.relay->v2Received(connection, QStringLiteral("translate_final")).size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_KavrelLiveTranslationV2Reconnect)
#include "tst_KavrelLiveTranslationV2Reconnect.moc"
