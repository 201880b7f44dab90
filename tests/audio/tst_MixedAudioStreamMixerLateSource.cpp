#include "audio/MixedAudioStreamMixer.h"
#include "support/LogCapture.h"
#include "support/MixerSimulation.h"
#include "support/TaskResult.h"

#include <QtTest>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <memory>
#include <random>

using namespace MixerSimulation;

namespace {

// The computer's audio is 100 throughout, the microphone's 1000, so the mixed stream tells which
// of them sounds at each place (0.95 × 100, 1.35 × 1000, both); each has a marker of its own.
constexpr qint16 systemValue = 100;
constexpr qint16 microphoneValue = 1000;
constexpr qint16 systemMarker = 2000;
constexpr qint16 microphoneMarker = 3000;

bool systemSounds(qint16 sample)
{
    return sample == 95 || sample == 1445 || sample == 1900 || sample == 3250;
}

bool microphoneSounds(qint16 sample)
{
    return sample == 1350 || sample == 1445 || sample == 4050 || sample == 4145 || sample == 3250;
}

qint64 indexWhere(const std::vector<qint16> &samples, bool (*marker)(qint16))
{
    const auto found = std::find_if(samples.begin(), samples.end(), marker);
    return found == samples.end() ? -1 : qint64(found - samples.begin());
}

// A meeting's run through the mixer, and what came out.
struct Run
{
    std::vector<qint16> output;
    qint64 systemDelivered = 0;
    qint64 microphoneDelivered = 0;
    qint64 systemHeard = 0;
    qint64 microphoneHeard = 0;
    // The losses the mixer told of, and when the last came (on the simulated clock); when the
    // lanes were last realigned.
    int warnings = 0;
    double lastWarningAt = -1;
    QStringList firstWarnings;
    // What the mixer said it dropped of the microphone, and of the computer's audio.
    qint64 microphoneToldLost = 0;
    qint64 systemToldLost = 0;
    double lastRealignedAt = -1;
    // How far the lanes were realigned after the first 4 s.
    qint64 realignedLater = 0;
};

Run runMeeting(const SimulatedSource &system, const SimulatedSource &microphone, double seconds, unsigned seed)
{
    Run run;
    LogCapture log;
    MixedAudioStreamMixer mixer;
    auto output = std::make_shared<std::vector<qint16>>();
    mixer.setOutputHandler([output](QByteArray chunk) -> QCoro::Task<void> {
        const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
        output->insert(output->end(), samples, samples + chunk.size() / 2);
        co_return;
    });
    // What the mixer logged since the last look, taken as it comes (a meeting logs thousands of
    // lines), at `at` on the simulated clock.
    const auto takeLog = [&log, &run](double at) {
        for (const QString &line : log.lines()) {
            const qint64 samples = line.section(QLatin1Char('='), -1).toLongLong();
            if (line.contains(QStringLiteral("mixer realigned late"))) {
                run.lastRealignedAt = at;
                if (at > 4.0)
                    run.realignedLater += samples;
            }
            if (!line.contains(QStringLiteral("mixer dropped late samples")))
                continue;
            ++run.warnings;
            run.lastWarningAt = at;
            if (run.firstWarnings.size() < 3)
                run.firstWarnings << line;
            (line.contains(QStringLiteral("lane=system")) ? run.systemToldLost : run.microphoneToldLost) += samples;
        }
        log.clear();
    };
    bool microphoneOpen = false;
    for (const Delivery &delivery : simulate({system, microphone}, seconds, seed)) {
        // The microphone's lane opens once its capture runs.
        if (!microphoneOpen && delivery.at >= microphone.phase)
            mixer.setMicrophoneEnabled(microphoneOpen = true);
        if (delivery.microphone) {
            mixer.appendMicrophoneAudio(delivery.chunk, delivery.capturedAt);
            run.microphoneDelivered += delivery.chunk.size() / 2;
        } else {
            mixer.appendSystemAudio(delivery.chunk, delivery.capturedAt);
            run.systemDelivered += delivery.chunk.size() / 2;
        }
        takeLog(delivery.at);
    }
    if (!runTask(mixer.drainRemainingAudio()).succeeded())
        qFatal("the mixer's drain failed");
    takeLog(seconds);
    run.output = std::move(*output);
    for (const qint16 sample : run.output) {
        run.systemHeard += systemSounds(sample);
        run.microphoneHeard += microphoneSounds(sample);
    }
    return run;
}

} // namespace

class tst_MixedAudioStreamMixerLateSource : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void neitherSourceIsLostForTheOthersTimes_data();
    void neitherSourceIsLostForTheOthersTimes();
};

// Whichever source comes late, by however much, in bursts or steadily, and whatever its capture
// times say: every sample of both sources is in the stream (a source stretched toward its times
// may gain or lose a few), the stream runs as long as the meeting, and the mixer warns once for
// each time the sources had to be realigned.
void tst_MixedAudioStreamMixerLateSource::neitherSourceIsLostForTheOthersTimes_data()
{
    QTest::addColumn<SimulatedSource>("system");
    QTest::addColumn<SimulatedSource>("microphone");
    // The microphone comes this much later besides, drawn for each seed.
    QTest::addColumn<double>("extraLateUpTo");
    // Whether the microphone's marker lands in its place, and how much longer than the meeting
    // the stream may run (the time the lanes were realigned by).
    // (2: in place, 3: within 0.1 s of its place, 1: somewhere in the stream, 0: perhaps lost with
    // what was told lost.)
    QTest::addColumn<int>("microphoneMarker");
    QTest::addColumn<double>("longerBy");
    // How many losses the mixer may tell of (each once), and whether the lanes may be realigned
    // by more than a little after the first few seconds (deliveries straying further than they
    // did before).
    QTest::addColumn<int>("lossesAllowed");
    QTest::addColumn<bool>("realignedLater");

    SimulatedSource system;
    system.value = systemValue;
    system.markerValue = systemMarker;
    system.markerAt = 8.0;
    system.maximumDelay = 0.02;
    SimulatedSource microphone;
    microphone.microphone = true;
    microphone.fragment = 480;
    microphone.phase = 0.313;
    microphone.value = microphoneValue;
    microphone.markerValue = microphoneMarker;
    microphone.markerAt = 10.0;

    // Its first audio comes later than the wait for a microphone that has not begun: that much is
    // lost at the start, and told once.
    SimulatedSource jittery = microphone;
    jittery.lateBy = 0.6;
    jittery.maximumDelay = 0.4;
    QTest::newRow("the microphone 0.6 s behind, 0-0.4 s of jitter") << system << jittery << 0.0 << 0 << 1.0 << 40 << true;

    // Quiet until the word that ends its quiet, a moment before the marker.
    SimulatedSource quiet = microphone;
    quiet.maximumDelay = 0.05;
    quiet.lateBy = 0.90;
    quiet.pause = {0.0, 9.9};
    quiet.quietMarks = true;
    QTest::newRow("the microphone 0.90-1.05 s behind, quiet") << system << quiet << 0.15 << 1 << 0.1 << 0 << true;

    SimulatedSource steady = microphone;
    steady.lateBy = 0.93;
    steady.maximumDelay = 0.05;
    QTest::newRow("the microphone 0.93 s behind, steadily") << system << steady << 0.0 << 1 << 0.1 << 1 << true;

    SimulatedSource heldUp = system;
    heldUp.heldUp = {5.0, 5.6};
    QTest::newRow("the computer's audio held up 0.6 s while the microphone speaks")
        << heldUp << microphone << 0.0 << 2 << 0.0 << 0 << false;

    SimulatedSource ahead = microphone;
    ahead.stampedAhead = 1.2;
    ahead.maximumDelay = 0.05;
    QTest::newRow("the microphone stamped 1.2 s ahead") << system << ahead << 0.0 << 1 << 1.3 << 0 << false;

    SimulatedSource pastTheLane = microphone;
    pastTheLane.lateBy = 1.5;
    pastTheLane.maximumDelay = 0.02;
    QTest::newRow("the microphone 1.5 s behind, past what a lane holds")
        << system << pastTheLane << 0.0 << 1 << 0.6 << 1 << true;

    // Both captures held up 3 s, the computer's backlog handed over first and the microphone's
    // slowly after it: the microphone is realigned behind its times, then quiet for a while. The
    // word that ends its quiet lands in its place again, not late for the rest of the meeting.
    SimulatedSource systemHeldUp = system;
    systemHeldUp.heldUp = {4.0, 7.0};
    SimulatedSource bothHeldUp = microphone;
    bothHeldUp.heldUp = {4.0, 7.0};
    bothHeldUp.heldUpPace = 0.5;
    bothHeldUp.maximumDelay = 0.02;
    bothHeldUp.pause = {8.5, 9.9};
    bothHeldUp.quietMarks = true;
    QTest::newRow("both held up 3 s, the computer's backlog first")
        << systemHeldUp << bothHeldUp << 0.0 << 3 << 0.1 << 1 << true;
}

void tst_MixedAudioStreamMixerLateSource::neitherSourceIsLostForTheOthersTimes()
{
    QFETCH(SimulatedSource, system);
    QFETCH(SimulatedSource, microphone);
    QFETCH(double, extraLateUpTo);
    QFETCH(int, microphoneMarker);
    QFETCH(double, longerBy);
    QFETCH(int, lossesAllowed);
    QFETCH(bool, realignedLater);
    const double seconds = 12.0;
    // A source stretched toward its times gains or loses up to a percent of what it strayed by.
    const qint64 slack = 64;

    for (unsigned seed = 1; seed <= 50; ++seed) {
        SimulatedSource late = microphone;
        std::mt19937 random(seed + 1000);
        late.lateBy += std::uniform_real_distribution<double>(0.0, extraLateUpTo)(random);
        const Run run = runMeeting(system, late, seconds, seed);
        const QString figures =
            QStringLiteral("seed %1 (microphone %2 s late): %3 s streamed; computer %4 of %5 samples, microphone %6 of %7; "
                           "%8 warnings, the last at %9 s: %10; realigned last at %11 s, by %12 after 4 s; microphone told lost %13")
                .arg(seed).arg(late.lateBy, 0, 'f', 3).arg(double(run.output.size()) / 16000.0, 0, 'f', 3)
                .arg(run.systemHeard).arg(run.systemDelivered).arg(run.microphoneHeard).arg(run.microphoneDelivered)
                .arg(run.warnings).arg(run.lastWarningAt, 0, 'f', 2).arg(run.firstWarnings.join(QStringLiteral(" | ")))
                .arg(run.lastRealignedAt, 0, 'f', 2).arg(run.realignedLater).arg(run.microphoneToldLost);
        QVERIFY2(std::abs(run.systemHeard - run.systemDelivered) <= slack && run.systemToldLost == 0, qPrintable(figures));
        // A microphone whose audio comes later than the wait for one that delivers nothing (its
        // first audio, or after a stall of its deliveries) loses what came too late, and the
        // mixer tells how much.
        QVERIFY2(std::abs(run.microphoneDelivered - run.microphoneToldLost - run.microphoneHeard) <= slack, qPrintable(figures));
        const double length = double(run.output.size()) / 16000.0;
        QVERIFY2(length > seconds - 0.1 && length < seconds + longerBy + 0.1, qPrintable(figures));
        QVERIFY2(run.warnings <= lossesAllowed, qPrintable(figures));
        QVERIFY2(realignedLater || run.lastRealignedAt < 0 || run.realignedLater <= 1600, qPrintable(figures));
        // The computer's audio is where it was captured (the lanes realigned to it).
        const double systemAt = double(indexWhere(run.output, [](qint16 s) { return s == 1900 || s == 3250; })) / 16000.0;
        QVERIFY2(std::abs(systemAt - system.markerAt) < longerBy + 0.01, qPrintable(figures + QStringLiteral(", computer's marker at %1 s").arg(systemAt)));
        const double microphoneAt = double(indexWhere(run.output, [](qint16 s) { return s == 4050 || s == 4145; })) / 16000.0;
        if (microphoneMarker == 2)
            QVERIFY2(std::abs(microphoneAt - microphone.markerAt) < 0.01,
                     qPrintable(figures + QStringLiteral(", microphone's marker at %1 s").arg(microphoneAt)));
        else if (microphoneMarker == 3)
            QVERIFY2(std::abs(microphoneAt - microphone.markerAt) < 0.1,
                     qPrintable(figures + QStringLiteral(", microphone's marker at %1 s").arg(microphoneAt)));
        else if (microphoneMarker == 1)
            QVERIFY2(microphoneAt >= 0, qPrintable(figures));
    }
}

QTEST_GUILESS_MAIN(tst_MixedAudioStreamMixerLateSource)
#include "tst_MixedAudioStreamMixerLateSource.moc"
