#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

// One symbol in a theme colour, drawn at `symbolSize` pixels centred in the widget.
class KavrelSymbolView final : public QWidget
{
    Q_OBJECT

public:
    KavrelSymbolView(const QString &symbol, qreal symbolSize, KavrelDynamicColor color, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    void setColor(KavrelDynamicColor color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    qreal m_symbolSize;
    KavrelDynamicColor m_color;
};
