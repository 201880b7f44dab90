#pragma once

#include "signin/AppPermissionsController.h"

#include <QColor>
#include <QString>

// Everything the permissions onboarding shows that depends on the microphone state and on
// whether a request runs. Texts are interface keys; icons are symbol names.
struct PermissionsOnboardingContent
{
    double progress = 0;      // of the setup badge and the readiness meter
    int progressPercent = 0;  // the number in "Setup %@%%"
    QString microphoneStatusTitle;
    QColor microphoneStatusTint;
    QString microphoneActionTitle;
    QString microphoneActionIcon;
    QString microphoneHelpText;
    QString readinessSubtitle;
    QString readinessDetail;
    bool showsFooterNote = true;
    bool isQuickPathComplete = false;
    bool isActionEnabled = false;
    bool isActionInProgress = false;

    static PermissionsOnboardingContent make(AppPermissionsController::MicrophoneState state, bool isRequesting);

    // The colours the onboarding shares with its cards.
    static QColor green() { return QColor::fromRgbF(0.10f, 0.62f, 0.45f); }
    static QColor amber() { return QColor::fromRgbF(0.89f, 0.57f, 0.20f); }
    static QColor red() { return QColor::fromRgbF(0.84f, 0.16f, 0.17f); }
};
