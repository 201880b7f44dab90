#pragma once

// The program's long-lived objects as main() makes them, over the fake backend, for tests of
// the windows, the launch and the tray: a sign-in store (signed in or not), user defaults in a
// temporary directory, a scripted session, the mini-window coordinator (over no window list
// unless given one), the presentation store, the listening starter and an update controller
// without a feed.

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "platform/UserDefaults.h"
#include "services/KavrelUpdateController.h"
#include "session/KavrelListeningStarter.h"
#include "support/FakeBackend.h"
#include "support/FakeSessionSurface.h"

#include <QTemporaryDir>

#include <functional>
#include <memory>

class TestProgramObjects
{
public:
    TestProgramObjects(bool signedIn, std::function<bool()> trayAvailability,
                       KavrelMiniWindowCoordinator::WindowListSource windowList = {});

    // Everything KavrelApp needs, the audio server included.
    KavrelApp::Dependencies dependencies();

    FakeBackend backend;
    std::unique_ptr<AuthService> authService;
    std::unique_ptr<AuthSessionStore> authStore;
    QTemporaryDir dir;
    std::unique_ptr<UserDefaults> defaults;
    FakeSessionSurface session;
    KavrelMiniWindowCoordinator windows;
    std::unique_ptr<KavrelPresentationStore> presentation;
    std::unique_ptr<KavrelListeningStarter> starter;
    std::unique_ptr<KavrelUpdateController> updates;
};
