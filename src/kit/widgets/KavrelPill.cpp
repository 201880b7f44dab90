#include "kit/widgets/KavrelPill.h"

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelSymbols.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

KavrelPill::KavrelPill(QWidget *parent) : QWidget(parent)
{
    KavrelAccessibleFactory::registerWidget(staticMetaObject, QAccessible::StaticText);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KavrelPill::setText(const QString &text)
{
    if (text == m_text)
        return;
    // The text is all the pill says, to a screen reader too, unless its owner named it otherwise.
    if (accessibleName().isEmpty() || accessibleName() == m_text)
        setAccessibleName(text);
    m_text = text;
    updateGeometry();
    update();
}

void KavrelPill::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    updateGeometry();
    update();
}

void KavrelPill::setLook(const Look &look)
{
    m_look = look;
    updateGeometry();
    update();
}

QSize KavrelPill::sizeHint() const
{
    const QFontMetricsF metrics(font());
    double width = 2 * m_look.horizontalPadding + metrics.horizontalAdvance(m_text);
    if (!m_symbol.isEmpty())
        width += m_look.height * 0.5 + (m_text.isEmpty() ? 0 : 5);
    return QSize(int(std::ceil(width)), int(std::ceil(m_look.height)));
}

void KavrelPill::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

void KavrelPill::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(area), m_look.fill.resolve(palette(), m_look.fillOpacity),
                                  m_look.stroke.resolve(palette(), m_look.strokeOpacity));
    const QColor foreground = m_look.foreground.resolve(palette());
    double x = m_look.horizontalPadding;
    if (!m_symbol.isEmpty()) {
        const double side = m_look.height * 0.5;
        KavrelSymbols::paint(painter, QRectF(x, (height() - side) / 2, side, side), m_symbol, foreground);
        x += side + 5;
    }
    painter.setPen(foreground);
    painter.setFont(font());
    painter.drawText(QRectF(x, 0, width() - x - m_look.horizontalPadding + 1, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, m_text);
}
