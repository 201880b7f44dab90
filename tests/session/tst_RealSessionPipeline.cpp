// One session on the real components: what is played into the private audio server's output
// is captured, mixed, recorded and streamed to the speech relay of the fake backend, whose
// scripted results become turns; the stop leaves a complete recording and a written draft.

#include "accounts/AuthService.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/PulseAudioContext.h"
#include "platform/UserDefaults.h"
#include "session/SessionDraft.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionServices.h"
#include "session/SessionTurnStore.h"
#include "session/SubtitleViewModel.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeSpeechRelay.h"
#include "support/TestAudio.h"
#include "support/TestAuth.h"

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

private:
    QString m_sink;
    QTemporaryDir m_files;
};

void tst_RealSessionPipeline::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    m_sink = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    QVERIFY(!m_sink.isEmpty());
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

    FakeBackend backend;
    QVERIFY(backend.start());
    auto auth = TestAuth::signedInService(backend.baseUrl());
    FakeSpeechRelay relay(&backend);
    FakeHistoryBackend history(&backend);
    FakeBillingBackend billing(&backend);
    relay.answerToFinalize = {FakeSpeechRelay::results(QStringLiteral("please listen carefully"), true, false)};

    UserDefaults defaults(m_files.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore localization(defaults);
    SessionServices services = SessionServices::makeDefault(auth.get(), PulseAudioContext::shared());
    SubtitleViewModel model(defaults, std::move(services), localization);
    model.setAudioRecordingEnabled(true);
    model.setTranslationEnabled(false);
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
    QVERIFY2(lowAt >= 0 && highAt >= 0, "a tone never reached the relay");
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

QTEST_GUILESS_MAIN(tst_RealSessionPipeline)
#include "tst_RealSessionPipeline.moc"
