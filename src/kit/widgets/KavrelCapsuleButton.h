#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>
#include <QPainterPath>
#include <QVariantAnimation>

#include <optional>

class QPainter;

// A button drawn as a capsule (or a rounded rectangle) with a symbol and/or a text. While busy
// it shows a spinner in place of its symbol and takes no clicks. Disabled, it is drawn at half
// opacity unless its look has colours of its own for that.
class KavrelCapsuleButton final : public QAbstractButton
{
    Q_OBJECT

public:
    using SymbolPainter = void (*)(QPainter &painter, const QRectF &rect, const QString &symbol, const QColor &color);

    // The colours of a disabled button drawn at full opacity.
    struct DisabledColors
    {
        KavrelDynamicColor fill = KavrelSystemColors::secondaryLabel;
        double fillOpacity = 0.1;
        KavrelDynamicColor foreground = KavrelSystemColors::secondaryLabel;
    };

    struct Look
    {
        KavrelDynamicColor fill = KavrelSystemColors::secondaryLabel;
        double fillOpacity = 0.1;
        KavrelDynamicColor stroke = KavrelSystemColors::secondaryLabel;
        double strokeOpacity = 0.18;
        KavrelDynamicColor foreground = KavrelSystemColors::label;
        double symbolSize = 12;
        double horizontalPadding = 12;
        bool drawsBackground = true;  // false inside a composite control that draws the capsule
        double cornerRadius = -1;     // at or above zero a rounded rectangle, below it a capsule
        double inset = 0.5;           // how far the shape keeps inside the button's rectangle
        double height = 0;            // zero: from the font
        double symbolSpacing = 6;     // between the symbol and the text
        bool symbolTrails = false;    // the symbol after the text instead of before it
        SymbolPainter paintSymbol = nullptr;  // null: KavrelSymbols::paint
        bool showsFocusRing = false;  // an accent ring when focused from the keyboard
        bool darkensWhenPressed = false;  // pressed, the shape darkens instead of the button fading
        std::optional<DisabledColors> disabled;
    };

    explicit KavrelCapsuleButton(QWidget *parent = nullptr);

    void setLook(const Look &look);
    const Look &look() const { return m_look; }
    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    // A fixed size for symbol-only buttons; an empty size sizes the button to its content.
    void setFixedContentSize(QSize size);

    // Return and Enter click the button too, not only Space.
    void setActivatesOnReturn(bool activates) { m_activatesOnReturn = activates; }

    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QPainterPath shape(double inset, double radiusGrowth) const;

    Look m_look;
    QString m_symbol;
    QSize m_fixedSize;
    bool m_busy = false;
    bool m_hovered = false;
    bool m_activatesOnReturn = false;
    QVariantAnimation m_spin;
};
