#pragma once

// The program's windows as main() makes them, over the real session view model (the session
// test fakes under it) and a sign-in store against the fake backend: signed in, with the
// onboarding behind it (the main window opens on the workspace) or still ahead.

#include "../workspace/WorkspaceHarness.h"

#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelKeyBurstGuard.h"
#include "platform/PulseAudioContext.h"
#include "services/KavrelUpdateController.h"
#include "services/KavrelUpdater.h"
#include "signin/widgets/KavrelRootView.h"

#include <functional>
#include <memory>

namespace AppTest {

struct ProgramOverTheSession : WorkspaceTest::SignIn
{
    SessionTest::Engine engine;
    std::unique_ptr<AuthSessionStore> authStore;
    std::unique_ptr<SubtitleViewModelSurface> surface;
    std::unique_ptr<KavrelListeningStarter> starter;
    KavrelMiniWindowCoordinator windows{[] { return std::optional<X11WindowListSnapshot>(); }};
    std::unique_ptr<KavrelPresentationStore> presentation;
    std::unique_ptr<KavrelUpdateController> updates;
    std::unique_ptr<KavrelApp> app;
    // What the program's quit would have ended.
    int quitRequests = 0;

    // With a window list, the mini window follows what covers the main window on the X server.
    explicit ProgramOverTheSession(bool onboardingDone = true, std::function<bool()> trayAvailability = [] { return true; },
                                   KavrelMiniWindowCoordinator::WindowListSource windowList = {})
        : SignIn(true, 3600)
        , windows(windowList ? std::move(windowList) : [] { return std::optional<X11WindowListSnapshot>(); })
    {
        // Before any window, as main() does.
        KavrelAccessibleFactory::install();
        KavrelKeyBurstGuard::install();
        if (onboardingDone)
            engine.defaults->setInteger(QString::fromLatin1(KavrelRootView::onboardingVersionKey), 1);
        authStore = std::make_unique<AuthSessionStore>(authService.get());
        surface = std::make_unique<SubtitleViewModelSurface>(*engine.model);
        starter = std::make_unique<KavrelListeningStarter>(authStore.get(), surface.get());
        presentation = std::make_unique<KavrelPresentationStore>(windows, std::move(trayAvailability));
        updates = std::make_unique<KavrelUpdateController>(
            [](QObject *parent) { return new KavrelUpdater(std::nullopt, QStringLiteral("1.0"), parent); });
        (void)QTest::qWaitFor([this] { return !authStore->isRestoringSession(); });

        KavrelApp::Dependencies dependencies;
        dependencies.defaults = engine.defaults.get();
        dependencies.authService = authService.get();
        dependencies.authStore = authStore.get();
        dependencies.viewModel = engine.model.get();
        dependencies.session = surface.get();
        dependencies.starter = starter.get();
        dependencies.presentation = presentation.get();
        dependencies.miniWindows = &windows;
        dependencies.updates = updates.get();
        dependencies.audioServer = PulseAudioContext::shared();
        dependencies.quit = [this] { ++quitRequests; };
        app = std::make_unique<KavrelApp>(std::move(dependencies));
    }

    ~ProgramOverTheSession()
    {
        app.reset();
        engine.model->setStartPrompts(nullptr);
    }

    QWidget *mainWindow() const { return app->window(QString::fromLatin1(KavrelApp::mainWindowIdentifier)); }
};

} // namespace AppTest
