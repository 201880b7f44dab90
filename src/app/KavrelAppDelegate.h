#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>

class AuthService;
class KavrelNotifications;

// What the desktop hands the running program: callback URLs of the "kavrel" scheme (from a
// browser, through the desktop file or a second start) and reopen requests (the program started
// again without a URL). Main thread only.
class KavrelAppDelegate final : public QObject
{
    Q_OBJECT

public:
    enum class CallbackPath { callback, microsoftComplete };
    struct CallbackMatch
    {
        CallbackPath path;
        QUrl url;
    };

    // `hasVisibleWindows` tells whether any window of the program is on screen; `activate`
    // raises and activates the program's windows.
    KavrelAppDelegate(AuthService *authService, KavrelNotifications &notifications,
                      std::function<bool()> hasVisibleWindows, std::function<void()> activate,
                      QObject *parent = nullptr);

    // The first URL of the list that is a sign-in callback ("kavrel://auth/callback" or
    // "kavrel://auth/microsoft/complete"): scheme and host without case, the path exactly.
    static std::optional<CallbackMatch> firstCallbackMatch(const QList<QUrl> &urls);

    // Routes the first callback URL of the list: "/callback" goes to the sign-in that waits for
    // it (or nowhere when none waits). Then, for a callback or any other "kavrel" link, the main
    // window is asked for and the program raised. URLs of another scheme are ignored.
    void openURLs(const QList<QUrl> &urls);

    // The program was started again: asks for the main window unless a window is on screen, in
    // which case the windows are raised.
    void handleReopen();

private:
    QPointer<AuthService> m_authService;
    KavrelNotifications &m_notifications;
    std::function<bool()> m_hasVisibleWindows;
    std::function<void()> m_activate;
};
