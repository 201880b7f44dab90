#include "app/KavrelMenuBarState.h"

bool KavrelMenuBarState::canControlListening() const
{
    return isAuthenticated && !isRestoringSession && permissionsOnboardingVersion > 0;
}

QString KavrelMenuBarState::statusTitleKey() const
{
    if (isRestoringSession)
        return QStringLiteral("Preparing session");
    if (!isAuthenticated || permissionsOnboardingVersion <= 0)
        return QStringLiteral("Grant access to continue");
    if (hasActiveSession)
        return QStringLiteral("Listening");
    if (status == SubtitleStatus::stopped)
        return QStringLiteral("Listening stopped");
    return QStringLiteral("Ready to listen");
}

QString KavrelMenuBarState::toggleTitleKey() const
{
    return hasActiveSession ? QStringLiteral("Stop Listening") : QStringLiteral("Start Listening");
}

bool KavrelMenuBarState::isToggleEnabled() const
{
    if (hasActiveSession)
        return !isControlBusy();
    return canControlListening() && !isControlBusy();
}
