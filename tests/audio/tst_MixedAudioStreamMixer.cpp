#include "audio/MixedAudioStreamMixer.h"
#include "support/TaskResult.h"
#include "support/TestAudio.h"

#include <QtTest>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <cmath>
#include <memory>
#include <thread>

namespace {

// Holds handler calls until it is opened.
class Valve : public QObject
{
    Q_OBJECT
public:
    bool isOpen = false;
    void open()
    {
        isOpen = true;
        Q_EMIT opened();
    }
Q_SIGNALS:
    void opened();
};

struct Received
{
    std::vector<QByteArray> chunks;
    std::vector<qint16> samples() const
    {
        std::vector<qint16> all;
        for (const QByteArray &chunk : chunks) {
            const std::vector<qint16> part = TestAudio::samplesOf(chunk);
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }
    std::vector<qsizetype> sizes() const
    {
        std::vector<qsizetype> result;
        for (const QByteArray &chunk : chunks)
            result.push_back(chunk.size() / 2);
        return result;
    }
};

MixedAudioStreamMixer::OutputHandler collectInto(std::shared_ptr<Received> received)
{
    return [received](QByteArray chunk) -> QCoro::Task<void> {
        received->chunks.push_back(std::move(chunk));
        co_return;
    };
}

// Records each chunk at once, then waits for the valve before returning.
MixedAudioStreamMixer::OutputHandler stallingInto(std::shared_ptr<Received> received, std::shared_ptr<Valve> valve)
{
    return [received, valve](QByteArray chunk) -> QCoro::Task<void> {
        received->chunks.push_back(std::move(chunk));
        if (!valve->isOpen)
            co_await qCoro(valve.get(), &Valve::opened);
    };
}

QByteArray constant(qint16 value, qsizetype count)
{
    return TestAudio::chunkOf(std::vector<qint16>(std::size_t(count), value));
}

qint16 scaled(int sample, double gain)
{
    return qint16(std::clamp(std::trunc(sample * gain), -32768.0, 32767.0));
}

// One append: lane 's' or 'm', sample count.
using Appends = QList<QPair<char, int>>;

// A fragment from each source in turn, as two capture threads deliver them.
Appends interleaved(int fragment, int count)
{
    Appends appends;
    for (int i = 0; i < count; ++i)
        appends << QPair<char, int>{'s', fragment} << QPair<char, int>{'m', fragment};
    return appends;
}

} // namespace

Q_DECLARE_METATYPE(Appends)

class tst_MixedAudioStreamMixer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mixesWithGainsTruncationAndClamping_data();
    void mixesWithGainsTruncationAndClamping();
    void cutsChunksFromTheFullerLane_data();
    void cutsChunksFromTheFullerLane();
    void laneKeepsOnlyItsNewestSamples();
    void slowConsumerLosesTheOldestChunks();
    void disablingTheMicrophoneEmptiesAndClosesItsLane();
    void drainWaitsUntilEverythingIsDelivered();
    void drainWithoutHandlerReturnsAtOnceAndKeepsChunks();
    void resetReleasesDrainAndStopsTheOldLoop();
    void chunksPostedFromACaptureThreadStayInOrder();
    void feedsWakeTheMainThreadForTwoChunks();
    void feedHandsOverTheTailAndForgetsOnReset();
};

void tst_MixedAudioStreamMixer::mixesWithGainsTruncationAndClamping_data()
{
    QTest::addColumn<int>("system");
    QTest::addColumn<int>("microphone");
    QTest::addColumn<bool>("microphoneEnabled");
    QTest::addColumn<int>("expected");
    QTest::newRow("system gain") << 1000 << 0 << false << 950;
    QTest::newRow("small positive truncates to zero") << 1 << 0 << false << 0;
    QTest::newRow("negative truncates toward zero") << -3 << 0 << false << -2;
    QTest::newRow("microphone gain") << 0 << 1000 << true << 1350;
    QTest::newRow("sum") << 1000 << 1000 << true << 2300;
    QTest::newRow("clamped high") << 30000 << 10000 << true << 32767;
    QTest::newRow("clamped low") << -30000 << -10000 << true << -32768;
    QTest::newRow("disabled microphone adds nothing") << 1000 << 1000 << false << 950;
}

void tst_MixedAudioStreamMixer::mixesWithGainsTruncationAndClamping()
{
    QFETCH(int, system);
    QFETCH(int, microphone);
    QFETCH(bool, microphoneEnabled);
    QFETCH(int, expected);

    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));
    mixer.setMicrophoneEnabled(microphoneEnabled);
    // Both lanes hold 1000 samples before the system lane completes the chunk.
    mixer.appendSystemAudio(constant(qint16(system), 1000));
    mixer.appendMicrophoneAudio(constant(qint16(microphone), 1000));
    QVERIFY(received->chunks.empty());
    mixer.appendSystemAudio(constant(qint16(system), 24));
    // With the microphone on, the chunk waits for the microphone's lane; a stop's drain cuts
    // it as it stands.
    if (microphoneEnabled) {
        QVERIFY(received->chunks.empty());
        QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
    }

    QCOMPARE(received->chunks.size(), std::size_t(1));
    const std::vector<qint16> output = received->samples();
    QCOMPARE(output.size(), std::size_t(1024));
    for (std::size_t i = 0; i < 1000; ++i)
        QCOMPARE(int(output[i]), expected);
    // Where the microphone lane ran dry, only the system lane is heard.
    for (std::size_t i = 1000; i < 1024; ++i)
        QCOMPARE(output[i], scaled(system, 0.95));
}

void tst_MixedAudioStreamMixer::cutsChunksFromTheFullerLane_data()
{
    QTest::addColumn<bool>("microphoneEnabled");
    QTest::addColumn<Appends>("appends");
    QTest::addColumn<bool>("drain");
    QTest::addColumn<QList<int>>("expectedSizes");

    QTest::newRow("1000 system samples make nothing yet") << false << Appends{{'s', 1000}} << false << QList<int>{};
    QTest::newRow("24 more make one chunk") << false << Appends{{'s', 1000}, {'s', 24}} << false << QList<int>{1024};
    QTest::newRow("drain sends the rest as a short chunk")
        << false << Appends{{'s', 1500}} << true << QList<int>{1024, 476};
    QTest::newRow("microphone alone fills chunks when enabled")
        << true << Appends{{'m', 2048}} << false << QList<int>{1024, 1024};
    QTest::newRow("disabled microphone makes nothing") << false << Appends{{'m', 4096}} << true << QList<int>{};
    QTest::newRow("a full lane waits for the other while it is less than a chunk behind")
        << true << Appends{{'s', 100}, {'m', 1024}} << false << QList<int>{};
    QTest::newRow("lanes are cut in step, then the one a chunk ahead alone")
        << true << Appends{{'s', 100}, {'m', 1024}, {'s', 2000}} << true << QList<int>{1024, 1024, 52};
    QTest::newRow("fragments from both sources in turn make exactly their length")
        << true << interleaved(320, 64) << true << QList<int>(20, 1024);
    QTest::newRow("fragments of 160 in turn, 23 each")
        << true << interleaved(160, 23) << true << QList<int>{1024, 1024, 1024, 608};
    QTest::newRow("drain of empty lanes sends nothing") << false << Appends{{'s', 2048}} << true << QList<int>{1024, 1024};
    QTest::newRow("odd byte is ignored") << false << Appends{{'s', 1023}, {'s', 1}} << false << QList<int>{1024};
}

void tst_MixedAudioStreamMixer::cutsChunksFromTheFullerLane()
{
    QFETCH(bool, microphoneEnabled);
    QFETCH(Appends, appends);
    QFETCH(bool, drain);
    QFETCH(QList<int>, expectedSizes);

    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));
    mixer.setMicrophoneEnabled(microphoneEnabled);
    for (const auto &append : appends) {
        QByteArray chunk = constant(100, append.second);
        if (QString::fromLatin1(QTest::currentDataTag()).contains(QLatin1String("odd byte")) && append.second == 1)
            chunk.append('\x01'); // 2 bytes of one sample plus one stray byte
        if (append.first == 's')
            mixer.appendSystemAudio(chunk);
        else
            mixer.appendMicrophoneAudio(chunk);
    }
    if (drain)
        QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());

    QList<int> sizes;
    for (qsizetype size : received->sizes())
        sizes << int(size);
    QCOMPARE(sizes, expectedSizes);
}

void tst_MixedAudioStreamMixer::laneKeepsOnlyItsNewestSamples()
{
    MixedAudioStreamMixer mixer;
    std::vector<qint16> ramp(20000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = qint16(i);
    // No handler yet, so the chunks made from the trimmed lane wait in the queue; the
    // queue keeps its newest six.
    mixer.appendSystemAudio(TestAudio::chunkOf(ramp));
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));

    const std::vector<qint16> output = received->samples();
    QCOMPARE(output.size(), std::size_t(6 * 1024));
    // The lane kept samples 11808 … 19999; the queue the last six of their eight chunks.
    const int firstKept = 20000 - 8192 + 2 * 1024;
    for (std::size_t i = 0; i < output.size(); ++i)
        QCOMPARE(output[i], scaled(firstKept + int(i), 0.95));
}

void tst_MixedAudioStreamMixer::slowConsumerLosesTheOldestChunks()
{
    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    auto valve = std::make_shared<Valve>();
    mixer.setOutputHandler(stallingInto(received, valve));

    for (int k = 1; k <= 12; ++k)
        mixer.appendSystemAudio(constant(qint16(k * 100), 1024));
    // Chunk 1 is inside the stalled handler; of the eleven behind it only the newest six wait.
    QCOMPARE(received->chunks.size(), std::size_t(1));

    valve->open();
    QTRY_COMPARE(received->chunks.size(), std::size_t(7));
    QList<int> firstSamples;
    for (const QByteArray &chunk : received->chunks)
        firstSamples << int(TestAudio::samplesOf(chunk).front());
    QCOMPARE(firstSamples, (QList<int>{95, 665, 760, 855, 950, 1045, 1140}));
}

void tst_MixedAudioStreamMixer::disablingTheMicrophoneEmptiesAndClosesItsLane()
{
    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));
    mixer.setMicrophoneEnabled(true);
    mixer.appendMicrophoneAudio(constant(1000, 500));
    mixer.setMicrophoneEnabled(false);
    mixer.appendMicrophoneAudio(constant(1000, 2000));
    QVERIFY(received->chunks.empty());

    mixer.appendSystemAudio(constant(200, 1024));
    QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
    const std::vector<qint16> output = received->samples();
    QCOMPARE(output.size(), std::size_t(1024));
    for (qint16 sample : output)
        QCOMPARE(sample, qint16(190));

    // Enabled again, the lane starts empty.
    mixer.setMicrophoneEnabled(true);
    mixer.appendMicrophoneAudio(constant(1000, 10));
    QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
    QCOMPARE(received->chunks.size(), std::size_t(2));
    QCOMPARE(received->chunks.back(), constant(1350, 10));
}

void tst_MixedAudioStreamMixer::drainWaitsUntilEverythingIsDelivered()
{
    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    auto valve = std::make_shared<Valve>();
    mixer.setOutputHandler(stallingInto(received, valve));
    mixer.appendSystemAudio(constant(100, 2500));

    QCoro::Task<void> drain = mixer.drainRemainingAudio();
    QTest::qWait(50);
    QVERIFY(!drain.isReady());
    QCOMPARE(received->chunks.size(), std::size_t(1));

    valve->open();
    QTRY_VERIFY(drain.isReady());
    QList<int> sizes;
    for (qsizetype size : received->sizes())
        sizes << int(size);
    QCOMPARE(sizes, (QList<int>{1024, 1024, 452}));
}

void tst_MixedAudioStreamMixer::drainWithoutHandlerReturnsAtOnceAndKeepsChunks()
{
    MixedAudioStreamMixer mixer;
    mixer.appendSystemAudio(constant(100, 1500));
    QCoro::Task<void> drain = mixer.drainRemainingAudio();
    QVERIFY(drain.isReady());

    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));
    QList<int> sizes;
    for (qsizetype size : received->sizes())
        sizes << int(size);
    QCOMPARE(sizes, (QList<int>{1024, 476}));
}

void tst_MixedAudioStreamMixer::resetReleasesDrainAndStopsTheOldLoop()
{
    MixedAudioStreamMixer mixer;
    auto oldReceived = std::make_shared<Received>();
    auto valve = std::make_shared<Valve>();
    mixer.setOutputHandler(stallingInto(oldReceived, valve));
    mixer.appendSystemAudio(constant(100, 4096));
    QCoro::Task<void> drain = mixer.drainRemainingAudio();
    QVERIFY(!drain.isReady());

    mixer.reset();
    QTRY_VERIFY(drain.isReady());

    // A new era runs while the old handler call is still stuck.
    auto newReceived = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(newReceived));
    mixer.appendSystemAudio(constant(300, 1024));
    QCOMPARE(newReceived->chunks.size(), std::size_t(1));
    QCOMPARE(newReceived->chunks.front(), constant(285, 1024));

    // The old call finishes and delivers nothing more.
    valve->open();
    QTest::qWait(20);
    QCOMPARE(oldReceived->chunks.size(), std::size_t(1));
    QCOMPARE(newReceived->chunks.size(), std::size_t(1));

    // reset also disabled the microphone lane and dropped the handler.
    mixer.reset();
    mixer.appendMicrophoneAudio(constant(100, 2048));
    mixer.appendSystemAudio(constant(100, 2048));
    QCOMPARE(newReceived->chunks.size(), std::size_t(1));
}

// Capture threads hand their chunks over through the mixer's feed; the mixed stream keeps
// their order sample for sample.
void tst_MixedAudioStreamMixer::chunksPostedFromACaptureThreadStayInOrder()
{
    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));

    const int chunkCount = 400;
    const int chunkSize = 157;
    std::thread capture([feed = mixer.systemAudioFeed()] {
        for (int c = 0; c < chunkCount; ++c) {
            std::vector<qint16> samples(chunkSize);
            for (int i = 0; i < chunkSize; ++i)
                samples[std::size_t(i)] = qint16((c * chunkSize + i) % 20000);
            feed(TestAudio::chunkOf(samples));
        }
    });
    capture.join();
    QTRY_COMPARE(received->chunks.size(), std::size_t(chunkCount * chunkSize / 1024));
    QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());

    const std::vector<qint16> output = received->samples();
    QCOMPARE(output.size(), std::size_t(chunkCount * chunkSize));
    for (std::size_t i = 0; i < output.size(); ++i)
        QCOMPARE(output[i], scaled(int(i % 20000), 0.95));
}

// Two sources of 40 ms fragments wake the main thread once two chunks can be cut, not for
// every fragment nor for every chunk, and the stream is the one the same appends make.
void tst_MixedAudioStreamMixer::feedsWakeTheMainThreadForTwoChunks()
{
    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));
    mixer.setMicrophoneEnabled(true);
    MixedAudioStreamMixer reference;
    auto expected = std::make_shared<Received>();
    reference.setOutputHandler(collectInto(expected));
    reference.setMicrophoneEnabled(true);

    const MixedAudioStreamMixer::Feed system = mixer.systemAudioFeed();
    const MixedAudioStreamMixer::Feed microphone = mixer.microphoneAudioFeed();
    const auto fragment = [](int number, int base) {
        std::vector<qint16> samples(640);
        for (int i = 0; i < 640; ++i)
            samples[std::size_t(i)] = qint16(base + (number * 640 + i) % 5000);
        return TestAudio::chunkOf(samples);
    };
    const auto settle = [] {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    // A loaded machine may pause this thread between two fragments longer than a chunk waits.
    mixer.setFeedChunkWait(std::chrono::hours(1));

    // One chunk's worth in both lanes (1,280 samples each), then the system lane a fragment
    // ahead (2,560 against 1,920): the second chunk is not there yet.
    for (int n = 0; n < 3; ++n) {
        system(fragment(n, 0));
        microphone(fragment(n, 10000));
    }
    system(fragment(3, 0));
    settle();
    QCOMPARE(mixer.feedWakeCount(), 0);
    QVERIFY(received->chunks.empty());
    // The microphone's fourth fragment makes two.
    microphone(fragment(3, 10000));
    settle();
    QCOMPARE(mixer.feedWakeCount(), 1);
    QCOMPARE(received->sizes(), (std::vector<qsizetype>{1024, 1024}));

    for (int n = 4; n < 50; ++n) {
        system(fragment(n, 0));
        microphone(fragment(n, 10000));
        settle();
    }
    QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
    for (int n = 0; n < 50; ++n) {
        reference.appendSystemAudio(fragment(n, 0));
        reference.appendMicrophoneAudio(fragment(n, 10000));
    }
    QVERIFY(runTask(reference.drainRemainingAudio()).succeeded());
    QCOMPARE(received->samples(), expected->samples());
    // 50 fragments of each source made 31 chunks and a short one; the main thread was woken
    // for pairs of chunks, not for the 100 fragments or each of the 31 chunks.
    QCOMPARE(received->chunks.size(), std::size_t(32));
    QVERIFY2(mixer.feedWakeCount() <= 16, qPrintable(QString::number(mixer.feedWakeCount())));

    // A stalled microphone holds nothing up: two chunks ahead, the system lane is mixed alone.
    received->chunks.clear();
    for (int n = 0; n < 3; ++n)
        system(fragment(n, 0));
    settle();
    QVERIFY(received->chunks.empty());
    system(fragment(3, 0));
    settle();
    QCOMPARE(received->sizes(), (std::vector<qsizetype>{1024, 1024}));

    // A chunk waits for a second one no longer than the wait: the next fragment after it
    // wakes the main thread for the one chunk there is.
    mixer.setFeedChunkWait(MixedAudioStreamMixer::feedChunkWait);
    received->chunks.clear();
    system(fragment(4, 0));
    settle();
    QVERIFY(received->chunks.empty());
    std::this_thread::sleep_for(MixedAudioStreamMixer::feedChunkWait * 2);
    system(fragment(5, 0));
    settle();
    QCOMPARE(received->sizes(), std::vector<qsizetype>{1024});
}

// What a feed handed over and the mixer has not taken yet is the mixer's like its lanes: the
// end of a session is delivered, a reset forgets it, and a feed outliving the mixer is harmless.
void tst_MixedAudioStreamMixer::feedHandsOverTheTailAndForgetsOnReset()
{
    auto received = std::make_shared<Received>();
    MixedAudioStreamMixer::Feed orphan;
    {
        MixedAudioStreamMixer mixer;
        mixer.setOutputHandler(collectInto(received));
        const MixedAudioStreamMixer::Feed system = mixer.systemAudioFeed();
        system(constant(100, 500));
        QCoreApplication::processEvents();
        QVERIFY(received->chunks.empty());
        QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
        QCOMPARE(received->sizes(), std::vector<qsizetype>{500});

        system(constant(100, 500));
        mixer.reset();
        mixer.setOutputHandler(collectInto(received));
        QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
        QCOMPARE(received->chunks.size(), std::size_t(1));

        // Handed over, never taken: the mixer goes first.
        orphan = mixer.systemAudioFeed();
        for (int i = 0; i < 4; ++i)
            orphan(constant(100, 1024));
    }
    orphan(constant(100, 1024));
    QCoreApplication::processEvents();
    QCOMPARE(received->chunks.size(), std::size_t(1));
}

QTEST_GUILESS_MAIN(tst_MixedAudioStreamMixer)
#include "tst_MixedAudioStreamMixer.moc"
