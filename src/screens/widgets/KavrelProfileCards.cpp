#include "screens/widgets/KavrelProfileCards.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelPill.h"
#include "screens/KavrelBillingDisplay.h"
#include "screens/widgets/KavrelAvatarView.h"
#include "screens/widgets/KavrelPaintedWidget.h"
#include "screens/widgets/KavrelScreenButton.h"
#include "screens/widgets/KavrelScreenLabel.h"
#include "screens/widgets/KavrelScreenPanel.h"
#include "screens/widgets/KavrelSymbolView.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace KavrelProfileCards {

namespace {

QString localized(const QString &key)
{
    return KavrelLocalizationStore::shared().localized(key);
}

const KavrelDynamicColor errorTint = KavrelStatusTints::red;
const KavrelDynamicColor accent = kavrelFixed({0.17, 0.54, 0.95, 1});

KavrelScreenPanel *rowPanel(qreal radius)
{
    auto *panel = new KavrelScreenPanel(KavrelScreenPanel::Look{radius});
    panel->setMinimumHeight(50);
    return panel;
}

KavrelScreenLabel *label(const QString &text, int size, QFont::Weight weight, KavrelDynamicColor color)
{
    return new KavrelScreenLabel(text, size, weight, color);
}

} // namespace

QWidget *sectionCard(const QString &title, const std::optional<QString> &subtitle, QWidget *content)
{
    KavrelScreenPanel::Look look;
    look.radius = 28;
    look.fill = KavrelProfileTheme::cardFill;
    auto *card = new KavrelScreenPanel(look);
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(6);
    layout->addWidget(label(localized(title), 24, QFont::Bold, KavrelProfileTheme::primaryText));
    if (subtitle) {
        auto *subtitleLabel = label(localized(*subtitle), 15, QFont::Medium, KavrelProfileTheme::secondaryText);
        subtitleLabel->setWordWrap(true);
        layout->addWidget(subtitleLabel);
    }
    layout->addSpacing(12);
    layout->addWidget(content);
    return card;
}

QWidget *identityHero(const QString &displayName, const QString &email, const QString &initials,
                      const std::optional<QString> &avatarURL, KavrelAvatarLoader *loader)
{
    auto *hero = new KavrelScreenPanel(KavrelScreenPanel::Look{24});
    auto *layout = new QHBoxLayout(hero);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(16);

    KavrelAvatarView::Look avatarLook;
    avatarLook.discSize = 68;
    avatarLook.pictureSize = 60;
    avatarLook.initialsPixelSize = 20;
    avatarLook.surface = KavrelProfileTheme::avatarSurface;
    avatarLook.ring = KavrelProfileTheme::cardBorder;
    auto *avatar = new KavrelAvatarView(loader, avatarLook);
    avatar->setObjectName(QStringLiteral("profileAvatar"));
    avatar->setAvatar(initials, avatarURL);
    layout->addWidget(avatar);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addStretch(1);
    auto *name = label(displayName, 24, QFont::Bold, KavrelProfileTheme::primaryText);
    name->setSelectable(true);
    name->setWordWrap(true);
    auto *address = label(email, 15, QFont::Medium, KavrelProfileTheme::secondaryText);
    address->setSelectable(true);
    texts->addWidget(name);
    texts->addWidget(address);
    texts->addStretch(1);
    layout->addLayout(texts, 1);
    return hero;
}

QWidget *infoRow(const QString &title, const QString &value, const QString &symbol)
{
    auto *row = rowPanel(18);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(16, 8, 16, 8);
    layout->setSpacing(14);
    layout->addWidget(new KavrelSymbolView(symbol, 15, kavrelFixed({0.17, 0.54, 0.95, 1})));
    // Long texts wrap rather than widen the page.
    auto *titleLabel = label(localized(title), 16, QFont::Medium, KavrelProfileTheme::secondaryText);
    titleLabel->setWordWrap(true);
    layout->addWidget(titleLabel, 1);
    auto *valueLabel = label(localized(value), 16, QFont::Medium, KavrelProfileTheme::primaryText);
    valueLabel->setSelectable(true);
    valueLabel->setWordWrap(true);
    valueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(valueLabel, 1);
    return row;
}

QWidget *badge(const QString &title, KavrelDynamicColor tint)
{
    auto *pill = new KavrelPill;
    KavrelPill::Look look;
    look.fill = tint;
    look.fillOpacity = 0.1;
    look.stroke = tint;
    look.strokeOpacity = 0.18;
    look.foreground = tint;
    look.horizontalPadding = 12;
    look.height = 32;
    pill->setLook(look);
    QFont pillFont = pill->font();
    pillFont.setPixelSize(13);
    pillFont.setWeight(QFont::DemiBold);
    pill->setFont(pillFont);
    pill->setText(localized(title));
    return pill;
}

QWidget *billingStatusBadge(const KavrelBillingSummary &summary)
{
    QWidget *statusBadge = badge(KavrelBillingDisplay::statusTitle(summary, KavrelLocalizationStore::shared()),
                                 KavrelBillingDisplay::statusTint(summary));
    statusBadge->setObjectName(QStringLiteral("billingStatusBadge"));
    return statusBadge;
}

QWidget *billingPlanRow(const KavrelBillingSummary &summary, std::function<void()> openBilling)
{
    auto *row = rowPanel(18);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(16, 8, 16, 8);
    layout->setSpacing(14);
    layout->addWidget(new KavrelSymbolView(QStringLiteral("creditcard"), 15, accent));
    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(label(localized(QStringLiteral("Current plan")), 16, QFont::Medium, KavrelProfileTheme::secondaryText));
    auto *plan = label(localized(KavrelBillingDisplay::planName(summary)), 16, QFont::Medium, KavrelProfileTheme::primaryText);
    plan->setWordWrap(true);
    texts->addWidget(plan);
    layout->addLayout(texts, 1);
    if (KavrelBillingDisplay::showsBillingAction(summary)) {
        KavrelCapsuleButton::Look look = KavrelScreenButton::look(KavrelProfileTheme::secondaryText, KavrelProfileTheme::primaryText);
        look.fillOpacity = 0.08;
        look.strokeOpacity = 0.35;
        look.height = 28;
        auto *button = KavrelScreenButton::make(localized(KavrelBillingDisplay::billingActionTitle(summary)), look);
        button->setSymbol(QStringLiteral("arrow.up.right"));
        button->setObjectName(QStringLiteral("billingActionButton"));
        button->setToolTip(localized(QStringLiteral("Open billing in the web app")));
        QObject::connect(button, &QAbstractButton::clicked, row, [openBilling] {
            if (openBilling)
                openBilling();
        });
        layout->addWidget(button);
    }
    return row;
}

// A panel washed with its tint: the colour at 8 % inside a border of it at 18 %.
static KavrelScreenPanel::Look tintedPanelLook(KavrelDynamicColor tint, double radius)
{
    KavrelScreenPanel::Look look;
    look.radius = radius;
    look.fill = tint;
    look.fillOpacity = 0.08;
    look.stroke = tint;
    look.strokeOpacity = 0.18;
    return look;
}

QWidget *statusStrip(const QString &text, KavrelDynamicColor tint)
{
    auto *strip = new KavrelScreenPanel(tintedPanelLook(tint, 16));
    strip->setObjectName(QStringLiteral("statusStrip"));
    auto *layout = new QHBoxLayout(strip);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addWidget(new KavrelPaintedWidget(QSize(22, 22), [tint](QPainter &painter, const QRectF &bounds,
                                                                    const QPalette &palette, qreal) {
        QPainterPath outer;
        outer.addEllipse(bounds.center(), 11, 11);
        painter.fillPath(outer, tint.resolve(palette, 0.14));
        QPainterPath inner;
        inner.addEllipse(bounds.center(), 4, 4);
        painter.fillPath(inner, tint.resolve(palette));
    }), 0, Qt::AlignTop);
    auto *textLabel = label(localized(text), 14, QFont::Medium, KavrelProfileTheme::primaryText);
    textLabel->setObjectName(QStringLiteral("statusStripText"));
    textLabel->setWordWrap(true);
    textLabel->setMinimumHeight(22);
    layout->addWidget(textLabel, 1);
    return strip;
}

QWidget *inlineErrorCard(const QString &text, const QString &actionTitle, std::function<void()> action)
{
    auto *card = new KavrelScreenPanel(tintedPanelLook(errorTint, 20));
    card->setObjectName(QStringLiteral("inlineErrorCard"));
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(14);
    auto *message = label(KavrelLocalizationStore::shared().localizedMessage(text), 15, QFont::Medium, KavrelProfileTheme::primaryText);
    message->setWordWrap(true);
    message->setSelectable(true);
    layout->addWidget(message);
    auto *button = KavrelScreenButton::make(localized(actionTitle), KavrelScreenButton::look(errorTint, errorTint));
    button->setObjectName(QStringLiteral("inlineErrorAction"));
    QObject::connect(button, &QAbstractButton::clicked, card, [action] {
        if (action)
            action();
    });
    layout->addWidget(button, 0, Qt::AlignLeft);
    return card;
}

QWidget *loadingCard(const QString &text)
{
    auto *card = new KavrelScreenPanel(KavrelScreenPanel::Look{20});
    card->setObjectName(QStringLiteral("loadingCard"));
    auto *layout = new QHBoxLayout(card);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);
    auto *spinner = new KavrelPaintedWidget(QSize(20, 20), [](QPainter &painter, const QRectF &bounds, const QPalette &,
                                                              qreal phase) {
        KavrelPainting::drawSpinner(painter, bounds.adjusted(1, 1, -1, -1), QColor::fromRgbF(0.17f, 0.54f, 0.95f), phase);
    });
    spinner->setSpinning(true);
    layout->addWidget(spinner);
    layout->addWidget(label(localized(text), 15, QFont::Medium, KavrelProfileTheme::primaryText), 1);
    return card;
}

} // namespace KavrelProfileCards
