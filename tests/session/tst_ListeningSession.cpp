// The listening lifecycle over recording fakes: bring-up and stop order, busy refusals, failed
// starts, continuing and starting anew, failures at run time and the quit.

#include "SessionTestFakes.h"

#include "audio/SystemAudioCaptureError.h"
#include "session/ListeningSession.h"
#include "session/MicrophoneControl.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "support/TaskResult.h"

#include <QTest>

#include <algorithm>
#include <cerrno>
#include <thread>

using namespace SessionTest;

namespace {

QStringList turnTexts(const SubtitleViewModel &model)
{
    QStringList texts;
    for (const SessionTurn &turn : model.turnStore()->turns())
        texts.append(turn.isClosed ? turn.text : turn.text + QStringLiteral("…"));
    return texts;
}

qint16 firstSample(const QByteArray &chunk)
{
    return *reinterpret_cast<const qint16 *>(chunk.constData());
}

} // namespace

class tst_ListeningSession final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bringUpAndStopOrder_data();
    void bringUpAndStopOrder();
    void busyCommandsAreRefused();
    void failedStartLeavesNothingOpen_data();
    void failedStartLeavesNothingOpen();
    void continueKeepsTurnsAndNewClearsThem();
    void audioReachesRecordingAndSocketInCaptureOrder();
    void theMicrophonesLastAudioIsKeptAtTheStop();
    void runtimeFailureStopsTheSession_data();
    void runtimeFailureStopsTheSession();
    void failuresDuringAStopJoinIt();
    void aRecordingThatStopsIsToldAtOnceAndListeningGoesOn();
    void lateResultsOfAnEndedStreamChangeNothing();
    void quitFinishesRecordingAndDraft();
};

void tst_ListeningSession::bringUpAndStopOrder_data()
{
    QTest::addColumn<bool>("record");
    QTest::newRow("recording off") << false;
    QTest::newRow("recording on") << true;
}

void tst_ListeningSession::bringUpAndStopOrder()
{
    QFETCH(bool, record);
    Engine engine;
    engine.model->setAudioRecordingEnabled(record);
    engine.model->setSelectedSourceLanguage(SourceLanguageOption::german);
    QVERIFY(engine.start());
    QCOMPARE(engine.trace.only({"recorder", "speech", "system"}),
             (QStringList{QString("recorder.start %1").arg(record ? "on" : "off"), "speech.connect de diarize=false utterances=true",
                          "system.handler", "system.start"}));
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
    QVERIFY(engine.model->isSystemAudioListening());
    QVERIFY(engine.model->hasActiveSession());
    QVERIFY(engine.model->shouldShowMicrophoneOffWarning());

    engine.speech->final(QStringLiteral("still speaking"));
    QCOMPARE(engine.model->liveSubtitlePreview(), QStringLiteral("still speaking"));
    engine.trace.calls.clear();
    QVERIFY(engine.stop());

    QCOMPARE(engine.trace.only({"mic", "recorder", "speech", "system."}),
             (QStringList{"mic0.stop", "system.stop", "system.handler.clear", "recorder.finish", "speech.stop"}));
    QCOMPARE(engine.model->status(), SubtitleStatus::stopped);
    QVERIFY(!engine.model->hasActiveSession());
    QCOMPARE(turnTexts(*engine.model), QStringList{"still speaking"});
    QVERIFY(engine.model->liveSubtitlePreview().isEmpty());
    QCOMPARE(engine.model->lastRecordingPath().has_value(), record);
    QVERIFY(!engine.model->errorMessage());
    // The stopped session's draft is written.
    QVERIFY(engine.settle([&] { return engine.defaults->contains(SessionDraftStore::defaultsKey); }));
}

void tst_ListeningSession::busyCommandsAreRefused()
{
    Engine engine;
    engine.systemAudio->startGate.closed = true;
    engine.model->startListening(ListeningSessionStartMode::newSession, false);
    QVERIFY(engine.settle([&] { return engine.trace.calls.contains("system.start"); }));
    QVERIFY(engine.model->isBusy());

    // A second start, a stop and a new session are refused while the start runs.
    engine.trace.calls.clear();
    engine.model->startListening(ListeningSessionStartMode::newSession, false);
    engine.model->stopActiveSession();
    engine.model->startNewSession();
    engine.model->toggleMicrophoneCapture();
    QTest::qWait(10);
    QVERIFY(engine.trace.calls.isEmpty());

    engine.systemAudio->startGate.closed = false;
    QVERIFY(engine.settle([&] { return !engine.model->isBusy(); }));
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);

    // A stop is refused while a microphone command runs.
    engine.microphones->current->startGate.closed = true;
    engine.model->toggleMicrophoneCapture();
    QVERIFY(engine.model->isMicrophoneBusy());
    engine.model->stopActiveSession();
    QVERIFY(!engine.model->isBusy());
    engine.microphones->current->startGate.closed = false;
    QVERIFY(engine.settle([&] { return !engine.model->isMicrophoneBusy(); }));
    QVERIFY(engine.model->isMicrophoneListening());
    QVERIFY(engine.stop());
    QVERIFY(!engine.model->isMicrophoneListening());
}

void tst_ListeningSession::failedStartLeavesNothingOpen_data()
{
    QTest::addColumn<QString>("failing");
    QTest::newRow("recording refused") << "recorder";
    QTest::newRow("speech stream refused") << "speech";
    QTest::newRow("system capture refused") << "system";
}

void tst_ListeningSession::failedStartLeavesNothingOpen()
{
    QFETCH(QString, failing);
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    const QString text = QStringLiteral("refused by ") + failing;
    if (failing == "recorder")
        engine.recorder->startFailure = text;
    else if (failing == "speech")
        engine.speech->connectFailure = text;
    else
        engine.systemAudio->startFailure = text;

    QVERIFY(engine.start());
    QCOMPARE(engine.model->errorMessage(), std::optional<QString>(text));
    QCOMPARE(engine.model->status(), SubtitleStatus::idle);
    QVERIFY(!engine.model->isBusy());
    QVERIFY(!engine.model->hasActiveSession());
    QVERIFY(!engine.model->listeningSession()->isStreamingSessionPrepared());
    QVERIFY(!engine.speech->connected);
    QVERIFY(!engine.recorder->open);
    QVERIFY(engine.trace.calls.contains("recorder.cancel"));

    // A new start works at once.
    if (failing == "recorder")
        engine.recorder->startFailure.reset();
    else if (failing == "speech")
        engine.speech->connectFailure.reset();
    else
        engine.systemAudio->startFailure.reset();
    QVERIFY(engine.start());
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
    QVERIFY(!engine.model->errorMessage());
}

void tst_ListeningSession::continueKeepsTurnsAndNewClearsThem()
{
    Engine engine;
    QVERIFY(engine.start());
    engine.speech->final(QStringLiteral("first meeting."));
    QVERIFY(engine.stop());

    QVERIFY(engine.start(ListeningSessionStartMode::continuePrevious));
    engine.speech->final(QStringLiteral("and more"));
    QCOMPARE(turnTexts(*engine.model), (QStringList{"first meeting.", "and more…"}));

    // "Start New" while listening ends the running session without marking it stopped and
    // clears it.
    engine.trace.calls.clear();
    engine.model->startNewSession();
    QVERIFY(engine.settle([&] { return !engine.model->isBusy(); }));
    QVERIFY(engine.trace.calls.contains("speech.stop"));
    QCOMPARE(engine.model->status(), SubtitleStatus::idle);
    QVERIFY(turnTexts(*engine.model).isEmpty());
    QVERIFY(engine.model->subtitlesText().isEmpty());
    QVERIFY(!engine.model->hasActiveSession());

    // A new session after a stopped one starts empty.
    QVERIFY(engine.start());
    engine.speech->final(QStringLiteral("third."));
    QVERIFY(engine.stop());
    QVERIFY(engine.start(ListeningSessionStartMode::newSession));
    QVERIFY(turnTexts(*engine.model).isEmpty());
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
}

void tst_ListeningSession::audioReachesRecordingAndSocketInCaptureOrder()
{
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    QVERIFY(engine.start());
    constexpr int chunkCount = 300;
    // The capture thread hands chunks over as fast as it can.
    AudioChunkHandler handler = engine.systemAudio->chunkHandler;
    std::thread capture([handler] {
        for (int i = 1; i <= chunkCount; ++i)
            handler(constantChunk(qint16(i * 8)), AudioCaptureTime());
    });
    capture.join();
    QVERIFY(engine.settle([&] { return engine.speech->sent.size() >= 6; }));
    QVERIFY(engine.stop());

    for (const QList<QByteArray> *received : {&engine.speech->sent, &engine.recorder->chunks}) {
        QVERIFY(!received->isEmpty());
        for (qsizetype i = 1; i < received->size(); ++i)
            QVERIFY2(firstSample(received->at(i - 1)) < firstSample(received->at(i)), qPrintable(QString::number(i)));
    }
    QCOMPARE(engine.speech->sent, engine.recorder->chunks);
}

// The stop switches the microphone off before the computer's audio. What the microphone said
// last may still wait in the mixer for the computer's audio of the same moment (a busy machine
// hands that on later): it is in the recording and the socket all the same.
void tst_ListeningSession::theMicrophonesLastAudioIsKeptAtTheStop()
{
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    QVERIFY(engine.start(ListeningSessionStartMode::newSession, true));
    FakeMicrophone *microphone = engine.microphones->current;
    constexpr int together = 8;
    constexpr int ahead = 3;
    for (int i = 0; i < together; ++i) {
        engine.systemAudio->chunkHandler(constantChunk(100), AudioCaptureTime());
        microphone->chunkHandler(constantChunk(1000), AudioCaptureTime());
    }
    for (int i = 0; i < ahead; ++i)
        microphone->chunkHandler(constantChunk(1000), AudioCaptureTime());
    QVERIFY(engine.settle([&] { return engine.recorder->chunks.size() >= together; }));
    QVERIFY(engine.stop());

    // 0.95 × 100 + 1.35 × 1000 where both sound, 1.35 × 1000 where the microphone was ahead.
    for (const QList<QByteArray> *received : {&engine.recorder->chunks, &engine.speech->sent}) {
        qsizetype both = 0;
        qsizetype microphoneAlone = 0;
        for (const QByteArray &chunk : *received) {
            const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
            both += std::count(samples, samples + chunk.size() / 2, qint16(1445));
            microphoneAlone += std::count(samples, samples + chunk.size() / 2, qint16(1350));
        }
        QCOMPARE(both, qsizetype(together) * MixedAudioStreamMixer::chunkSampleCount);
        QCOMPARE(microphoneAlone, qsizetype(ahead) * MixedAudioStreamMixer::chunkSampleCount);
    }
}

void tst_ListeningSession::runtimeFailureStopsTheSession_data()
{
    QTest::addColumn<bool>("speechFails");
    QTest::addColumn<QString>("message");
    QTest::newRow("speech stream") << true << "Live transcription was interrupted: socket closed";
    QTest::newRow("system audio lost") << false << "socket closed";
}

void tst_ListeningSession::runtimeFailureStopsTheSession()
{
    QFETCH(bool, speechFails);
    QFETCH(QString, message);
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    QVERIFY(engine.start());
    engine.speech->final(QStringLiteral("cut off"));
    if (speechFails)
        engine.speech->errorHandler(QStringLiteral("socket closed"));
    else
        engine.systemAudio->errorHandler(QStringLiteral("socket closed"));
    QVERIFY(engine.settle([&] { return engine.model->status() == SubtitleStatus::stopped && !engine.model->isBusy(); }));
    QCOMPARE(engine.model->errorMessage(), std::optional<QString>(message));
    QCOMPARE(turnTexts(*engine.model), QStringList{"cut off"});
    QVERIFY(engine.model->lastRecordingPath());
    QCOMPARE(engine.recorder->finishCount, 1);
}

void tst_ListeningSession::failuresDuringAStopJoinIt()
{
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    QVERIFY(engine.start(ListeningSessionStartMode::newSession, true));
    QVERIFY(engine.model->isMicrophoneListening());
    // A failure the capture thread has already posted when the stop begins.
    const AudioErrorHandler microphoneErrors = engine.microphones->current->errorHandler;
    QVERIFY(microphoneErrors);
    engine.speech->stopGate.closed = true;
    engine.model->stopActiveSession();
    QVERIFY(engine.settle([&] { return engine.trace.calls.contains("speech.stop"); }));

    // The speech stream and the microphone fail while the stop waits for the socket.
    engine.speech->errorHandler(QStringLiteral("late failure"));
    microphoneErrors(QStringLiteral("microphone lost"));
    engine.model->selectMicrophone(QStringLiteral("mic-b"));
    QTest::qWait(10);
    engine.speech->stopGate.closed = false;
    QVERIFY(engine.settle([&] { return !engine.model->isBusy() && !engine.model->listeningSession()->isStopping(); }));
    QTest::qWait(10);

    QCOMPARE(engine.trace.calls.count("system.stop"), 1);
    QCOMPARE(engine.recorder->finishCount, 1);
    QCOMPARE(engine.trace.calls.count("speech.stop"), 1);
    QVERIFY(engine.model->lastRecordingPath());
    QCOMPARE(engine.model->status(), SubtitleStatus::stopped);
    // The choice made during the stop is kept for the next start; nothing listens.
    QCOMPARE(engine.model->selectedMicrophoneID(), QStringLiteral("mic-b"));
    QVERIFY(!engine.model->isMicrophoneListening());
    QVERIFY(!engine.model->microphoneControl()->isMicrophoneCaptureActive());
    QVERIFY(!engine.microphones->current->capturing);
}

// The recording stops at a full disk in the middle of a session: the user is told at once,
// listening and the transcript go on, and the stop names the file that kept the part recorded
// before. A late word of a recording of an earlier session changes nothing.
void tst_ListeningSession::aRecordingThatStopsIsToldAtOnceAndListeningGoesOn()
{
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    QVERIFY(engine.start());
    engine.speech->final(QStringLiteral("before the disk filled up."));
    const QString kept = QStringLiteral("/tmp/CapturedAudio-kept.m4a");
    const SystemAudioCaptureError failure = SystemAudioCaptureError::failedToWriteAudioFile(-ENOSPC);
    engine.recorder->finishError = std::make_exception_ptr(failure.withKeptFile(kept));
    QVERIFY(engine.recorder->failureHandler);
    engine.recorder->failureHandler(failure.reason());

    QCOMPARE(engine.model->errorMessage(), std::optional<QString>(QStringLiteral("Recording stopped: No space is left on the device.")));
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
    engine.speech->final(QStringLiteral("and after it."));
    QCOMPARE(turnTexts(*engine.model), (QStringList{"before the disk filled up.", "and after it."}));

    const auto earlierRecording = engine.recorder->failureHandler;
    QVERIFY(engine.stop());
    QCOMPARE(engine.model->errorMessage(),
             std::optional<QString>(QStringLiteral("The app could not write the M4A file: No space is left on the device. "
                                                   "The recording up to that moment is kept: ") + kept));
    QCOMPARE(engine.model->lastRecordingPath(), std::optional<QString>(kept));

    engine.recorder->finishError = nullptr;
    QVERIFY(engine.start(ListeningSessionStartMode::newSession));
    earlierRecording(failure.reason());
    QCOMPARE(engine.model->errorMessage(), std::nullopt);
}

void tst_ListeningSession::lateResultsOfAnEndedStreamChangeNothing()
{
    Engine engine;
    QVERIFY(engine.start());
    const auto staleEvents = engine.speech->eventHandler;
    const auto staleErrors = engine.speech->errorHandler;
    engine.speech->final(QStringLiteral("kept."));
    QVERIFY(engine.stop());

    staleEvents(DeepgramTranscriptEvent::final(DeepgramTranscriptResult{QStringLiteral("ghost words"), true}));
    staleErrors(QStringLiteral("ghost failure"));
    QTest::qWait(10);
    QCOMPARE(turnTexts(*engine.model), QStringList{"kept."});
    QVERIFY(!engine.model->errorMessage());
    QCOMPARE(engine.model->status(), SubtitleStatus::stopped);

    // Nor does a stale result reach a session that started since.
    QVERIFY(engine.start(ListeningSessionStartMode::continuePrevious));
    staleEvents(DeepgramTranscriptEvent::final(DeepgramTranscriptResult{QStringLiteral("ghost words"), true}));
    staleErrors(QStringLiteral("ghost failure"));
    QTest::qWait(10);
    QCOMPARE(turnTexts(*engine.model), QStringList{"kept."});
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
}

void tst_ListeningSession::quitFinishesRecordingAndDraft()
{
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    QVERIFY(engine.start());
    engine.speech->final(QStringLiteral("last words before quitting"));
    QVERIFY(runTask(engine.model->stopActiveSessionAndWait()).succeeded());
    QCOMPARE(engine.recorder->finishCount, 1);
    QVERIFY(engine.model->lastRecordingPath());
    const auto stored = engine.defaults->dataValue(SessionDraftStore::defaultsKey);
    QVERIFY(stored);
    const SessionDraft draft = SessionDraft::fromJson(*stored);
    QCOMPARE(draft.turns.size(), std::size_t(1));
    QVERIFY(draft.turns.front().isClosed);
    QCOMPARE(draft.turns.front().text, QStringLiteral("last words before quitting"));
}

QTEST_GUILESS_MAIN(tst_ListeningSession)
#include "tst_ListeningSession.moc"
