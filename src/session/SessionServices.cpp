#include "session/SessionServices.h"

#include "accounts/KavrelBackendProxyService.h"
#include "audio/LocalAudioRecordingService.h"
#include "audio/MixedAudioStreamMixer.h"
#include "audio/SystemAudioCaptureService.h"
#include "services/DeepSeekAnswerAssistService.h"
#include "services/DeepSeekMeetingProtocolService.h"
#include "services/DeepSeekSummaryService.h"
#include "services/KavrelBillingService.h"
#include "services/MeetingSessionHistoryService.h"
#include "session/RealSessionPorts.h"
#include "speech/DeepgramLiveTranscriptionService.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"

SessionServices::SessionServices() = default;
SessionServices::SessionServices(SessionServices &&) noexcept = default;
SessionServices &SessionServices::operator=(SessionServices &&) noexcept = default;
SessionServices::~SessionServices() = default;

KavrelBackendProxyService *SessionServices::makeProxy()
{
    proxies.push_back(std::make_unique<KavrelBackendProxyService>(authService));
    return proxies.back().get();
}

SessionServices SessionServices::makeDefault(AuthService *authService, std::shared_ptr<PulseAudioContext> audioServer)
{
    SessionServices services;
    services.authService = authService;
    services.systemAudio = std::make_unique<RealSystemAudioSource>(std::make_unique<SystemAudioCaptureService>(audioServer));
    services.microphones = std::make_unique<RealMicrophoneDirectory>(std::move(audioServer));
    services.recorder = std::make_unique<RealSessionRecorder>(std::make_unique<LocalAudioRecordingService>());
    services.mixer = std::make_unique<MixedAudioStreamMixer>();
    services.speechToText = std::make_unique<RealSpeechToTextStream>(
        std::make_unique<DeepgramLiveTranscriptionService>(services.makeProxy()));
    services.liveTranslation = std::make_unique<KavrelLiveTranslationV2Service>(services.makeProxy(), authService);
    services.summary = std::make_unique<DeepSeekSummaryService>(services.makeProxy());
    services.meetingProtocol = std::make_unique<DeepSeekMeetingProtocolService>(services.makeProxy());
    services.answerAssist = std::make_unique<DeepSeekAnswerAssistService>(services.makeProxy());
    services.history = std::make_unique<MeetingSessionHistoryService>(authService);
    services.billing = std::make_unique<KavrelBillingService>(authService);
    services.aiProxy = services.makeProxy();
    return services;
}
