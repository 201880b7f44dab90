// The program stands still for minutes in the middle of a recorded meeting (a swapping machine,
// a debugger, a paused virtual machine), then goes on. Here on the real components: the capture
// of the private audio server's output, the mixer, the recorder and the M4A file. The stall is
// made by the clock the capture reads jumping ahead, as it does for a process that did not run:
// the audio after it comes minutes later than the audio before, and the pipeline sees minutes
// without audio. The recording goes on; the stall stays in it as silence, with the meeting's
// audio before and after it in place.
//
// KAVREL_REAL_STALL_SECONDS=70 waits instead for the process to be stopped by hand for at least
// that long (kill -STOP, then kill -CONT; the test prints its process id), and checks the same.

#include "platform/PulseAudioContext.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "support/RealSessionRig.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

#include <unistd.h>

class tst_RealSessionStall final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void aStallOfMinutesIsRecordedAsSilence();

private:
    QString m_sink;
    QTemporaryDir m_files;
};

void tst_RealSessionStall::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    m_sink = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    QVERIFY(!m_sink.isEmpty());
    QVERIFY(m_files.isValid());
}

void tst_RealSessionStall::aStallOfMinutesIsRecordedAsSilence()
{
    const int realStall = qEnvironmentVariableIntValue("KAVREL_REAL_STALL_SECONDS");
    const QString dir = m_files.path();
    const QString before = TestAudio::makeTone(dir, QStringLiteral("before.wav"), 440, 1.0, 48000, 2, -6);
    const double pauseSeconds = 5.0;
    const QString pause = TestAudio::makeSilence(dir, QStringLiteral("pause.wav"), pauseSeconds, 48000, 2);
    const QString after = TestAudio::makeTone(dir, QStringLiteral("after.wav"), 1500, 1.0, 48000, 2, -6);
    QVERIFY(!before.isEmpty() && !pause.isEmpty() && !after.isEmpty());
    const QString program = TestAudio::concatenate(dir, QStringLiteral("program.wav"), {before, pause, after});
    QVERIFY(!program.isEmpty());

    // The clock the capture reads: the machine's, or ahead of it by the stall once it happened.
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    auto ahead = std::make_shared<std::atomic<std::chrono::steady_clock::rep>>(0);
    context->setArrivalClock([ahead] {
        return std::chrono::steady_clock::now() + std::chrono::steady_clock::duration(ahead->load());
    });
    const auto restoreClock = qScopeGuard([context] { context->setArrivalClock({}); });

    RealSessionRig rig(m_files.filePath(QStringLiteral("stall.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    QElapsedTimer session;
    session.start();
    model.startListening(ListeningSessionStartMode::newSession, false);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QTest::qWait(200);

    double stallSeconds = 0;
    // Since the first tone was heard in the speech stream.
    QElapsedTimer heard;
    // How far apart the tones are meant to lie in the recording, give or take.
    double apart = 0;
    double leeway = 0;
    if (realStall > 0) {
        // The tones are played apart, the stop by hand between them; the event loop's longest
        // pause tells when it has come and gone. What plays meanwhile is lost with the stall.
        QElapsedTimer played;
        played.start();
        QVERIFY(TestAudio::playInto(m_sink, before));
        qint64 longestPause = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer ticks;
        connect(&ticks, &QTimer::timeout, this, [&] { longestPause = std::max(longestPause, sinceTick.restart()); });
        ticks.start(100);
        qInfo().noquote() << QStringLiteral("stop this process now for %1 s or more: kill -STOP %2; kill -CONT %2")
                                 .arg(realStall).arg(::getpid());
        QTRY_VERIFY_WITH_TIMEOUT(longestPause >= realStall * 1000, 600000);
        stallSeconds = double(longestPause) / 1000.0;
        QTest::qWait(500);
        apart = double(played.elapsed()) / 1000.0;
        QVERIFY(TestAudio::playInto(m_sink, after));
        // Each play starts after a moment of its own.
        leeway = 1.0;
    } else {
        // In the pause between the tones the program stands still for two minutes and a bit,
        // as the capture sees it: the rest of the pause and the second tone come that much
        // later. The first tone has reached the speech stream, and ended, by then.
        stallSeconds = 125;
        const auto player = TestAudio::startPlaying(m_sink, program);
        QVERIFY(player);
        QTRY_VERIFY_WITH_TIMEOUT(TestAudio::peak(TestAudio::samplesOf(rig.relay.audioFrames(0))) > 8000, 15000);
        heard.start();
        QTest::qWait(2000);
        ahead->store(std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(stallSeconds))
                         .count());
        QTRY_VERIFY_WITH_TIMEOUT(player->state() == QProcess::NotRunning, 15000);
        apart = 1.0 + pauseSeconds + stallSeconds;
        leeway = 0.15;
    }
    QTest::qWait(500);
    // Listening went on throughout, and nothing went wrong: the recording was not given up.
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));

    model.stopActiveSession();
    const double sessionSeconds = double(session.elapsed()) / 1000.0 + (realStall > 0 ? 0 : stallSeconds);
    const double heardSeconds = heard.isValid() ? double(heard.elapsed()) / 1000.0 + stallSeconds : -1.0;
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));

    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QFile::remove(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError && recording.sampleRate > 0);
    const double rate = recording.sampleRate;
    const double recordedSeconds = double(recording.decodedSamples) / rate;
    // (Found in short windows: where the capture's times stray, the mixer stretches a source by
    // up to 1 % until they agree again, and a tone's pitch moves with it.)
    const auto onset = [&recording, rate](double frequency) {
        const std::vector<double> onsets = TestAudio::toneBurstOnsets(recording.samples, rate, frequency, 1.0);
        return onsets.empty() ? -1.0 : onsets.front();
    };
    const double beforeAt = onset(440);
    const double afterAt = onset(1500);
    const QString figures = QStringLiteral("session %1 s with a stall of %2 s, recorded %3 s, tones at %4 s and %5 s, "
                                           "the first heard %6 s before the stop")
                                .arg(sessionSeconds, 0, 'f', 2).arg(stallSeconds, 0, 'f', 2).arg(recordedSeconds, 0, 'f', 2)
                                .arg(beforeAt, 0, 'f', 2).arg(afterAt, 0, 'f', 2).arg(heardSeconds, 0, 'f', 2);
    qInfo().noquote() << figures;

    // The recording lasts as long as the meeting, the stall included. It begins with the first
    // sound (an idle output gives nothing before it), which comes as much after the session's
    // start as the player takes to start, on a busy machine two seconds or more. So it is
    // measured against the time since that sound was heard in the speech stream, which it
    // exceeds by the little the stream lags behind the recording, less what the stop cuts off.
    // (Stopped by hand, the test measures from the session's start, with room for the player's.)
    const double earliest = heardSeconds >= 0 ? heardSeconds - 0.5 : sessionSeconds - 1.8;
    QVERIFY2(recordedSeconds > earliest && recordedSeconds < sessionSeconds + 0.3, qPrintable(figures));
    // Both tones are in it, as far apart as they were played.
    QVERIFY2(beforeAt >= 0 && afterAt > beforeAt, qPrintable(figures));
    QVERIFY2(std::abs(afterAt - beforeAt - apart) < leeway, qPrintable(figures + QStringLiteral(", played %1 s apart").arg(apart)));
    // Between them, silence: the output was idle, and then the program stood still. (The coder
    // spreads each edge of a tone over a frame or two.)
    QVERIFY(afterAt - beforeAt > stallSeconds + 1.45);
    const QString sound = TestAudio::soundIn(recording.samples, rate, beforeAt + 1.25, afterAt - 0.2, 0);
    QVERIFY2(sound.isEmpty(), qPrintable(figures + QStringLiteral(", ") + sound));

    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

QTEST_GUILESS_MAIN(tst_RealSessionStall)
#include "tst_RealSessionStall.moc"
