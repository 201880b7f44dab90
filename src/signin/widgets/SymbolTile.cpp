#include "signin/widgets/SymbolTile.h"

#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/SignInSymbols.h"

#include <QPainter>

SymbolTile::SymbolTile(const QString &symbol, const Look &look, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_look(look)
{
    setFixedSize(int(look.side), int(look.side));
}

void SymbolTile::setSymbol(const QString &symbol, KavrelDynamicColor color)
{
    m_symbol = symbol;
    m_look.symbolColor = color;
    update();
}

void SymbolTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = m_look.fill.resolve(palette(), m_look.fillOpacity);
    if (m_look.shape == Shape::circle) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawEllipse(rect());
    } else if (m_look.shape == Shape::roundedSquare) {
        painter.fillPath(KavrelPainting::continuousRoundedRect(rect(), m_look.cornerRadius), fill);
    }
    const qreal size = m_look.symbolSize;
    SignInSymbols::paint(painter, QRectF(QRectF(rect()).center() - QPointF(size / 2, size / 2), QSizeF(size, size)),
                         m_symbol, m_look.symbolColor.resolve(palette()));
}
