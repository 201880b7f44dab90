#include "workspace/widgets/WorkspaceButtons.h"

#include "kit/KavrelPalette.h"
#include "workspace/widgets/WorkspaceSymbols.h"

namespace WorkspaceButtons {

namespace {

// White at 0.58 reads as a plate in the light look; in the dark look the same plate is a
// faint lighter grey.
constexpr KavrelDynamicColor inactiveFill = kavrelDynamic({1, 1, 1, 0.58}, {1, 1, 1, 0.08});
constexpr KavrelDynamicColor activeFill = kavrelDynamic({0, 0, 0, 0.08}, {1, 1, 1, 0.16});
constexpr KavrelDynamicColor inactiveBorder = kavrelDynamic({0, 0, 0, 0.06}, {1, 1, 1, 0.06});
constexpr KavrelDynamicColor activeBorder = kavrelDynamic({0, 0, 0, 0.10}, {1, 1, 1, 0.14});

KavrelCapsuleButton::Look toolbarLook(bool isActive)
{
    KavrelCapsuleButton::Look look;
    look.fill = isActive ? activeFill : inactiveFill;
    look.fillOpacity = 1;
    look.brightensOnHover = false;
    look.stroke = isActive ? activeBorder : inactiveBorder;
    look.strokeOpacity = 1;
    look.foreground = isActive ? KavrelSystemColors::label : KavrelSystemColors::secondaryLabel;
    look.cornerRadius = 16;
    look.height = 46;
    look.margins = QMarginsF(0, 0, 0, 6);
    look.shadow = KavrelCapsuleButton::Shadow{.opacity = 0.04, .blurRadius = 10, .offset = QPointF(0, 4)};
    look.alignsLeading = true;
    look.horizontalPadding = 14;
    look.symbolSize = 14;
    look.symbolSpacing = 8;
    look.paintSymbol = WorkspaceSymbols::paint;
    look.darkensWhenPressed = true;
    look.pressedShade = 20;
    look.focusRing = {.inset = 2.5, .radiusGrowth = -2};
    return look;
}

} // namespace

KavrelCapsuleButton *toolbar(QWidget *parent)
{
    auto *button = new KavrelCapsuleButton(parent);
    button->setLook(toolbarLook(false));
    button->setFocusPolicy(Qt::StrongFocus);
    button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    QFont font = button->font();
    font.setPixelSize(13);
    font.setWeight(QFont::DemiBold);
    button->setFont(font);
    return button;
}

void setToolbarContent(KavrelCapsuleButton *button, const QString &title, const QString &symbol, bool isActive)
{
    button->setText(title);
    button->setAccessibleName(title);
    button->setSymbol(symbol);
    button->setLook(toolbarLook(isActive));
}

KavrelIconButton *icon(const QString &symbol, QSize size, double symbolSize, QWidget *parent)
{
    KavrelIconButton::Look look;
    look.symbolSize = symbolSize;
    look.paintSymbol = WorkspaceSymbols::paint;
    look.hoverPlateOpacity = 0.12;
    look.pressedPlateOpacity = 0.22;
    look.disabledOpacity = 0.4;
    auto *button = new KavrelIconButton(look, parent);
    button->setSymbol(symbol);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setFixedSize(size);
    return button;
}

} // namespace WorkspaceButtons
