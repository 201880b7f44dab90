#include "signin/widgets/PermissionAccessCard.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "signin/widgets/PermissionActionButton.h"
#include "signin/widgets/SetupStatusBadge.h"
#include "signin/widgets/SignInTheme.h"
#include "signin/widgets/SymbolTile.h"
#include "signin/widgets/ThemedLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

OnboardingCard::Look permissionLook()
{
    OnboardingCard::Look look;
    look.radius = 26;
    look.fill = SignInTheme::permissionCardFill;
    look.border = SignInTheme::permissionCardBorder;
    look.shadow = SignInTheme::permissionCardShadow;
    look.shadowBlur = 18;
    look.shadowOffset = 10;
    return look;
}

} // namespace

PermissionAccessCard::PermissionAccessCard(KavrelDynamicColor accent, const QString &iconName, const QString &titleKey,
                                           const QString &subtitleKey, std::function<void()> action, QWidget *parent)
    : OnboardingCard(permissionLook(), parent)
    , m_statusBadge(new SetupStatusBadge(QString(), QString(), accent, this))
    , m_actionButton(PermissionActionButton::make(accent, this))
    , m_helpText(new ThemedLabel(QString(), 13, QFont::Medium, KavrelSystemColors::secondaryLabel, this))
{
    const KavrelLocalizationStore &localization = KavrelLocalizationStore::shared();
    contentLayout()->setSpacing(18);

    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    SymbolTile::Look tile;
    tile.shape = SymbolTile::Shape::roundedSquare;
    tile.side = 58;
    tile.cornerRadius = 20;
    tile.fill = accent;
    tile.fillOpacity = 0.14;
    tile.symbolSize = 24;
    tile.symbolColor = accent;
    top->addWidget(new SymbolTile(iconName, tile, this), 0, Qt::AlignTop);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(8);
    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(10);
    titleLine->addWidget(new ThemedLabel(localization.localized(titleKey), 20, QFont::Bold, KavrelSystemColors::label, this));
    titleLine->addWidget(m_statusBadge);
    titleLine->addStretch(1);
    texts->addLayout(titleLine);
    auto *subtitle = new ThemedLabel(localization.localized(subtitleKey), 14, QFont::Normal, KavrelSystemColors::secondaryLabel, this);
    subtitle->setWordWrap(true);
    texts->addWidget(subtitle);
    top->addLayout(texts, 1);
    contentLayout()->addLayout(top);

    auto *bottom = new QHBoxLayout;
    bottom->setSpacing(14);
    bottom->addWidget(m_actionButton, 0, Qt::AlignVCenter);
    m_helpText->setWordWrap(true);
    bottom->addWidget(m_helpText, 1);
    contentLayout()->addLayout(bottom);

    connect(m_actionButton, &QAbstractButton::clicked, this, [action] {
        if (action)
            action();
    });
}

void PermissionAccessCard::setStatus(const Status &status)
{
    // The status badge shows its title as given: the caller localizes it.
    m_statusBadge->setContent(status.statusTitle,
                              status.isActionEnabled ? QStringLiteral("clock.fill") : QStringLiteral("checkmark.circle.fill"),
                              status.statusTint);
    KavrelFocusHold::setAvailable(m_actionButton, status.isActionEnabled);
    PermissionActionButton::setContent(m_actionButton, status.actionTitle, status.actionIconName, status.isActionInProgress);
    m_helpText->setText(KavrelLocalizationStore::shared().localized(status.helpText));
}
