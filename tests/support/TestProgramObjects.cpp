#include "support/TestProgramObjects.h"

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "platform/PulseAudioContext.h"
#include "support/TestAuth.h"

TestProgramObjects::TestProgramObjects(bool signedIn, std::function<bool()> trayAvailability,
                                       KavrelMiniWindowCoordinator::WindowListSource windowList)
    : windows(windowList ? std::move(windowList) : [] { return std::optional<X11WindowListSnapshot>(); })
{
    // Before any window, as main() does.
    KavrelAccessibleFactory::install();
    backend.start();
    authService = TestAuth::signedInService(backend.baseUrl(), signedIn ? std::optional(TestAuth::defaultSession()) : std::nullopt);
    authStore = std::make_unique<AuthSessionStore>(authService.get());
    defaults = std::make_unique<UserDefaults>(dir.filePath(QStringLiteral("prefs.ini")));
    presentation = std::make_unique<KavrelPresentationStore>(windows, std::move(trayAvailability));
    starter = std::make_unique<KavrelListeningStarter>(authStore.get(), &session);
    updates = std::make_unique<KavrelUpdateController>(
        [](QObject *parent) { return new KavrelUpdater(std::nullopt, QStringLiteral("1.0"), parent); });
}

KavrelApp::Dependencies TestProgramObjects::dependencies()
{
    KavrelApp::Dependencies dependencies;
    dependencies.defaults = defaults.get();
    dependencies.authService = authService.get();
    dependencies.authStore = authStore.get();
    dependencies.session = &session;
    dependencies.starter = starter.get();
    dependencies.presentation = presentation.get();
    dependencies.miniWindows = &windows;
    dependencies.updates = updates.get();
    dependencies.audioServer = PulseAudioContext::shared();
    return dependencies;
}
