#include "audio/MicrophoneCaptureError.h"
#include "audio/MicrophoneCaptureService.h"
#include "audio/SystemAudioCaptureError.h"
#include "audio/SystemAudioCaptureService.h"
#include "platform/PulseAudioContext.h"
#include "support/TaskResult.h"
#include "support/TestAudio.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

class PulseAudioContextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutAServerNothingHangsAndCaptureFailsClearly();
    void cacheFollowsTheServer();
    void sinkInputsTellWhichProcessPlays();

private:
    static bool havePulse()
    {
        return qEnvironmentVariableIsSet("KAVREL_TEST_PULSE");
    }
};

void PulseAudioContextTest::withoutAServerNothingHangsAndCaptureFailsClearly()
{
    QTemporaryDir nowhere;
    // Every (re)connection of this test looks for a server where there is none.
    struct RestoreServer
    {
        QByteArray previous = qgetenv("PULSE_SERVER");
        ~RestoreServer()
        {
            if (previous.isEmpty())
                qunsetenv("PULSE_SERVER");
            else
                qputenv("PULSE_SERVER", previous);
        }
    } restore;
    qputenv("PULSE_SERVER", "unix:" + nowhere.filePath(QStringLiteral("no-server")).toUtf8());
    auto context = std::make_shared<PulseAudioContext>();

    QVERIFY(!context->waitUntilReady(std::chrono::milliseconds(3000)));
    QCOMPARE(context->state(), PulseAudioContext::State::Failed);
    QVERIFY(context->lastError() != 0);
    QVERIFY(MicrophoneCaptureService::availableDevices(*context).empty());
    QVERIFY(!MicrophoneCaptureService::defaultDeviceID(*context));

    SystemAudioCaptureService system(context);
    const auto systemError = runTask(system.startCapture()).errorAs<SystemAudioCaptureError>();
    QVERIFY2(systemError, "capture started without a server");
    QCOMPARE(systemError->errorCase(), SystemAudioCaptureError::Case::failedToStartDevice);
    QVERIFY(systemError->status() != 0);
    QCOMPARE(systemError->message(), QStringLiteral("The app could not start system audio capture. OSStatus: ")
                                         + QString::number(systemError->status()));
    QVERIFY(!system.isCapturing());

    // Without a reachable server there is no microphone access.
    MicrophoneCaptureService microphone(context);
    const auto microphoneError = runTask(microphone.startCapture(std::nullopt)).errorAs<MicrophoneCaptureError>();
    QVERIFY2(microphoneError, "microphone started without a server");
    QCOMPARE(microphoneError->errorCase(), MicrophoneCaptureError::Case::permissionDenied);
    QCOMPARE(microphoneError->message(), QStringLiteral("Microphone permission was not granted."));
    QVERIFY(!microphone.isCapturing());
}

void PulseAudioContextTest::cacheFollowsTheServer()
{
    if (!havePulse())
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    const QString speakers = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    QVERIFY(context->waitUntilReady(std::chrono::milliseconds(3000)));
    QCOMPARE(context->serverInfo().defaultSinkName, speakers);
    const std::optional<PulseAudioContext::Sink> sink = context->sinkNamed(speakers);
    QVERIFY(sink);
    QCOMPARE(sink->monitorSourceName, speakers + QStringLiteral(".monitor"));
    const std::optional<PulseAudioContext::Source> monitor = context->sourceNamed(sink->monitorSourceName);
    QVERIFY(monitor && monitor->isMonitor);

    QSignalSpy devicesChanged(context.get(), &PulseAudioContext::devicesChanged);
    const QString extra = QStringLiteral("kavrel_test_extra");
    const std::optional<QString> module = TestAudio::pactl(
        {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + extra});
    QVERIFY(module);
    QTRY_VERIFY(context->sinkNamed(extra).has_value());
    QTRY_VERIFY(context->sourceNamed(extra + QStringLiteral(".monitor")).has_value());
    QTRY_VERIFY(devicesChanged.count() > 0);

    QVERIFY(TestAudio::pactl({QStringLiteral("unload-module"), module->trimmed()}));
    QTRY_VERIFY(!context->sinkNamed(extra).has_value());
    QTRY_VERIFY(!context->sourceNamed(extra + QStringLiteral(".monitor")).has_value());
}

// Meeting detection asks which processes are playing sound: uncorked sink inputs carry the
// player's process id.
void PulseAudioContextTest::sinkInputsTellWhichProcessPlays()
{
    if (!havePulse())
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    QTemporaryDir files;
    const QString tone = TestAudio::makeTone(files.path(), QStringLiteral("tone.wav"), 440, 1.5, 48000, 2, -20);
    QVERIFY(!tone.isEmpty());
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    QVERIFY(context->waitUntilReady(std::chrono::milliseconds(3000)));

    std::unique_ptr<QProcess> player = TestAudio::startPlaying(qEnvironmentVariable("KAVREL_TEST_PULSE_SINK"), tone);
    const qint64 pid = player->processId();
    const auto playing = [&] {
        for (const PulseAudioContext::SinkInput &input : context->sinkInputs()) {
            if (input.processId == pid && !input.corked)
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(playing(), 5000);
    QVERIFY(player->waitForFinished(10000));
    QTRY_VERIFY(!playing());
}

QTEST_GUILESS_MAIN(PulseAudioContextTest)
#include "tst_PulseAudioContext.moc"
