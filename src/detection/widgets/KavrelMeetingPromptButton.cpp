#include "detection/widgets/KavrelMeetingPromptButton.h"

#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

KavrelMeetingPromptButton::KavrelMeetingPromptButton(const Look &look, QWidget *parent)
    : QAbstractButton(parent), m_look(look)
{
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
}

QSize KavrelMeetingPromptButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    double width = 2 * m_look.horizontalPadding + metrics.horizontalAdvance(text());
    if (!m_look.symbol.isEmpty())
        width += m_look.symbolSize + symbolGap;
    return QSize(int(std::ceil(width)), m_look.height);
}

void KavrelMeetingPromptButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.8);

    const QPainterPath shape = KavrelPainting::continuousRoundedRect(QRectF(rect()), 12);
    const QColor fill = m_look.fill.resolve(palette(), m_look.fillOpacity);
    if (m_look.gradientEnd)
        KavrelPainting::fillGradient(painter, shape, fill, m_look.gradientEnd->resolve(palette(), m_look.fillOpacity));
    else
        painter.fillPath(shape, fill);

    const QColor foreground = m_look.foreground.resolve(palette());
    const QFontMetricsF metrics(font());
    const double textWidth = metrics.horizontalAdvance(text());
    const double symbolWidth = m_look.symbol.isEmpty() ? 0 : m_look.symbolSize + symbolGap;
    const double x = (width() - symbolWidth - textWidth) / 2;
    if (!m_look.symbol.isEmpty()) {
        const QRectF symbolRect(x, (height() - m_look.symbolSize) / 2, m_look.symbolSize, m_look.symbolSize);
        KavrelSymbols::paint(painter, symbolRect, m_look.symbol, foreground);
    }
    painter.setPen(foreground);
    painter.setFont(font());
    painter.drawText(QRectF(x + symbolWidth, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}
