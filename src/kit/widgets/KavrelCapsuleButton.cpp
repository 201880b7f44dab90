#include "kit/widgets/KavrelCapsuleButton.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelHiddenPause.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLinearGradient>
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
    // Callers set the look again whenever something near it changes; an unchanged one costs
    // no repaint.
    if (look == m_look)
        return;
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
    // A press begun before ends without a click.
    if (busy && isDown())
        setDown(false);
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
    const QMarginsF &margins = m_look.margins;
    return QSize(int(std::ceil(width)) + int(margins.left() + margins.right()),
                 int(std::ceil(height)) + int(margins.top() + margins.bottom()));
}

QSize KavrelCapsuleButton::minimumSizeHint() const
{
    // A button that may shrink cuts its text instead of holding the layout at its full width.
    QSize size = sizeHint();
    if (sizePolicy().horizontalPolicy() & QSizePolicy::ShrinkFlag)
        size.setWidth(-1);
    return size;
}

bool KavrelCapsuleButton::hitButton(const QPoint &position) const
{
    // The whole face takes clicks, not only the capsule; a busy button takes none.
    return !m_busy && face().contains(position);
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
    // A busy button takes the key and does nothing, as it takes no clicks: Space too, which
    // would otherwise press it on release.
    if (m_busy && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space)) {
        event->accept();
        return;
    }
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

QRectF KavrelCapsuleButton::face() const
{
    return QRectF(rect()).marginsRemoved(m_look.margins);
}

QPainterPath KavrelCapsuleButton::shape(double inset, double radiusGrowth) const
{
    const QRectF area = face().adjusted(inset, inset, -inset, -inset);
    if (m_look.cornerRadius < 0)
        return KavrelPainting::capsule(area);
    return KavrelPainting::continuousRoundedRect(area, m_look.cornerRadius + radiusGrowth);
}

QColor KavrelCapsuleButton::faceColour(bool ownDisabledColors) const
{
    if (!m_look.drawsBackground)
        return palette().color(QPalette::Window);
    if (ownDisabledColors)
        return m_look.disabled->fill.resolve(palette(), m_look.disabled->fillOpacity);
    const QColor from = m_look.fill.resolve(palette(), m_look.fillOpacity);
    if (!m_look.fillEnd)
        return from;
    // The ring crosses the whole gradient; its middle stands for it.
    return KavrelPainting::blend(from, m_look.fillEnd->resolve(palette(), m_look.fillEndOpacity), 0.5);
}

void KavrelCapsuleButton::paintFace(QPainter &painter, bool ownDisabledColors)
{
    const QPainterPath path = shape(m_look.inset, 0);
    if (m_look.shadow)
        KavrelPainting::drawSoftShadow(painter, path, m_look.shadow->color.resolve(palette(), m_look.shadow->opacity),
                                       m_look.shadow->blurRadius, m_look.shadow->offset);
    const QColor stroke = m_look.stroke.resolve(palette(), m_look.strokeOpacity);
    if (m_look.fillEnd && !ownDisabledColors) {
        const QColor from = m_look.fill.resolve(palette(), m_look.fillOpacity);
        const QColor to = m_look.fillEnd->resolve(palette(), m_look.fillEndOpacity);
        if (m_look.gradientAcross) {
            const QRectF area = face();
            QLinearGradient gradient(area.left(), area.top(), area.right(), area.top());
            gradient.setColorAt(0, from);
            gradient.setColorAt(1, to);
            painter.fillPath(path, gradient);
        } else {
            KavrelPainting::fillGradient(painter, path, from, to);
        }
        if (stroke.alpha() > 0)
            KavrelPainting::fillAndStroke(painter, path, Qt::transparent, stroke);
    } else {
        const bool hovered = m_hovered && KavrelFocusHold::looksAvailable(this) && !m_busy && m_look.brightensOnHover;
        const QColor fill = ownDisabledColors ? m_look.disabled->fill.resolve(palette(), m_look.disabled->fillOpacity)
                                              : m_look.fill.resolve(palette(), m_look.fillOpacity * (hovered ? 1.6 : 1.0));
        KavrelPainting::fillAndStroke(painter, path, fill, stroke);
    }
    if (isDown() && m_look.darkensWhenPressed)
        painter.fillPath(path, QColor(0, 0, 0, m_look.pressedShade));
}

void KavrelCapsuleButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool available = KavrelFocusHold::looksAvailable(this);
    const bool ownDisabledColors = !available && m_look.disabled;
    if (!available && !ownDisabledColors)
        painter.setOpacity(m_look.disabledOpacity);
    else if (isDown() && !m_look.darkensWhenPressed)
        painter.setOpacity(m_look.pressedOpacity);

    if (m_look.drawsBackground)
        paintFace(painter, ownDisabledColors);
    KavrelFocusRing::paint(painter, this, shape(m_look.focusRing.inset, m_look.focusRing.radiusGrowth),
                           faceColour(ownDisabledColors));

    const QColor foreground = ownDisabledColors ? m_look.disabled->foreground.resolve(palette())
                                                : m_look.foreground.resolve(palette());
    const QRectF area = face();
    const QFontMetricsF metrics(font());
    const double symbolWidth = (m_symbol.isEmpty() && !m_busy) ? 0 : m_look.symbolSize;
    const double fullTextWidth = text().isEmpty() ? 0 : metrics.horizontalAdvance(text());
    const double gap = (symbolWidth > 0 && fullTextWidth > 0) ? m_look.symbolSpacing : 0;
    const double room = area.width() - 2 * m_look.horizontalPadding - symbolWidth - gap;
    const double textWidth = std::max(0.0, std::min(fullTextWidth, room));
    const double left = m_look.alignsLeading ? area.left() + m_look.horizontalPadding
                                             : area.left() + (area.width() - (symbolWidth + gap + textWidth)) / 2;
    const double symbolX = m_look.symbolTrails ? left + textWidth + gap : left;
    const double textX = m_look.symbolTrails ? left : left + symbolWidth + gap;
    const QRectF symbolRect(symbolX, area.top() + (area.height() - m_look.symbolSize) / 2, m_look.symbolSize,
                            m_look.symbolSize);
    if (m_busy)
        KavrelPainting::drawSpinner(painter, symbolRect, foreground, m_spin.currentValue().toDouble());
    else if (!m_symbol.isEmpty())
        (m_look.paintSymbol ? m_look.paintSymbol : KavrelSymbols::paint)(painter, symbolRect, m_symbol, foreground);
    if (textWidth > 0) {
        painter.setPen(foreground);
        painter.setFont(font());
        const QString shown = textWidth < fullTextWidth ? metrics.elidedText(text(), Qt::ElideRight, textWidth) : text();
        painter.drawText(QRectF(textX, area.top(), textWidth + 1, area.height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
    }
}
