#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class AuthSessionStore;
class KavrelSessionSurface;

// The start road of the tray menu and the meeting prompts: refresh the sign-in session, then
// ask the view model to start listening. It lives as long as the program, so a start keeps
// going when the menu or window that began it is gone; `afterwards` runs at the end either
// way and should hold only long-lived objects (or check them).
class KavrelListeningStarter final : public QObject
{
    Q_OBJECT

public:
    KavrelListeningStarter(AuthSessionStore *authStore, KavrelSessionSurface *session, QObject *parent = nullptr);

    // Awaits AuthSessionStore::ensureActiveSession(). On success starts listening with the view
    // model's microphone choice; on failure writes the store's error (else the error's own
    // text) into the view model. Then calls `afterwards`.
    void startListeningAfterAuthRefresh(std::function<void()> afterwards);

    // The refresh both start roads begin with, as a detached task: awaits
    // AuthSessionStore::ensureActiveSession(), then calls `refreshed`, or on failure writes the
    // store's error (else the error's own text) into the view model. Then calls `afterwards`.
    // Whatever of that throws is logged after `failureLog`. The callbacks must check what
    // they touch: the stores and windows may have gone while the refresh ran.
    static void runAfterAuthRefresh(QPointer<AuthSessionStore> authStore, QPointer<KavrelSessionSurface> session,
                                    std::function<void()> refreshed, std::function<void()> afterwards,
                                    const char *failureLog);

private:
    QPointer<AuthSessionStore> m_authStore;
    QPointer<KavrelSessionSurface> m_session;
};
