#include "signin/widgets/SignInSymbolButton.h"

#include "signin/widgets/SignInSymbols.h"

#include <QPainter>

SignInSymbolButton::SignInSymbolButton(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
}

void SignInSymbolButton::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    update();
}

void SignInSymbolButton::setSymbolSize(qreal size)
{
    m_symbolSize = size;
    update();
}

void SignInSymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF square(QRectF(rect()).center() - QPointF(m_symbolSize / 2, m_symbolSize / 2),
                        QSizeF(m_symbolSize, m_symbolSize));
    SignInSymbols::paint(painter, square, m_symbol, KavrelSystemColors::secondaryLabel.resolve(palette()));
}
