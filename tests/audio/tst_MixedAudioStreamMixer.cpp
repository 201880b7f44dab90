#include "audio/MixedAudioStreamMixer.h"
#include "support/MixerSimulation.h"
#include "support/TaskResult.h"
#include "support/TestAudio.h"

#include <QtTest>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

using namespace MixerSimulation;

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
    void aQuietMicrophoneBehindIsWaitedForThroughTheFeeds();
    void twoSourcesOnTheirOwnClocksKeepRealTime_data();
    void twoSourcesOnTheirOwnClocksKeepRealTime();
    void aStoppedSourceHoldsTheOtherBackOnlyBriefly_data();
    void aStoppedSourceHoldsTheOtherBackOnlyBriefly();
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
    QTest::newRow("a full lane waits for the other while it is less than the wait behind")
        << true << Appends{{'s', 100}, {'m', 1024}} << false << QList<int>{};
    QTest::newRow("lanes are cut in step, then the drain takes the one ahead alone")
        << true << Appends{{'s', 100}, {'m', 1024}, {'s', 2000}} << true << QList<int>{1024, 1024, 52};
    QTest::newRow("a lane the wait behind still holds the other back")
        << true << Appends{{'m', 300}, {'s', 4300}} << false << QList<int>{};
    QTest::newRow("a lane more than the wait behind has stopped: the other goes on alone")
        << true << Appends{{'m', 299}, {'s', 4300}} << false << QList<int>{1024, 1024, 1024, 1024};
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
    std::vector<qint16> ramp(30000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = qint16(i);
    // No handler yet, so the chunks wait in the queue; the queue keeps its newest six. What
    // passed the lane's limit went out first rather than being dropped.
    mixer.appendSystemAudio(TestAudio::chunkOf(ramp));
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));

    const std::vector<qint16> output = received->samples();
    QCOMPARE(output.size(), std::size_t(6 * 1024));
    const int firstKept = (30000 / 1024 - 6) * 1024;
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
        const AudioCaptureTime start = AudioCaptureClock::now();
        for (int c = 0; c < chunkCount; ++c) {
            std::vector<qint16> samples(chunkSize);
            for (int i = 0; i < chunkSize; ++i)
                samples[std::size_t(i)] = qint16((c * chunkSize + i) % 20000);
            feed(TestAudio::chunkOf(samples), start + std::chrono::microseconds((c + 1) * chunkSize * 1000000LL / 16000));
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

    const auto system = [feed = mixer.systemAudioFeed()](const QByteArray &chunk) { feed(chunk, AudioCaptureTime()); };
    const auto microphone = [feed = mixer.microphoneAudioFeed()](const QByteArray &chunk) { feed(chunk, AudioCaptureTime()); };
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

    // A stalled microphone holds the system lane back no longer than the wait: past it, the
    // system lane is mixed alone.
    received->chunks.clear();
    for (int n = 0; n < 6; ++n)
        system(fragment(n, 0));
    settle();
    QVERIFY(received->chunks.empty());
    system(fragment(6, 0));
    settle();
    QCOMPARE(received->sizes(), (std::vector<qsizetype>{1024, 1024, 1024, 1024}));

    // A chunk waits for a second one no longer than the wait: the next fragment after it
    // wakes the main thread for the one chunk there is.
    mixer.setFeedChunkWait(MixedAudioStreamMixer::feedChunkWait);
    received->chunks.clear();
    system(fragment(7, 0));
    settle();
    QVERIFY(received->chunks.empty());
    std::this_thread::sleep_for(MixedAudioStreamMixer::feedChunkWait * 2);
    system(fragment(8, 0));
    settle();
    QCOMPARE(received->sizes(), std::vector<qsizetype>{1024});
}

// A microphone whose gate is shut says how far its quiet reaches, 0.3 s behind the computer's
// audio: the stream follows it closely, woken for pairs of chunks, and the word that opens the
// gate goes out where it was said.
void tst_MixedAudioStreamMixer::aQuietMicrophoneBehindIsWaitedForThroughTheFeeds()
{
    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));
    mixer.setMicrophoneEnabled(true);
    mixer.setFeedChunkWait(std::chrono::hours(1));
    const MixedAudioStreamMixer::Feed system = mixer.systemAudioFeed();
    const MixedAudioStreamMixer::Feed microphone = mixer.microphoneAudioFeed();
    const AudioCaptureTime origin = AudioCaptureClock::now();
    const auto at = [origin](qint64 samples) { return origin + std::chrono::microseconds(samples * 1000 / 16); };
    const auto settle = [] {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    const qint64 behind = 4800;
    qint64 heard = 0;
    for (qint64 end = 640; end <= 640 * 50; end += 640) {
        system(constant(100, 640), at(end));
        heard = end - behind;
        microphone(QByteArray(), at(heard));
        settle();
        const qint64 emitted = qint64(received->samples().size());
        QVERIFY2(emitted <= std::max<qint64>(heard, 0) && emitted >= heard - 3 * MixedAudioStreamMixer::chunkSampleCount,
                 qPrintable(QStringLiteral("%1 out, the microphone heard until %2").arg(emitted).arg(heard)));
    }
    QVERIFY2(mixer.feedWakeCount() <= 16, qPrintable(QString::number(mixer.feedWakeCount())));

    std::vector<qint16> word(480, 0);
    word[0] = 1000;
    microphone(TestAudio::chunkOf(word), at(heard + 480));
    QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
    QCOMPARE(indexOf(received->samples(), qint16(scaled(1000, 1.35) + scaled(100, 0.95))), heard);
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
        const auto system = [feed = mixer.systemAudioFeed()](const QByteArray &chunk) { feed(chunk, AudioCaptureTime()); };
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
            orphan(constant(100, 1024), AudioCaptureTime());
    }
    orphan(constant(100, 1024), AudioCaptureTime());
    QCoreApplication::processEvents();
    QCOMPARE(received->chunks.size(), std::size_t(1));
}

// Two sources capturing on their own schedules, delivering late by their own jitter and in any
// grouping: the mixed stream is exactly as long as the time they cover, and a marker in either
// comes out where it was captured. A source that pauses (a closed gate) is silence meanwhile,
// and so are both while neither has audio; audio held up for a moment lands in its place.
void tst_MixedAudioStreamMixer::twoSourcesOnTheirOwnClocksKeepRealTime_data()
{
    QTest::addColumn<SimulatedSource>("system");
    QTest::addColumn<SimulatedSource>("microphone");
    QTest::addColumn<double>("markerTolerance");

    SimulatedSource system;
    system.markerAt = 30.0;
    // The microphone is taken up a moment after the computer's audio, as a session does.
    SimulatedSource microphone;
    microphone.microphone = true;
    microphone.fragment = 480;
    microphone.phase = 0.313;
    microphone.markerAt = 45.0;
    QTest::newRow("both live, jittered") << system << microphone << 0.003;

    SimulatedSource steady = system;
    steady.maximumDelay = 0.002;
    SimulatedSource bursty = microphone;
    bursty.maximumDelay = 0.2;
    QTest::newRow("one steady, one in bursts") << steady << bursty << 0.003;

    SimulatedSource paused = microphone;
    paused.pause = {20.0, 26.5};
    paused.markerAt = 27.0;
    // Taken up again, the microphone may start up to the realignment later than it was captured
    // (the other source's audio went out meanwhile).
    QTest::newRow("microphone pauses") << system << paused << 0.1;

    SimulatedSource heldUp = microphone;
    heldUp.heldUp = {20.0, 20.2};
    heldUp.markerAt = 20.1;
    QTest::newRow("microphone held up for a moment") << system << heldUp << 0.003;

    SimulatedSource systemHeldUp = system;
    systemHeldUp.heldUp = {30.0, 31.0};
    systemHeldUp.markerAt = 40.0;
    QTest::newRow("system audio held up past the wait") << systemHeldUp << microphone << 0.003;

    // A busy machine: the computer's audio, converted on a thread of its own, comes steadily
    // later than the microphone's, by more than the wait.
    SimulatedSource systemLate = system;
    systemLate.lateBy = 0.35;
    systemLate.maximumDelay = 0.05;
    SimulatedSource microphoneAfter = microphone;
    microphoneAfter.phase = 0.6;
    QTest::newRow("system audio comes 0.35 s behind the microphone's") << systemLate << microphoneAfter << 0.003;
    SimulatedSource microphoneLate = microphone;
    microphoneLate.lateBy = 0.3;
    microphoneLate.maximumDelay = 0.05;
    QTest::newRow("the microphone's audio comes 0.3 s behind") << system << microphoneLate << 0.003;
    // Its gate shut meanwhile, it is still waited for: the word that opens it keeps its place.
    SimulatedSource quietLate = microphoneLate;
    quietLate.lateBy = 0.5;
    quietLate.pause = {20.0, 26.5};
    quietLate.quietMarks = true;
    quietLate.markerAt = 26.52;
    QTest::newRow("the microphone 0.5 s behind, quiet for a while") << system << quietLate << 0.003;

    // The audio server hands both streams' backlogs over after a hold of their reader, the
    // microphone's in smaller pieces: it comes in between the computer's audio, ever further
    // behind.
    SimulatedSource systemBacklog = system;
    systemBacklog.heldUp = {30.0, 30.4};
    systemBacklog.heldUpPace = 0.001;
    systemBacklog.markerAt = 30.2;
    SimulatedSource microphoneBacklog = microphone;
    microphoneBacklog.heldUp = {30.0, 30.4};
    microphoneBacklog.heldUpPace = 0.005;
    microphoneBacklog.markerAt = 30.25;
    QTest::newRow("both held up, the microphone's backlog handed over more slowly")
        << systemBacklog << microphoneBacklog << 0.003;

    // The audio server restarts: both sources are away for a while, and what follows keeps its
    // place, the time between stays as silence.
    SimulatedSource systemAway = system;
    systemAway.pause = {20.0, 23.0};
    SimulatedSource microphoneAway = microphone;
    microphoneAway.pause = {20.2, 23.4};
    QTest::newRow("both away for a while") << systemAway << microphoneAway << 0.1;
}

void tst_MixedAudioStreamMixer::twoSourcesOnTheirOwnClocksKeepRealTime()
{
    QFETCH(SimulatedSource, system);
    QFETCH(SimulatedSource, microphone);
    QFETCH(double, markerTolerance);
    const double seconds = 60.0;

    for (unsigned seed = 1; seed <= 5; ++seed) {
        MixedAudioStreamMixer mixer;
        auto received = std::make_shared<Received>();
        mixer.setOutputHandler(collectInto(received));
        bool microphoneOpen = false;
        for (const Delivery &delivery : simulate({system, microphone}, seconds, seed)) {
            // The microphone's lane opens once its capture runs.
            if (!microphoneOpen && delivery.at >= microphone.phase)
                mixer.setMicrophoneEnabled(microphoneOpen = true);
            if (delivery.microphone)
                mixer.appendMicrophoneAudio(delivery.chunk, delivery.capturedAt);
            else
                mixer.appendSystemAudio(delivery.chunk, delivery.capturedAt);
        }
        QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());

        const std::vector<qint16> output = received->samples();
        // The computer's audio starts the stream; it ends with the last capture.
        const double length = double(output.size()) / 16000.0;
        QVERIFY2(std::abs(length - seconds) < 0.1, qPrintable(QStringLiteral("seed %1: %2 s of %3 s").arg(seed).arg(length).arg(seconds)));
        const double systemMarker = double(indexOf(output, 950)) / 16000.0;
        const double microphoneMarker = double(indexOf(output, 1350)) / 16000.0;
        QVERIFY2(std::abs(systemMarker - system.markerAt) < markerTolerance,
                 qPrintable(QStringLiteral("seed %1: system marker at %2 s").arg(seed).arg(systemMarker)));
        QVERIFY2(std::abs(microphoneMarker - microphone.markerAt) < markerTolerance,
                 qPrintable(QStringLiteral("seed %1: microphone marker at %2 s").arg(seed).arg(microphoneMarker)));
    }
}

// A source that stops for good (its device is gone) holds the other back no longer than the
// wait (the computer's audio, which a microphone goes away from, no longer than the microphone's
// lane holds); the stream then follows the other alone, its length still the time covered.
void tst_MixedAudioStreamMixer::aStoppedSourceHoldsTheOtherBackOnlyBriefly_data()
{
    QTest::addColumn<bool>("microphoneStops");
    QTest::newRow("microphone unplugged") << true;
    QTest::newRow("system audio lost") << false;
}

void tst_MixedAudioStreamMixer::aStoppedSourceHoldsTheOtherBackOnlyBriefly()
{
    QFETCH(bool, microphoneStops);
    const double seconds = 30.0;
    SimulatedSource system;
    system.maximumDelay = 0.02;
    SimulatedSource microphone;
    microphone.microphone = true;
    microphone.phase = 0.3;
    microphone.maximumDelay = 0.02;
    (microphoneStops ? microphone : system).stopAt = 10.0;
    (microphoneStops ? system : microphone).markerAt = 20.0;

    MixedAudioStreamMixer mixer;
    auto received = std::make_shared<Received>();
    mixer.setOutputHandler(collectInto(received));
    bool microphoneOpen = false;
    qint64 survivorSamples = 0;
    qint64 longestHold = 0;
    double lastCapture = 0;
    for (const Delivery &delivery : simulate({system, microphone}, seconds, 7)) {
        lastCapture = std::max(lastCapture, delivery.end);
        if (!microphoneOpen && delivery.at >= microphone.phase)
            mixer.setMicrophoneEnabled(microphoneOpen = true);
        if (delivery.microphone)
            mixer.appendMicrophoneAudio(delivery.chunk, delivery.capturedAt);
        else
            mixer.appendSystemAudio(delivery.chunk, delivery.capturedAt);
        if (delivery.microphone != microphoneStops)
            survivorSamples += delivery.chunk.size() / 2;
        if (delivery.at > 10.0)
            longestHold = std::max(longestHold, survivorSamples - qint64(received->samples().size()));
    }
    const qsizetype wait = microphoneStops ? MixedAudioStreamMixer::laneWaitSampleCount : MixedAudioStreamMixer::laneSampleLimit;
    QVERIFY2(longestHold <= wait + 2 * MixedAudioStreamMixer::chunkSampleCount,
             qPrintable(QStringLiteral("held back %1 samples").arg(longestHold)));
    QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());
    // The stream runs from the first capture to the last; capture times stray by up to 2 ms.
    const std::vector<qint16> output = received->samples();
    QVERIFY2(std::abs(qint64(output.size()) - qint64(lastCapture * 16000)) <= 64, qPrintable(QString::number(output.size())));
    QVERIFY(std::abs(indexOf(output, microphoneStops ? 950 : 1350) - qint64(20.0 * 16000)) <= 64);
}

QTEST_GUILESS_MAIN(tst_MixedAudioStreamMixer)
#include "tst_MixedAudioStreamMixer.moc"
