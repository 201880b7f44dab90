#include "kit/widgets/KavrelIconButton.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QPainter>

KavrelIconButton::KavrelIconButton(const Look &look, QWidget *parent) : QAbstractButton(parent), m_look(look)
{
    setCursor(Qt::PointingHandCursor);
}

void KavrelIconButton::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    update();
}

void KavrelIconButton::setSymbolColor(const QColor &color)
{
    m_color = color;
    update();
}

void KavrelIconButton::setSurfaceColor(const QColor &color)
{
    m_surface = color;
    update();
}

void KavrelIconButton::setHelpText(const QString &text)
{
    setToolTip(text);
    setAccessibleName(text);
}

void KavrelIconButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void KavrelIconButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void KavrelIconButton::keyPressEvent(QKeyEvent *event)
{
    if (!KavrelButtonKeys::pressOnReturn(this, event))
        QAbstractButton::keyPressEvent(event);
}

void KavrelIconButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath plate =
        KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_look.plateRadius);
    const double plateOpacity = isDown() ? m_look.pressedPlateOpacity : m_hovered ? m_look.hoverPlateOpacity : 0;
    if (KavrelFocusHold::looksAvailable(this) && plateOpacity > 0)
        painter.fillPath(plate, m_look.color.resolve(palette(), plateOpacity));
    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, this,
                           KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(ring, ring, -ring, -ring),
                                                                 m_look.plateRadius - ring),
                           m_surface.value_or(palette().color(QPalette::Window)));
    QColor colour = m_color.value_or(m_look.color.resolve(palette()));
    if (!KavrelFocusHold::looksAvailable(this))
        colour.setAlphaF(colour.alphaF() * m_look.disabledOpacity);
    const double side = m_look.symbolSize;
    const QRectF symbolRect((width() - side) / 2, (height() - side) / 2, side, side);
    (m_look.paintSymbol ? m_look.paintSymbol : KavrelSymbols::paint)(painter, symbolRect, m_symbol, colour);
}
