#pragma once

#include "signin/widgets/OnboardingCard.h"

#include <functional>

class KavrelCapsuleButton;
class SetupStatusBadge;
class ThemedLabel;

// The card of one permission: an icon tile, the title with a status badge, a subtitle, and
// the action button with a help text beside it. Texts are interface keys.
class PermissionAccessCard final : public OnboardingCard
{
    Q_OBJECT

public:
    struct Status
    {
        QString statusTitle;
        KavrelDynamicColor statusTint;
        QString actionTitle;
        QString actionIconName;
        bool isActionEnabled = true;
        bool isActionInProgress = false;
        QString helpText;
    };

    PermissionAccessCard(KavrelDynamicColor accent, const QString &iconName, const QString &titleKey,
                         const QString &subtitleKey, std::function<void()> action, QWidget *parent = nullptr);

    void setStatus(const Status &status);

    KavrelCapsuleButton *actionButton() const { return m_actionButton; }
    SetupStatusBadge *statusBadge() const { return m_statusBadge; }

private:
    SetupStatusBadge *m_statusBadge;
    KavrelCapsuleButton *m_actionButton;
    ThemedLabel *m_helpText;
};
