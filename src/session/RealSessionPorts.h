#pragma once

// The session ports over the program's real audio and speech services.

#include "session/SessionPorts.h"

#include <QObject>

#include <memory>

class DeepgramLiveTranscriptionService;
class LocalAudioRecordingService;
class MicrophoneCaptureService;
class PulseAudioContext;
class SystemAudioCaptureService;

class RealSystemAudioSource final : public SystemAudioSource
{
public:
    explicit RealSystemAudioSource(std::unique_ptr<SystemAudioCaptureService> service);
    ~RealSystemAudioSource() override;

    SystemAudioCaptureService *service() const { return m_service.get(); }

    void setLiveAudioDataHandler(AudioChunkHandler handler) override;
    void setErrorHandler(AudioErrorHandler handler) override;
    QCoro::Task<void> startCapture() override;
    QCoro::Task<void> stopCapture() override;

private:
    std::unique_ptr<SystemAudioCaptureService> m_service;
};

class RealMicrophoneSource final : public MicrophoneSource
{
public:
    explicit RealMicrophoneSource(std::shared_ptr<PulseAudioContext> context);
    ~RealMicrophoneSource() override;

    void setLiveAudioDataHandler(AudioChunkHandler handler) override;
    void setErrorHandler(AudioErrorHandler handler) override;
    void setLevelHandler(AudioLevelHandler handler) override;
    QCoro::Task<void> startCapture(QString deviceID) override;
    QCoro::Task<void> stopCapture() override;

private:
    std::unique_ptr<MicrophoneCaptureService> m_service;
};

// The audio server's input devices; the microphones it makes capture through the same server.
class RealMicrophoneDirectory final : public MicrophoneDirectory
{
public:
    explicit RealMicrophoneDirectory(std::shared_ptr<PulseAudioContext> context);
    ~RealMicrophoneDirectory() override;

    std::optional<std::vector<MicrophoneInputDevice>> availableDevices() override;
    void setDevicesChangedHandler(std::function<void()> handler) override;
    std::optional<QString> defaultDeviceID() override;
    std::unique_ptr<MicrophoneSource> makeMicrophone() override;

private:
    std::shared_ptr<PulseAudioContext> m_context;
    QMetaObject::Connection m_devicesChanged;
};

class RealSessionRecorder final : public SessionRecorder
{
public:
    explicit RealSessionRecorder(std::unique_ptr<LocalAudioRecordingService> service);
    ~RealSessionRecorder() override;

    void startRecording(bool isEnabled) override;
    QCoro::Task<void> appendMixedAudio(QByteArray chunk) override;
    void setFailureHandler(std::function<void(const QString &reason)> handler) override;
    QCoro::Task<std::optional<QUrl>> finishRecording() override;
    QCoro::Task<void> cancel() override;

private:
    std::unique_ptr<LocalAudioRecordingService> m_service;
    QMetaObject::Connection m_stopped;
};

class RealSpeechToTextStream final : public SpeechToTextStream
{
public:
    explicit RealSpeechToTextStream(std::unique_ptr<DeepgramLiveTranscriptionService> service);
    ~RealSpeechToTextStream() override;

    DeepgramLiveTranscriptionService *service() const { return m_service.get(); }

    QCoro::Task<void> connect(QString sourceLanguageCode, bool diarize, bool utterances, EventHandler eventHandler,
                              ErrorHandler errorHandler) override;
    void sendAudio(QByteArray chunk) override;
    QCoro::Task<void> stop() override;

private:
    std::unique_ptr<DeepgramLiveTranscriptionService> m_service;
};
