#include "support/RealSessionRig.h"

#include "platform/PulseAudioContext.h"
#include "session/SessionServices.h"
#include "support/TestAuth.h"

RealSessionRig::RealSessionRig(const QString &settingsFile)
    : listening(backend.start()), auth(TestAuth::signedInService(backend.baseUrl())), relay(&backend),
      history(&backend), billing(&backend), defaults(settingsFile), localization(defaults),
      model(defaults, SessionServices::makeDefault(auth.get(), PulseAudioContext::shared()), localization)
{
    model.setAudioRecordingEnabled(true);
    model.setTranslationEnabled(false);
}
