// The microphone as a second source: its states and transitions, device switches, the level
// meter and failures at run time.

#include "SessionTestFakes.h"

#include "session/ListeningSession.h"
#include "session/MicrophoneControl.h"

#include <QTest>

#include <algorithm>

using namespace SessionTest;

class tst_MicrophoneControl final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void microphoneAloneRunsASession();
    void noDeviceLeavesNothingRunning();
    void joiningAndLeavingASystemSession();
    void continuingWithoutMicIntoAMicrophoneSession();
    void levelTest();
    void levelThreshold_data();
    void levelThreshold();
    void deviceSwitch();
    void deviceSwitchKeepsTheNewDevicesFirstAudio();
    void failedDeviceSwitchEndsOff();
    void deviceChoiceDuringAStartIsOnlyStored();
    void choiceAcrossDeviceListChanges_data();
    void choiceAcrossDeviceListChanges();
    void runtimeFailure_data();
    void runtimeFailure();

private:
    static bool toggle(Engine &engine)
    {
        engine.model->toggleMicrophoneCapture();
        return engine.settle([&] { return !engine.model->isMicrophoneBusy(); });
    }
    static bool toggleTest(Engine &engine)
    {
        engine.model->toggleMicrophoneTest();
        return engine.settle([&] { return !engine.model->isMicrophoneBusy(); });
    }
};

void tst_MicrophoneControl::microphoneAloneRunsASession()
{
    Engine engine;
    QVERIFY(toggle(engine));
    QVERIFY(engine.model->isMicrophoneListening());
    QVERIFY(engine.model->listeningSession()->isStreamingSessionPrepared());
    QVERIFY(engine.speech->connected);
    QVERIFY(!engine.model->isSystemAudioListening());
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
    QVERIFY(engine.trace.calls.contains("history.source microphone"));
    QVERIFY(engine.trace.calls.contains("mic0.start mic-a"));

    // Switching it off ends and saves the session it was the only source of.
    QVERIFY(toggle(engine));
    QVERIFY(engine.settle([&] { return !engine.model->hasActiveSession(); }));
    QCOMPARE(engine.model->status(), SubtitleStatus::stopped);
    QVERIFY(!engine.speech->connected);
    QVERIFY(engine.trace.calls.contains("history.sync completed"));
}

void tst_MicrophoneControl::noDeviceLeavesNothingRunning()
{
    Engine engine;
    engine.microphones->devices.clear();
    engine.microphones->defaultID.reset();
    QVERIFY(toggle(engine));
    QCOMPARE(engine.model->errorMessage(), std::optional<QString>("The selected microphone is not available."));
    QVERIFY(!engine.model->isMicrophoneListening());
    QCOMPARE(engine.model->selectedMicrophoneName(), QStringLiteral("Default microphone"));
    // The pipeline this switch brought up for the microphone is down again.
    QVERIFY(!engine.model->hasActiveSession());
    QVERIFY(!engine.speech->connected);
    QCOMPARE(engine.model->status(), SubtitleStatus::idle);
}

void tst_MicrophoneControl::joiningAndLeavingASystemSession()
{
    Engine engine;
    QVERIFY(engine.start());
    QVERIFY(engine.model->shouldShowMicrophoneOffWarning());
    QVERIFY(toggle(engine));
    QVERIFY(engine.model->isMicrophoneListening());
    QVERIFY(!engine.model->shouldShowMicrophoneOffWarning());
    QVERIFY(engine.trace.calls.contains("history.source system_audio+microphone"));
    QCOMPARE(engine.model->selectedMicrophoneName(), QStringLiteral("Alpha"));

    QVERIFY(toggle(engine));
    QVERIFY(!engine.model->isMicrophoneListening());
    QVERIFY(engine.model->shouldShowMicrophoneOffWarning());
    QCOMPARE(engine.model->status(), SubtitleStatus::listening);
    QVERIFY(engine.model->isSystemAudioListening());
    QVERIFY(!engine.microphones->current->capturing);
}

void tst_MicrophoneControl::continuingWithoutMicIntoAMicrophoneSession()
{
    // The microphone alone runs; the user then starts system audio with "Continue Without Mic".
    Engine engine;
    QVERIFY(toggle(engine));
    QVERIFY(engine.model->isMicrophoneListening());
    engine.trace.calls.clear();
    QVERIFY(engine.start(ListeningSessionStartMode::continuePrevious, false));
    QVERIFY(engine.model->isSystemAudioListening());
    QVERIFY(engine.model->isMicrophoneListening());
    // What is captured is what is shown and recorded: both sources.
    QVERIFY(!engine.model->shouldShowMicrophoneOffWarning());
    QVERIFY(engine.trace.calls.contains("history.source system_audio+microphone"));
    QVERIFY(!engine.trace.calls.contains("history.source system_audio"));
}

void tst_MicrophoneControl::levelTest()
{
    Engine engine;
    // Off → Testing → Off.
    QVERIFY(toggleTest(engine));
    QVERIFY(engine.model->isMicrophoneTesting());
    QVERIFY(engine.microphones->current->capturing);
    QVERIFY(!engine.model->listeningSession()->isStreamingSessionPrepared());
    QVERIFY(toggleTest(engine));
    QVERIFY(!engine.model->isMicrophoneTesting());
    QVERIFY(!engine.microphones->current->capturing);

    // Testing → Listening: switching on ends the test and keeps capture.
    QVERIFY(toggleTest(engine));
    QVERIFY(toggle(engine));
    QVERIFY(engine.model->isMicrophoneListening());
    QVERIFY(!engine.model->isMicrophoneTesting());

    // Listening → Listening and testing → Listening: capture stays on throughout.
    QVERIFY(toggleTest(engine));
    QVERIFY(engine.model->isMicrophoneTesting());
    QVERIFY(toggleTest(engine));
    QVERIFY(engine.microphones->current->capturing);
    QVERIFY(engine.model->isMicrophoneListening());

    // A failing test start ends Off with the error shown.
    Engine failing;
    failing.microphones->current->startFailure = QStringLiteral("Microphone permission was not granted.");
    QVERIFY(toggleTest(failing));
    QVERIFY(!failing.model->isMicrophoneTesting());
    QCOMPARE(failing.model->errorMessage(), std::optional<QString>("Microphone permission was not granted."));
}

void tst_MicrophoneControl::levelThreshold_data()
{
    QTest::addColumn<double>("level");
    QTest::addColumn<bool>("detected");
    QTest::newRow("silence") << 0.0 << false;
    QTest::newRow("at the threshold") << 0.015 << false;
    QTest::newRow("just above") << 0.0151 << true;
    QTest::newRow("loud") << 0.8 << true;
}

void tst_MicrophoneControl::levelThreshold()
{
    QFETCH(double, level);
    QFETCH(bool, detected);
    Engine engine;
    QVERIFY(toggleTest(engine));
    engine.microphones->current->levelHandler(level);
    QVERIFY(engine.settle([&] { return engine.model->microphoneLevel() == level; }));
    QCOMPARE(engine.model->microphoneSignalDetected(), detected);
}

void tst_MicrophoneControl::deviceSwitch()
{
    Engine engine;
    QVERIFY(engine.start(ListeningSessionStartMode::newSession, true));
    QVERIFY(engine.model->isMicrophoneListening());
    engine.trace.calls.clear();

    engine.model->selectMicrophone(QStringLiteral("mic-a")); // already selected
    QVERIFY(!engine.model->isMicrophoneBusy());
    engine.model->selectMicrophone(QStringLiteral("mic-b"));
    QVERIFY(engine.settle([&] { return !engine.model->isMicrophoneBusy(); }));
    QCOMPARE(engine.trace.only({"mic"}), (QStringList{"mic0.stop", "mic0.start mic-b"}));
    QVERIFY(engine.model->isMicrophoneListening());
    QCOMPARE(engine.model->selectedMicrophoneName(), QStringLiteral("Beta"));

    // With capture off only the choice changes.
    QVERIFY(engine.stop());
    engine.trace.calls.clear();
    engine.model->selectMicrophone(QStringLiteral("mic-a"));
    QVERIFY(!engine.model->isMicrophoneBusy());
    QVERIFY(engine.trace.calls.isEmpty());
    QCOMPARE(engine.model->selectedMicrophoneID(), QStringLiteral("mic-a"));
}

// The new device delivers as soon as its stream runs, before the switch has finished: that audio
// is in the recording, a switch costs no more than the device takes to start.
void tst_MicrophoneControl::deviceSwitchKeepsTheNewDevicesFirstAudio()
{
    Engine engine;
    engine.model->setAudioRecordingEnabled(true);
    QVERIFY(engine.start(ListeningSessionStartMode::newSession, true));
    FakeMicrophone *microphone = engine.microphones->current;
    microphone->startGate.closed = true;
    engine.model->selectMicrophone(QStringLiteral("mic-b"));
    QVERIFY(engine.settle([&] { return engine.trace.calls.contains(QStringLiteral("mic0.start mic-b")); }));

    constexpr int chunks = 8;
    for (int i = 0; i < chunks; ++i) {
        engine.systemAudio->chunkHandler(constantChunk(100), AudioCaptureTime());
        microphone->chunkHandler(constantChunk(1000), AudioCaptureTime());
    }
    // The main thread takes the audio while the switch still waits for the device.
    QTest::qWait(50);
    microphone->startGate.closed = false;
    QVERIFY(engine.settle([&] { return !engine.model->isMicrophoneBusy(); }));
    QVERIFY(engine.model->isMicrophoneListening());
    QVERIFY(engine.stop());

    // Both sound where the microphone's audio went in: 0.95 × 100 + 1.35 × 1000.
    qsizetype both = 0;
    for (const QByteArray &chunk : engine.recorder->chunks) {
        const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
        both += std::count(samples, samples + chunk.size() / 2, qint16(1445));
    }
    QCOMPARE(both, qsizetype(chunks) * MixedAudioStreamMixer::chunkSampleCount);
}

void tst_MicrophoneControl::failedDeviceSwitchEndsOff()
{
    Engine engine;
    QVERIFY(engine.start(ListeningSessionStartMode::newSession, true));
    engine.microphones->current->startFailure = QStringLiteral("The app could not access the selected microphone input.");
    engine.model->selectMicrophone(QStringLiteral("mic-b"));
    QVERIFY(engine.settle([&] { return !engine.model->isMicrophoneBusy(); }));
    QVERIFY(!engine.model->isMicrophoneListening());
    QVERIFY(!engine.model->microphoneControl()->isMicrophoneCaptureActive());
    QCOMPARE(engine.model->errorMessage(), std::optional<QString>("The app could not access the selected microphone input."));
    QVERIFY(engine.model->isSystemAudioListening());
}

void tst_MicrophoneControl::deviceChoiceDuringAStartIsOnlyStored()
{
    Engine engine;
    QVERIFY(toggleTest(engine)); // capture runs
    engine.systemAudio->startGate.closed = true;
    engine.model->startListening(ListeningSessionStartMode::continuePrevious, false);
    QVERIFY(engine.settle([&] { return engine.trace.calls.contains("system.start"); }));
    engine.trace.calls.clear();
    engine.model->selectMicrophone(QStringLiteral("mic-b"));
    QVERIFY(!engine.model->isMicrophoneBusy());
    QVERIFY(engine.trace.only({"mic"}).isEmpty());
    engine.systemAudio->startGate.closed = false;
    QVERIFY(engine.settle([&] { return !engine.model->isBusy(); }));
    QCOMPARE(engine.model->selectedMicrophoneID(), QStringLiteral("mic-b"));
    QCOMPARE(engine.microphones->current->device, QStringLiteral("mic-a"));
}

// Steps: "away" (the list cannot be read: the audio server restarts), "back <ids>" (the list read
// whole again: those devices, the first the default), "choose <id>". Each step is announced as
// the audio server layer does, through the devices-changed handler.
void tst_MicrophoneControl::choiceAcrossDeviceListChanges_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<bool>("capturing");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("listed");
    QTest::addColumn<QStringList>("captureCalls");

    QTest::newRow("server away, idle") << "mic-b" << false << QStringList{"away", "away"} << "mic-b" << 2 << QStringList{};
    QTest::newRow("server away, capturing")
        << "mic-b" << true << QStringList{"away", "back mic-a mic-b"} << "mic-b" << 2 << QStringList{};
    QTest::newRow("no device for a moment")
        << "mic-b" << false << QStringList{"back", "away", "back mic-a mic-b"} << "mic-b" << 2 << QStringList{};
    QTest::newRow("chosen device back later")
        << "mic-b" << false << QStringList{"away", "back mic-a", "back mic-a mic-b"} << "mic-b" << 2 << QStringList{};
    QTest::newRow("the default stands in meanwhile")
        << "mic-b" << false << QStringList{"away", "back mic-a"} << "mic-a" << 1 << QStringList{};
    // The capture service followed the server to the default by itself; it goes back.
    QTest::newRow("capture goes back to the chosen device")
        << "mic-b" << true << QStringList{"away", "back mic-a", "back mic-a mic-b"} << "mic-b" << 2
        << QStringList{"mic0.stop", "mic0.start mic-b"};
    QTest::newRow("the stand-in chosen stays")
        << "mic-b" << false << QStringList{"back mic-a", "choose mic-a", "back mic-a mic-b"} << "mic-a" << 2 << QStringList{};
    QTest::newRow("without a choice nothing comes back")
        << "" << false << QStringList{"back mic-b", "back mic-a mic-b"} << "mic-b" << 2 << QStringList{};
}

void tst_MicrophoneControl::choiceAcrossDeviceListChanges()
{
    QFETCH(QString, choice);
    QFETCH(bool, capturing);
    QFETCH(QStringList, steps);
    QFETCH(QString, selected);
    QFETCH(int, listed);
    QFETCH(QStringList, captureCalls);

    Engine engine;
    const std::vector<MicrophoneInputDevice> all = engine.microphones->devices;
    if (!choice.isEmpty())
        engine.model->selectMicrophone(choice);
    if (capturing) {
        QVERIFY(engine.start(ListeningSessionStartMode::newSession, true));
        QVERIFY(engine.model->isMicrophoneListening());
    }
    engine.trace.calls.clear();
    for (const QString &step : steps) {
        QStringList words = step.split(QLatin1Char(' '));
        const QString verb = words.takeFirst();
        if (verb == QLatin1String("choose")) {
            engine.model->selectMicrophone(words.first());
            continue;
        }
        engine.microphones->listed = verb == QLatin1String("back");
        engine.microphones->devices.clear();
        for (const MicrophoneInputDevice &device : all) {
            if (words.contains(device.id))
                engine.microphones->devices.push_back(device);
        }
        engine.microphones->defaultID = words.isEmpty() ? std::nullopt : std::optional<QString>(words.first());
        engine.microphones->devicesChanged();
        QVERIFY(engine.settle([&] { return !engine.model->isMicrophoneBusy(); }));
    }

    QCOMPARE(engine.model->selectedMicrophoneID(), selected);
    QCOMPARE(engine.model->availableMicrophones().size(), listed);
    QCOMPARE(engine.trace.only({"mic"}), captureCalls);
    if (capturing) {
        QVERIFY(engine.model->isMicrophoneListening());
        QCOMPARE(engine.microphones->current->device, selected);
    }
}

void tst_MicrophoneControl::runtimeFailure_data()
{
    QTest::addColumn<bool>("withSystemAudio");
    QTest::newRow("system audio goes on") << true;
    QTest::newRow("microphone was the only source") << false;
}

void tst_MicrophoneControl::runtimeFailure()
{
    QFETCH(bool, withSystemAudio);
    Engine engine;
    if (withSystemAudio)
        QVERIFY(engine.start(ListeningSessionStartMode::newSession, true));
    else
        QVERIFY(toggle(engine));
    QVERIFY(engine.model->isMicrophoneListening());
    FakeMicrophone *failed = engine.microphones->current;
    failed->errorHandler(QStringLiteral("The microphone was unplugged."));

    QVERIFY(engine.settle([&] { return !engine.model->isMicrophoneListening() && !engine.model->isBusy(); }));
    QVERIFY(engine.settle([&] { return engine.model->hasActiveSession() == withSystemAudio; }));
    QVERIFY(engine.microphones->current != failed);
    QVERIFY(!engine.model->microphoneControl()->isMicrophoneCaptureActive());
    QCOMPARE(engine.model->status(), withSystemAudio ? SubtitleStatus::listening : SubtitleStatus::stopped);
    QCOMPARE(engine.model->errorMessage(), std::optional<QString>("The microphone was unplugged."));
    // The fresh service takes the microphone again on request.
    if (withSystemAudio) {
        QVERIFY(toggle(engine));
        QVERIFY(engine.model->isMicrophoneListening());
    }
}

QTEST_GUILESS_MAIN(tst_MicrophoneControl)
#include "tst_MicrophoneControl.moc"
