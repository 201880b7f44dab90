#pragma once

#include "audio/AudioCaptureTime.h"
#include "audio/AudioStreamRecovery.h"
#include "audio/CaptureStream.h"
#include "base/Async.h"
#include "base/SerialQueue.h"
#include "platform/PulseAudioContext.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class AudioChunkEncoder;
class PulseAudioRecordStream;

// Records what the computer plays: a record stream on the monitor of the default sink, in
// the sink's own rate and channel layout. When the default sink changes (headphones plugged
// in, another output chosen) capture moves to the new sink's monitor.
//
// When the audio server drops the stream while capturing (it restarted, or crashed), capture
// reconnects and takes up the default output again, trying with growing pauses. When audio
// is not back within the resume time-out, the error handler is told and stopCapture()
// throws the same failure.
//
// The server's thread only copies each fragment and notes when it was captured. A worker
// thread, one fragment at a time in capture order, drops fragments that waited for it more than
// 750 ms, converts the rest to audio chunks and calls the live audio data handler.
//
// A main-thread object. The data handler runs on the worker thread: it must hand the chunk on
// quickly, and reach main-thread objects only through queued invocation. The error handler
// runs on the main thread.
class SystemAudioCaptureService final : public QObject
{
    Q_OBJECT

public:
    // Each chunk comes with the time its audio was captured.
    using LiveAudioDataHandler = std::function<void(const QByteArray &chunk, AudioCaptureTime capturedAt)>;
    using ErrorHandler = std::function<void(const QString &message)>;

    static constexpr qint64 maximumProcessingAgeNanoseconds = 750'000'000;
    static constexpr qint64 diagnosticsIntervalNanoseconds = 5'000'000'000;

    explicit SystemAudioCaptureService(std::shared_ptr<PulseAudioContext> context, QObject *parent = nullptr);
    ~SystemAudioCaptureService() override;

    // Replaces the handler; it never changes while a chunk is being delivered. Without a
    // handler chunks are converted and dropped.
    void setLiveAudioDataHandler(LiveAudioDataHandler handler);
    // Receives the text of a failure while capturing (audio that could not be resumed).
    void setErrorHandler(ErrorHandler handler);
    void setRecoveryTimings(const AudioStreamRecovery::Timings &timings) { m_recovery.setTimings(timings); }

    // Starts capturing and returns once audio flows. recordAudio has no effect. Throws
    // SystemAudioCaptureError.
    QCoro::Task<void> startCapture(bool recordAudio = false);

    // Stops capturing. Throws notCapturing when idle, else audio that could not be resumed,
    // the last conversion failure of the session or the first failure of the teardown, in that
    // order. Always returns no location.
    QCoro::Task<std::optional<QUrl>> stopCapture();

    bool isCapturing() const { return m_state == State::Capturing; }
    // The sink whose monitor is being recorded (empty when none).
    QString capturedSinkName() const { return m_capturedSinkName; }

private:
    enum class State { Idle, Starting, Capturing };
    struct Processing;
    struct CapturedAudioChunk;

    QCoro::Task<void> connectToDefaultSink(QUuid generation, bool onlyWhenMoved);
    QCoro::Task<void> followDefaultSink();
    void requestFollow();
    void streamStopped(int error);
    void startRecovery(int streamError);
    QCoro::Task<void> recoveryAttempt(QUuid generation, CancellationToken token);
    // What the teardown found wrong (a task cannot carry an exception_ptr as its value).
    struct TeardownResult
    {
        std::exception_ptr error;
    };
    QCoro::Task<TeardownResult> teardown();

    std::shared_ptr<PulseAudioContext> m_context;
    State m_state = State::Idle;
    GenerationId m_generation;
    QString m_capturedSinkName;
    bool m_streamHealthy = false;
    bool m_following = false;
    bool m_followAgain = false;
    CaptureStream m_stream;
    ErrorHandler m_errorHandler;
    AudioStreamRecovery m_recovery;
    // Audio lost for good in this session; reported by stopCapture().
    std::exception_ptr m_runtimeError;

    // Processing state lives on the worker; declared before the queue so that the queue,
    // destroyed first, has finished with it.
    std::unique_ptr<Processing> m_processing;
    SerialQueue m_processingQueue;
};
