#pragma once

// The seams between the session engine and the audio and speech services it drives. The
// program plugs in the real services (SessionServices::makeDefault); tests plug in fakes that
// record what the engine asked of them, in order.
//
// Every port is used on the main thread. Handlers given to the audio ports are called on the
// service's own capture thread: they must hand the data on at once and never touch a
// main-thread object directly.

#include "audio/AudioCaptureTime.h"
#include "audio/MicrophoneInputDevice.h"
#include "speech/DeepgramTranscriptEvent.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Each chunk comes with the time its audio was captured (AudioCaptureTime).
using AudioChunkHandler = std::function<void(const QByteArray &chunk, AudioCaptureTime capturedAt)>;
using AudioErrorHandler = std::function<void(const QString &message)>;
using AudioLevelHandler = std::function<void(double level)>;

// What the computer plays.
class SystemAudioSource
{
public:
    virtual ~SystemAudioSource() = default;
    virtual void setLiveAudioDataHandler(AudioChunkHandler handler) = 0;
    // Reports, on the main thread, a capture that was lost while running and did not come back.
    virtual void setErrorHandler(AudioErrorHandler handler) = 0;
    // Throws the capture's error when it cannot start.
    virtual QCoro::Task<void> startCapture() = 0;
    // Throws when nothing is captured or the teardown failed.
    virtual QCoro::Task<void> stopCapture() = 0;
};

// One input device. A fresh one is made after every session and every run-time failure.
class MicrophoneSource
{
public:
    virtual ~MicrophoneSource() = default;
    virtual void setLiveAudioDataHandler(AudioChunkHandler handler) = 0;
    virtual void setErrorHandler(AudioErrorHandler handler) = 0;
    virtual void setLevelHandler(AudioLevelHandler handler) = 0;
    // Throws MicrophoneCaptureError.
    virtual QCoro::Task<void> startCapture(QString deviceID) = 0;
    // Stops capturing (if it runs) and reports level 0. Never throws.
    virtual QCoro::Task<void> stopCapture() = 0;
};

// The input devices offered for capture.
class MicrophoneDirectory
{
public:
    virtual ~MicrophoneDirectory() = default;
    // Nothing while the list cannot be known whole (no audio server, or its listing is still
    // arriving): such a read says nothing about which devices are gone.
    virtual std::optional<std::vector<MicrophoneInputDevice>> availableDevices() = 0;
    virtual std::optional<QString> defaultDeviceID() = 0;
    // Called on the main thread whenever devices come or go.
    virtual void setDevicesChangedHandler(std::function<void()> handler) = 0;
    virtual std::unique_ptr<MicrophoneSource> makeMicrophone() = 0;
};

// The local recording of the mixed audio.
class SessionRecorder
{
public:
    virtual ~SessionRecorder() = default;
    // Throws when the recording cannot be prepared.
    virtual void startRecording(bool isEnabled) = 0;
    virtual QCoro::Task<void> appendMixedAudio(QByteArray chunk) = 0;
    // Called on the main thread when the recording stops at a failure (a full disk), with why.
    virtual void setFailureHandler(std::function<void(const QString &reason)> handler) = 0;
    // The file, or nothing when recording was off. Throws the recording's write failure, which
    // names the file that kept the part recorded before it (SystemAudioCaptureError::keptFile()).
    virtual QCoro::Task<std::optional<QUrl>> finishRecording() = 0;
    // Abandons the recording and deletes its file.
    virtual QCoro::Task<void> cancel() = 0;
};

// The live speech-to-text stream.
class SpeechToTextStream
{
public:
    using EventHandler = std::function<void(const DeepgramTranscriptEvent &)>;
    using ErrorHandler = std::function<void(const QString &)>;

    virtual ~SpeechToTextStream() = default;
    // Returns once the stream is open; throws when it cannot be opened. The handlers are
    // called on the main thread, at most one error per connection.
    virtual QCoro::Task<void> connect(QString sourceLanguageCode, bool diarize, bool utterances,
                                      EventHandler eventHandler, ErrorHandler errorHandler) = 0;
    virtual void sendAudio(QByteArray chunk) = 0;
    // Sends what is queued, finalises and closes. Never throws.
    virtual QCoro::Task<void> stop() = 0;
};
