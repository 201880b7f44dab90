#include "session/RealSessionPorts.h"

#include "audio/LocalAudioRecordingService.h"
#include "audio/MicrophoneCaptureService.h"
#include "audio/SystemAudioCaptureService.h"
#include "speech/DeepgramLiveTranscriptionService.h"

#include "base/KavrelDiagnostics.h"
#include "platform/PulseAudioContext.h"


RealSystemAudioSource::RealSystemAudioSource(std::unique_ptr<SystemAudioCaptureService> service)
    : m_service(std::move(service))
{
}

RealSystemAudioSource::~RealSystemAudioSource() = default;

void RealSystemAudioSource::setLiveAudioDataHandler(AudioChunkHandler handler)
{
    m_service->setLiveAudioDataHandler(std::move(handler));
}

void RealSystemAudioSource::setErrorHandler(AudioErrorHandler handler)
{
    m_service->setErrorHandler(std::move(handler));
}

QCoro::Task<void> RealSystemAudioSource::startCapture()
{
    co_await m_service->startCapture(false);
}

QCoro::Task<void> RealSystemAudioSource::stopCapture()
{
    co_await m_service->stopCapture();
}

RealMicrophoneSource::RealMicrophoneSource(std::shared_ptr<PulseAudioContext> context)
    : m_service(std::make_unique<MicrophoneCaptureService>(std::move(context)))
{
}

RealMicrophoneSource::~RealMicrophoneSource() = default;

void RealMicrophoneSource::setLiveAudioDataHandler(AudioChunkHandler handler)
{
    m_service->setLiveAudioDataHandler(std::move(handler));
}

void RealMicrophoneSource::setErrorHandler(AudioErrorHandler handler)
{
    m_service->setErrorHandler(std::move(handler));
}

void RealMicrophoneSource::setLevelHandler(AudioLevelHandler handler)
{
    m_service->setLevelHandler(std::move(handler));
}

QCoro::Task<void> RealMicrophoneSource::startCapture(QString deviceID)
{
    std::optional<QString> device = deviceID;
    co_await m_service->startCapture(device);
}

QCoro::Task<void> RealMicrophoneSource::stopCapture()
{
    // A microphone lost for good was reported through the error handler already; its stop
    // repeats that failure, which the session does not show twice.
    try {
        co_await m_service->stopCapture();
    } catch (const std::exception &error) {
        qCInfo(KavrelDiagnostics::audio()).noquote() << "microphone stop reported:" << error.what();
    }
}

RealMicrophoneDirectory::RealMicrophoneDirectory(std::shared_ptr<PulseAudioContext> context)
    : m_context(std::move(context))
{
}

RealMicrophoneDirectory::~RealMicrophoneDirectory()
{
    QObject::disconnect(m_devicesChanged);
}

std::optional<std::vector<MicrophoneInputDevice>> RealMicrophoneDirectory::availableDevices()
{
    return MicrophoneCaptureService::listedDevices(*m_context);
}

std::optional<QString> RealMicrophoneDirectory::defaultDeviceID()
{
    return MicrophoneCaptureService::defaultDeviceID(*m_context);
}

void RealMicrophoneDirectory::setDevicesChangedHandler(std::function<void()> handler)
{
    QObject::disconnect(m_devicesChanged);
    if (handler)
        m_devicesChanged = QObject::connect(m_context.get(), &PulseAudioContext::devicesChanged, std::move(handler));
}

std::unique_ptr<MicrophoneSource> RealMicrophoneDirectory::makeMicrophone()
{
    return std::make_unique<RealMicrophoneSource>(m_context);
}

RealSessionRecorder::RealSessionRecorder(std::unique_ptr<LocalAudioRecordingService> service)
    : m_service(std::move(service))
{
}

RealSessionRecorder::~RealSessionRecorder() = default;

void RealSessionRecorder::startRecording(bool isEnabled)
{
    m_service->startRecording(isEnabled);
}

QCoro::Task<void> RealSessionRecorder::appendMixedAudio(QByteArray chunk)
{
    co_await m_service->appendMixedAudio(std::move(chunk));
}

void RealSessionRecorder::setFailureHandler(std::function<void(const QString &reason)> handler)
{
    QObject::disconnect(m_stopped);
    if (handler)
        m_stopped = QObject::connect(m_service.get(), &LocalAudioRecordingService::recordingStopped, std::move(handler));
}

QCoro::Task<std::optional<QUrl>> RealSessionRecorder::finishRecording()
{
    auto url = co_await m_service->finishRecording();
    co_return url;
}

QCoro::Task<void> RealSessionRecorder::cancel()
{
    co_await m_service->cancel();
}

RealSpeechToTextStream::RealSpeechToTextStream(std::unique_ptr<DeepgramLiveTranscriptionService> service)
    : m_service(std::move(service))
{
}

RealSpeechToTextStream::~RealSpeechToTextStream() = default;

QCoro::Task<void> RealSpeechToTextStream::connect(QString sourceLanguageCode, bool diarize, bool utterances,
                                                  EventHandler eventHandler, ErrorHandler errorHandler)
{
    co_await m_service->connect(std::move(sourceLanguageCode), diarize, utterances, std::move(eventHandler),
                                std::move(errorHandler));
}

void RealSpeechToTextStream::sendAudio(QByteArray chunk)
{
    m_service->sendAudio(std::move(chunk));
}

QCoro::Task<void> RealSpeechToTextStream::stop()
{
    co_await m_service->stop();
}
