#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>
#include <QColor>

#include <optional>

class QPainter;

// A borderless button that is only a symbol. Its look may add a faint plate under the pointer
// and while pressed; the kit's focus ring goes round that plate. Disabled, the symbol fades.
class KavrelIconButton final : public QAbstractButton
{
    Q_OBJECT

public:
    using SymbolPainter = void (*)(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color);

    struct Look
    {
        KavrelDynamicColor color = KavrelSystemColors::secondaryLabel;
        double symbolSize = 15;
        SymbolPainter paintSymbol = nullptr;  // null: KavrelSymbols::paint
        double hoverPlateOpacity = 0;         // of the symbol's colour; zero: no plate
        double pressedPlateOpacity = 0;
        double plateRadius = 6;
        double disabledOpacity = 1;  // of the symbol
    };

    explicit KavrelIconButton(const Look &look, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    // A colour of the caller's in place of the look's.
    void setSymbolColor(const QColor &color);
    // The tooltip and the accessible name.
    void setHelpText(const QString &text);
    // What the button lies on, when that is not the window's colour: the focus ring stands out
    // from it.
    void setSurfaceColor(const QColor &color);

    // Its owner fixes its size; layouts that ask for a preferred size get that one.
    QSize sizeHint() const override { return minimumSize(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    Look m_look;
    QString m_symbol;
    std::optional<QColor> m_color;
    std::optional<QColor> m_surface;
    bool m_hovered = false;
};
