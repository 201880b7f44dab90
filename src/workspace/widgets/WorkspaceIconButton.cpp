#include "workspace/widgets/WorkspaceIconButton.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/widgets/WorkspaceSymbols.h"

#include <QPainter>

WorkspaceIconButton::WorkspaceIconButton(const QString &symbol, QSize size, double symbolSize, QWidget *parent)
    : QAbstractButton(parent), m_symbol(symbol), m_size(size), m_symbolSize(symbolSize)
{
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(size);
}

void WorkspaceIconButton::setHelpText(const QString &text)
{
    setToolTip(text);
    setAccessibleName(text);
}

void WorkspaceIconButton::setSymbolColor(const QColor &color)
{
    m_color = color;
    update();
}

void WorkspaceIconButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void WorkspaceIconButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void WorkspaceIconButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath plate = KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6);
    if (isEnabled() && (m_hovered || isDown()))
        painter.fillPath(plate, KavrelSystemColors::secondaryLabel.resolve(palette(), isDown() ? 0.22 : 0.12));
    if (hasFocus())
        painter.strokePath(plate, QPen(KavrelSystemColors::accent.resolve(palette()), 1.5));
    QColor colour = m_color.value_or(KavrelSystemColors::secondaryLabel.resolve(palette()));
    if (!isEnabled())
        colour.setAlphaF(colour.alphaF() * 0.4);
    const QRectF symbolRect((width() - m_symbolSize) / 2, (height() - m_symbolSize) / 2, m_symbolSize, m_symbolSize);
    WorkspaceSymbols::paint(painter, symbolRect, m_symbol, colour);
}
