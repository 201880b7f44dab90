#include "screens/widgets/KavrelSymbolView.h"

#include "screens/widgets/KavrelScreenSymbols.h"

#include <QPainter>

#include <cmath>

KavrelSymbolView::KavrelSymbolView(const QString &symbol, qreal symbolSize, KavrelDynamicColor color, QWidget *parent)
    : QWidget(parent), m_symbol(symbol), m_symbolSize(symbolSize), m_color(color)
{
    const int side = int(std::ceil(symbolSize * 1.2));
    setFixedSize(side, side);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void KavrelSymbolView::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    update();
}

void KavrelSymbolView::setColor(KavrelDynamicColor color)
{
    m_color = color;
    update();
}

void KavrelSymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(m_symbolSize, m_symbolSize));
    KavrelScreenSymbols::paint(painter, area.translated(QRectF(rect()).center() - area.center()), m_symbol,
                               m_color.resolve(palette()));
}
