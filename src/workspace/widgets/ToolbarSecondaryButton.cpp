#include "workspace/widgets/ToolbarSecondaryButton.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/widgets/WorkspaceSymbols.h"

#include <QPainter>

namespace {
constexpr int faceHeight = 46;
constexpr int padding = 14;
constexpr int symbolSize = 14;
constexpr int spacing = 8;
constexpr int shadowRoom = 6;
// White at 0.58 reads as a plate in the light look; in the dark look the same plate is a
// faint lighter grey.
constexpr KavrelDynamicColor inactiveFill = kavrelDynamic({1, 1, 1, 0.58}, {1, 1, 1, 0.08});
constexpr KavrelDynamicColor activeFill = kavrelDynamic({0, 0, 0, 0.08}, {1, 1, 1, 0.16});
constexpr KavrelDynamicColor inactiveBorder = kavrelDynamic({0, 0, 0, 0.06}, {1, 1, 1, 0.06});
constexpr KavrelDynamicColor activeBorder = kavrelDynamic({0, 0, 0, 0.10}, {1, 1, 1, 0.14});
} // namespace

ToolbarSecondaryButton::ToolbarSecondaryButton(QWidget *parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void ToolbarSecondaryButton::setContent(const QString &title, const QString &symbol, bool isActive)
{
    setText(title);
    setAccessibleName(title);
    m_symbol = symbol;
    m_isActive = isActive;
    updateGeometry();
    update();
}

QFont ToolbarSecondaryButton::titleFont() const
{
    QFont font = this->font();
    font.setPixelSize(13);
    font.setWeight(QFont::DemiBold);
    return font;
}

QSize ToolbarSecondaryButton::sizeHint() const
{
    return QSize(padding * 2 + symbolSize + spacing + QFontMetrics(titleFont()).horizontalAdvance(text()) + 2,
                 faceHeight + shadowRoom);
}

void ToolbarSecondaryButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    const QRectF face(0.5, 0.5, width() - 1, faceHeight - 1);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(face, 16);
    KavrelPainting::drawSoftShadow(painter, shape, QColor::fromRgbF(0, 0, 0, 0.04), 10, QPointF(0, 4));
    KavrelPainting::fillAndStroke(painter, shape, (m_isActive ? activeFill : inactiveFill).resolve(palette()),
                                  (m_isActive ? activeBorder : inactiveBorder).resolve(palette()));
    if (isDown())
        painter.fillPath(shape, QColor(0, 0, 0, 20));
    const QColor foreground = (m_isActive ? KavrelSystemColors::label : KavrelSystemColors::secondaryLabel).resolve(palette());
    if (hasFocus())
        painter.strokePath(KavrelPainting::continuousRoundedRect(face.adjusted(2, 2, -2, -2), 14),
                           QPen(KavrelSystemColors::accent.resolve(palette()), 1.5));
    WorkspaceSymbols::paint(painter, QRectF(padding, (faceHeight - symbolSize) / 2.0, symbolSize, symbolSize), m_symbol, foreground);
    painter.setPen(foreground);
    painter.setFont(titleFont());
    painter.drawText(QRectF(padding + symbolSize + spacing, 0, width() - padding * 2 - symbolSize - spacing + 2, faceHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}
