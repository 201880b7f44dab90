#pragma once

#include "session/SessionPorts.h"

#include <memory>
#include <vector>

class AuthService;
class DeepSeekAnswerAssistService;
class DeepSeekMeetingProtocolService;
class DeepSeekSummaryService;
class KavrelBackendProxyService;
class KavrelBillingService;
class KavrelLiveTranslationV2Service;
class MeetingSessionHistoryService;
class MixedAudioStreamMixer;
class PulseAudioContext;

// Everything a listening session drives, handed to SubtitleViewModel at construction and owned
// by it for the life of the process. makeDefault() builds the real services; tests build the
// real one and swap the parts they fake.
//
// Members are destroyed in reverse order: the mixer first (its output reaches the recorder and
// the speech stream), the proxy services last (every client holds one).
struct SessionServices
{
    SessionServices();
    SessionServices(SessionServices &&) noexcept;
    SessionServices &operator=(SessionServices &&) noexcept;
    ~SessionServices();

    AuthService *authService = nullptr;
    // The proxy services of the clients below, one each.
    std::vector<std::unique_ptr<KavrelBackendProxyService>> proxies;

    std::unique_ptr<SystemAudioSource> systemAudio;
    std::unique_ptr<MicrophoneDirectory> microphones;
    std::unique_ptr<SessionRecorder> recorder;
    std::unique_ptr<SpeechToTextStream> speechToText;
    std::unique_ptr<KavrelLiveTranslationV2Service> liveTranslation;
    std::unique_ptr<DeepSeekSummaryService> summary;
    std::unique_ptr<DeepSeekMeetingProtocolService> meetingProtocol;
    std::unique_ptr<DeepSeekAnswerAssistService> answerAssist;
    std::unique_ptr<MeetingSessionHistoryService> history;
    std::unique_ptr<KavrelBillingService> billing;
    // The proxy that the rewriting of closed turns uses directly (one of proxies).
    KavrelBackendProxyService *aiProxy = nullptr;
    std::unique_ptr<MixedAudioStreamMixer> mixer;

    // The real services, all signed in through authService; the audio ones capture through
    // audioServer.
    static SessionServices makeDefault(AuthService *authService, std::shared_ptr<PulseAudioContext> audioServer);

    // A new proxy service on authService, owned by this bundle.
    KavrelBackendProxyService *makeProxy();
};
