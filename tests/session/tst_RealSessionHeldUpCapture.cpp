// The audio server's thread of the program is held up for 8 s in a recorded meeting (a stopped
// process, a debugger, a paused virtual machine), while the meeting's audio plays on. The server
// keeps what it could not deliver (the stream's buffer holds more than 10 s) and hands it over at
// once when the program reads again. Here on the real components: the capture of the private
// audio server's output, the mixer, the recorder, the M4A file and the speech relay. What the
// server kept lies in the recording where it was played, and what plays after the program runs
// again is in place at once, in the recording and in the stream to the relay. (A hold longer
// than the server keeps is the arrival clock's own test: what plays while the backlog is read
// may then follow on from it, which a busy machine makes likely.)

#include "platform/PulseAudioContext.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "support/RealSessionRig.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

class tst_RealSessionHeldUpCapture final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void whatTheServerKeptAndWhatFollowsLandInPlace();

private:
    QString m_sink;
    QString m_microphoneFeed;
    QTemporaryDir m_files;
};

void tst_RealSessionHeldUpCapture::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    m_sink = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    m_microphoneFeed = qEnvironmentVariable("KAVREL_TEST_PULSE_MIC_FEED");
    QVERIFY(!m_sink.isEmpty() && !m_microphoneFeed.isEmpty());
    QVERIFY(m_files.isValid());
}

void tst_RealSessionHeldUpCapture::whatTheServerKeptAndWhatFollowsLandInPlace()
{
    // One player for each device for the whole meeting, so each device's tones keep their
    // distances whatever the program does. The hold begins about 2 s after the first tone starts
    // and lasts 8 s: the system audio's second tone plays in its first seconds, its third in its
    // last seconds, its fourth just after it; the microphone's tones come before, in the hold,
    // and after.
    const double holdSeconds = 8;
    const double holdAt = 2.0;
    struct Tone
    {
        double frequency;
        double at;
        double seconds;
    };
    const Tone before{440, 0, 1};
    const Tone kept{880, holdAt + 2, 1};
    const Tone late{660, holdAt + holdSeconds - 2.5, 1};
    const Tone after{1500, holdAt + holdSeconds + 0.8, 1};
    const Tone spokenBefore{1100, 1.1, 0.5};
    const Tone spokenInHold{1300, holdAt + 4, 0.5};
    const Tone spokenAfter{1700, holdAt + holdSeconds + 2.2, 0.5};
    const QString dir = m_files.path();
    const auto programOf = [&dir](const QString &name, std::initializer_list<Tone> tones) {
        QStringList parts;
        double end = 0;
        for (const Tone &tone : tones) {
            parts << TestAudio::makeSilence(dir, QStringLiteral("%1-gap%2.wav").arg(name).arg(parts.size()), tone.at - end, 48000, 2);
            parts << TestAudio::makeTone(dir, QStringLiteral("%1-tone%2.wav").arg(name).arg(tone.frequency), tone.frequency,
                                         tone.seconds, 48000, 2, -6);
            end = tone.at + tone.seconds;
        }
        parts << TestAudio::makeSilence(dir, QStringLiteral("%1-tail.wav").arg(name), 1.0, 48000, 2);
        return parts.contains(QString()) ? QString() : TestAudio::concatenate(dir, name + QStringLiteral(".wav"), parts);
    };
    const QString program = programOf(QStringLiteral("speakers"), {before, kept, late, after});
    const QString spoken = programOf(QStringLiteral("microphone"), {spokenBefore, spokenInHold, spokenAfter});
    QVERIFY(!program.isEmpty() && !spoken.isEmpty());

    RealSessionRig rig(m_files.filePath(QStringLiteral("held.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    QElapsedTimer session;
    session.start();
    model.startListening(ListeningSessionStartMode::newSession, true);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    // The recording starts somewhere in between, sooner or later as busy as the machine is.
    QElapsedTimer listening;
    listening.start();
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QVERIFY(model.isMicrophoneListening());
    QTest::qWait(200);

    const auto player = TestAudio::startPlaying(m_sink, program);
    const auto speaker = TestAudio::startPlaying(m_microphoneFeed, spoken);
    QVERIFY(player && speaker);
    // The first tone heard in the speech stream tells, within a few tenths of a second, where
    // the player is; the hold is timed from there.
    QTRY_VERIFY_WITH_TIMEOUT(TestAudio::peak(TestAudio::samplesOf(rig.relay.audioFrames(0))) > 8000, 15000);
    QElapsedTimer heard;
    heard.start();
    const qsizetype framesBefore = rig.relay.audioFrames(0).size();
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    // The server's thread of this process stands still: nothing of the streams is read, as when
    // the process is stopped. The rest of the program runs on meanwhile and hears nothing.
    std::thread holder([context, holdAt, holdSeconds] {
        std::this_thread::sleep_for(std::chrono::duration<double>(holdAt - 0.2));
        PulseAudioContext::Lock held(*context);
        std::this_thread::sleep_for(std::chrono::duration<double>(holdSeconds));
    });
    QTRY_VERIFY_WITH_TIMEOUT(heard.elapsed() > (holdAt + holdSeconds) * 1000, 60000);
    holder.join();
    QTRY_VERIFY_WITH_TIMEOUT(player->state() == QProcess::NotRunning && speaker->state() == QProcess::NotRunning, 15000);
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    // The relay has the audio that followed the hold. (It takes the backlog first, as much of it
    // as the speech stream lets wait, so it may be a few seconds behind.)
    const auto relayHeard = [&rig, framesBefore](double frequency) {
        std::vector<float> relayed;
        for (const qint16 sample : TestAudio::samplesOf(rig.relay.audioFrames(0).mid(framesBefore)))
            relayed.push_back(float(sample) / 32768.0f);
        // (In short windows: after the hold the mixer may stretch a source by up to 1 % until its
        // times agree again, and a tone's pitch moves with it.)
        return !TestAudio::toneBurstOnsets(relayed, 16000, frequency, 1.0).empty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(relayHeard(after.frequency), 10000);

    model.stopActiveSession();
    const double sessionSeconds = double(session.elapsed()) / 1000.0;
    const double listeningSeconds = double(listening.elapsed()) / 1000.0;
    const double heardSeconds = double(heard.elapsed()) / 1000.0;
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));

    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QFile::remove(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError && recording.sampleRate > 0);
    const double rate = recording.sampleRate;
    const double recordedSeconds = double(recording.decodedSamples) / rate;
    const auto onset = [&recording, rate](const Tone &tone) {
        const std::vector<double> onsets = TestAudio::toneBurstOnsets(recording.samples, rate, tone.frequency, 1.0);
        return onsets.empty() ? -1.0 : onsets.front();
    };
    const double beforeAt = onset(before);
    const double keptAt = onset(kept);
    const double lateAt = onset(late);
    const double afterAt = onset(after);
    const double spokenBeforeAt = onset(spokenBefore);
    const double spokenInHoldAt = onset(spokenInHold);
    const double spokenAfterAt = onset(spokenAfter);
    // Where the microphone's tones end (see below).
    const auto end = [&recording, rate](double at, const Tone &tone) {
        return at < 0 ? -1.0 : TestAudio::toneBurstEnd(recording.samples, rate, tone.frequency, at);
    };
    const double spokenBeforeEnd = end(spokenBeforeAt, spokenBefore);
    const double spokenAfterEnd = end(spokenAfterAt, spokenAfter);
    const QString figures = QStringLiteral("session %1 s (listening %10 s), recorded %2 s, tones at %3, %4, %5 and %6 s, spoken at %7, %8 and %9 s")
                                .arg(sessionSeconds, 0, 'f', 2).arg(recordedSeconds, 0, 'f', 2).arg(beforeAt, 0, 'f', 2)
                                .arg(keptAt, 0, 'f', 2).arg(lateAt, 0, 'f', 2).arg(afterAt, 0, 'f', 2)
                                .arg(spokenBeforeAt, 0, 'f', 2).arg(spokenInHoldAt, 0, 'f', 2).arg(spokenAfterAt, 0, 'f', 2)
                                .arg(listeningSeconds, 0, 'f', 2)
                            + QStringLiteral(", spoken tones ending at %1 and %2 s, first tone heard %3 s before the stop")
                                  .arg(spokenBeforeEnd, 0, 'f', 2).arg(spokenAfterEnd, 0, 'f', 2).arg(heardSeconds, 0, 'f', 2);
    qInfo().noquote() << figures;

    // Nothing is lost, the 8 s the server kept included. The recording begins with the first
    // sound (an idle output and a quiet microphone give nothing before it), which comes as much
    // later than the start as the player takes to start: on a busy machine a second or more. So
    // its length is measured against the time since that sound was heard, which it exceeds by
    // the little the speech stream lags behind the recording, less what the stop cuts off.
    QVERIFY2(recordedSeconds > heardSeconds - 0.5 && recordedSeconds < sessionSeconds + 0.3, qPrintable(figures));
    QVERIFY2(beforeAt >= 0 && spokenAfterAt >= 0, qPrintable(figures));
    // Each tone of the system audio lies where it was played.
    const auto inPlace = [](double at, const Tone &tone, double firstAt, const Tone &first) {
        return at >= 0 && std::abs(at - firstAt - (tone.at - first.at)) < 0.15;
    };
    QVERIFY2(inPlace(keptAt, kept, beforeAt, before), qPrintable(figures));
    QVERIFY2(inPlace(lateAt, late, beforeAt, before), qPrintable(figures));
    QVERIFY2(inPlace(afterAt, after, beforeAt, before), qPrintable(figures));
    // The microphone is quiet before its first tone, and however far behind the computer's
    // audio a busy machine hands it over, it is waited for: the tone comes whole, and so does
    // the one after the hold.
    QVERIFY2(spokenBeforeAt >= 0 && spokenBeforeEnd - spokenBeforeAt > spokenBefore.seconds - 0.1, qPrintable(figures));
    QVERIFY2(spokenAfterEnd - spokenAfterAt > spokenAfter.seconds - 0.1, qPrintable(figures));
    QVERIFY2(std::abs(spokenAfterAt - spokenBeforeAt - (spokenAfter.at - spokenBefore.at)) < 0.15, qPrintable(figures));
    // The microphone's backlog comes a moment after the system audio's, which the mixer may
    // have handed on by then without it: what there is of its tone lies within it, or, where the
    // mixer realigned the microphone rather than drop its backlog, as much later as its backlog
    // came, yet whole before the microphone's next tone (the realignment is worked off in the
    // quiet between: that tone is in place).
    const double spokenInHoldPlace = spokenBeforeAt + spokenInHold.at - spokenBefore.at;
    QVERIFY2(spokenInHoldAt < 0
                 || (spokenInHoldAt > spokenInHoldPlace - 0.15 && spokenInHoldAt + spokenInHold.seconds < spokenAfterAt + 0.05),
             qPrintable(figures));
    // Everywhere else, silence: nothing was put twice or out of its place. (The coder spreads
    // each edge of a tone over a frame or two, and the conversions may leave a few steps of the
    // 16-bit scale, 90 dB down: no sound.)
    std::vector<std::pair<double, double>> played;
    for (const auto &[at, tone] : {std::pair{beforeAt, before}, std::pair{keptAt, kept}, std::pair{lateAt, late},
                                  std::pair{afterAt, after}, std::pair{spokenBeforeAt, spokenBefore},
                                  std::pair{spokenInHoldAt, spokenInHold}, std::pair{spokenAfterAt, spokenAfter}}) {
        if (at >= 0)
            played.emplace_back(at, at + tone.seconds);
    }
    std::sort(played.begin(), played.end());
    QString sound;
    for (std::size_t i = 1; i < played.size() && sound.isEmpty(); ++i)
        sound = TestAudio::soundIn(recording.samples, rate, played[i - 1].second + 0.25, played[i].first - 0.2, 1e-3);
    QVERIFY2(sound.isEmpty(), qPrintable(figures + QStringLiteral(", ") + sound));

    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

QTEST_GUILESS_MAIN(tst_RealSessionHeldUpCapture)
#include "tst_RealSessionHeldUpCapture.moc"
