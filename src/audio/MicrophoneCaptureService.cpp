#include "audio/MicrophoneCaptureService.h"

#include "audio/AudioChunkEncoder.h"
#include "audio/AudioStatusError.h"
#include "audio/MicrophoneCaptureError.h"
#include "audio/MicrophoneLevelGate.h"
#include "base/KavrelDiagnostics.h"
#include "base/TaskOutcome.h"
#include "platform/PulseAudioRecordStream.h"

#include <QCollator>
#include <QPointer>

#include <qcoro/qcorofuture.h>

#include <pulse/def.h>
#include <pulse/error.h>
#include <pulse/sample.h>

#include <algorithm>

namespace {

MicrophoneCaptureError serverUnavailable(const PulseAudioContext &context)
{
    const int error = context.lastError();
    return MicrophoneCaptureError::audioServerUnavailable(QString::fromUtf8(pa_strerror(error ? error : PA_ERR_CONNECTIONREFUSED)));
}

std::vector<MicrophoneInputDevice> inputDevicesOf(const std::vector<PulseAudioContext::Source> &sources)
{
    std::vector<MicrophoneInputDevice> devices;
    for (const PulseAudioContext::Source &source : sources) {
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
    // When the last audio given to the encoder was captured.
    AudioCaptureTime lastEncodedAt;

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

    // Every block is metered; the blocks that pass the gate one after another within a
    // fragment are converted and handed on as one chunk. A chunk per 10 ms block was a
    // converter pass and a queued call on the main thread a hundred times a second. A chunk
    // is handed on before the level of the block that ended its run, so the handlers see
    // each chunk after the levels of its own blocks.
    //
    // The whole fragment is metered and converted before anything is handed on; then its
    // levels and chunks follow one another at once, and the thread they go to, woken by the
    // first, finds the rest waiting and takes them in the same turn rather than in one each.
    //
    // A run that ends before its fragment does was captured that much earlier than the
    // fragment's end: the blocks dropped after it make the difference. The run's end is the end
    // of that audio: what the resampler still holds of it goes with it, not with the next run.
    //
    // A fragment that ends on a dropped block hands on an empty chunk at that block's end: the
    // microphone is alive and quiet until then, and the mixer waits for it rather than taking
    // it for gone.
    void receive(const QByteArray &fragment, AudioCaptureTime capturedAt)
    {
        if (!gate)
            return;
        struct Report
        {
            bool isLevel = false;
            double level = 0;
            QByteArray chunk; // empty for a quiet that reaches to capturedAt
            AudioCaptureTime capturedAt;
        };
        std::vector<Report> reports;
        QByteArray run;
        quint32 runFrames = 0;
        qsizetype runEnd = 0;
        std::optional<qsizetype> quietEnd;
        const qsizetype bytesPerSecond = qsizetype(captureFormat.sampleRate) * captureFormat.bytesPerFrame();
        // When the fragment's audio up to this byte was captured.
        const auto capturedUpTo = [&](qsizetype offset) {
            const qint64 after = bytesPerSecond > 0 ? qint64(fragment.size() - offset) * 1'000'000'000 / bytesPerSecond : 0;
            return capturedAt - std::chrono::nanoseconds(after);
        };
        const auto endRun = [&](bool closed) {
            if (runFrames > 0)
                lastEncodedAt = capturedUpTo(runEnd);
            QByteArray chunk = process(run, runFrames);
            if (closed)
                chunk += flushTail();
            if (!chunk.isEmpty())
                reports.push_back(Report{false, 0, std::move(chunk), lastEncodedAt});
            run.clear();
            runFrames = 0;
        };
        gate->append(fragment.constData(), fragment.size(), [&](const MicrophoneLevelGate::Block &block) {
            if (!block.passed)
                endRun(true);
            reports.push_back(Report{true, block.level, {}, {}});
            if (block.passed) {
                run.append(block.samples);
                runFrames += block.frameCount;
                runEnd = block.fragmentOffset;
                quietEnd.reset();
            } else {
                quietEnd = block.fragmentOffset;
            }
        });
        endRun(false);
        if (quietEnd && active && capturedAt != AudioCaptureTime())
            reports.push_back(Report{false, 0, {}, capturedUpTo(*quietEnd)});
        for (const Report &report : reports) {
            if (report.isLevel)
                reportLevel(report.level);
            else if (liveAudioDataHandler)
                liveAudioDataHandler(report.chunk, report.capturedAt);
        }
    }

    // What the resampler still holds of the audio before (see AudioChunkEncoder::flush()).
    QByteArray flushTail() { return active ? encoder->flush() : QByteArray(); }

    // The stream ended while the gate was open: the end of its last run goes out now.
    void streamEnded()
    {
        const QByteArray tail = flushTail();
        if (!tail.isEmpty() && liveAudioDataHandler)
            liveAudioDataHandler(tail, lastEncodedAt);
    }

    // The run's samples converted to a chunk; empty when there is nothing to hand on.
    QByteArray process(const QByteArray &samples, quint32 frameCount)
    {
        if (!active || frameCount == 0)
            return {};
        AudioPCMBuffer buffer;
        buffer.format = captureFormat;
        buffer.frameLength = frameCount;
        buffer.buffers.push_back(samples);
        try {
            return encoder->encodeAvailable(buffer);
        } catch (...) {
            reportError(errorMessage(std::current_exception()));
            return {};
        }
    }
};

MicrophoneCaptureService::MicrophoneCaptureService(std::shared_ptr<PulseAudioContext> context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_stream(this, [this](int error) { streamStopped(error); })
    , m_capture(std::make_unique<Capture>())
    , m_captureQueue(QStringLiteral("КАВРЕЛ.MicrophoneCapture"))
{
}

MicrophoneCaptureService::~MicrophoneCaptureService()
{
    m_generation.renew();
    m_capture->active = false;
    m_stream.close();
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

std::vector<MicrophoneInputDevice> MicrophoneCaptureService::availableDevices(PulseAudioContext &context)
{
    // Menus ask on the main thread: read what the cache holds now. A connection that failed
    // is started again, and devicesChanged() tells when the list is worth reading again.
    if (context.state() == PulseAudioContext::State::Failed)
        context.reconnectIfFailed();
    return inputDevicesOf(context.sources());
}

std::optional<std::vector<MicrophoneInputDevice>> MicrophoneCaptureService::listedDevices(PulseAudioContext &context)
{
    if (context.state() == PulseAudioContext::State::Failed)
        context.reconnectIfFailed();
    const std::optional<std::vector<PulseAudioContext::Source>> sources = context.listedSources();
    if (!sources)
        return std::nullopt;
    return inputDevicesOf(*sources);
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

    // Access counts as granted when the audio server can be reached; without an input there
    // is nothing to capture.
    const bool isReady = co_await context->ready();
    if (!self)
        throw CancellationError();
    if (!isReady)
        throw serverUnavailable(*context);
    if (availableDevices(*context).empty())
        throw MicrophoneCaptureError::selectedDeviceUnavailable();

    if (m_isActive)
        throw MicrophoneCaptureError::alreadyCapturing();
    m_isActive = true;
    m_lost = false;
    m_requestedDeviceID = deviceID;
    const QUuid generation = m_generation.renew();

    const std::exception_ptr failure = (co_await outcomeOf(resetAndOpenStream(deviceID, generation))).error;
    if (!failure)
        co_return;
    if (self && m_generation.isCurrent(generation)) {
        m_isActive = false;
        co_await teardown(false);
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

QCoro::Task<void> MicrophoneCaptureService::resetAndOpenStream(std::optional<QString> deviceID, QUuid generation)
{
    QPointer<MicrophoneCaptureService> self(this);
    Capture *capture = m_capture.get();
    QFuture<void> reset = m_captureQueue.run([capture] {
        capture->encoder = std::make_unique<AudioChunkEncoder>();
        capture->gate.reset();
        capture->reportLevel(0);
    });
    co_await reset;
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    co_await openStream(deviceID, generation);
}

QCoro::Task<void> MicrophoneCaptureService::openStream(std::optional<QString> deviceID, QUuid generation)
{
    QPointer<MicrophoneCaptureService> self(this);
    std::shared_ptr<PulseAudioContext> context = m_context;

    // A device that is gone falls back to the default input without an error.
    std::optional<QString> chosen;
    if (deviceID) {
        for (const MicrophoneInputDevice &device : availableDevices(*context)) {
            if (device.id == *deviceID)
                chosen = device.id;
        }
    }
    if (!chosen)
        chosen = defaultDeviceID(*context);
    if (!chosen)
        throw MicrophoneCaptureError::selectedDeviceUnavailable();

    const PulseAudioContext::Reply<PulseAudioContext::Source> source = co_await context->querySource(*chosen);
    if (!self || !m_generation.isCurrent(generation))
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

    Capture *capture = m_capture.get();
    QFuture<void> configured = m_captureQueue.run([capture, format] {
        capture->captureFormat = format;
        capture->gate = std::make_unique<MicrophoneLevelGate>(quint32(format.sampleRate), format.channelCount);
        capture->active = true;
    });
    co_await configured;
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();

    PulseAudioRecordStream::Format streamFormat;
    streamFormat.sampleFormat = PA_SAMPLE_S16LE;
    streamFormat.rate = quint32(format.sampleRate);
    streamFormat.channels = quint8(format.channelCount);
    if (source.value->channelMap.size() == format.channelCount)
        streamFormat.channelMap = source.value->channelMap;

    SerialQueue *queue = &m_captureQueue;
    // Runs on the server's thread (the last fragment on the stopping thread): copy and queue.
    auto onData = [queue, capture](const void *data, std::size_t bytes, AudioCaptureTime capturedAt) {
        if (!data)
            return;
        QByteArray fragment(static_cast<const char *>(data), qsizetype(bytes));
        queue->async([capture, fragment = std::move(fragment), capturedAt] { capture->receive(fragment, capturedAt); });
    };
    // A stream the server dropped goes first, so that two streams never feed the worker.
    PulseAudioRecordStream *streamPointer = m_stream.replace(context, QStringLiteral("КАВРЕЛ Microphone"));
    // The old stream's audio, its last fragment included, is queued by now.
    m_captureQueue.async([capture] { capture->streamEnded(); });
    PulseAudioRecordStream::FailureCallback onFailure = m_stream.failureCallback();
    const PulseAudioRecordStream::ConnectResult result = co_await streamPointer->connect(
        *chosen, streamFormat, CaptureStream::fragmentDuration, std::move(onData), std::move(onFailure));
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    if (result.error != 0) {
        m_stream.discard(streamPointer);
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
}

// The server ended the stream (on the main thread).
void MicrophoneCaptureService::streamStopped(int error)
{
    qCWarning(KavrelDiagnostics::audio()).noquote()
        << "microphone stream stopped:" << QString::fromUtf8(pa_strerror(error));
    if (!m_isActive || m_lost)
        return;
    const QUuid generation = m_generation.current();
    QPointer<MicrophoneCaptureService> self(this);
    AudioStreamRecovery::Attempt attempt =
        AudioStreamRecovery::attemptOf(this, &MicrophoneCaptureService::recoveryAttempt, generation);
    AudioStreamRecovery::GiveUp giveUp = [self, generation](std::exception_ptr lastFailure) {
        if (!self || !self->m_generation.isCurrent(generation) || !self->m_isActive)
            return;
        // Told in words: why the microphone could not be taken up again where that says it (no
        // input left, the server away), else that it is gone.
        QString why = QStringLiteral("The microphone is no longer available.");
        try {
            if (lastFailure)
                std::rethrow_exception(lastFailure);
        } catch (const MicrophoneCaptureError &failure) {
            why = failure.message();
        } catch (...) {
        }
        self->m_lost = true;
        const QString message = MicrophoneCaptureError::captureLost(why).message();
        qCWarning(KavrelDiagnostics::audio()).noquote() << "microphone could not be resumed:" << message;
        Capture *capture = self->m_capture.get();
        self->m_captureQueue.async([capture, message] { capture->reportError(message); });
    };
    m_recovery.start(std::move(attempt), std::move(giveUp));
}

QCoro::Task<void> MicrophoneCaptureService::recoveryAttempt(QUuid generation, CancellationToken token)
{
    QPointer<MicrophoneCaptureService> self(this);
    std::shared_ptr<PulseAudioContext> context = m_context;
    const bool isReady = co_await context->ready();
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    if (!isReady)
        throw serverUnavailable(*context);
    co_await openStream(m_requestedDeviceID, generation);
    if (!self)
        throw CancellationError();
    // Given up while this attempt ran: the microphone has been reported as failed, it stays so.
    if (token.isCancelled()) {
        m_stream.close();
        throw CancellationError();
    }
    qCInfo(KavrelDiagnostics::audio()).noquote() << "microphone capture resumed";
}

QCoro::Task<void> MicrophoneCaptureService::teardown(bool reportSilence)
{
    m_recovery.cancel();
    m_capture->active = false;
    m_stream.close();
    Capture *capture = m_capture.get();
    QFuture<void> emptied = m_captureQueue.run([capture, reportSilence] {
        capture->gate.reset();
        if (reportSilence)
            capture->reportLevel(0);
    });
    co_await emptied;
}

QCoro::Task<void> MicrophoneCaptureService::stopCapture()
{
    m_generation.renew();
    m_isActive = false;
    m_lost = false;
    co_await teardown(true);
}
