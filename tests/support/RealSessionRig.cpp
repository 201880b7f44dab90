#include "support/RealSessionRig.h"

#include "platform/PulseAudioContext.h"
#include "session/SessionServices.h"
#include "support/TestAuth.h"

#include <QTest>

#include <algorithm>

RealSessionRig::RealSessionRig(const QString &settingsFile)
    : listening(backend.start()), auth(TestAuth::signedInService(backend.baseUrl())), relay(&backend),
      history(&backend), billing(&backend), defaults(settingsFile), localization(defaults),
      model(defaults, SessionServices::makeDefault(auth.get(), PulseAudioContext::shared()), localization)
{
    model.setAudioRecordingEnabled(true);
    model.setTranslationEnabled(false);
}

bool RealSessionRig::chooseMicrophone(const QString &id)
{
    const auto listed = [this, &id] {
        const QList<MicrophoneInputDevice> devices = model.availableMicrophones();
        return std::any_of(devices.begin(), devices.end(), [&id](const MicrophoneInputDevice &device) { return device.id == id; });
    };
    if (!QTest::qWaitFor(listed, 10000))
        return false;
    model.selectMicrophone(id);
    return model.selectedMicrophoneID() == id;
}
