// One session on the real components: what is played into the private audio server's output
// is captured, mixed, recorded and streamed to the speech relay of the fake backend, whose
// scripted results become turns; the stop leaves a complete recording and a written draft.

#include "session/SessionDraft.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "support/RealSessionRig.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_RealSessionPipeline final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void playedSpeechBecomesTurnsRecordingAndDraft();
    void speakersAndMicrophoneTogetherKeepRealTime();

private:
    QString m_sink;
    QString m_microphoneFeed;
    QTemporaryDir m_files;
};

void tst_RealSessionPipeline::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    m_sink = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    QVERIFY(!m_sink.isEmpty());
    m_microphoneFeed = qEnvironmentVariable("KAVREL_TEST_PULSE_MIC_FEED");
    QVERIFY(!m_microphoneFeed.isEmpty());
    QVERIFY(m_files.isValid());
}

void tst_RealSessionPipeline::playedSpeechBecomesTurnsRecordingAndDraft()
{
    const QString dir = m_files.path();
    const QString low = TestAudio::makeTone(dir, QStringLiteral("low.wav"), 440, 0.6, 48000, 2, -6);
    const QString speech = TestAudio::makeSpeech(dir, QStringLiteral("speech.wav"),
                                                 QStringLiteral("The meeting starts now, please listen carefully."), 48000, 2);
    const QString high = TestAudio::makeTone(dir, QStringLiteral("high.wav"), 1500, 0.6, 48000, 2, -6);
    QVERIFY(!low.isEmpty() && !speech.isEmpty() && !high.isEmpty());
    const QString program = TestAudio::concatenate(dir, QStringLiteral("program.wav"), {low, speech, high});
    const double programSeconds = TestAudio::durationOf(program);
    QVERIFY(programSeconds > 2.0);

    RealSessionRig rig(m_files.filePath(QStringLiteral("preferences.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    FakeSpeechRelay &relay = rig.relay;
    UserDefaults &defaults = rig.defaults;
    relay.answerToFinalize = {FakeSpeechRelay::results(QStringLiteral("please listen carefully"), true, false)};
    model.setSelectedSourceLanguage(SourceLanguageOption::english);

    QElapsedTimer session;
    session.start();
    model.startListening(ListeningSessionStartMode::newSession, false);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QCOMPARE(relay.upgradeCount(), 1);

    QTest::qWait(200);
    // The event loop keeps running while it plays, as it would in the program.
    const auto player = TestAudio::startPlaying(m_sink, program);
    QVERIFY(player);
    QTRY_VERIFY_WITH_TIMEOUT(player->state() == QProcess::NotRunning, 30000);
    QCOMPARE(player->exitCode(), 0);
    QTest::qWait(300);
    relay.session(0)->sendText(FakeSpeechRelay::results(QStringLiteral("The meeting starts"), false, false));
    relay.session(0)->sendText(FakeSpeechRelay::results(QStringLiteral("The meeting starts now."), true, false));
    QTRY_COMPARE_WITH_TIMEOUT(model.transcriptEntries().size(), 1, 5000);

    model.stopActiveSession();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    const double sessionSeconds = session.elapsed() / 1000.0;
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));

    // The turns, the result that came back during the stop included.
    QStringList texts;
    for (const SessionTurn &turn : model.turnStore()->turns()) {
        QVERIFY(turn.isClosed);
        texts.append(turn.text);
    }
    QCOMPARE(texts, (QStringList{"The meeting starts now.", "please listen carefully"}));

    // The relay got the program in order: the low tone before the high one, the speech between.
    const std::vector<qint16> streamed = TestAudio::samplesOf(relay.audioFrames(0));
    const qint64 lowAt = TestAudio::toneOnset(streamed, 16000, 440);
    const qint64 highAt = TestAudio::toneOnset(streamed, 16000, 1500);
    QVERIFY2(lowAt >= 0 && highAt >= 0,
             qPrintable(QStringLiteral("a tone never reached the relay: the low one at %1 s, the high one at %2 s of %3 s streamed "
                                       "(a %4 s program)")
                            .arg(double(lowAt) / 16000.0, 0, 'f', 2).arg(double(highAt) / 16000.0, 0, 'f', 2)
                            .arg(double(streamed.size()) / 16000.0, 0, 'f', 2).arg(programSeconds, 0, 'f', 2)));
    const double gapSeconds = double(highAt - lowAt) / 16000.0;
    const double expectedGap = programSeconds - 0.6;
    QVERIFY2(std::abs(gapSeconds - expectedGap) < 0.15, qPrintable(QString::number(gapSeconds)));
    QVERIFY(TestAudio::rms(streamed, std::size_t(lowAt) + 16000, std::size_t((expectedGap - 1.0) * 16000)) > 0.01);

    // The recording holds what was streamed, and plays for the session's length.
    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QVERIFY(recording.opened);
    QVERIFY(!recording.decodeError);
    const double recordedSeconds = double(recording.decodedSamples) / recording.sampleRate;
    const double streamedSeconds = double(streamed.size()) / 16000.0;
    QVERIFY2(std::abs(recordedSeconds - streamedSeconds) < 0.2,
             qPrintable(QStringLiteral("recorded %1 s, streamed %2 s").arg(recordedSeconds).arg(streamedSeconds)));
    QVERIFY2(recordedSeconds > programSeconds && recordedSeconds < sessionSeconds + 0.5,
             qPrintable(QStringLiteral("recorded %1 s of a %2 s session").arg(recordedSeconds).arg(sessionSeconds)));

    // The draft of the stopped session is written.
    QTRY_VERIFY_WITH_TIMEOUT(defaults.dataValue(QString::fromLatin1(SessionDraftStore::defaultsKey)).has_value(), 3000);
    const SessionDraft draft = SessionDraft::fromJson(*defaults.dataValue(QString::fromLatin1(SessionDraftStore::defaultsKey)));
    QCOMPARE(draft.turns.size(), std::size_t(2));
    QCOMPARE(draft.turns.back().text, QStringLiteral("please listen carefully"));
    QFile::remove(*model.lastRecordingPath());

    // The meeting record and the usage report of the stop reach the server before the engine goes.
    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

// A steady tone into the microphone and, into the speakers, a short burst at a fixed period: the
// recording (the stream the speech service hears) lasts as long as the session and the bursts
// keep their period, however the two captures' deliveries interleave. KAVREL_BURST_SECONDS sets
// a longer run by hand (80 with a period of 10 s, as a user's meeting would show it).
void tst_RealSessionPipeline::speakersAndMicrophoneTogetherKeepRealTime()
{
    const int runSeconds = qEnvironmentVariableIsSet("KAVREL_BURST_SECONDS") ? qEnvironmentVariableIntValue("KAVREL_BURST_SECONDS") : 24;
    const double period = runSeconds >= 40 ? 10.0 : 4.0;
    const int bursts = int(runSeconds / period);
    const QString dir = m_files.path();
    const QString microphoneTone = TestAudio::makeTone(dir, QStringLiteral("steady.wav"), 330, runSeconds + 4, 48000, 2, -12);
    const QString burstFile = dir + QStringLiteral("/bursts.wav");
    QVERIFY(!microphoneTone.isEmpty());
    QVERIFY(TestAudio::run(QStringLiteral("sox"),
                           {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"),
                            QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), burstFile,
                            QStringLiteral("synth"), QStringLiteral("0.1"), QStringLiteral("sine"), QStringLiteral("2500"),
                            QStringLiteral("gain"), QStringLiteral("-6"), QStringLiteral("pad"), QString::number(period - 0.1),
                            QStringLiteral("0"), QStringLiteral("repeat"), QString::number(bursts - 1)}));

    RealSessionRig rig(m_files.filePath(QStringLiteral("together.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    FakeSpeechRelay &relay = rig.relay;

    const auto microphone = TestAudio::startPlaying(m_microphoneFeed, microphoneTone);
    QVERIFY(microphone);
    QElapsedTimer session;
    session.start();
    model.startListening(ListeningSessionStartMode::newSession, true);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QVERIFY(model.isMicrophoneListening());

    QElapsedTimer played;
    played.start();
    const auto speakers = TestAudio::startPlaying(m_sink, burstFile);
    QVERIFY(speakers);
    QTRY_VERIFY_WITH_TIMEOUT(speakers->state() == QProcess::NotRunning, (runSeconds + 20) * 1000);
    QTest::qWait(500);
    model.stopActiveSession();
    const double sessionSeconds = session.elapsed() / 1000.0;
    const double playedSeconds = played.elapsed() / 1000.0;
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    microphone->kill();
    microphone->waitForFinished();

    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError);
    const double recordedSeconds = double(recording.decodedSamples) / recording.sampleRate;
    const double streamedSeconds = double(TestAudio::samplesOf(relay.audioFrames(0)).size()) / 16000.0;
    const std::vector<double> onsets = TestAudio::toneBurstOnsets(recording.samples, recording.sampleRate, 2500, 1.0);
    QStringList spacing;
    for (std::size_t i = 1; i < onsets.size(); ++i)
        spacing << QString::number(onsets[i] - onsets[i - 1], 'f', 3);
    const QString figures = QStringLiteral("session %1 s (speakers on for %2 s), recorded %3 s, streamed %4 s, bursts %5 apart")
                                .arg(sessionSeconds, 0, 'f', 2).arg(playedSeconds, 0, 'f', 2).arg(recordedSeconds, 0, 'f', 2)
                                .arg(streamedSeconds, 0, 'f', 2).arg(spacing.join(QStringLiteral(", ")));
    qInfo().noquote() << figures;
    QFile::remove(*model.lastRecordingPath());

    QCOMPARE(int(onsets.size()), bursts);
    for (std::size_t i = 1; i < onsets.size(); ++i)
        QVERIFY2(std::abs(onsets[i] - onsets[i - 1] - period) < 0.1, qPrintable(figures));
    // The recording holds all that was played and is no longer than the session.
    QVERIFY2(recordedSeconds < sessionSeconds + 0.2 && recordedSeconds > runSeconds, qPrintable(figures));

    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

QTEST_GUILESS_MAIN(tst_RealSessionPipeline)
#include "tst_RealSessionPipeline.moc"
