#include "signin/widgets/PermissionPrimaryButton.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/SignInSymbols.h"
#include "signin/widgets/ThemedLabel.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr qreal capsuleHeight = 58;
constexpr qreal symbolSize = 16;
constexpr qreal spacing = 12;
constexpr qreal horizontalPadding = 26;
// Room around the capsule for its glow.
constexpr qreal glowSide = 14;
constexpr qreal glowBottom = 22;

} // namespace

PermissionPrimaryButton::PermissionPrimaryButton(const QString &titleKey, const QString &symbol, KavrelDynamicColor tint,
                                                 QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_tint(tint)
{
    setText(KavrelLocalizationStore::shared().localized(titleKey));
    setFont(ThemedLabel::font(17, QFont::Bold));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PermissionPrimaryButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const qreal width = 2 * horizontalPadding + symbolSize + spacing + metrics.horizontalAdvance(text());
    return QSize(int(std::ceil(width + 2 * glowSide)), int(capsuleHeight + glowSide / 2 + glowBottom));
}

QRectF PermissionPrimaryButton::capsuleRect() const
{
    return QRectF(glowSide, glowSide / 2, width() - 2 * glowSide, capsuleHeight);
}

bool PermissionPrimaryButton::hitButton(const QPoint &position) const
{
    return capsuleRect().contains(position);
}

void PermissionPrimaryButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.72);
    const QRectF area = capsuleRect();
    const QPainterPath shape = KavrelPainting::capsule(area);
    KavrelPainting::drawSoftShadow(painter, shape, m_tint.resolve(palette(), 0.24), 18, QPointF(0, 10));
    KavrelPainting::fillGradient(painter, shape, m_tint.resolve(palette()), m_tint.resolve(palette(), 0.82));
    if (isDown())
        painter.fillPath(shape, QColor(0, 0, 0, 40));

    const QFontMetricsF metrics(font());
    const qreal contentWidth = symbolSize + spacing + metrics.horizontalAdvance(text());
    const qreal left = area.center().x() - contentWidth / 2;
    QColor white = Qt::white;
    white.setAlphaF(isEnabled() ? 1.0f : 0.72f);
    SignInSymbols::paint(painter, QRectF(left, area.center().y() - symbolSize / 2, symbolSize, symbolSize), m_symbol, white);
    painter.setPen(white);
    painter.setFont(font());
    painter.drawText(QRectF(left + symbolSize + spacing, area.top(), contentWidth, area.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, text());
}
