#include "audio/SystemAudioCaptureService.h"

#include "audio/AudioChunkEncoder.h"
#include "audio/SystemAudioCaptureError.h"
#include "base/Async.h"
#include "base/KavrelDiagnostics.h"
#include "platform/PulseAudioRecordStream.h"
#include "base/TaskOutcome.h"

#include <QPointer>

#include <qcoro/qcorofuture.h>

#include <pulse/def.h>
#include <pulse/error.h>
#include <pulse/sample.h>

#include <algorithm>

namespace {

quint64 uptimeNanoseconds(AudioCaptureTime time = AudioCaptureClock::now())
{
    return quint64(std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count());
}

} // namespace

// One fragment as the server delivered it.
struct SystemAudioCaptureService::CapturedAudioChunk
{
    QByteArray data;
    AudioFormat format;
    quint32 frameCount = 0;
    AudioCaptureTime capturedAt;
    // When it was handed to the worker. A backlog the server kept while this process stood still
    // was captured long before, but only now waits for the worker.
    AudioCaptureTime queuedAt;
};

// Everything the worker owns. Touched only on the processing queue.
struct SystemAudioCaptureService::Processing
{
    LiveAudioDataHandler liveAudioDataHandler;
    std::unique_ptr<AudioChunkEncoder> liveAudioEncoder = std::make_unique<AudioChunkEncoder>();
    std::exception_ptr captureError;
    bool isProcessingAudio = false;
    quint64 lastDiagnosticsUptimeNanoseconds = uptimeNanoseconds();
    double maximumProcessingAgeMilliseconds = 0;
    qint64 droppedStaleChunkCount = 0;
    // When the last audio given to the encoder was captured.
    AudioCaptureTime lastEncodedAt;

    void process(const CapturedAudioChunk &chunk)
    {
        if (!isProcessingAudio)
            return;
        const quint64 now = uptimeNanoseconds();
        const quint64 queued = uptimeNanoseconds(chunk.queuedAt);
        const quint64 age = now >= queued ? now - queued : 0;
        maximumProcessingAgeMilliseconds = std::max(maximumProcessingAgeMilliseconds, double(age) / 1'000'000.0);
        if (age > quint64(maximumProcessingAgeNanoseconds)) {
            ++droppedStaleChunkCount;
            handOnTail();
            checkDiagnostics("drop-stale", now);
            return;
        }

        QByteArray encoded;
        try {
            AudioPCMBuffer buffer;
            buffer.format = chunk.format;
            buffer.frameLength = chunk.frameCount;
            buffer.buffers.push_back(chunk.data);
            encoded = liveAudioEncoder->encodeAvailable(buffer);
        } catch (...) {
            captureError = std::current_exception();
            return;
        }
        lastEncodedAt = chunk.capturedAt;
        // Too little audio for the resampler to release a sample yet: it comes out with the
        // next fragment.
        if (encoded.isEmpty())
            return;
        if (liveAudioDataHandler)
            liveAudioDataHandler(encoded, chunk.capturedAt);
        checkDiagnostics("processed", now);
    }

    // The audio given to the encoder ends here (its stream ended, or what follows is dropped):
    // what the resampler still holds of it goes out now, with its own time, rather than at the
    // head of audio captured later.
    void handOnTail()
    {
        const QByteArray tail = liveAudioEncoder->flush();
        if (!tail.isEmpty() && liveAudioDataHandler)
            liveAudioDataHandler(tail, lastEncodedAt);
    }

    void checkDiagnostics(const char *reason, quint64 now)
    {
        if (now < lastDiagnosticsUptimeNanoseconds
            || now - lastDiagnosticsUptimeNanoseconds < quint64(diagnosticsIntervalNanoseconds))
            return;
        qCInfo(KavrelDiagnostics::audio()).noquote()
            << QString::asprintf("system capture diagnostics reason=%s maxProcessingAgeMs=%ld droppedStale=%ld",
                                 reason, long(maximumProcessingAgeMilliseconds), long(droppedStaleChunkCount));
        maximumProcessingAgeMilliseconds = 0;
        droppedStaleChunkCount = 0;
        lastDiagnosticsUptimeNanoseconds = now;
    }

    void begin()
    {
        liveAudioEncoder = std::make_unique<AudioChunkEncoder>();
        captureError = nullptr;
        isProcessingAudio = true;
        lastDiagnosticsUptimeNanoseconds = uptimeNanoseconds();
        maximumProcessingAgeMilliseconds = 0;
        droppedStaleChunkCount = 0;
    }

    std::exception_ptr end()
    {
        if (isProcessingAudio)
            handOnTail();
        isProcessingAudio = false;
        liveAudioEncoder = std::make_unique<AudioChunkEncoder>();
        std::exception_ptr error = captureError;
        captureError = nullptr;
        return error;
    }
};

SystemAudioCaptureService::SystemAudioCaptureService(std::shared_ptr<PulseAudioContext> context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_stream(this, [this](int error) { streamStopped(error); })
    , m_processing(std::make_unique<Processing>())
    , m_processingQueue(QStringLiteral("КАВРЕЛ.SystemAudioCapture.Processing"))
{
    // While the stream is being recovered, or after it was given up, recovery alone decides.
    connect(m_context.get(), &PulseAudioContext::defaultSinkChanged, this, [this](const QString &sinkName) {
        if (m_state == State::Capturing && sinkName != m_capturedSinkName && !m_recovery.isRecovering()
            && !m_runtimeError)
            requestFollow();
    });
    connect(m_context.get(), &PulseAudioContext::devicesChanged, this, [this] {
        if (m_state == State::Capturing && !m_streamHealthy && !m_recovery.isRecovering() && !m_runtimeError)
            requestFollow();
    });
}

SystemAudioCaptureService::~SystemAudioCaptureService()
{
    m_generation.renew();
    m_stream.close();
}

void SystemAudioCaptureService::setLiveAudioDataHandler(LiveAudioDataHandler handler)
{
    Processing *processing = m_processing.get();
    m_processingQueue.sync([processing, &handler] { processing->liveAudioDataHandler = std::move(handler); });
}

void SystemAudioCaptureService::setErrorHandler(ErrorHandler handler)
{
    m_errorHandler = std::move(handler);
}

QCoro::Task<void> SystemAudioCaptureService::startCapture(bool recordAudio)
{
    Q_UNUSED(recordAudio);
    if (m_state != State::Idle)
        throw SystemAudioCaptureError::alreadyCapturing();
    m_state = State::Starting;
    m_runtimeError = nullptr;
    const QUuid generation = m_generation.renew();
    QPointer<SystemAudioCaptureService> self(this);
    std::exception_ptr failure = (co_await outcomeOf(connectToDefaultSink(generation, false))).error;
    if (failure) {
        if (self && m_generation.isCurrent(generation)) {
            m_state = State::Idle;
            co_await teardown();
        }
        std::rethrow_exception(failure);
    }
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    m_state = State::Capturing;
    // A change of the default output while the stream was being set up was not followed.
    if (m_context->serverInfo().defaultSinkName != m_capturedSinkName)
        requestFollow();
}

// Opens a record stream on the default sink's monitor. Throws the case of the step that
// failed; after a failure nothing stays open.
QCoro::Task<void> SystemAudioCaptureService::connectToDefaultSink(QUuid generation, bool onlyWhenMoved)
{
    QPointer<SystemAudioCaptureService> self(this);
    std::shared_ptr<PulseAudioContext> context = m_context;

    const bool isReady = co_await context->ready();
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    if (!isReady) {
        const int error = context->lastError();
        throw SystemAudioCaptureError::failedToStartDevice(error ? error : PA_ERR_CONNECTIONREFUSED);
    }

    const PulseAudioContext::Reply<PulseAudioContext::ServerInfo> server = co_await context->queryServerInfo();
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    if (!server.value)
        throw SystemAudioCaptureError::failedToReadTapUID(server.error);
    const QString sinkName = server.value->defaultSinkName;
    if (sinkName.isEmpty())
        throw SystemAudioCaptureError::failedToReadTapUID(PA_ERR_NOENTITY);
    if (onlyWhenMoved && m_streamHealthy && sinkName == m_capturedSinkName)
        co_return;

    const PulseAudioContext::Reply<PulseAudioContext::Sink> sink = co_await context->querySink(sinkName);
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    if (!sink.value)
        throw SystemAudioCaptureError::failedToReadTapFormat(sink.error);
    if (sink.value->monitorSourceName.isEmpty())
        throw SystemAudioCaptureError::failedToReadTapUID(PA_ERR_NOENTITY);

    AudioFormat format;
    format.sampleRate = sink.value->sampleSpec.rate;
    format.channelCount = sink.value->sampleSpec.channels;
    format.commonFormat = AudioCommonFormat::Float32;
    format.isInterleaved = true;
    if (!format.isValid())
        throw SystemAudioCaptureError::unsupportedAudioFormat();

    // A previous stream (when following a new default sink) goes first, so that two
    // streams never feed the worker at once.
    PulseAudioRecordStream *streamPointer = m_stream.replace(context, QStringLiteral("КАВРЕЛ System Audio"));
    m_streamHealthy = false;
    Processing *processing = m_processing.get();
    // The old stream's audio, its last fragment included, is queued by now.
    m_processingQueue.async([processing] {
        if (processing->isProcessingAudio)
            processing->handOnTail();
    });

    SerialQueue *queue = &m_processingQueue;
    const int bytesPerFrame = format.bytesPerFrame();

    PulseAudioRecordStream::Format streamFormat;
    streamFormat.sampleFormat = PA_SAMPLE_FLOAT32LE;
    streamFormat.rate = sink.value->sampleSpec.rate;
    streamFormat.channels = sink.value->sampleSpec.channels;
    streamFormat.channelMap = sink.value->channelMap;

    // Runs on the server's thread (the last fragment on the stopping thread): copy, stamp,
    // queue. Nothing else.
    auto onData = [queue, processing, format, bytesPerFrame](const void *data, std::size_t bytes,
                                                             AudioCaptureTime capturedAt) {
        if (!data || bytes < std::size_t(bytesPerFrame))
            return;
        CapturedAudioChunk chunk;
        chunk.capturedAt = capturedAt;
        chunk.queuedAt = AudioCaptureClock::now();
        chunk.frameCount = quint32(bytes / std::size_t(bytesPerFrame));
        chunk.data = QByteArray(static_cast<const char *>(data), qsizetype(chunk.frameCount) * bytesPerFrame);
        chunk.format = format;
        queue->async([processing, chunk = std::move(chunk)] { processing->process(chunk); });
    };
    PulseAudioRecordStream::FailureCallback onFailure = m_stream.failureCallback();

    if (m_state == State::Starting) {
        QFuture<void> begun = m_processingQueue.run([processing] { processing->begin(); });
        co_await begun;
        if (!self || !m_generation.isCurrent(generation))
            throw CancellationError();
    }

    const PulseAudioRecordStream::ConnectResult result = co_await streamPointer->connect(
        sink.value->monitorSourceName, streamFormat, CaptureStream::fragmentDuration, std::move(onData), std::move(onFailure));
    if (!self || !m_generation.isCurrent(generation))
        throw CancellationError();
    if (result.error != 0) {
        m_stream.discard(streamPointer);
        switch (result.failedStep) {
        case PulseAudioRecordStream::Step::createStream:
            throw SystemAudioCaptureError::failedToCreateProcessTap(result.error);
        case PulseAudioRecordStream::Step::connectStream:
            throw SystemAudioCaptureError::failedToCreateIOProc(result.error);
        case PulseAudioRecordStream::Step::startStream:
            throw SystemAudioCaptureError::failedToStartDevice(result.error);
        }
    }
    m_capturedSinkName = sinkName;
    m_streamHealthy = true;
    qCInfo(KavrelDiagnostics::audio()).noquote()
        << QString::asprintf("system capture sink=%s rate=%u channels=%u", qPrintable(sinkName),
                             unsigned(streamFormat.rate), unsigned(streamFormat.channels));
}

void SystemAudioCaptureService::requestFollow()
{
    if (m_following) {
        m_followAgain = true;
        return;
    }
    m_following = true;
    QPointer<SystemAudioCaptureService> self(this);
    spawnTask([self](CancellationToken) -> QCoro::Task<void> {
        if (self)
            co_await self->followDefaultSink();
    });
}

// Moves capture to the current default sink. Runs one at a time; changes that arrive
// meanwhile are taken up by another round.
QCoro::Task<void> SystemAudioCaptureService::followDefaultSink()
{
    QPointer<SystemAudioCaptureService> self(this);
    do {
        m_followAgain = false;
        if (m_state != State::Capturing)
            break;
        const QUuid generation = m_generation.current();
        try {
            co_await connectToDefaultSink(generation, true);
        } catch (...) {
            if (!self)
                co_return;
            if (m_generation.isCurrent(generation)) {
                qCWarning(KavrelDiagnostics::audio()).noquote()
                    << "system capture could not follow the default output:" << errorMessage(std::current_exception());
            }
        }
        if (!self)
            co_return;
    } while (m_followAgain);
    m_following = false;
    // The old stream is gone and no new one came up: the server may be gone too.
    if (m_state == State::Capturing && !m_streamHealthy)
        startRecovery(PA_ERR_CONNECTIONTERMINATED);
}

// The server ended the stream (on the main thread).
void SystemAudioCaptureService::streamStopped(int error)
{
    qCWarning(KavrelDiagnostics::audio()).noquote()
        << "system capture stream stopped:" << QString::fromUtf8(pa_strerror(error));
    m_streamHealthy = false;
    // A follow round under way opens a new stream anyway; recovery starts if it cannot.
    if (m_following) {
        m_followAgain = true;
        return;
    }
    startRecovery(error);
}

void SystemAudioCaptureService::startRecovery(int streamError)
{
    if (m_state != State::Capturing || m_runtimeError || m_recovery.isRecovering())
        return;
    const QUuid generation = m_generation.current();
    QPointer<SystemAudioCaptureService> self(this);
    AudioStreamRecovery::Attempt attempt =
        AudioStreamRecovery::attemptOf(this, &SystemAudioCaptureService::recoveryAttempt, generation);
    AudioStreamRecovery::GiveUp giveUp = [self, generation, streamError](std::exception_ptr lastFailure) {
        if (!self || !self->m_generation.isCurrent(generation) || self->m_state != State::Capturing)
            return;
        const std::exception_ptr failure =
            lastFailure ? lastFailure : std::make_exception_ptr(SystemAudioCaptureError::failedToStartDevice(streamError));
        self->m_runtimeError = failure;
        const QString message = errorMessage(failure);
        qCWarning(KavrelDiagnostics::audio()).noquote() << "system audio could not be resumed:" << message;
        if (self->m_errorHandler)
            self->m_errorHandler(message);
    };
    m_recovery.start(std::move(attempt), std::move(giveUp));
}

QCoro::Task<void> SystemAudioCaptureService::recoveryAttempt(QUuid generation, CancellationToken token)
{
    QPointer<SystemAudioCaptureService> self(this);
    co_await connectToDefaultSink(generation, false);
    if (!self)
        throw CancellationError();
    // Given up while this attempt ran: capture has been reported as failed, it stays so.
    if (token.isCancelled()) {
        m_stream.close();
        m_streamHealthy = false;
        throw CancellationError();
    }
    qCInfo(KavrelDiagnostics::audio()).noquote() << "system capture resumed on" << m_capturedSinkName;
}

QCoro::Task<SystemAudioCaptureService::TeardownResult> SystemAudioCaptureService::teardown()
{
    m_recovery.cancel();
    Processing *processing = m_processing.get();
    std::exception_ptr firstError;
    // The stream goes first, so no fragment arrives after the worker has been told to stop.
    const int disconnectError = m_stream.close();
    if (disconnectError != 0)
        firstError = std::make_exception_ptr(SystemAudioCaptureError::failedToStopDevice(disconnectError));
    m_streamHealthy = false;
    m_capturedSinkName.clear();
    // Only the worker may touch its state, and the main thread never waits for it. The
    // result is kept aside: a queue destroyed before the job runs leaves no value.
    auto processingError = std::make_shared<std::exception_ptr>();
    QFuture<void> ended = m_processingQueue.run([processing, processingError] { *processingError = processing->end(); });
    co_await ended;
    TeardownResult result;
    result.error = *processingError ? *processingError : firstError;
    co_return result;
}

QCoro::Task<std::optional<QUrl>> SystemAudioCaptureService::stopCapture()
{
    if (m_state == State::Idle)
        throw SystemAudioCaptureError::notCapturing();
    m_generation.renew();
    // Idle at once: a start made while the worker finishes queues its own work behind this.
    m_state = State::Idle;
    const std::exception_ptr lostAudio = std::exchange(m_runtimeError, nullptr);
    const TeardownResult teardownResult = co_await teardown();
    if (lostAudio)
        std::rethrow_exception(lostAudio);
    if (teardownResult.error)
        std::rethrow_exception(teardownResult.error);
    co_return std::nullopt;
}
