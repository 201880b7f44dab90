#include "screens/widgets/KavrelScreenButton.h"

#include "screens/widgets/KavrelFocusRing.h"

#include "app/widgets/KavrelPainting.h"
#include "screens/widgets/KavrelScreenSymbols.h"

#include <QKeyEvent>
#include <QPainter>

#include <cmath>

KavrelScreenButton::KavrelScreenButton(const QString &text, const Look &look, QWidget *parent)
    : QAbstractButton(parent), m_look(look)
{
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setLook(look);
}

void KavrelScreenButton::setLook(const Look &look)
{
    m_look = look;
    QFont buttonFont = font();
    buttonFont.setPixelSize(look.pixelSize);
    buttonFont.setWeight(look.weight);
    setFont(buttonFont);
    updateGeometry();
    update();
}

QSize KavrelScreenButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    qreal width = metrics.horizontalAdvance(text()) + 2 * m_look.horizontalPadding;
    if (!m_look.trailingSymbol.isEmpty())
        width += m_look.symbolSize + 5;
    return QSize(int(std::ceil(width)), m_look.height);
}

void KavrelScreenButton::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && isEnabled()) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void KavrelScreenButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.5);
    else if (isDown())
        painter.setOpacity(0.75);

    const QRectF area = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(area, m_look.radius);
    const double hover = (underMouse() && isEnabled()) ? 1.6 : 1.0;
    KavrelPainting::fillAndStroke(painter, shape, m_look.tint.resolve(palette(), m_look.fillOpacity * hover),
                                  m_look.tint.resolve(palette(), m_look.strokeOpacity));
    if (KavrelFocusRing::shows(this)) {
        painter.setPen(QPen(KavrelSystemColors::accent.resolve(palette(), 0.8), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), m_look.radius + 1));
    }

    const QColor foreground = m_look.foreground.resolve(palette());
    const QFontMetricsF metrics(font());
    const qreal textWidth = metrics.horizontalAdvance(text());
    const qreal symbolWidth = m_look.trailingSymbol.isEmpty() ? 0 : m_look.symbolSize + 5;
    const qreal x = (width() - textWidth - symbolWidth) / 2;
    painter.setPen(foreground);
    painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    if (symbolWidth > 0) {
        const QRectF symbolRect(x + textWidth + 5, (height() - m_look.symbolSize) / 2, m_look.symbolSize, m_look.symbolSize);
        KavrelScreenSymbols::paint(painter, symbolRect, m_look.trailingSymbol, foreground);
    }
}
