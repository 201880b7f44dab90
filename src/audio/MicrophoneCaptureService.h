#pragma once

#include "audio/MicrophoneInputDevice.h"
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
// not; passed blocks are converted to audio chunks for the live audio data handler.
//
// A main-thread object. The handlers run on the capture worker thread, in block order; they
// reach main-thread objects only through queued invocation.
class MicrophoneCaptureService final : public QObject
{
    Q_OBJECT

public:
    using LiveAudioDataHandler = std::function<void(const QByteArray &chunk)>;
    using ErrorHandler = std::function<void(const QString &message)>;
    using LevelHandler = std::function<void(double level)>;

    explicit MicrophoneCaptureService(std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared(),
                                      QObject *parent = nullptr);
    ~MicrophoneCaptureService() override;

    void setLiveAudioDataHandler(LiveAudioDataHandler handler);
    void setErrorHandler(ErrorHandler handler);
    void setLevelHandler(LevelHandler handler);

    // Starts capturing the device with this id, or the default input when the id is absent
    // or names no present device. Throws MicrophoneCaptureError.
    QCoro::Task<void> startCapture(std::optional<QString> deviceID);

    // Stops capturing, then reports level 0. Does only the latter when stopped.
    void stopCapture();

    bool isCapturing() const { return m_isActive; }

    // The input devices (sources that are not monitors), sorted by name.
    static std::vector<MicrophoneInputDevice> availableDevices();
    // The server's default input when it is a real input, else the first device; absent
    // when there is none.
    static std::optional<QString> defaultDeviceID();

    static std::vector<MicrophoneInputDevice> availableDevices(PulseAudioContext &context);
    static std::optional<QString> defaultDeviceID(PulseAudioContext &context);

private:
    struct Capture;

    void teardown();

    std::shared_ptr<PulseAudioContext> m_context;
    bool m_isActive = false;
    quint64 m_generation = 0;
    std::unique_ptr<PulseAudioRecordStream> m_stream;

    // Worker state; declared before the queue, which is destroyed first.
    std::unique_ptr<Capture> m_capture;
    SerialQueue m_captureQueue;
};
