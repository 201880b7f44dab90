// The one fault of the soak that its fake audio sources cannot play: the audio server restarts
// in the middle of a session. Here on the real capture path: what the private PulseAudio plays
// is captured, mixed, recorded and streamed; the server drops every client and comes back; the
// session goes on listening by itself, and what is played afterwards reaches the relay and the
// recording, where the time the server was away stays as silence.

#include "platform/PulseAudioContext.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/RealSessionPorts.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionTurnStore.h"
#include "speech/DeepgramLiveTranscriptionService.h"
#include "support/AudioServerOutage.h"
#include "support/RealSessionRig.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>


class tst_SessionAudioServerRestart final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sessionListensOnAcrossARestart();

private:
    QString m_sink;
    QTemporaryDir m_files;
};

void tst_SessionAudioServerRestart::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    m_sink = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    QVERIFY(!m_sink.isEmpty());
    QVERIFY(m_files.isValid());
}

void tst_SessionAudioServerRestart::sessionListensOnAcrossARestart()
{
    const QString before = TestAudio::makeTone(m_files.path(), QStringLiteral("before.wav"), 440, 5.0, 48000, 2, -6);
    const QString after = TestAudio::makeTone(m_files.path(), QStringLiteral("after.wav"), 1500, 1.5, 48000, 2, -6);
    QVERIFY(!before.isEmpty() && !after.isEmpty());

    RealSessionRig rig(m_files.filePath(QStringLiteral("preferences.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    FakeSpeechRelay &relay = rig.relay;
    model.setSelectedSourceLanguage(SourceLanguageOption::english);

    model.startListening(ListeningSessionStartMode::newSession, false);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QElapsedTimer session;
    session.start();
    QTest::qWait(200);
    // The server goes while the first tone plays, once it is heard: the capture holds some of
    // it when the stream is cut.
    const auto playingBefore = TestAudio::startPlaying(m_sink, before);
    QVERIFY(playingBefore);
    QTRY_VERIFY_WITH_TIMEOUT(TestAudio::peak(TestAudio::samplesOf(relay.audioFrames(0))) > 8000, 15000);
    QElapsedTimer heard;
    heard.start();
    QTest::qWait(500);

    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    {
        AudioServerOutage outage;
        QVERIFY(outage.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(context->state() != PulseAudioContext::State::Ready, 10000);
        // Away for a while, as a restarting server is.
        QTest::qWait(2500);
        QVERIFY(outage.restore());
    }
    QTRY_VERIFY_WITH_TIMEOUT(context->state() == PulseAudioContext::State::Ready, 10000);
    // Its player was cut off with everyone else.
    QTRY_VERIFY_WITH_TIMEOUT(playingBefore->state() == QProcess::NotRunning, 10000);
    // The capture finds the output again on its own; what is played from now on is heard.
    const qsizetype framesBefore = relay.audioFrames(0).size();
    QTRY_VERIFY_WITH_TIMEOUT(relay.audioFrames(0).size() > framesBefore + 5, 10000);
    QVERIFY(TestAudio::playInto(m_sink, after));
    QTest::qWait(300);
    QCOMPARE(model.status(), SubtitleStatus::listening);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    relay.session(0)->sendText(FakeSpeechRelay::results(QStringLiteral("After the restart."), true, true));
    QTRY_COMPARE_WITH_TIMEOUT(model.turnStore()->closedTurnCount(), 1, 5000);
    // The capture's burst around the restart waited for the socket and went out whole.
    const auto *speech = dynamic_cast<RealSpeechToTextStream *>(model.services().speechToText.get());
    QVERIFY(speech);
    QCOMPARE(speech->service()->droppedAudioChunkCount(), 0);

    model.stopActiveSession();
    const double sessionSeconds = double(session.elapsed()) / 1000.0;
    const double heardSeconds = double(heard.elapsed()) / 1000.0;
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QCOMPARE(relay.upgradeCount(), 1);

    // Both tones reached the relay on the one connection, in order.
    const std::vector<qint16> streamed = TestAudio::samplesOf(relay.audioFrames(0));
    const qint64 beforeAt = TestAudio::toneOnset(streamed, 16000, 440);
    const qint64 afterAt = TestAudio::toneOnset(streamed, 16000, 1500);
    QVERIFY2(beforeAt >= 0 && afterAt > beforeAt, qPrintable(QStringLiteral("%1 %2").arg(beforeAt).arg(afterAt)));
    // From where the first tone was cut off to the second nothing sounds: the time the server was
    // away is silence, and the output was idle after it. No scrap of the first tone lands in it.
    // (The onsets are found on a grid of 50 ms.)
    const double streamedCut = TestAudio::quietFrom(streamed, 16000, beforeAt / 16000.0, 0);
    QVERIFY2(streamedCut > 0 && streamedCut < afterAt / 16000.0, qPrintable(QString::number(streamedCut)));
    const QString streamedScrap = TestAudio::soundIn(streamed, 16000, streamedCut, afterAt / 16000.0 - 0.1, 0);
    QVERIFY2(streamedScrap.isEmpty(), qPrintable(streamedScrap));

    // The recording holds both tones too, in order. (Its length is not the stream's: under
    // load the speech client drops audio that waited too long, the recording keeps it.)
    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError && recording.sampleRate > 0);
    const std::vector<qint16> recorded = TestAudio::samplesOf(recording.samples);
    const qint64 recordedBeforeAt = TestAudio::toneOnset(recorded, recording.sampleRate, 440);
    const qint64 recordedAfterAt = TestAudio::toneOnset(recorded, recording.sampleRate, 1500);
    QVERIFY2(recordedBeforeAt >= 0 && recordedAfterAt > recordedBeforeAt,
             qPrintable(QStringLiteral("%1 %2").arg(recordedBeforeAt).arg(recordedAfterAt)));
    // The same silence in the recording; the coder spreads each edge of a tone over a frame or
    // two (64 ms each).
    const double rate = recording.sampleRate;
    const double recordedCut = TestAudio::quietFrom(recording.samples, rate, recordedBeforeAt / rate, 0);
    QVERIFY2(recordedCut > 0 && recordedCut < recordedAfterAt / rate, qPrintable(QString::number(recordedCut)));
    const QString recordedScrap = TestAudio::soundIn(recording.samples, rate, recordedCut, recordedAfterAt / rate - 0.2, 0);
    QVERIFY2(recordedScrap.isEmpty(), qPrintable(recordedScrap));
    // The time the server was away (more than 2.5 s) stays in the recording as silence: it
    // lasts about as long as the session. It begins with the first sound, which comes as much
    // after the session's start as the player takes to start, on a busy machine two seconds or
    // more; so it is measured against the time since that sound was heard in the speech stream,
    // which it exceeds by the little the stream lags behind, less what the stop cuts off.
    const double recordedSeconds = double(recording.decodedSamples) / recording.sampleRate;
    QVERIFY2(recordedSeconds > heardSeconds - 0.5 && recordedSeconds < sessionSeconds + 0.3,
             qPrintable(QStringLiteral("recorded %1 s of %2 s, the first tone heard %3 s before the stop")
                            .arg(recordedSeconds).arg(sessionSeconds).arg(heardSeconds)));
    QFile::remove(*model.lastRecordingPath());

    // One listening stretch, reported once; the meeting saved as completed.
    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
    QCOMPARE(rig.billing.events().size(), 1);
    QCOMPARE(rig.history.meetingCount(), 1);
    const QString id = *model.companionSet()->history()->sessionID();
    QCOMPARE(rig.history.meeting(id)->value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
}

QTEST_GUILESS_MAIN(tst_SessionAudioServerRestart)
#include "tst_SessionAudioServerRestart.moc"
