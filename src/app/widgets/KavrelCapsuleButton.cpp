#include "app/widgets/KavrelCapsuleButton.h"

#include "app/widgets/KavrelPainting.h"
#include "app/widgets/KavrelSymbols.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

KavrelCapsuleButton::KavrelCapsuleButton(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_spin.setStartValue(0.0);
    m_spin.setEndValue(1.0);
    m_spin.setDuration(900);
    m_spin.setLoopCount(-1);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void KavrelCapsuleButton::setLook(const Look &look)
{
    m_look = look;
    updateGeometry();
    update();
}

void KavrelCapsuleButton::setSymbol(const QString &symbol)
{
    if (symbol == m_symbol)
        return;
    m_symbol = symbol;
    updateGeometry();
    update();
}

void KavrelCapsuleButton::setFixedContentSize(QSize size)
{
    m_fixedSize = size;
    updateGeometry();
}

void KavrelCapsuleButton::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        m_spin.start();
    else
        m_spin.stop();
    update();
}

QSize KavrelCapsuleButton::sizeHint() const
{
    if (m_fixedSize.isValid())
        return m_fixedSize;
    const QFontMetricsF metrics(font());
    const double height = std::max(28.0, metrics.height() + 12);
    double width = 2 * m_look.horizontalPadding + metrics.horizontalAdvance(text());
    if (!m_symbol.isEmpty())
        width += m_look.symbolSize + (text().isEmpty() ? 0 : 6);
    return QSize(int(std::ceil(width)), int(std::ceil(height)));
}

bool KavrelCapsuleButton::hitButton(const QPoint &position) const
{
    // The whole rectangle takes clicks, not only the capsule; a busy button takes none.
    return !m_busy && rect().contains(position);
}

void KavrelCapsuleButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void KavrelCapsuleButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void KavrelCapsuleButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QAbstractButton::changeEvent(event);
}

void KavrelCapsuleButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    else if (isDown())
        painter.setOpacity(0.75);

    if (m_look.drawsBackground) {
        const double hoverBoost = (m_hovered && isEnabled() && !m_busy) ? 1.6 : 1.0;
        const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(area),
                                      m_look.fill.resolve(palette(), m_look.fillOpacity * hoverBoost),
                                      m_look.stroke.resolve(palette(), m_look.strokeOpacity));
    }

    const QColor foreground = m_look.foreground.resolve(palette());
    const QFontMetricsF metrics(font());
    const double textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    const double symbolWidth = (m_symbol.isEmpty() && !m_busy) ? 0 : m_look.symbolSize;
    const double gap = (symbolWidth > 0 && textWidth > 0) ? 6 : 0;
    double x = (width() - (symbolWidth + gap + textWidth)) / 2;
    const QRectF symbolRect(x, (height() - m_look.symbolSize) / 2, m_look.symbolSize, m_look.symbolSize);
    if (m_busy)
        KavrelPainting::drawSpinner(painter, symbolRect, foreground, m_spin.currentValue().toDouble());
    else if (!m_symbol.isEmpty())
        KavrelSymbols::paint(painter, symbolRect, m_symbol, foreground);
    x += symbolWidth + gap;
    if (textWidth > 0) {
        painter.setPen(foreground);
        painter.setFont(font());
        painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
}
