#pragma once

#include "audio/AudioCaptureTime.h"
#include "audio/AudioStreamRecovery.h"
#include "audio/CaptureStream.h"
#include "audio/MicrophoneInputDevice.h"
#include "base/Async.h"
#include "base/SerialQueue.h"
#include "platform/PulseAudioContext.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class PulseAudioRecordStream;

// Captures one input device: a record stream on a source of the audio server (never a
// monitor of an output). Each 10 ms block feeds the level meter and passes the noise gate or
// not; the blocks that pass one after another within a fragment become one audio chunk for the
// live audio data handler; a fragment that ends quiet gives it an empty chunk, so the mixer
// knows the microphone is alive.
//
// When the audio server drops the stream while capturing (it restarted, or crashed), capture
// reconnects to the same device (or the default input when it is gone), trying with growing
// pauses. When the microphone is not back within the resume time-out, the error handler is
// told, once: the stop that follows does not tell it again.
//
// Device lists come from the audio server layer's cache and never wait for the server; the
// layer's devicesChanged() tells when to read them again.
//
// A main-thread object. The handlers run on the capture worker thread, in block order; they
// reach main-thread objects only through queued invocation.
class MicrophoneCaptureService final : public QObject
{
    Q_OBJECT

public:
    // Each chunk comes with the time its last block was captured. An empty chunk comes when a
    // fragment ended on blocks the gate dropped: the microphone was heard, quiet, until its time.
    using LiveAudioDataHandler = std::function<void(const QByteArray &chunk, AudioCaptureTime capturedAt)>;
    using ErrorHandler = std::function<void(const QString &message)>;
    using LevelHandler = std::function<void(double level)>;

    explicit MicrophoneCaptureService(std::shared_ptr<PulseAudioContext> context, QObject *parent = nullptr);
    ~MicrophoneCaptureService() override;

    void setLiveAudioDataHandler(LiveAudioDataHandler handler);
    void setErrorHandler(ErrorHandler handler);
    void setLevelHandler(LevelHandler handler);
    void setRecoveryTimings(const AudioStreamRecovery::Timings &timings) { m_recovery.setTimings(timings); }

    // Starts capturing the device with this id, or the default input when the id is absent
    // or names no present device. Throws MicrophoneCaptureError: audioServerUnavailable when
    // the audio server cannot be reached, selectedDeviceUnavailable when it offers no input.
    QCoro::Task<void> startCapture(std::optional<QString> deviceID);

    // Stops capturing, then reports level 0. Does only the latter when stopped.
    QCoro::Task<void> stopCapture();

    bool isCapturing() const { return m_isActive; }

    // The input devices (sources that are not monitors), sorted by name. Empty until the
    // server has answered; a failed connection is started again meanwhile.
    static std::vector<MicrophoneInputDevice> availableDevices(PulseAudioContext &context);
    // The same list, but only once the server has listed all its sources: nothing while there
    // is no server or its first listing is still arriving.
    static std::optional<std::vector<MicrophoneInputDevice>> listedDevices(PulseAudioContext &context);
    // The server's default input when it is a real input, else the first device; absent
    // when there is none.
    static std::optional<QString> defaultDeviceID(PulseAudioContext &context);

private:
    struct Capture;

    // A fresh encoder and gate on the worker, then the stream.
    QCoro::Task<void> resetAndOpenStream(std::optional<QString> deviceID, QUuid generation);
    // Opens the record stream on the device, or on the default input when it is gone.
    QCoro::Task<void> openStream(std::optional<QString> deviceID, QUuid generation);
    void streamStopped(int error);
    QCoro::Task<void> recoveryAttempt(QUuid generation, CancellationToken token);
    QCoro::Task<void> teardown(bool reportSilence);

    std::shared_ptr<PulseAudioContext> m_context;
    bool m_isActive = false;
    GenerationId m_generation;
    // The device asked for at start, tried again first when the stream comes back.
    std::optional<QString> m_requestedDeviceID;
    CaptureStream m_stream;
    AudioStreamRecovery m_recovery;
    // The microphone lost for good in this session (already told to the error handler).
    bool m_lost = false;

    // Worker state; declared before the queue, which is destroyed first.
    std::unique_ptr<Capture> m_capture;
    SerialQueue m_captureQueue;
};
