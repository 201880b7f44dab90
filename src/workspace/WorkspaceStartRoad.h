#pragma once

#include <QObject>
#include <QPointer>

class AuthSessionStore;
class KavrelListeningStarter;
class KavrelSessionSurface;

// The main window's way to a session: refresh the sign-in session, show the setup sheet,
// and after the sheet's Start refresh once more and hand over to the view model's start.
// Cancel (or any other closing of the sheet) starts nothing.
//
// One start at a time: when the start questions open from another road (the tray, a meeting
// prompt) while the sheet is open, the sheet closes as after Cancel and the questions are the
// one place the start is decided; its choices are the view model's already and go into that
// start. While the questions are open the sheet does not open.
//
// The second refresh and the start run in the shared listening starter, which lives as long
// as the program: closing the window while it runs touches nothing that is gone. The first
// refresh checks after its await that this object (owned by the window) still exists.
//
// Main thread only.
class WorkspaceStartRoad final : public QObject
{
    Q_OBJECT

public:
    WorkspaceStartRoad(AuthSessionStore *authStore, KavrelSessionSurface *session, KavrelListeningStarter *starter,
                       QObject *parent = nullptr);

    bool isListeningSetupPresented() const { return m_isListeningSetupPresented; }
    bool shouldStartListeningAfterSetup() const { return m_shouldStartListeningAfterSetup; }

    // The Start button: refreshes, then presents the sheet; a failed refresh writes the
    // error line and leaves the sheet closed. Each press runs its own refresh.
    void prepareListeningSetupAfterAuthRefresh();
    // The sheet's Start: marks the start, then closes the sheet.
    void startFromSetup();
    // The sheet closed (after Start, Cancel, Escape or the window closing it).
    void setListeningSetupPresented(bool presented);

Q_SIGNALS:
    void listeningSetupPresentedChanged(bool presented);

private:
    void startListeningAfterAuthRefresh();
    void giveWayToStartQuestions();
    bool isAskingStartQuestions() const;

    QPointer<AuthSessionStore> m_authStore;
    QPointer<KavrelSessionSurface> m_session;
    QPointer<KavrelListeningStarter> m_starter;
    bool m_isListeningSetupPresented = false;
    bool m_shouldStartListeningAfterSetup = false;
};
