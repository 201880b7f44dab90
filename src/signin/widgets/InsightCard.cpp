#include "signin/widgets/InsightCard.h"

#include "signin/widgets/SignInTheme.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

OnboardingCard::Look insightLook()
{
    OnboardingCard::Look look;
    look.radius = 28;
    look.fill = SignInTheme::insightCardFill;
    look.border = SignInTheme::insightCardBorder;
    look.shadow = SignInTheme::insightCardShadow;
    look.shadowBlur = 20;
    look.shadowOffset = 12;
    return look;
}

} // namespace

InsightCard::InsightCard(std::optional<KavrelDynamicColor> accent, QWidget *parent)
    : OnboardingCard(insightLook(), parent)
    , m_accent(accent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
}

void InsightCard::paintOverlay(QPainter &painter, const QPainterPath &shape)
{
    if (!m_accent)
        return;
    // A blurred wash of the accent, strongest at the top-leading corner, kept inside the card.
    const QColor accent = m_accent->resolve(palette());
    QColor clear = accent;
    clear.setAlphaF(0);
    QRadialGradient wash(QPointF(0, 0), std::max(width(), height()) * 0.9);
    wash.setColorAt(0, accent);
    wash.setColorAt(0.45, QColor::fromRgbF(accent.redF(), accent.greenF(), accent.blueF(), accent.alphaF() * 0.45));
    wash.setColorAt(1, clear);
    painter.save();
    painter.setClipPath(shape);
    painter.fillPath(shape, wash);
    painter.restore();
}
