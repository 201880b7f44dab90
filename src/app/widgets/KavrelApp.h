#pragma once

#include "app/widgets/KavrelMeetingDetectionWiring.h"
#include "app/widgets/KavrelPresentationStore.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class AuthService;
class AuthSessionStore;
class KavrelListeningStarter;
class KavrelLocalizationStore;
class KavrelMiniWindowCoordinator;
class KavrelPresentationStore;
class KavrelSessionSurface;
class KavrelSettingsModel;
class KavrelTrayItem;
class KavrelUpdateController;
class KavrelAvatarLoader;
class KavrelBackgroundCoordinator;
class PulseAudioContext;
class SubtitleViewModel;
class UserDefaults;

// The program's windows, each opened by its identifier: the main window "kavrel-main" (titled
// with the program's name), the settings window "kavrel-settings" and the floating mini window
// "kavrel-listening-mini". A window that exists is brought forward, wholly onto a screen; one
// that was closed is made anew with fresh content; in the main window Ctrl+, opens the settings,
// and in every window Ctrl+Q quits.
// Where no tray shows the program, its windows carry what the tray item would: the main window
// closed while listening gives way to the mini window (the meeting goes on in sight, and Quit is
// in the account menu), and the last window closed while idle ends the program.
// It also starts the tray item and decides what the user sees at launch. The objects it is given
// live for the whole run. Main thread only.
class KavrelApp final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *mainWindowIdentifier = KavrelPresentationStore::mainWindowIdentifier;
    static constexpr const char *settingsWindowIdentifier = "kavrel-settings";
    static constexpr const char *miniWindowIdentifier = "kavrel-listening-mini";

    struct Dependencies
    {
        UserDefaults *defaults = nullptr;
        AuthService *authService = nullptr;
        AuthSessionStore *authStore = nullptr;
        KavrelLocalizationStore *localization = nullptr;
        SubtitleViewModel *viewModel = nullptr;
        KavrelSessionSurface *session = nullptr;
        KavrelListeningStarter *starter = nullptr;
        KavrelPresentationStore *presentation = nullptr;
        KavrelMiniWindowCoordinator *miniWindows = nullptr;
        KavrelUpdateController *updates = nullptr;
        KavrelAvatarLoader *avatarLoader = nullptr;
        KavrelMeetingDetectionWiring meetingDetection;
        // The audio server the onboarding asks for microphone access.
        std::shared_ptr<PulseAudioContext> audioServer;
        // Quits the program; without one, QCoreApplication::quit(), which the graceful quit
        // catches.
        std::function<void()> quit;
    };

    explicit KavrelApp(Dependencies dependencies, QObject *parent = nullptr);
    ~KavrelApp() override;

    // Opens the window `identifier`, or brings it forward when it is open.
    void openWindow(const QString &identifier);
    std::function<void(const QString &)> windowOpener();

    // The launch: the application icon is set and the main window is made. Without a tray it
    // opens at once. With one, it opens only for the first run (nobody signed in once the saved
    // session is restored) or when a link or the tray asks for it; a signed-in user starts in
    // the tray.
    void launch(KavrelTrayItem &trayItem);

    // Whether any window of the program is on screen.
    bool hasVisibleWindows() const;
    // Raises and activates the program's visible windows, the main window last, each moved
    // wholly onto a screen when it was left off one.
    void activate();

    QWidget *window(const QString &identifier) const;
    // The window the program's questions belong to: the main window, made (off the screen) when
    // it is not open, so that a question asked from the tray stands in front of it when it opens.
    QWidget *questionWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void finishLaunch();
    QWidget *makeMainWindow();
    QWidget *makeSettingsWindow();
    QWidget *makeMiniWindow();
    QWidget *makeWorkspaceShell();
    QWidget *makeContentView();
    QWidget *makeHistoryView();
    void addQuitShortcut(QWidget *window);
    void quit();
    bool isTrayAvailable() const;
    // Ends the program once no window of it is left while it is idle (only without a tray).
    void quitWhenNoWindowIsLeft();

    Dependencies m_dependencies;
    QPointer<QWidget> m_mainWindow;
    QPointer<QWidget> m_settingsWindow;
    QPointer<QWidget> m_miniWindow;
    QPointer<KavrelBackgroundCoordinator> m_backgroundCoordinator;
    std::unique_ptr<KavrelSettingsModel> m_settingsModel;
    // The launch waits for the restored session to decide whether the main window shows.
    bool m_launchPending = false;
};
