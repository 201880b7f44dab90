#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

// A symbol in one colour, optionally on a tinted circle or rounded square.
class SymbolTile final : public QWidget
{
    Q_OBJECT

public:
    enum class Shape { none, circle, roundedSquare };

    struct Look
    {
        Shape shape = Shape::none;
        qreal side = 24;          // of the tile
        qreal cornerRadius = 0;   // of the rounded square
        KavrelDynamicColor fill = KavrelSystemColors::secondaryLabel;
        double fillOpacity = 0;
        qreal symbolSize = 16;
        KavrelDynamicColor symbolColor = KavrelSystemColors::secondaryLabel;
    };

    SymbolTile(const QString &symbol, const Look &look, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol, KavrelDynamicColor color);
    QString symbol() const { return m_symbol; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    Look m_look;
};
