#pragma once

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
// The server's thread only copies and time-stamps each fragment. A worker thread, one
// fragment at a time in capture order, drops fragments that waited more than 750 ms,
// converts the rest to audio chunks and calls the live audio data handler.
//
// A main-thread object. The handler runs on the worker thread: it must hand the chunk on
// quickly, and reach main-thread objects only through queued invocation.
class SystemAudioCaptureService final : public QObject
{
    Q_OBJECT

public:
    using LiveAudioDataHandler = std::function<void(const QByteArray &chunk)>;

    static constexpr qint64 maximumProcessingAgeNanoseconds = 750'000'000;
    static constexpr qint64 diagnosticsIntervalNanoseconds = 5'000'000'000;

    explicit SystemAudioCaptureService(std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared(),
                                       QObject *parent = nullptr);
    ~SystemAudioCaptureService() override;

    // Replaces the handler; it never changes while a chunk is being delivered. Without a
    // handler chunks are converted and dropped.
    void setLiveAudioDataHandler(LiveAudioDataHandler handler);

    // Starts capturing and returns once audio flows. recordAudio has no effect. Throws
    // SystemAudioCaptureError.
    QCoro::Task<void> startCapture(bool recordAudio = false);

    // Stops capturing. Throws notCapturing when idle, else the last conversion failure of the
    // session or the first failure of the teardown. Always returns no location.
    QCoro::Task<std::optional<QUrl>> stopCapture();

    bool isCapturing() const { return m_state == State::Capturing; }
    // The sink whose monitor is being recorded (empty when none).
    QString capturedSinkName() const { return m_capturedSinkName; }

private:
    enum class State { Idle, Starting, Capturing };
    struct Processing;
    struct CapturedAudioChunk;

    QCoro::Task<void> connectToDefaultSink(quint64 generation, bool onlyWhenMoved);
    QCoro::Task<void> followDefaultSink();
    void requestFollow();
    std::exception_ptr teardown();

    std::shared_ptr<PulseAudioContext> m_context;
    State m_state = State::Idle;
    quint64 m_generation = 0;
    QString m_capturedSinkName;
    bool m_streamHealthy = false;
    quint64 m_streamSerial = 0;
    bool m_following = false;
    bool m_followAgain = false;
    std::unique_ptr<PulseAudioRecordStream> m_stream;

    // Processing state lives on the worker; declared before the queue so that the queue,
    // destroyed first, has finished with it.
    std::unique_ptr<Processing> m_processing;
    SerialQueue m_processingQueue;
};
