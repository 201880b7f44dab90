#include "audio/MicrophoneCaptureError.h"
#include "audio/MicrophoneCaptureService.h"
#include "audio/SystemAudioCaptureError.h"
#include "audio/SystemAudioCaptureService.h"
#include "base/KavrelDiagnostics.h"
#include "platform/PulseAudioContext.h"
#include "support/AudioServerOutage.h"
#include "support/LogCapture.h"
#include "support/TaskResult.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <pulse/def.h>

namespace {

// Points the next (re)connections at another server, until destroyed. libpulse reads
// PULSE_SERVER whenever the context makes a new connection.
class PulseServerOverride
{
public:
    explicit PulseServerOverride(const QString &socketPath)
    {
        qputenv("PULSE_SERVER", "unix:" + socketPath.toUtf8());
    }
    ~PulseServerOverride()
    {
        if (m_hadPrevious)
            qputenv("PULSE_SERVER", m_previous);
        else
            qunsetenv("PULSE_SERVER");
    }
    PulseServerOverride(const PulseServerOverride &) = delete;
    PulseServerOverride &operator=(const PulseServerOverride &) = delete;

private:
    bool m_hadPrevious = qEnvironmentVariableIsSet("PULSE_SERVER");
    QByteArray m_previous = qgetenv("PULSE_SERVER");
};

// Stores ready()'s answer when it comes; the answer outlives the test if it never does.
QCoro::Task<void> storeReadiness(std::shared_ptr<PulseAudioContext> context, std::shared_ptr<std::optional<bool>> answer)
{
    const bool isReady = co_await context->ready();
    *answer = isReady;
}

// ready()'s answer, awaited here for at most the time given (false when none came).
bool readyWithin(const std::shared_ptr<PulseAudioContext> &context, int milliseconds)
{
    auto answer = std::make_shared<std::optional<bool>>();
    QCoro::Task<void> waiting = storeReadiness(context, answer);
    return QTest::qWaitFor([&answer] { return answer->has_value(); }, milliseconds) && answer->value_or(false);
}

// A local socket that takes connections and never answers them: a wedged audio server.
class WedgedServer
{
public:
    WedgedServer()
    {
        QVERIFY(m_server.listen(m_folder.filePath(QStringLiteral("wedged"))));
        // Accepted sockets stay open (children of the server) and are never read or written.
        QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] {
            while (m_server.nextPendingConnection())
                ++connections;
        });
    }
    QString path() const { return m_server.fullServerName(); }
    int connections = 0;

private:
    QTemporaryDir m_folder;
    QLocalServer m_server;
};

} // namespace

class tst_PulseAudioContext : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutAServerNothingHangsAndCaptureFailsClearly();
    void aServerThatNeverAnswersFailsTheAttemptInTime();
    void anOutageIsToldOnce_data();
    void anOutageIsToldOnce();
    void deviceListsNeverWaitForTheServer();
    void cacheFollowsTheServer();
    void sinkInputsTellWhichProcessPlays();

private:
    static bool havePulse()
    {
        return qEnvironmentVariableIsSet("KAVREL_TEST_PULSE");
    }
};

void tst_PulseAudioContext::withoutAServerNothingHangsAndCaptureFailsClearly()
{
    QTemporaryDir nowhere;
    // Every (re)connection of this test looks for a server where there is none.
    const PulseServerOverride noServer(nowhere.filePath(QStringLiteral("no-server")));
    auto context = std::make_shared<PulseAudioContext>();

    QVERIFY(!readyWithin(context, 3000));
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

    // Without a reachable server the microphone says so; it is no matter of permission.
    MicrophoneCaptureService microphone(context);
    const auto microphoneError = runTask(microphone.startCapture(std::nullopt)).errorAs<MicrophoneCaptureError>();
    QVERIFY2(microphoneError, "microphone started without a server");
    QCOMPARE(microphoneError->errorCase(), MicrophoneCaptureError::Case::audioServerUnavailable);
    QVERIFY2(microphoneError->message().startsWith(QStringLiteral("The app could not reach the audio server: ")),
             qPrintable(microphoneError->message()));
    QVERIFY(!microphone.isCapturing());
}

// A wedged server (pulseaudio or pipewire-pulse) takes the connection and never answers
// the handshake: the attempt fails after the connect time-out, capture start reports its
// error, and the next attempt connects afresh.
void tst_PulseAudioContext::aServerThatNeverAnswersFailsTheAttemptInTime()
{
    WedgedServer wedged;
    std::shared_ptr<PulseAudioContext> context;
    {
        const PulseServerOverride override(wedged.path());
        context = std::make_shared<PulseAudioContext>(nullptr, PulseAudioContext::Timings{.connectTimeout = std::chrono::milliseconds(300)});
        auto answer = std::make_shared<std::optional<bool>>();
        QCoro::Task<void> waiting = storeReadiness(context, answer);
        // Far below libpulse's own handshake time-out, far above the injected one.
        QTRY_VERIFY_WITH_TIMEOUT(answer->has_value(), 8000);
        QCOMPARE(answer->value(), false);
        QCOMPARE(context->state(), PulseAudioContext::State::Failed);
        QCOMPARE(context->lastError(), int(PA_ERR_TIMEOUT));
        QVERIFY2(wedged.connections > 0, "the attempt never reached the wedged server");

        // The capture services report their usual start errors instead of waiting.
        SystemAudioCaptureService system(context);
        const auto systemError = runTask(system.startCapture()).errorAs<SystemAudioCaptureError>();
        QVERIFY2(systemError, "capture started on a server that never answered");
        QCOMPARE(systemError->errorCase(), SystemAudioCaptureError::Case::failedToStartDevice);
        QCOMPARE(systemError->status(), int(PA_ERR_TIMEOUT));
        MicrophoneCaptureService microphone(context);
        const auto microphoneError = runTask(microphone.startCapture(std::nullopt)).errorAs<MicrophoneCaptureError>();
        QVERIFY2(microphoneError, "microphone started on a server that never answered");
        QCOMPARE(microphoneError->errorCase(), MicrophoneCaptureError::Case::audioServerUnavailable);
    }

    if (!havePulse())
        QSKIP("KAVREL_TEST_PULSE is not set: reconnecting to a working server needs the private PulseAudio of "
              "scripts/with-test-services");
    auto answer = std::make_shared<std::optional<bool>>();
    QCoro::Task<void> waiting = storeReadiness(context, answer);
    QTRY_VERIFY_WITH_TIMEOUT(answer->has_value(), 8000);
    QCOMPARE(answer->value(), true);
    QCOMPARE(context->state(), PulseAudioContext::State::Ready);
    QCOMPARE(context->serverInfo().defaultSinkName, qEnvironmentVariable("KAVREL_TEST_PULSE_SINK"));
}

// A server that takes the connection and never answers, for what stands for five minutes of
// the program's timings (10 s for an attempt, up to 2 s between them: 25 attempts): the
// connection says once, as a warning, that the server is away, and once that it is back; the
// attempts in between are quiet. So too when it never answered from the start and the program
// asks for it again and again (a menu listing the microphones).
void tst_PulseAudioContext::anOutageIsToldOnce_data()
{
    QTest::addColumn<bool>("readyFirst");
    QTest::newRow("a working server lost, then wedged") << true;
    QTest::newRow("wedged from the start") << false;
}

void tst_PulseAudioContext::anOutageIsToldOnce()
{
    QFETCH(bool, readyFirst);
    if (!havePulse())
        QSKIP("KAVREL_TEST_PULSE is not set: a working server needs the private PulseAudio of scripts/with-test-services");
    // A fortieth of the program's timings.
    PulseAudioContext::Timings timings;
    timings.connectTimeout = std::chrono::milliseconds(250);
    timings.firstReconnectPause = std::chrono::milliseconds(6);
    timings.longestReconnectPause = std::chrono::milliseconds(50);
    const int fiveMinutes = 5 * 60 * 1000 / 40;
    const QString audio = QString::fromLatin1(KavrelDiagnostics::audio().categoryName());

    WedgedServer wedged;
    std::shared_ptr<PulseAudioContext> context;
    // (Gone in the reverse order: the usual server comes back, then the connection looks for it.)
    std::optional<AudioServerOutage> outage;
    std::optional<PulseServerOverride> away;
    LogCapture log;
    const auto readyAgain = [&context] {
        context->reconnectIfFailed();
        return context->state() == PulseAudioContext::State::Ready;
    };
    if (readyFirst) {
        context = std::make_shared<PulseAudioContext>(nullptr, timings);
        // (A busy machine may take longer than the short time-out for the handshake.)
        QTRY_VERIFY_WITH_TIMEOUT(readyAgain(), 10000);
        log.clear();
        // The next attempts find a server that never answers; this one is cut off.
        outage.emplace();
        away.emplace(wedged.path());
        QTRY_COMPARE(context->state(), PulseAudioContext::State::Failed);
    } else {
        away.emplace(wedged.path());
        context = std::make_shared<PulseAudioContext>(nullptr, timings);
    }
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < fiveMinutes) {
        // What the menus do whenever they are opened; the lost connection also tries by itself.
        context->reconnectIfFailed();
        QTest::qWait(100);
    }
    QVERIFY2(wedged.connections >= 15, qPrintable(QString::number(wedged.connections)));
    const QStringList warnings = log.linesAt(QtWarningMsg);
    QVERIFY2(warnings.size() == 1 && warnings.front().startsWith(audio), qPrintable(log.lines().join(QLatin1Char('\n'))));
    QVERIFY(log.linesAt(QtCriticalMsg).isEmpty());
    QVERIFY2(log.linesAt(QtInfoMsg).isEmpty(), qPrintable(log.lines().join(QLatin1Char('\n'))));

    // The server answers again: one line says so.
    away.reset();
    if (outage)
        QVERIFY(outage->restore());
    QTRY_VERIFY_WITH_TIMEOUT(readyAgain(), 10000);
    QTest::qWait(200);
    QCOMPARE(log.linesAt(QtWarningMsg).size(), 1);
    const QStringList back = log.linesAt(QtInfoMsg);
    QVERIFY2(back == QStringList{audio + QStringLiteral(" audio server connection is back")},
             qPrintable(log.lines().join(QLatin1Char('\n'))));
}

// Device lists are read on the main thread (menus, pickers): they answer from the cache at
// once, even while the server keeps a connection attempt hanging, and announce the list
// with devicesChanged() once the server has answered.
void tst_PulseAudioContext::deviceListsNeverWaitForTheServer()
{
    WedgedServer wedged;
    {
        const PulseServerOverride override(wedged.path());
        auto context = std::make_shared<PulseAudioContext>(nullptr, PulseAudioContext::Timings{.connectTimeout = std::chrono::milliseconds(1500)});
        QVERIFY(MicrophoneCaptureService::availableDevices(*context).empty());
        QVERIFY(!MicrophoneCaptureService::defaultDeviceID(*context));
        // An empty list here is no news of devices gone.
        QVERIFY(!MicrophoneCaptureService::listedDevices(*context));
        // Still the first attempt: the lists did not wait for it to end.
        QCOMPARE(context->state(), PulseAudioContext::State::Connecting);
    }

    if (!havePulse())
        QSKIP("KAVREL_TEST_PULSE is not set: a working server needs the private PulseAudio of scripts/with-test-services");
    auto context = std::make_shared<PulseAudioContext>();
    QSignalSpy devicesChanged(context.get(), &PulseAudioContext::devicesChanged);
    QTRY_VERIFY(devicesChanged.count() > 0);
    const QString microphone = qEnvironmentVariable("KAVREL_TEST_PULSE_MIC_SOURCE");
    const std::vector<MicrophoneInputDevice> devices = MicrophoneCaptureService::availableDevices(*context);
    QVERIFY(std::any_of(devices.begin(), devices.end(),
                        [&microphone](const MicrophoneInputDevice &device) { return device.id == microphone; }));
    QCOMPARE(MicrophoneCaptureService::defaultDeviceID(*context), std::optional<QString>(microphone));
    QCOMPARE(MicrophoneCaptureService::listedDevices(*context), std::optional(devices));
}

void tst_PulseAudioContext::cacheFollowsTheServer()
{
    if (!havePulse())
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    const QString speakers = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    QVERIFY(readyWithin(context, 3000));
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
void tst_PulseAudioContext::sinkInputsTellWhichProcessPlays()
{
    if (!havePulse())
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    QTemporaryDir files;
    const QString tone = TestAudio::makeTone(files.path(), QStringLiteral("tone.wav"), 440, 1.5, 48000, 2, -20);
    QVERIFY(!tone.isEmpty());
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    QVERIFY(readyWithin(context, 3000));

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

QTEST_GUILESS_MAIN(tst_PulseAudioContext)
#include "tst_PulseAudioContext.moc"
