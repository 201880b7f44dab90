// The speech-to-text client's connection behaviour against the fake relay over real sockets:
// keep-alive, the send queue, back-pressure, reconnection, error reporting, stop and opening.

#include "SpeechTestHarness.h"
#include "TranslationTestSupport.h"

#include "speech/DeepgramLiveTranscriptionError.h"

#include <QElapsedTimer>
#include <QTest>

using namespace SpeechTest;

namespace {

const QByteArray finalizeFrame = "{\"type\":\"Finalize\"}";
const QByteArray closeStreamFrame = "{\"type\":\"CloseStream\"}";
const QByteArray keepAliveFrame = "{\"type\":\"KeepAlive\"}";
const QString openPrefix = QStringLiteral("The app could not open the live transcription connection: ");

// Far more than loopback's socket buffers take, so a send stays in flight while the relay
// does not read.
QByteArray hugeChunk()
{
    return QByteArray(24 * 1024 * 1024, 'h');
}

// A chunk of exactly this many bytes that tells its number.
QByteArray sizedChunk(int n, int bytes)
{
    return QByteArray::number(n).leftJustified(bytes, char('a' + n % 26));
}

} // namespace

class tst_DeepgramLiveTranscriptionService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepAliveEveryInterval()
    {
        Harness h;
        auto timings = fastTimings();
        timings.keepAliveInterval = 150ms;
        h.client->setTimings(timings);
        QVERIFY(!h.connect());
        QTRY_VERIFY(h.relay->controlFrames(0).size() >= 3);

        const auto frames = h.relay->frames(0);
        qint64 previous = h.relay->openedAtMs(0);
        for (const auto &frame : frames) {
            QCOMPARE(frame.data, keepAliveFrame);
            // Never early: the first one an interval after the open, then one per interval.
            QVERIFY2(frame.atMs - previous >= 120, qPrintable(QString::number(frame.atMs - previous)));
            previous = frame.atMs;
        }
        h.stop();
    }

    // The queue keeps the newest 5 s of audio (160,000 bytes), however the audio is cut: a
    // burst like the one after an audio server's restart goes out whole.
    void queueKeepsTheNewestFiveSeconds_data()
    {
        QTest::addColumn<int>("chunkBytes");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("kept");
        QTest::newRow("a restart's burst, 1.7 s of mixer chunks") << 2048 << 27 << 27;
        QTest::newRow("8 s of 62.5 ms chunks") << 2000 << 128 << 80;
        QTest::newRow("12.5 s of half-second chunks") << 16000 << 25 << 10;
    }
    void queueKeepsTheNewestFiveSeconds()
    {
        QFETCH(int, chunkBytes);
        QFETCH(int, count);
        QFETCH(int, kept);
        Harness h;
        QVERIFY(!h.connect());
        QList<QByteArray> sent;
        for (int n = 0; n < count; ++n) {
            sent.append(sizedChunk(n, chunkBytes));
            h.client->sendAudio(sent.last());
        }
        QCOMPARE(h.client->pendingAudioChunkCount(), kept);
        QCOMPARE(h.client->droppedAudioChunkCount(), count - kept);

        const QList<QByteArray> expected = sent.mid(count - kept);
        QTRY_COMPARE(h.relay->audioFrames(0).size(), kept);
        QCOMPARE(h.relay->audioFrames(0), expected);
        QTest::qWait(50);
        QCOMPARE(h.relay->audioFrames(0).size(), kept);
        h.stop();
    }

    // A burst the network cannot take drops chunk after chunk (the audio of a stall of minutes
    // is thousands of chunks): each run of drops is told once, with its count, when a chunk finds
    // room again or the stream stops; a run that goes on is told once per diagnostics interval.
    void aRunOfDropsIsToldOnce()
    {
        TranslationTest::LogCapture log;
        const auto dropLines = [&log] {
            QStringList found;
            for (const QString &line : log.lines()) {
                if (line.contains(QLatin1String("dropped stale audio chunks")))
                    found << line.mid(line.indexOf(QLatin1String("count=")));
            }
            return found;
        };
        Harness h;
        auto timings = fastTimings();
        timings.diagnosticsInterval = 300ms;
        timings.stopTimeout = 500ms;
        h.client->setTimings(timings);
        QVERIFY(!h.connect());
        // 8 s at once, twice: 48 chunks dropped each time.
        for (int burst = 0; burst < 2; ++burst) {
            for (int n = 0; n < 128; ++n)
                h.client->sendAudio(sizedChunk(n, 2000));
            QCOMPARE(dropLines(), burst == 0 ? QStringList() : QStringList{QStringLiteral("count=48 totalDropped=48")});
            QTRY_COMPARE(h.client->pendingAudioChunkCount(), 0);
        }
        h.client->sendAudio(sizedChunk(0, 2000));
        QCOMPARE(dropLines(), (QStringList{QStringLiteral("count=48 totalDropped=48"), QStringLiteral("count=48 totalDropped=96")}));
        QTRY_VERIFY(h.client->pendingAudioChunkCount() == 0 && h.client->inFlightAudioSendCount() == 0);

        // The relay stops reading: every chunk pushes out the oldest, for longer than an interval.
        log.clear();
        QVERIFY(h.relay->stallReading(h.relay->session(0)));
        h.client->sendAudio(hugeChunk());
        QTRY_COMPARE(h.client->inFlightAudioSendCount(), 1);
        for (int n = 0; n < 80; ++n)
            h.client->sendAudio(sizedChunk(n, 2000));
        QCOMPARE(h.client->droppedAudioChunkCount(), 96);
        QElapsedTimer dropping;
        dropping.start();
        int dropped = 0;
        for (; dropping.elapsed() < 500; ++dropped) {
            h.client->sendAudio(sizedChunk(dropped, 2000));
            QTest::qWait(10);
        }
        QVERIFY(!dropLines().isEmpty());
        h.stop();
        // One line for each interval's run, however many chunks it dropped.
        const QStringList lines = dropLines();
        QVERIFY2(lines.size() <= 1 + dropping.elapsed() / 300, qPrintable(lines.join(QLatin1Char('\n'))));
        int told = 0;
        for (const QString &line : lines)
            told += line.section(QLatin1Char('='), 1, 1).section(QLatin1Char(' '), 0, 0).toInt();
        QCOMPARE(told, dropped);
    }

    // While the network does not take the bytes, one send stays in flight and the rest wait
    // in the bounded queue, where a chunk past its 5 s pushes out the oldest.
    void oneSendInFlightUnderBackPressure()
    {
        Harness h;
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 1);
        QVERIFY(h.relay->stallReading(h.relay->session(0)));

        h.client->sendAudio(hugeChunk());
        QTRY_COMPARE(h.client->inFlightAudioSendCount(), 1);
        QCOMPARE(h.client->pendingAudioChunkCount(), 0);
        for (int n = 1; n <= 80; ++n)
            h.client->sendAudio(sizedChunk(n, 2000));
        QCOMPARE(h.client->pendingAudioChunkCount(), 80);
        QCOMPARE(h.client->droppedAudioChunkCount(), 0);
        h.client->sendAudio(sizedChunk(81, 2000));
        QCOMPARE(h.client->pendingAudioChunkCount(), 80);
        QCOMPARE(h.client->droppedAudioChunkCount(), 1);

        QTest::qWait(200);
        QCOMPARE(h.client->inFlightAudioSendCount(), 1);
        QCOMPARE(h.client->pendingAudioChunkCount(), 80);

        h.relay->resumeReading(h.relay->session(0));
        QTRY_COMPARE_WITH_TIMEOUT(h.relay->audioFrames(0).size(), 81, 20000);
        const auto frames = h.relay->audioFrames(0);
        QCOMPARE(frames.first().size(), hugeChunk().size());
        for (int n = 2; n <= 81; ++n)
            QCOMPARE(frames.at(n - 1), sizedChunk(n, 2000));
        QCOMPARE(h.client->pendingAudioChunkCount(), 0);
        h.stop();
    }

    // A dropped connection is reopened after 20, 60, 160 and 320 ms (the test's schedule);
    // when all four attempts fail, one error names the failure that started it all.
    void reconnectScheduleAndLimit()
    {
        Harness h;
        h.relay->setUpgrades({FakeSpeechRelay::Upgrade::accept, FakeSpeechRelay::Upgrade::reject401});
        QElapsedTimer clock;
        clock.start();
        QList<qint64> upgradeTimes;
        QObject::connect(&h.backend, &FakeBackend::requestReceived, [&](const RecordedRequest &request) {
            if (request.path == QLatin1String(FakeSpeechRelay::path))
                upgradeTimes.append(clock.elapsed());
        });
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 1);

        const qint64 droppedAt = clock.elapsed();
        h.relay->session(0)->abort();
        QTRY_COMPARE(h.errors.size(), 1);
        QCOMPARE(h.errors.first(),
                 QStringLiteral("The app could not receive a transcription update: The network connection was lost."));
        QCOMPARE(upgradeTimes.size(), 5);
        const auto delays = fastTimings().reconnectDelays;
        qint64 previous = droppedAt;
        for (int attempt = 0; attempt < 4; ++attempt) {
            const qint64 gap = upgradeTimes.at(attempt + 1) - previous;
            QVERIFY2(gap >= delays[std::size_t(attempt)].count() * 9 / 10, qPrintable(QString::number(gap)));
            previous = upgradeTimes.at(attempt + 1);
        }

        QTest::qWait(400);
        QCOMPARE(h.relay->upgradeCount(), 5);
        QCOMPARE(h.errors.size(), 1);
        QVERIFY(!h.client->isConnected());
        h.client->sendAudio(chunk(1));
        QCOMPARE(h.client->pendingAudioChunkCount(), 0);
    }

    void attemptCounterResets_data()
    {
        QTest::addColumn<QString>("sign");
        QTest::addColumn<int>("expectedCount");
        QTest::newRow("a decodable Results frame") << QStringLiteral("results") << 0;
        QTest::newRow("a successful audio send") << QStringLiteral("audio") << 0;
        QTest::newRow("a successful reopen alone") << QString() << 2;
    }

    void attemptCounterResets()
    {
        QFETCH(QString, sign);
        QFETCH(int, expectedCount);

        Harness h;
        h.relay->setUpgrades({FakeSpeechRelay::Upgrade::accept, FakeSpeechRelay::Upgrade::reject401,
                              FakeSpeechRelay::Upgrade::accept});
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 1);
        h.relay->session(0)->abort();
        QTRY_COMPARE(h.relay->sessions().size(), 2);
        QTRY_VERIFY(h.client->isConnected());
        QCOMPARE(h.client->reconnectAttemptCount(), 2);

        if (sign == QLatin1String("results")) {
            h.relay->session(1)->sendText(FakeSpeechRelay::resultsWith({}, std::nullopt, false, false));
        } else if (sign == QLatin1String("audio")) {
            h.client->sendAudio(chunk(1));
            QTRY_COMPARE(h.relay->audioFrames(1).size(), 1);
        }
        QTest::qWait(100);
        QCOMPARE(h.client->reconnectAttemptCount(), expectedCount);
        QVERIFY(h.errors.isEmpty());
        h.stop();
    }

    // Every connection answers with an Error frame: four reopens, then one report, and the
    // last socket is closed with 1001.
    void errorReportedOnceAfterReconnectsAndClosedWith1001()
    {
        Harness h;
        h.relay->onOpen = [](FakeWebSocketSession *session) {
            session->sendText(FakeSpeechRelay::error(QStringLiteral("m"), QStringLiteral("quota exceeded")));
        };
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.errors.size(), 1);
        QCOMPARE(h.errors.first(), QStringLiteral("The app could not receive a transcription update: "
                                                  "The transcription service returned an error: quota exceeded"));
        QCOMPARE(h.relay->upgradeCount(), 5);
        for (int index = 0; index < 5; ++index)
            QTRY_COMPARE(h.relay->session(index)->clientCloseCode(), 1001);

        QTest::qWait(200);
        QCOMPARE(h.errors.size(), 1);
        QCOMPARE(h.relay->upgradeCount(), 5);
        h.client->sendAudio(chunk(1));
        QCOMPARE(h.client->pendingAudioChunkCount(), 0);
        h.stop(); // nothing left to close: returns without sending
        QCOMPARE(h.errors.size(), 1);
    }

    // The fault: a failed attempt must not leave its cancelled socket as the current
    // one, or chunks queue for it in the pause before the next attempt.
    void failedAttemptLeavesNoSocket()
    {
        Harness h;
        auto timings = fastTimings();
        timings.reconnectDelays = {20ms, 2000ms, 2000ms, 2000ms};
        h.client->setTimings(timings);
        h.relay->setUpgrades({FakeSpeechRelay::Upgrade::accept, FakeSpeechRelay::Upgrade::reject401});
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 1);
        h.relay->session(0)->abort();
        QTRY_COMPARE(h.relay->upgradeCount(), 2);
        QTRY_VERIFY(!h.client->isConnected());

        h.client->sendAudio(chunk(1));
        QCOMPARE(h.client->pendingAudioChunkCount(), 0);
        h.stop();
        QVERIFY(h.errors.isEmpty());
        QTest::qWait(100);
        QCOMPARE(h.relay->upgradeCount(), 2);
    }

    // Finalize, a pause during which results still arrive, CloseStream, close 1000 — and
    // nothing for the handlers once stop() has returned.
    void stopSequence()
    {
        Harness h;
        h.relay->answerToFinalize = {FakeSpeechRelay::results(QStringLiteral("last words"), true, true)};
        h.relay->onText = [](FakeWebSocketSession *session, const QByteArray &text) {
            if (text == closeStreamFrame)
                session->sendText(FakeSpeechRelay::results(QStringLiteral("too late"), true, true));
        };
        QVERIFY(!h.connect());
        for (int n = 0; n < 3; ++n) {
            h.client->sendAudio(chunk(n));
            QTRY_COMPARE(h.relay->audioFrames(0).size(), n + 1);
        }
        h.stop();
        const int eventsAtReturn = int(h.events.size());

        const auto frames = h.relay->frames(0);
        QCOMPARE(frames.size(), 5);
        QCOMPARE(frames.at(3).data, finalizeFrame);
        QCOMPARE(frames.at(4).data, closeStreamFrame);
        QVERIFY(frames.at(4).atMs - frames.at(3).atMs >= 135);
        QTRY_COMPARE(h.relay->session(0)->clientCloseCode(), 1000);
        QCOMPARE(eventsAtReturn, 1);
        QCOMPARE(h.events.first().text, QStringLiteral("last words"));
        QVERIFY(h.events.first().isFinal && h.events.first().speechFinal);

        QTest::qWait(150);
        QCOMPARE(int(h.events.size()), eventsAtReturn);
        QVERIFY(h.errors.isEmpty());
        QVERIFY(!h.client->isConnected());

        // A fresh connection afterwards.
        QVERIFY(!h.connect());
        QCOMPARE(h.relay->upgradeCount(), 2);
        QCOMPARE(h.client->reconnectAttemptCount(), 0);
        h.stop();
    }

    // A send under way finishes, and the chunks still queued at stop (the last words, handed
    // over by the mixer's drain) follow it, all before Finalize.
    void stopDrainsTheSendUnderWay()
    {
        Harness h;
        // The whole 24 MiB goes through before the stop frames: on a busy machine that takes longer
        // than the stop's usual deadline, which is not what this tells.
        auto timings = fastTimings();
        timings.stopTimeout = 60s;
        h.client->setTimings(timings);
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 1);
        QVERIFY(h.relay->stallReading(h.relay->session(0)));
        h.client->sendAudio(hugeChunk());
        QTRY_COMPARE(h.client->inFlightAudioSendCount(), 1);
        h.client->sendAudio(chunk(1));
        h.client->sendAudio(chunk(2));

        bool stopped = false;
        spawnTask([&h, &stopped](CancellationToken) -> QCoro::Task<void> {
            co_await h.client->stop();
            stopped = true;
        });
        QTest::qWait(200);
        QVERIFY(!stopped);

        h.relay->resumeReading(h.relay->session(0));
        QTRY_VERIFY_WITH_TIMEOUT(stopped, 20000);
        const auto frames = h.relay->frames(0);
        QCOMPARE(frames.size(), 5);
        QVERIFY(frames.at(0).binary);
        QCOMPARE(frames.at(0).data.size(), hugeChunk().size());
        QVERIFY(frames.at(1).binary && frames.at(2).binary);
        QCOMPARE(frames.at(1).data, chunk(1));
        QCOMPARE(frames.at(2).data, chunk(2));
        QCOMPARE(frames.at(3).data, finalizeFrame);
        QCOMPARE(frames.at(4).data, closeStreamFrame);
    }

    // A network that never takes the bytes cannot hold up the stop: the stop as a whole has
    // one deadline (not one per frame it waits for), after which the socket is closed and
    // stop() returns.
    void stopGivesUpOnAStalledNetwork()
    {
        Harness h;
        auto timings = fastTimings();
        timings.stopTimeout = 1500ms;
        h.client->setTimings(timings);
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 1);
        QVERIFY(h.relay->stallReading(h.relay->session(0)));
        h.client->sendAudio(hugeChunk());
        QTRY_COMPARE(h.client->inFlightAudioSendCount(), 1);

        bool stopped = false;
        QElapsedTimer clock;
        clock.start();
        qint64 stoppedAfter = -1;
        spawnTask([&h, &stopped, &clock, &stoppedAfter](CancellationToken) -> QCoro::Task<void> {
            co_await h.client->stop();
            stoppedAfter = clock.elapsed();
            stopped = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(stopped, 10000);
        // Waiting for the send under way, then for Finalize, each with the whole limit, would
        // take twice the deadline.
        QVERIFY2(stoppedAfter < 2 * timings.stopTimeout.count() - 500,
                 qPrintable(QStringLiteral("stop took %1 ms").arg(stoppedAfter)));
        QVERIFY(!h.client->isConnected());
        QVERIFY(h.errors.isEmpty());
        // A new session can start right away.
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 2);
        h.stop();
    }

    // A second stop while the first waits for the send under way shares the first: both
    // return, and the stop frames go out once.
    void concurrentStopsShareOneSequence()
    {
        Harness h;
        // The whole 24 MiB goes through before the stop frames: on a busy machine that takes longer
        // than the stop's usual deadline, which is not what this tells.
        auto timings = fastTimings();
        timings.stopTimeout = 60s;
        h.client->setTimings(timings);
        QVERIFY(!h.connect());
        QTRY_COMPARE(h.relay->sessions().size(), 1);
        QVERIFY(h.relay->stallReading(h.relay->session(0)));
        h.client->sendAudio(hugeChunk());
        QTRY_COMPARE(h.client->inFlightAudioSendCount(), 1);

        int stopped = 0;
        for (int i = 0; i < 2; ++i) {
            spawnTask([&h, &stopped](CancellationToken) -> QCoro::Task<void> {
                co_await h.client->stop();
                ++stopped;
            });
        }
        QTest::qWait(100);
        QCOMPARE(stopped, 0);
        h.relay->resumeReading(h.relay->session(0));
        QTRY_COMPARE_WITH_TIMEOUT(stopped, 2, 20000);
        // The relay reads what was sent on its own turns of the event loop, later on a busy
        // machine; a moment more shows nothing goes out twice.
        QTRY_VERIFY_WITH_TIMEOUT(h.relay->frames(0).size() >= 3, 10000);
        QTest::qWait(50);
        const auto frames = h.relay->frames(0);
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames.at(1).data, finalizeFrame);
        QCOMPARE(frames.at(2).data, closeStreamFrame);
        QVERIFY(!h.client->isConnected());
    }

    void noErrorWhileStopping()
    {
        Harness h;
        h.relay->onText = [](FakeWebSocketSession *session, const QByteArray &text) {
            if (text == finalizeFrame)
                session->abort();
        };
        QVERIFY(!h.connect());
        h.stop();
        QTest::qWait(100);
        QVERIFY(h.errors.isEmpty());
        QCOMPARE(h.relay->upgradeCount(), 1);
    }

    void openFailures_data()
    {
        QTest::addColumn<int>("upgrade");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("expected");
        QTest::newRow("never answered") << int(FakeSpeechRelay::Upgrade::neverAnswer) << true
                                        << openPrefix + QStringLiteral("The transcription service did not accept the connection in time.");
        QTest::newRow("401 at upgrade") << int(FakeSpeechRelay::Upgrade::reject401) << true
                                        << openPrefix + QStringLiteral("The server refused the websocket connection with HTTP status 401.");
        QTest::newRow("signed out") << int(FakeSpeechRelay::Upgrade::accept) << false
                                    << QStringLiteral("Sign in to start live transcription.");
    }

    void openFailures()
    {
        QFETCH(int, upgrade);
        QFETCH(bool, signedIn);
        QFETCH(QString, expected);

        Harness h(signedIn);
        auto timings = fastTimings();
        timings.openTimeout = 300ms;
        h.client->setTimings(timings);
        h.relay->setUpgrades({FakeSpeechRelay::Upgrade(upgrade), FakeSpeechRelay::Upgrade::accept});

        const std::exception_ptr failure = h.connect();
        QVERIFY(failure);
        QCOMPARE(messageOf(failure), expected);
        QVERIFY(!h.client->isConnected());
        QVERIFY(h.errors.isEmpty());
        QCOMPARE(h.relay->upgradeCount(), signedIn ? 1 : 0);
        QTest::qWait(100);
        QCOMPARE(h.relay->upgradeCount(), signedIn ? 1 : 0); // no reconnection after a failed connect

        if (signedIn) {
            // The client is idle again: the next connect opens normally.
            QVERIFY(!h.connect());
            QCOMPARE(h.relay->sessions().size(), 1);
            h.stop();
        }
    }

    void secondConnectLeavesTheFirstAlone()
    {
        Harness h;
        QVERIFY(!h.connect());
        QStringList secondErrors;
        bool secondGotEvent = false;
        const std::exception_ptr failure =
            runTask(h.client->connect(
                        QStringLiteral("en"), false, true, [&](const DeepgramTranscriptEvent &) { secondGotEvent = true; },
                        [&](const QString &text) { secondErrors.append(text); }))
                .error;
        QCOMPARE(messageOf(failure), QStringLiteral("Live transcription is already connected."));

        h.relay->session(0)->sendText(FakeSpeechRelay::results(QStringLiteral("still here"), false, false));
        QTRY_COMPARE(h.events.size(), 1);
        QVERIFY(!secondGotEvent);
        QCOMPARE(h.relay->upgradeCount(), 1);
        h.stop();
    }

    void chunksWithoutAUsableConnectionAreDropped()
    {
        Harness h;
        h.client->sendAudio(chunk(1)); // before connect
        QCOMPARE(h.client->pendingAudioChunkCount(), 0);
        h.stop(); // nothing to stop: returns at once and sends nothing
        QCOMPARE(h.relay->upgradeCount(), 0);

        QVERIFY(!h.connect());
        h.client->sendAudio(QByteArray()); // empty
        QCOMPARE(h.client->pendingAudioChunkCount(), 0);
        QTest::qWait(50);
        QVERIFY(h.relay->audioFrames(0).isEmpty());
        h.stop();
    }
};

QTEST_GUILESS_MAIN(tst_DeepgramLiveTranscriptionService)
#include "tst_DeepgramLiveTranscriptionService.moc"
