// A session on the real components with a microphone whose clock runs slow: a pipe source of the
// private audio server, fed by a pacer 0.5 % slower than its nominal rate (real devices stray by
// far less, but over hours). The microphone's steady tone stays in the recording to the end, as
// the computer's audio goes on beside it.

#include "session/MeetingHistoryMirror.h"
#include "session/BillingUsageReporter.h"
#include "session/SessionCompanionSet.h"
#include "support/LogCapture.h"
#include "support/PipeMicrophone.h"
#include "support/RealSessionRig.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

namespace {

// How far a moment of the writer's may lie from its place in the recording (the recording
// begins about when listening does), each way.
constexpr double placeMargin = 1.0;
// How much longer the meeting may run to make up for a starved writer.
constexpr double longestExtraSeconds = 30;

} // namespace

class tst_RealSessionClockDrift final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void aSlowMicrophoneStaysInTheRecording();

private:
    QTemporaryDir m_files;
};

void tst_RealSessionClockDrift::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    QVERIFY(m_files.isValid());
}

void tst_RealSessionClockDrift::aSlowMicrophoneStaysInTheRecording()
{
    // Before the clocks were followed, the slow microphone fell out of the mix after 50 s.
    const double listenSeconds = 55;
    const QString source = QStringLiteral("kavrel_slow_mic");
    const QString pipe = m_files.filePath(QStringLiteral("slow_mic.fifo"));
    std::optional<PipeMicrophone> pacer;
    pacer.emplace(source, pipe, 0.005);
    QVERIFY(pacer->loaded());

    RealSessionRig rig(m_files.filePath(QStringLiteral("drift.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    QVERIFY(rig.chooseMicrophone(source));

    LogCapture log;
    const auto listeningFrom = PipeMicrophone::Clock::now();
    model.startListening(ListeningSessionStartMode::newSession, true);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QVERIFY(model.isMicrophoneListening());
    // Where the writer was starved, the recording may rightly lack the tone: the microphone made
    // none then. Those places are not judged, and the meeting runs longer by as much, so as much
    // of it as before is.
    const auto seconds = [](PipeMicrophone::Clock::duration duration) { return std::chrono::duration<double>(duration).count(); };
    const auto unjudged = [&seconds](const std::vector<PipeMicrophone::Stretch> &starved) {
        double total = 0;
        for (const PipeMicrophone::Stretch &stretch : starved)
            total += seconds(stretch.to - stretch.from) + 2 * placeMargin;
        return total;
    };
    QElapsedTimer listening;
    listening.start();
    while (listening.elapsed() < (listenSeconds + std::min(unjudged(pacer->starved()), longestExtraSeconds)) * 1000)
        QTest::qWait(250);
    model.stopActiveSession();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    const auto stoppedAt = PipeMicrophone::Clock::now();
    const std::vector<PipeMicrophone::Stretch> starved = pacer->starved();
    pacer.reset();
    QVERIFY2(unjudged(starved) <= longestExtraSeconds, "the writer was starved for too long to judge the recording");

    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError && recording.sampleRate > 0);
    QFile::remove(*model.lastRecordingPath());
    const double recordedSeconds = double(recording.decodedSamples) / recording.sampleRate;
    QVERIFY2(recordedSeconds > listenSeconds - 1, qPrintable(QString::number(recordedSeconds)));
    // The stop switches the microphone off a moment before the computer's audio: the recording
    // may end with that moment of the computer's silence.
    const std::optional<LogCapture::Clock::time_point> microphoneOff = log.lastTimeOf(QStringLiteral("mixer microphone enabled=false"));
    QVERIFY(microphoneOff);
    const double tail = seconds(stoppedAt - *microphoneOff);
    // Every quarter second of the recording, from the first whole second to the microphone's
    // end, carries the tone, the only sound played, except where the writer was starved.
    const auto block = std::size_t(recording.sampleRate / 4);
    QStringList silent;
    QStringList excused;
    for (std::size_t from = std::size_t(recording.sampleRate); from + block <= recording.samples.size(); from += block) {
        const double at = double(from) / recording.sampleRate;
        if (at + 0.25 > recordedSeconds - tail)
            break;
        double power = 0;
        for (std::size_t i = from; i < from + block; ++i)
            power += double(recording.samples[i]) * double(recording.samples[i]);
        if (std::sqrt(power / double(block)) >= 0.1)
            continue;
        // The recording begins about when listening does.
        const bool writerStarved = std::any_of(starved.begin(), starved.end(), [&](const PipeMicrophone::Stretch &stretch) {
            return at + 0.25 > seconds(stretch.from - listeningFrom) - placeMargin && at < seconds(stretch.to - listeningFrom) + placeMargin;
        });
        (writerStarved ? excused : silent) << QString::number(at, 'f', 2);
    }
    QStringList starvedText;
    for (const PipeMicrophone::Stretch &stretch : starved)
        starvedText << QStringLiteral("%1–%2 s").arg(seconds(stretch.from - listeningFrom), 0, 'f', 2).arg(seconds(stretch.to - listeningFrom), 0, 'f', 2);
    const QString figures = QStringLiteral("recorded %1 s, the last %2 s after the microphone went off; writer starved at %3; "
                                           "silent where it was: %4")
                                .arg(recordedSeconds, 0, 'f', 2)
                                .arg(tail, 0, 'f', 2)
                                .arg(starvedText.isEmpty() ? QStringLiteral("never") : starvedText.join(QStringLiteral(", ")))
                                .arg(excused.isEmpty() ? QStringLiteral("nowhere") : excused.join(QStringLiteral(", ")));
    qInfo().noquote() << figures;
    QVERIFY2(silent.isEmpty(), qPrintable(QStringLiteral("no tone at ") + silent.join(QStringLiteral(", ")) + QStringLiteral(" s (")
                                          + figures + QStringLiteral(")")));

    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

QTEST_GUILESS_MAIN(tst_RealSessionClockDrift)
#include "tst_RealSessionClockDrift.moc"
