#include "signin/PermissionsOnboardingContent.h"

PermissionsOnboardingContent PermissionsOnboardingContent::make(AppPermissionsController::MicrophoneState state,
                                                                bool isRequesting)
{
    using State = AppPermissionsController::MicrophoneState;
    PermissionsOnboardingContent content;
    const bool granted = state == State::granted;
    content.progress = granted ? 1.0 : 0.75;
    content.progressPercent = granted ? 100 : 75;
    content.showsFooterNote = !granted;
    content.isQuickPathComplete = granted;
    content.isActionEnabled = !isRequesting && !granted;
    content.isActionInProgress = isRequesting;

    switch (state) {
    case State::notDetermined:
        content.microphoneStatusTitle = QStringLiteral("Not requested");
        content.microphoneStatusTint = amber();
        content.microphoneActionTitle = QStringLiteral("Allow access");
        content.microphoneActionIcon = QStringLiteral("mic.badge.plus");
        content.microphoneHelpText = QStringLiteral("КАВРЕЛ will ask macOS for microphone access the first time.");
        break;
    case State::denied:
        content.microphoneStatusTitle = QStringLiteral("Needs attention");
        content.microphoneStatusTint = red();
        content.microphoneActionTitle = QStringLiteral("Open settings");
        content.microphoneActionIcon = QStringLiteral("gearshape");
        content.microphoneHelpText =
            QStringLiteral("If you previously denied access, turn it back on in System Settings and return here.");
        break;
    case State::granted:
        content.microphoneStatusTitle = QStringLiteral("Granted");
        content.microphoneStatusTint = green();
        content.microphoneActionTitle = QStringLiteral("Allowed");
        content.microphoneActionIcon = QStringLiteral("checkmark");
        content.microphoneHelpText = QStringLiteral("Microphone input is active for this launch.");
        break;
    }

    if (granted) {
        content.readinessSubtitle = QStringLiteral("Microphone access is active in this launch.");
        content.readinessDetail = QStringLiteral(
            "You can continue straight into the app and start a listening session without additional permission prompts.");
    } else {
        content.readinessSubtitle = QStringLiteral(
            "System audio starts without screen recording. Microphone access can be enabled later.");
        content.readinessDetail =
            QStringLiteral("КАВРЕЛ asks for microphone input only when microphone mix-in or testing needs it.");
    }
    return content;
}
