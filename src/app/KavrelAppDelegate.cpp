#include "app/KavrelAppDelegate.h"

#include "accounts/AuthService.h"
#include "accounts/DesktopOAuthCallbackWaiter.h"
#include "app/KavrelNotifications.h"

#include <algorithm>

namespace {

const QString callbackScheme = QStringLiteral("kavrel");
const QString callbackHost = QStringLiteral("auth");
const QString microsoftCompletePath = QStringLiteral("/microsoft/complete");
const QString callbackPath = QStringLiteral("/callback");

} // namespace

KavrelAppDelegate::KavrelAppDelegate(AuthService *authService, KavrelNotifications &notifications,
                                     std::function<bool()> hasVisibleWindows, std::function<void()> activate,
                                     QObject *parent)
    : QObject(parent)
    , m_authService(authService)
    , m_notifications(notifications)
    , m_hasVisibleWindows(std::move(hasVisibleWindows))
    , m_activate(std::move(activate))
{
}

std::optional<KavrelAppDelegate::CallbackMatch> KavrelAppDelegate::firstCallbackMatch(const QList<QUrl> &urls)
{
    for (const QUrl &url : urls) {
        if (url.scheme().isEmpty() || url.scheme().compare(callbackScheme, Qt::CaseInsensitive) != 0)
            continue;
        if (url.host().isEmpty() || url.host().compare(callbackHost, Qt::CaseInsensitive) != 0)
            continue;
        const QString path = url.path();
        if (path == microsoftCompletePath)
            return CallbackMatch{CallbackPath::microsoftComplete, url};
        if (path == callbackPath)
            return CallbackMatch{CallbackPath::callback, url};
    }
    return std::nullopt;
}

void KavrelAppDelegate::openURLs(const QList<QUrl> &urls)
{
    const std::optional<CallbackMatch> match = firstCallbackMatch(urls);
    // The desktop entry hands the program every link of its scheme. A link that is no sign-in
    // callback still shows the program: a cold start by one would otherwise leave a signed-in
    // user with nothing but the tray.
    const bool anyLinkOfTheScheme = std::any_of(urls.begin(), urls.end(), [](const QUrl &url) {
        return url.scheme().compare(callbackScheme, Qt::CaseInsensitive) == 0;
    });
    if (!match && !anyLinkOfTheScheme)
        return;
    if (match && match->path == CallbackPath::callback && m_authService) {
        if (DesktopOAuthCallbackWaiter *waiter = m_authService->activeDesktopCallbackWaiter())
            waiter->receive(match->url);
    }
    m_notifications.post(KavrelNotifications::openMainWindow);
    if (m_activate)
        m_activate();
}

void KavrelAppDelegate::handleReopen()
{
    // A click on a launcher raises what is there, as the desktop would for any program.
    if (m_hasVisibleWindows && m_hasVisibleWindows()) {
        if (m_activate)
            m_activate();
        return;
    }
    m_notifications.post(KavrelNotifications::openMainWindow);
}
