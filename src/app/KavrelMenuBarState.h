#pragma once

#include "session/SessionModel.h"

#include <QString>

// What the tray menu shows and allows, from the sign-in, onboarding and session state.
struct KavrelMenuBarState
{
    static constexpr const char *onboardingVersionKey = "kavrel.permissions.onboarding.version";

    bool isRestoringSession = false;
    bool isAuthenticated = false;
    qint64 permissionsOnboardingVersion = 0;
    bool hasActiveSession = false;
    SubtitleStatus status = SubtitleStatus::idle;
    bool isBusy = false;
    bool isMicrophoneBusy = false;

    // Signed in, not restoring, and past the onboarding.
    bool canControlListening() const;
    bool isControlBusy() const { return isBusy || isMicrophoneBusy; }
    // The first status that applies, as an interface key.
    QString statusTitleKey() const;
    // "Stop Listening" while a session is active, else "Start Listening".
    QString toggleTitleKey() const;
    // Start needs a usable sign-in; Stop only needs an active session and nothing busy, so a
    // session that outlived its sign-in can still be stopped.
    bool isToggleEnabled() const;
    bool isMicrophoneMenuEnabled() const { return canControlListening() && !isControlBusy(); }
};
