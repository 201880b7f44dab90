#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>

// A borderless button that is just a symbol, in the secondary text colour.
class SignInSymbolButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit SignInSymbolButton(QWidget *parent = nullptr);

    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    void setSymbolSize(qreal size);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    qreal m_symbolSize = 15;
};
