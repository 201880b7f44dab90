#include "workspace/widgets/SurfaceCard.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"

#include <QEvent>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>

namespace {
constexpr KavrelDynamicColor backgroundColor = kavrelDynamic({1, 1, 1, 0.96}, {0.12, 0.13, 0.15, 1});
constexpr KavrelDynamicColor borderColor = kavrelDynamic({0, 0, 0, 0.06}, {1, 1, 1, 0.06});
constexpr KavrelDynamicColor shadowColor = kavrelDynamic({0, 0, 0, 0.08}, {0, 0, 0, 0.26});
// Room for the shadow below and around the card.
constexpr int shadowMargin = 4;
} // namespace

SurfaceCard::SurfaceCard(double contentPadding, QWidget *parent) : QWidget(parent), m_layout(new QVBoxLayout(this))
{
    const int padding = int(contentPadding);
    m_layout->setContentsMargins(padding + shadowMargin, padding + shadowMargin, padding + shadowMargin,
                                 padding + shadowMargin);
    m_layout->setSpacing(0);
}

void SurfaceCard::setAccent(std::optional<QColor> accent)
{
    if (m_accent == accent)
        return;
    m_accent = accent;
    m_background = QPixmap();
    update();
}

void SurfaceCard::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_background = QPixmap();
}

void SurfaceCard::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        m_background = QPixmap();
}

QLabel *SurfaceCard::makeTitleLabel()
{
    auto *title = new QLabel(this);
    title->setTextFormat(Qt::PlainText);
    QFont font = title->font();
    font.setPixelSize(18);
    font.setBold(true);
    title->setFont(font);
    return title;
}

void SurfaceCard::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    if (m_background.isNull() || m_background.devicePixelRatio() != ratio)
        m_background = renderBackground(ratio);
    const QRect area = event->rect();
    painter.drawPixmap(area, m_background, QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
}

QPixmap SurfaceCard::renderBackground(qreal ratio) const
{
    QPixmap pixmap(size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(shadowMargin, shadowMargin - 2, -shadowMargin, -shadowMargin - 2);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(card, cornerRadius);
    KavrelPainting::drawSoftShadow(painter, shape, shadowColor.resolve(palette()), 12, QPointF(0, 4));
    KavrelPainting::fillAndStroke(painter, shape, backgroundColor.resolve(palette()), borderColor.resolve(palette()));
    if (m_accent) {
        // A glow fading from the top-leading corner, kept inside the card's shape.
        painter.setClipPath(shape);
        QRadialGradient glow(card.topLeft() + QPointF(card.width() * 0.15, 0), std::max(card.width(), card.height()) * 0.6);
        QColor clear = *m_accent;
        clear.setAlphaF(0);
        glow.setColorAt(0, *m_accent);
        glow.setColorAt(1, clear);
        painter.fillRect(card, glow);
    }
    return pixmap;
}
