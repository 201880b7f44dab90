#pragma once

#include "accounts/AuthService.h"
#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "session/SubtitleViewModel.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeSpeechRelay.h"

#include <memory>

// The real session engine, signed in against a fake backend, capturing from the test services'
// audio server: what the tests of real capture start from. It records and does not translate;
// a test checks `listening` (the fake backend took its port) before it starts a session.
struct RealSessionRig
{
    explicit RealSessionRig(const QString &settingsFile);

    // Chooses the microphone from what the program lists, as a user chooses it, once it is
    // listed (within 10 s); whether it is the one chosen now.
    bool chooseMicrophone(const QString &id);

    FakeBackend backend;
    const bool listening;
    std::unique_ptr<AuthService> auth;
    FakeSpeechRelay relay;
    FakeHistoryBackend history;
    FakeBillingBackend billing;
    UserDefaults defaults;
    KavrelLocalizationStore localization;
    SubtitleViewModel model;
};
