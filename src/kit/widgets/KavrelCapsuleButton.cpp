#include "kit/widgets/KavrelCapsuleButton.h"

#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelHiddenPause.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
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
    KavrelHiddenPause::install(this, &m_spin);
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
    const double height = m_look.height > 0 ? m_look.height : std::max(28.0, metrics.height() + 12);
    double width = 2 * m_look.horizontalPadding + metrics.horizontalAdvance(text());
    if (!m_symbol.isEmpty())
        width += m_look.symbolSize + (text().isEmpty() ? 0 : m_look.symbolSpacing);
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

void KavrelCapsuleButton::keyPressEvent(QKeyEvent *event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (m_activatesOnReturn && isReturn && isEnabled() && !m_busy) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

QPainterPath KavrelCapsuleButton::shape(double inset, double radiusGrowth) const
{
    const QRectF area = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    if (m_look.cornerRadius < 0)
        return KavrelPainting::capsule(area);
    return KavrelPainting::continuousRoundedRect(area, m_look.cornerRadius + radiusGrowth);
}

void KavrelCapsuleButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool ownDisabledColors = !isEnabled() && m_look.disabled;
    if (!isEnabled() && !ownDisabledColors)
        painter.setOpacity(0.5);
    else if (isDown() && !m_look.darkensWhenPressed)
        painter.setOpacity(0.75);

    if (m_look.drawsBackground) {
        const QPainterPath path = shape(m_look.inset, 0);
        const double hoverBoost = (m_hovered && isEnabled() && !m_busy) ? 1.6 : 1.0;
        const QColor fill = ownDisabledColors ? m_look.disabled->fill.resolve(palette(), m_look.disabled->fillOpacity)
                                              : m_look.fill.resolve(palette(), m_look.fillOpacity * hoverBoost);
        KavrelPainting::fillAndStroke(painter, path, fill, m_look.stroke.resolve(palette(), m_look.strokeOpacity));
        if (isDown() && m_look.darkensWhenPressed)
            painter.fillPath(path, QColor(0, 0, 0, 40));
    }
    if (m_look.showsFocusRing && KavrelFocusRing::shows(this)) {
        painter.setPen(QPen(KavrelSystemColors::accent.resolve(palette(), 0.8), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(shape(1, 1));
    }

    const QColor foreground = ownDisabledColors ? m_look.disabled->foreground.resolve(palette())
                                                : m_look.foreground.resolve(palette());
    const QFontMetricsF metrics(font());
    const double textWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    const double symbolWidth = (m_symbol.isEmpty() && !m_busy) ? 0 : m_look.symbolSize;
    const double gap = (symbolWidth > 0 && textWidth > 0) ? m_look.symbolSpacing : 0;
    const double left = (width() - (symbolWidth + gap + textWidth)) / 2;
    const double symbolX = m_look.symbolTrails ? left + textWidth + gap : left;
    const double textX = m_look.symbolTrails ? left : left + symbolWidth + gap;
    const QRectF symbolRect(symbolX, (height() - m_look.symbolSize) / 2, m_look.symbolSize, m_look.symbolSize);
    if (m_busy)
        KavrelPainting::drawSpinner(painter, symbolRect, foreground, m_spin.currentValue().toDouble());
    else if (!m_symbol.isEmpty())
        (m_look.paintSymbol ? m_look.paintSymbol : KavrelSymbols::paint)(painter, symbolRect, m_symbol, foreground);
    if (textWidth > 0) {
        painter.setPen(foreground);
        painter.setFont(font());
        painter.drawText(QRectF(textX, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }
}
