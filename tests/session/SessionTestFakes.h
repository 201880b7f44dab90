#pragma once

// Recording fakes of the session ports: each call is written to one shared trace, in order,
// so a test can assert the order of a bring-up or a stop. Failures are switched on per test.

#include "localization/KavrelLocalizationStore.h"
#include "audio/MicrophoneCaptureError.h"
#include "audio/MixedAudioStreamMixer.h"
#include "base/Async.h"
#include "platform/UserDefaults.h"
#include "session/SessionCompanions.h"
#include "session/SessionPorts.h"
#include "session/SessionServices.h"
#include "session/SubtitleViewModel.h"

#include <QStringList>
#include <QTest>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

namespace SessionTest {

using namespace std::chrono_literals;

class FailureText final : public KavrelError
{
public:
    explicit FailureText(QString text) : m_text(std::move(text)) {}
    QString message() const override { return m_text; }

private:
    QString m_text;
};

struct Trace
{
    QStringList calls;
    void add(const QString &call) { calls.append(call); }
    // The calls that start with one of the prefixes, in order.
    QStringList only(const QStringList &prefixes) const
    {
        QStringList result;
        for (const QString &call : calls) {
            for (const QString &prefix : prefixes) {
                if (call.startsWith(prefix)) {
                    result.append(call);
                    break;
                }
            }
        }
        return result;
    }
};

// Holds a coroutine until the test opens it.
// One mixer chunk of the same sample throughout.
inline QByteArray constantChunk(qint16 value)
{
    QByteArray chunk(MixedAudioStreamMixer::chunkSampleCount * 2, Qt::Uninitialized);
    auto *samples = reinterpret_cast<qint16 *>(chunk.data());
    for (qsizetype i = 0; i < MixedAudioStreamMixer::chunkSampleCount; ++i)
        samples[i] = value;
    return chunk;
}

struct Gate
{
    bool closed = false;
    QCoro::Task<void> pass()
    {
        while (closed)
            co_await sleepFor(1ms, CancellationToken());
    }
};

class FakeSystemAudio final : public SystemAudioSource
{
public:
    explicit FakeSystemAudio(Trace *trace) : m_trace(trace) {}

    std::optional<QString> startFailure;
    Gate startGate;
    AudioChunkHandler chunkHandler;
    AudioErrorHandler errorHandler;
    bool capturing = false;

    void setLiveAudioDataHandler(AudioChunkHandler handler) override
    {
        m_trace->add(handler ? QStringLiteral("system.handler") : QStringLiteral("system.handler.clear"));
        chunkHandler = std::move(handler);
    }
    void setErrorHandler(AudioErrorHandler handler) override { errorHandler = std::move(handler); }
    QCoro::Task<void> startCapture() override
    {
        m_trace->add(QStringLiteral("system.start"));
        co_await startGate.pass();
        if (startFailure)
            throw FailureText(*startFailure);
        capturing = true;
    }
    QCoro::Task<void> stopCapture() override
    {
        m_trace->add(QStringLiteral("system.stop"));
        co_await yieldOnce();
        if (!capturing)
            throw FailureText(QStringLiteral("not capturing"));
        capturing = false;
    }

private:
    Trace *m_trace;
};

class FakeMicrophone final : public MicrophoneSource
{
public:
    FakeMicrophone(Trace *trace, int serial) : m_trace(trace), m_serial(serial) {}

    AudioChunkHandler chunkHandler;
    AudioErrorHandler errorHandler;
    AudioLevelHandler levelHandler;
    std::optional<QString> startFailure;
    Gate startGate;
    bool capturing = false;
    QString device;

    void setLiveAudioDataHandler(AudioChunkHandler handler) override { chunkHandler = std::move(handler); }
    void setErrorHandler(AudioErrorHandler handler) override { errorHandler = std::move(handler); }
    void setLevelHandler(AudioLevelHandler handler) override { levelHandler = std::move(handler); }
    QCoro::Task<void> startCapture(QString deviceID) override
    {
        m_trace->add(QStringLiteral("mic%1.start %2").arg(m_serial).arg(deviceID));
        co_await startGate.pass();
        if (startFailure)
            throw FailureText(*startFailure);
        capturing = true;
        device = deviceID;
    }
    QCoro::Task<void> stopCapture() override
    {
        m_trace->add(QStringLiteral("mic%1.stop").arg(m_serial));
        capturing = false;
        if (levelHandler)
            levelHandler(0);
        co_return;
    }

private:
    Trace *m_trace;
    int m_serial;
};

class FakeMicrophones final : public MicrophoneDirectory
{
public:
    explicit FakeMicrophones(Trace *trace) : m_trace(trace) {}

    std::vector<MicrophoneInputDevice> devices{{QStringLiteral("mic-a"), QStringLiteral("Alpha")},
                                               {QStringLiteral("mic-b"), QStringLiteral("Beta")}};
    std::optional<QString> defaultID = QStringLiteral("mic-a");
    // Applied to every microphone made from now on.
    std::optional<QString> startFailure;
    bool holdsStarts = false;
    FakeMicrophone *current = nullptr;
    int made = 0;

    std::function<void()> devicesChanged;

    // False: the list cannot be read whole (the audio server is away).
    bool listed = true;

    std::optional<std::vector<MicrophoneInputDevice>> availableDevices() override
    {
        if (!listed)
            return std::nullopt;
        return devices;
    }
    void setDevicesChangedHandler(std::function<void()> handler) override { devicesChanged = std::move(handler); }
    std::optional<QString> defaultDeviceID() override { return defaultID; }
    std::unique_ptr<MicrophoneSource> makeMicrophone() override
    {
        auto microphone = std::make_unique<FakeMicrophone>(m_trace, made++);
        microphone->startFailure = startFailure;
        microphone->startGate.closed = holdsStarts;
        current = microphone.get();
        return microphone;
    }

private:
    Trace *m_trace;
};

class FakeRecorder final : public SessionRecorder
{
public:
    explicit FakeRecorder(Trace *trace) : m_trace(trace) {}

    std::optional<QString> startFailure;
    std::optional<QString> finishFailure;
    std::exception_ptr finishError;
    QList<QByteArray> chunks;
    bool enabled = false;
    bool open = false;
    int finishCount = 0;

    void startRecording(bool isEnabled) override
    {
        m_trace->add(QStringLiteral("recorder.start %1").arg(isEnabled ? "on" : "off"));
        if (startFailure)
            throw FailureText(*startFailure);
        enabled = isEnabled;
        open = isEnabled;
    }
    QCoro::Task<void> appendMixedAudio(QByteArray chunk) override
    {
        if (open)
            chunks.append(chunk);
        co_return;
    }
    std::function<void(const QString &reason)> failureHandler;
    void setFailureHandler(std::function<void(const QString &reason)> handler) override { failureHandler = std::move(handler); }
    QCoro::Task<std::optional<QUrl>> finishRecording() override
    {
        m_trace->add(QStringLiteral("recorder.finish"));
        ++finishCount;
        co_await yieldOnce();
        const bool wasOpen = open;
        open = false;
        if (finishFailure)
            throw FailureText(*finishFailure);
        if (finishError)
            std::rethrow_exception(finishError);
        if (!wasOpen)
            co_return std::nullopt;
        co_return QUrl::fromLocalFile(QStringLiteral("/tmp/CapturedAudio-test.m4a"));
    }
    QCoro::Task<void> cancel() override
    {
        m_trace->add(QStringLiteral("recorder.cancel"));
        open = false;
        co_return;
    }

private:
    Trace *m_trace;
};

class FakeSpeech final : public SpeechToTextStream
{
public:
    explicit FakeSpeech(Trace *trace) : m_trace(trace) {}

    std::optional<QString> connectFailure;
    EventHandler eventHandler;
    ErrorHandler errorHandler;
    QList<QByteArray> sent;
    bool connected = false;
    Gate stopGate;

    QCoro::Task<void> connect(QString code, bool diarize, bool utterances, EventHandler onEvent,
                              ErrorHandler onError) override
    {
        m_trace->add(QStringLiteral("speech.connect %1 diarize=%2 utterances=%3")
                         .arg(code, diarize ? "true" : "false", utterances ? "true" : "false"));
        co_await yieldOnce();
        if (connectFailure)
            throw FailureText(*connectFailure);
        eventHandler = std::move(onEvent);
        errorHandler = std::move(onError);
        connected = true;
    }
    void sendAudio(QByteArray chunk) override
    {
        if (connected)
            sent.append(chunk);
    }
    QCoro::Task<void> stop() override
    {
        m_trace->add(QStringLiteral("speech.stop"));
        co_await stopGate.pass();
        connected = false;
    }

    // What the service would deliver.
    void final(const QString &text, bool speechFinal = false)
    {
        if (eventHandler)
            eventHandler(DeepgramTranscriptEvent::final(DeepgramTranscriptResult{text, speechFinal}));
    }
    void interim(const QString &text)
    {
        if (eventHandler)
            eventHandler(DeepgramTranscriptEvent::interim(DeepgramTranscriptResult{text, false}));
    }

private:
    Trace *m_trace;
};

// History and billing companions that only record what the lifecycle asked of them.
class RecordingHistory final : public MeetingHistorySync, public BillingUsageReporting
{
public:
    explicit RecordingHistory(Trace *trace) : m_trace(trace) {}

    void finishConversation() override { m_trace->add(QStringLiteral("history.finish")); }
    QCoro::Task<void> waitForEverySave() override
    {
        m_trace->add(QStringLiteral("history.waitAll"));
        co_return;
    }
    bool hasUnsavedMeeting() const override { return false; }
    void noteListeningStarted(const QString &source) override { m_trace->add(QStringLiteral("history.source ") + source); }
    void scheduleSessionStartIfNeeded() override { m_trace->add(QStringLiteral("history.start")); }
    void scheduleSnapshotSync(MeetingSessionHistoryStatus status) override
    {
        m_trace->add(QStringLiteral("history.sync ") + MeetingSessionHistoryStatusValue::rawValue(status));
    }
    void markBillingUsageStartedIfNeeded() override { m_trace->add(QStringLiteral("billing.mark")); }
    void scheduleBillingUsageEventSyncIfNeeded() override { m_trace->add(QStringLiteral("billing.sync")); }
    QCoro::Task<void> waitForPendingReports() override
    {
        m_trace->add(QStringLiteral("billing.wait"));
        co_return;
    }

private:
    Trace *m_trace;
};

// A view model over the fakes, with its own settings file and short timings.
struct Engine
{
    QTemporaryDir directory;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<KavrelLocalizationStore> localization;
    Trace trace;
    FakeSystemAudio *systemAudio = nullptr;
    FakeMicrophones *microphones = nullptr;
    FakeRecorder *recorder = nullptr;
    FakeSpeech *speech = nullptr;
    std::unique_ptr<RecordingHistory> history;
    std::unique_ptr<SubtitleViewModel> model;

    explicit Engine(std::function<void(SessionServices &)> adjust = nullptr)
    {
        defaults = std::make_unique<UserDefaults>(directory.filePath(QStringLiteral("preferences.ini")));
        localization = std::make_unique<KavrelLocalizationStore>(*defaults);
        localization->setLanguage(KavrelAppLanguage::english);
        build(std::move(adjust));
    }

    ~Engine()
    {
        model.reset();
        // Let the tasks woken by the teardown run to their ends.
        QTest::qWait(20);
    }

    void build(std::function<void(SessionServices &)> adjust = nullptr)
    {
        model.reset();
        trace.calls.clear();
        SessionServices services;
        auto system = std::make_unique<FakeSystemAudio>(&trace);
        auto mics = std::make_unique<FakeMicrophones>(&trace);
        auto rec = std::make_unique<FakeRecorder>(&trace);
        auto stt = std::make_unique<FakeSpeech>(&trace);
        systemAudio = system.get();
        microphones = mics.get();
        recorder = rec.get();
        speech = stt.get();
        services.systemAudio = std::move(system);
        services.microphones = std::move(mics);
        services.recorder = std::move(rec);
        services.speechToText = std::move(stt);
        services.mixer = std::make_unique<MixedAudioStreamMixer>();
        if (adjust)
            adjust(services);
        model = std::make_unique<SubtitleViewModel>(*defaults, std::move(services), *localization);
        SubtitleViewModel::Timings timings;
        timings.draftAutosaveDelay = 20ms;
        timings.stopDrainPause = 1ms;
        model->setTimings(timings);
        history = std::make_unique<RecordingHistory>(&trace);
        SessionCompanions companions;
        companions.history = history.get();
        companions.billing = history.get();
        model->setCompanions(companions);
    }

    // Runs the event loop until the condition holds (or the time-out passes).
    bool settle(const std::function<bool()> &condition, int timeoutMs = 5000)
    {
        return QTest::qWaitFor(condition, timeoutMs);
    }
    // A start that has finished (successfully or not).
    bool start(ListeningSessionStartMode mode = ListeningSessionStartMode::newSession, bool microphone = false)
    {
        model->startListening(mode, microphone);
        return settle([this] { return !model->isBusy(); });
    }
    bool stop()
    {
        model->stopActiveSession();
        // A stop waits on the relay's finalize and the recorder's close; on a loaded machine under the
        // sanitizers that has taken longer than the default settle.
        return settle([this] { return !model->isBusy() && !model->listeningSession()->isStopping(); }, 15000);
    }
};

} // namespace SessionTest
