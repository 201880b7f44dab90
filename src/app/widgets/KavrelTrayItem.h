#pragma once

#include "app/KavrelMenuBarState.h"
#include "services/KavrelUpdater.h"
#include "app/widgets/KavrelMeetingDetectionWiring.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class AuthSessionStore;
class KavrelListeningStarter;
class KavrelPresentationStore;
class KavrelSessionSurface;
class KavrelUpdateController;
class QMenu;
class QMessageBox;
class UserDefaults;

// The program's item in the desktop's system tray: its icon (with a red dot while a session
// is active and its status is shown), the "Listening" tooltip, and the menu that starts and
// stops listening, picks the microphone, shows the windows, checks for updates and quits. The
// menu is built afresh each time it opens. The item stays in every presentation mode, and it
// brings the main window back when "kavrel.openMainWindow" is posted. It leaves the tray when
// the program starts quitting.
//
// Where the desktop shows no tray, the item stays hidden and the program keeps its windows
// (see KavrelPresentationStore). Main thread only.
class KavrelTrayItem final : public QObject
{
    Q_OBJECT

public:
    // Opens a window by its identifier ("kavrel-main", "kavrel-settings").
    using OpenWindow = std::function<void(const QString &identifier)>;

    KavrelTrayItem(KavrelSessionSurface &session, AuthSessionStore &authStore, KavrelPresentationStore &presentation,
                   KavrelListeningStarter &starter, UserDefaults &defaults, KavrelUpdateController &updates,
                   OpenWindow openWindow, QObject *parent = nullptr);
    ~KavrelTrayItem() override;

    static bool isAvailable();
    // Shows the item when the desktop has a tray; returns whether it did. Either way it wires
    // the meeting detection given here, as the menu-bar item does when it appears.
    bool show();
    void setMeetingDetection(KavrelMeetingDetectionWiring wiring) { m_meetingDetection = std::move(wiring); }
    // Quits the program; the default quits the application's event loop.
    void setQuitAction(std::function<void()> quit) { m_quit = std::move(quit); }

    KavrelMenuBarState state() const;
    QSystemTrayIcon &trayIcon() { return m_trayIcon; }
    QMenu *menu() const { return m_menu.get(); }
    void rebuildMenu();
    QString toolTip() const;

    void toggleListening();
    void openKavrelWindow();
    void openSettingsWindow();

Q_SIGNALS:
    // What the update check box shows the user, each time it changes (for tests).
    void updateCheckShown(const QString &title, const QString &message);

private:
    void refreshIcon();
    void restoreThenOpen(const QString &identifier);
    void showUpdateCheckUnderWay();
    void showUpdateCheck(const KavrelUserUpdateCheck &result);
    // Shows these words in the update check box, made afresh only when none is open, in front.
    void presentUpdateBox(bool warning, const QString &title, const QString &message, bool underWay);

    KavrelSessionSurface &m_session;
    QPointer<AuthSessionStore> m_authStore;
    QPointer<KavrelPresentationStore> m_presentation;
    KavrelListeningStarter &m_starter;
    UserDefaults &m_defaults;
    KavrelUpdateController &m_updates;
    OpenWindow m_openWindow;
    std::function<void()> m_quit;
    QSystemTrayIcon m_trayIcon;
    std::unique_ptr<QMenu> m_menu;
    bool m_iconActive = false;
    bool m_iconShowsStatus = false;
    bool m_iconSet = false;
    KavrelMeetingDetectionWiring m_meetingDetection;
    // One box for the user's update check, from "checking" to the answer.
    QPointer<QMessageBox> m_updateBox;
    bool m_updateAnswerAwaited = false;
};
