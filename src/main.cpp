#include "accounts/AppConfigurationStore.h"
#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "base/KavrelDiagnostics.h"
#include "app/KavrelAppDelegate.h"
#include "app/KavrelGracefulQuit.h"
#include "session/KavrelListeningStarter.h"
#include "localization/KavrelLocalizationStore.h"
#include "app/KavrelNotifications.h"
#include "app/KavrelSingleInstance.h"
#include "app/KavrelTerminationSignals.h"
#include "services/KavrelUpdateController.h"
#include "app/KavrelWindowListReader.h"
#include "app/SubtitleViewModelSurface.h"
#include "app/widgets/KavrelAlreadyRunningNotice.h"
#include "app/widgets/KavrelApp.h"
#include "app/widgets/KavrelAppearanceController.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "app/widgets/KavrelTrayItem.h"
#include "detection/MeetingDetectionStore.h"
#include "detection/SubtitleViewModelSessionControl.h"
#include "detection/widgets/KavrelMeetingPromptPanels.h"
#include "platform/ApplicationInfo.h"
#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelKeyBurstGuard.h"
#include "platform/LibsecretSecretStore.h"
#include "platform/PulseAudioContext.h"
#include "platform/UserDefaults.h"
#include "screens/KavrelAvatarLoader.h"
#include "session/SessionServices.h"
#include "session/SubtitleViewModel.h"
#include "session/widgets/MessageBoxListeningStartPrompts.h"

#include <QApplication>
#include <QSessionManager>

#include <cstdio>

int main(int argc, char *argv[])
{
    // While a session runs, the window repaints a few small areas many times a second (the level
    // bars, the newest rows). Through shared memory, every repaint of an area the display server
    // may still be reading waits for a round trip to it first; sent in the request itself, a small
    // area costs a copy of a few kilobytes and no waiting. Whole-window repaints (a resize) cost
    // a larger copy instead. A setting of the user's own is kept.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication application(argc, argv);
    QApplication::setApplicationName(ApplicationInfo::displayName());
    QApplication::setApplicationVersion(ApplicationInfo::shortVersion());
    QApplication::setDesktopFileName(ApplicationInfo::bundleIdentifier());
    QApplication::setQuitOnLastWindowClosed(false);
    // Before any window: a screen reader may read a scroll area before a kit control is made.
    KavrelAccessibleFactory::install();
    // A key pressed again after the program moved the keyboard presses nothing the user did not choose.
    KavrelKeyBurstGuard::install();

    // One program per user: a second start hands its URL (or a reopen request) over and ends.
    // A copy that is quitting takes nothing: this start waits for it to end (its session saved
    // within the quit's time limit) and then runs as usual.
    const std::chrono::milliseconds quitWaitLimit = KavrelGracefulQuit::defaultStopTimeLimit + std::chrono::seconds(5);
    const QList<QUrl> launchURLs = KavrelSingleInstance::urlsFromArguments(QApplication::arguments());
    KavrelSingleInstance singleInstance(KavrelSingleInstance::defaultSocketPath());
    switch (singleInstance.start(launchURLs, quitWaitLimit)) {
    case KavrelSingleInstance::StartResult::handedOver:
        return 0;
    case KavrelSingleInstance::StartResult::failed:
        return 1;
    case KavrelSingleInstance::StartResult::unanswered: {
        // Nothing of this copy is on screen yet and the running one shows nothing either: the
        // error output tells a terminal, the box a user who started from the desktop's menu.
        const KavrelLocalizationStore &localization = KavrelLocalizationStore::shared();
        const qint64 processId = singleInstance.unansweredProcessId();
        std::fprintf(stderr, "%s\n",
                     KavrelAlreadyRunningNotice::notAnsweringText(localization, processId).toUtf8().constData());
        std::fflush(stderr);
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
            return 1;
        KavrelAlreadyRunningNotice::openNotAnswering(localization, processId, [] { QCoreApplication::exit(1); });
        return QApplication::exec();
    }
    case KavrelSingleInstance::StartResult::run:
        break;
    }
    // A quitting copy lets its settings go last of all, after its socket, and one with another
    // runtime folder has no socket in common with this one: the settings file tells.
    UserDefaults::waitForAnnouncedRelease(UserDefaults::standardFilePath(), quitWaitLimit);

    UserDefaults defaults;
    KavrelAppearanceController appearance(defaults);
    appearance.followDesktopPortal();
    KavrelLocalizationStore &localization = KavrelLocalizationStore::shared();
    localization.installBundleOverride();
    // Qt's own words (standard buttons, the context menu of text) in the interface language.
    if (!localization.installQtTranslations())
        qCWarning(KavrelDiagnostics::app()) << "Qt's translations for the interface language are not installed";

    // The instance socket lives in the runtime folder, the settings in the configuration folder:
    // a copy started with another runtime folder finds no one on the socket, but the settings
    // file tells. Two programs over one settings file would undo each other's writes.
    if (defaults.isHeldByAnotherProcess()) {
        qCCritical(KavrelDiagnostics::app()).noquote()
            << "another copy of the program runs with the settings file" << defaults.filePath() << "- ending";
        KavrelAlreadyRunningNotice::open(localization, [] { QCoreApplication::exit(1); });
        return QApplication::exec();
    }

    // The service owns its secret store.
    AuthService authService(AppConfigurationStore::createForApplication(&defaults),
                            new LibsecretSecretStore(AuthService::secretStoreService()));
    AuthSessionStore authStore(&authService);

    KavrelUpdateController &updates = KavrelUpdateController::shared();
    updates.activate();

    const std::shared_ptr<PulseAudioContext> audioServer = PulseAudioContext::shared();
    SubtitleViewModel viewModel(defaults, SessionServices::makeDefault(&authService, audioServer), localization);
    // The questions belong to the main window, whichever control started: the tray and a
    // meeting prompt bring that window back after asking. The prompts outlive the windows: a
    // question that goes with them is taken as answered, and the next one has no window left.
    KavrelApp *questionsOwner = nullptr;
    MessageBoxListeningStartPrompts startPrompts(localization, [&questionsOwner] {
        return questionsOwner ? questionsOwner->questionWindow() : nullptr;
    });
    viewModel.setStartPrompts(&startPrompts);
    MeetingDetectionStore meetingDetection(SubtitleViewModelSessionControl::of(&viewModel),
                                           std::make_unique<KavrelMeetingPromptPanels>(),
                                           MeetingDetectionStore::systemDetector(audioServer));

    SubtitleViewModelSurface session(viewModel);
    KavrelListeningStarter starter(&authStore, &session);
    KavrelWindowListReader windowList(application.devicePixelRatio());
    KavrelMiniWindowCoordinator miniWindows(windowList);
    KavrelPresentationStore presentation(miniWindows, &KavrelTrayItem::isAvailable);
    KavrelAvatarLoader avatarLoader;

    KavrelGracefulQuit quit([&viewModel] { return viewModel.stopActiveSessionAndWait(); });
    quit.interceptQuitOf(application);

    const KavrelMeetingDetectionWiring detectionWiring{&meetingDetection, SubtitleViewModelSessionControl::of(&viewModel)};
    KavrelApp app({&defaults, &authService, &authStore, &localization, &viewModel, &session, &starter, &presentation,
                   &miniWindows, &updates, &avatarLoader, detectionWiring, audioServer, [&quit] { quit.requestQuit(); }});
    questionsOwner = &app;
    KavrelTrayItem trayItem(session, authStore, presentation, starter, defaults, updates, app.windowOpener());
    trayItem.setMeetingDetection(detectionWiring);

    KavrelAppDelegate delegate(&authService, KavrelNotifications::defaultCenter(),
                               [&app] { return app.hasVisibleWindows(); }, [&app] { app.activate(); });
    QObject::connect(&singleInstance, &KavrelSingleInstance::urlsReceived, &delegate, &KavrelAppDelegate::openURLs);
    QObject::connect(&singleInstance, &KavrelSingleInstance::reopenRequested, &delegate, &KavrelAppDelegate::handleReopen);

    // The user sees the program go at once; the session's saves finish behind it, and a start
    // meanwhile waits for this copy to end.
    QObject::connect(&quit, &KavrelGracefulQuit::started, &presentation, &KavrelPresentationStore::leaveScreenForQuit);
    QObject::connect(&quit, &KavrelGracefulQuit::started, &singleInstance, &KavrelSingleInstance::setQuitting);
    QObject::connect(&quit, &KavrelGracefulQuit::started, &defaults, &UserDefaults::announceRelease);
    trayItem.setQuitAction([&quit] { quit.requestQuit(); });
    KavrelTerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &KavrelTerminationSignals::terminationRequested, &quit,
                     &KavrelGracefulQuit::requestQuit);
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &quit, [&quit](QSessionManager &manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
        quit.requestQuit();
    });

    app.launch(trayItem);
    delegate.openURLs(launchURLs);
    const int status = QApplication::exec();
    questionsOwner = nullptr;
    return status;
}
