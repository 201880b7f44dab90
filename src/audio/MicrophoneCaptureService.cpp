#include "audio/MicrophoneCaptureService.h"

#include "app/KavrelDiagnostics.h"
#include "audio/AudioChunkEncoder.h"
#include "audio/AudioStatusError.h"
#include "audio/MicrophoneCaptureError.h"
#include "audio/MicrophoneLevelGate.h"
#include "platform/PulseAudioRecordStream.h"

#include <QCollator>
#include <QPointer>

#include <pulse/def.h>
#include <pulse/sample.h>

#include <algorithm>

namespace {

constexpr std::chrono::milliseconds fragmentDuration(10);
constexpr std::chrono::milliseconds deviceListTimeout(2000);

} // namespace

// Everything the capture worker owns. Touched only on the capture queue, except `active`,
// which lets blocks still queued when capture stops be dropped.
struct MicrophoneCaptureService::Capture
{
    LiveAudioDataHandler liveAudioDataHandler;
    ErrorHandler errorHandler;
    LevelHandler levelHandler;
    std::unique_ptr<AudioChunkEncoder> encoder = std::make_unique<AudioChunkEncoder>();
    std::unique_ptr<MicrophoneLevelGate> gate;
    AudioFormat captureFormat;
    std::atomic<bool> active = false;

    void reportLevel(double level)
    {
        if (levelHandler)
            levelHandler(level);
    }

    void reportError(const QString &message)
    {
        if (errorHandler)
            errorHandler(message);
    }

    void receive(const QByteArray &fragment)
    {
        if (!gate)
            return;
        gate->append(fragment.constData(), fragment.size(), [this](const MicrophoneLevelGate::Block &block) {
            reportLevel(block.level);
            if (block.passed)
                process(block);
        });
    }

    void process(const MicrophoneLevelGate::Block &block)
    {
        if (!active)
            return;
        AudioPCMBuffer buffer;
        buffer.format = captureFormat;
        buffer.frameLength = block.frameCount;
        buffer.buffers.push_back(block.samples);
        QByteArray chunk;
        try {
            chunk = encoder->encodeAvailable(buffer);
        } catch (...) {
            reportError(errorMessage(std::current_exception()));
            return;
        }
        if (!chunk.isEmpty() && liveAudioDataHandler)
            liveAudioDataHandler(chunk);
    }
};

MicrophoneCaptureService::MicrophoneCaptureService(std::shared_ptr<PulseAudioContext> context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_capture(std::make_unique<Capture>())
    , m_captureQueue(QStringLiteral("КАВРЕЛ.MicrophoneCapture"))
{
}

MicrophoneCaptureService::~MicrophoneCaptureService()
{
    ++m_generation;
    m_capture->active = false;
    if (m_stream)
        m_stream->disconnect();
    m_stream.reset();
}

void MicrophoneCaptureService::setLiveAudioDataHandler(LiveAudioDataHandler handler)
{
    Capture *capture = m_capture.get();
    m_captureQueue.sync([capture, &handler] { capture->liveAudioDataHandler = std::move(handler); });
}

void MicrophoneCaptureService::setErrorHandler(ErrorHandler handler)
{
    Capture *capture = m_capture.get();
    m_captureQueue.sync([capture, &handler] { capture->errorHandler = std::move(handler); });
}

void MicrophoneCaptureService::setLevelHandler(LevelHandler handler)
{
    Capture *capture = m_capture.get();
    m_captureQueue.sync([capture, &handler] { capture->levelHandler = std::move(handler); });
}

std::vector<MicrophoneInputDevice> MicrophoneCaptureService::availableDevices()
{
    return availableDevices(*PulseAudioContext::shared());
}

std::optional<QString> MicrophoneCaptureService::defaultDeviceID()
{
    return defaultDeviceID(*PulseAudioContext::shared());
}

std::vector<MicrophoneInputDevice> MicrophoneCaptureService::availableDevices(PulseAudioContext &context)
{
    std::vector<MicrophoneInputDevice> devices;
    if (!context.waitUntilReady(deviceListTimeout))
        return devices;
    for (const PulseAudioContext::Source &source : context.sources()) {
        if (source.isMonitor || source.name.isEmpty())
            continue;
        devices.push_back(MicrophoneInputDevice{source.name, source.description.isEmpty() ? source.name : source.description});
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(devices.begin(), devices.end(), [&collator](const MicrophoneInputDevice &a, const MicrophoneInputDevice &b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return devices;
}

std::optional<QString> MicrophoneCaptureService::defaultDeviceID(PulseAudioContext &context)
{
    const std::vector<MicrophoneInputDevice> devices = availableDevices(context);
    const QString defaultSource = context.serverInfo().defaultSourceName;
    for (const MicrophoneInputDevice &device : devices) {
        if (device.id == defaultSource)
            return device.id;
    }
    // The server's default source may be a monitor (a machine without a microphone); that
    // is never offered as a microphone.
    if (!devices.empty())
        return devices.front().id;
    return std::nullopt;
}

QCoro::Task<void> MicrophoneCaptureService::startCapture(std::optional<QString> deviceID)
{
    QPointer<MicrophoneCaptureService> self(this);
    std::shared_ptr<PulseAudioContext> context = m_context;

    // Access counts as granted when the audio server can be reached and offers an input.
    const bool isReady = co_await context->ready();
    if (!self)
        throw CancellationError();
    if (!isReady)
        throw MicrophoneCaptureError::permissionDenied();
    const std::vector<MicrophoneInputDevice> devices = availableDevices(*context);
    if (devices.empty())
        throw MicrophoneCaptureError::permissionDenied();

    // A device that is gone falls back to the default input without an error.
    std::optional<QString> chosen;
    if (deviceID) {
        for (const MicrophoneInputDevice &device : devices) {
            if (device.id == *deviceID)
                chosen = device.id;
        }
    }
    if (!chosen)
        chosen = defaultDeviceID(*context);
    if (!chosen)
        throw MicrophoneCaptureError::selectedDeviceUnavailable();

    if (m_isActive)
        throw MicrophoneCaptureError::alreadyCapturing();
    m_isActive = true;
    const quint64 generation = ++m_generation;

    Capture *capture = m_capture.get();
    m_captureQueue.sync([capture] {
        capture->encoder = std::make_unique<AudioChunkEncoder>();
        capture->gate.reset();
        capture->reportLevel(0);
    });

    std::exception_ptr failure;
    try {
        const PulseAudioContext::Reply<PulseAudioContext::Source> source = co_await context->querySource(*chosen);
        if (!self || m_generation != generation)
            throw CancellationError();
        if (!source.value)
            throw AudioStatusError(QStringLiteral("The app could not switch to the selected microphone."), source.error);
        if (source.value->isMonitor)
            throw MicrophoneCaptureError::inputUnavailable();

        AudioFormat format;
        format.sampleRate = source.value->sampleSpec.rate;
        format.channelCount = std::max<quint32>(source.value->sampleSpec.channels, 1);
        format.commonFormat = AudioCommonFormat::Int16;
        format.isInterleaved = true;
        if (!format.isValid())
            throw MicrophoneCaptureError::inputUnavailable();

        m_captureQueue.sync([capture, format] {
            capture->captureFormat = format;
            capture->gate = std::make_unique<MicrophoneLevelGate>(quint32(format.sampleRate), format.channelCount);
            capture->active = true;
        });

        PulseAudioRecordStream::Format streamFormat;
        streamFormat.sampleFormat = PA_SAMPLE_S16LE;
        streamFormat.rate = quint32(format.sampleRate);
        streamFormat.channels = quint8(format.channelCount);
        if (source.value->channelMap.size() == format.channelCount)
            streamFormat.channelMap = source.value->channelMap;

        SerialQueue *queue = &m_captureQueue;
        // Runs on the server's thread: copy and queue.
        auto onData = [queue, capture](const void *data, std::size_t bytes) {
            if (!data)
                return;
            QByteArray fragment(static_cast<const char *>(data), qsizetype(bytes));
            queue->async([capture, fragment = std::move(fragment)] { capture->receive(fragment); });
        };
        auto onFailure = [queue, capture](int error) {
            queue->async([capture, error] {
                capture->reportError(AudioStatusError(QStringLiteral("Microphone capture failed."), error).message());
            });
        };

        auto stream = std::make_unique<PulseAudioRecordStream>(context, QStringLiteral("КАВРЕЛ Microphone"));
        PulseAudioRecordStream *streamPointer = stream.get();
        m_stream = std::move(stream);
        const PulseAudioRecordStream::ConnectResult result = co_await streamPointer->connect(
            *chosen, streamFormat, fragmentDuration, std::move(onData), std::move(onFailure));
        if (!self || m_generation != generation)
            throw CancellationError();
        if (result.error != 0) {
            switch (result.failedStep) {
            case PulseAudioRecordStream::Step::createStream:
                throw AudioStatusError(QStringLiteral("The app could not create the microphone audio unit."), result.error);
            case PulseAudioRecordStream::Step::connectStream:
                throw AudioStatusError(QStringLiteral("The app could not initialize the selected microphone."), result.error);
            case PulseAudioRecordStream::Step::startStream:
                throw AudioStatusError(QStringLiteral("The selected microphone could not start."), result.error);
            }
        }
        qCInfo(KavrelDiagnostics::audio()).noquote()
            << QString::asprintf("microphone capture source=%s rate=%u channels=%u", qPrintable(*chosen),
                                 unsigned(streamFormat.rate), unsigned(streamFormat.channels));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        co_return;
    if (self && m_generation == generation) {
        teardown();
        m_isActive = false;
    }
    if (isCancellation(failure))
        std::rethrow_exception(failure);
    try {
        std::rethrow_exception(failure);
    } catch (const MicrophoneCaptureError &error) {
        if (error.errorCase() == MicrophoneCaptureError::Case::inputUnavailable)
            throw MicrophoneCaptureError::startFailed(error.message());
        throw;
    } catch (const KavrelError &error) {
        throw MicrophoneCaptureError::startFailed(error.message());
    }
}

void MicrophoneCaptureService::teardown()
{
    m_capture->active = false;
    if (m_stream)
        m_stream->disconnect();
    m_stream.reset();
    Capture *capture = m_capture.get();
    m_captureQueue.sync([capture] { capture->gate.reset(); });
}

void MicrophoneCaptureService::stopCapture()
{
    ++m_generation;
    teardown();
    m_isActive = false;
    Capture *capture = m_capture.get();
    m_captureQueue.sync([capture] { capture->reportLevel(0); });
}
