#pragma once

#include "kit/KavrelPalette.h"

#include <QAbstractButton>
#include <QMarginsF>
#include <QPainterPath>
#include <QVariantAnimation>

#include <optional>

class QPainter;

// A button drawn as a capsule (or a rounded rectangle) with a symbol and/or a text. While busy
// it shows a spinner in place of its symbol and takes no clicks. Disabled, it is drawn faded
// unless its look has colours of its own for that. A text longer than the button is cut with an
// ellipsis; a button whose size policy lets it shrink may become narrower than its text.
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

        friend bool operator==(const DisabledColors &, const DisabledColors &) = default;
    };

    // A soft shadow or glow under the shape, in the look's margins.
    struct Shadow
    {
        KavrelDynamicColor color = kavrelFixed({0, 0, 0, 1});
        double opacity = 0.2;
        double blurRadius = 12;
        QPointF offset;

        friend bool operator==(const Shadow &, const Shadow &) = default;
    };

    // Where the kit's focus ring lies on this face (its colour and width are the kit's).
    struct FocusRing
    {
        double inset = 1.5;          // of the ring's centre line inside the button's face
        double radiusGrowth = -1.5;  // added to a rounded rectangle's corner radius

        friend bool operator==(const FocusRing &, const FocusRing &) = default;
    };

    struct Look
    {
        KavrelDynamicColor fill = KavrelSystemColors::secondaryLabel;
        double fillOpacity = 0.1;
        // When set, the fill is a gradient from `fill` to this, top-leading to bottom-trailing or,
        // with gradientAcross, from the leading edge to the trailing one.
        std::optional<KavrelDynamicColor> fillEnd;
        double fillEndOpacity = 1;
        bool gradientAcross = false;
        bool brightensOnHover = true;
        KavrelDynamicColor stroke = KavrelSystemColors::secondaryLabel;
        double strokeOpacity = 0.18;
        KavrelDynamicColor foreground = KavrelSystemColors::label;
        double symbolSize = 12;
        double horizontalPadding = 12;
        bool drawsBackground = true;  // false inside a composite control that draws the capsule
        double cornerRadius = -1;     // at or above zero a rounded rectangle, below it a capsule
        double inset = 0.5;           // how far the shape keeps inside the button's rectangle
        double height = 0;            // of the face; zero: from the font
        QMarginsF margins;            // room round the face for its shadow; only the face takes clicks
        std::optional<Shadow> shadow;
        bool alignsLeading = false;   // the content starts at the padding instead of in the middle
        double symbolSpacing = 6;     // between the symbol and the text
        bool symbolTrails = false;    // the symbol after the text instead of before it
        SymbolPainter paintSymbol = nullptr;  // null: KavrelSymbols::paint
        FocusRing focusRing;
        bool darkensWhenPressed = false;  // pressed, the shape darkens instead of the button fading
        int pressedShade = 40;            // the alpha of the black that darkens it
        double pressedOpacity = 0.75;
        double disabledOpacity = 0.5;
        std::optional<DisabledColors> disabled;

        friend bool operator==(const Look &, const Look &) = default;
    };

    explicit KavrelCapsuleButton(QWidget *parent = nullptr);

    void setLook(const Look &look);
    const Look &look() const { return m_look; }
    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    // A fixed size for symbol-only buttons; an empty size sizes the button to its content.
    void setFixedContentSize(QSize size);

    void setBusy(bool busy);
    bool isBusy() const { return m_busy; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &position) const override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QRectF face() const;
    QPainterPath shape(double inset, double radiusGrowth) const;
    void paintFace(QPainter &painter, bool ownDisabledColors);
    QColor faceColour(bool ownDisabledColors) const;

    Look m_look;
    QString m_symbol;
    QSize m_fixedSize;
    bool m_busy = false;
    bool m_hovered = false;
    QVariantAnimation m_spin;
};
