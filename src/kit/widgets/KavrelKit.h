#pragma once

// The widget kit: what every screen draws with. Include this one header.
//
// Colours (kit/KavrelPalette.h)
//   KavrelRGBA{r, g, b, a}               a colour, components 0 … 1.
//   kavrelDynamic(light, dark)           a KavrelDynamicColor. Resolve it when painting, against the
//                                        palette of the widget being painted:
//                                            color.resolve(palette())            or
//                                            color.resolve(palette(), 0.5)       (alpha × 0.5)
//                                        Never keep the resolved QColor: a theme switch only changes
//                                        the palette and calls update().
//   KavrelSystemColors::label, secondaryLabel, textBackground, windowBackground, accent
//   KavrelSettingsTheme / KavrelShellTheme / KavrelProfileTheme / KavrelHistoryTheme: the screen
//                                        themes' colours.
//   kavrelIsDark(palette)                whether a palette is a dark one.
//
// Appearance (the program's app/widgets/KavrelAppearanceController.h)
//   One controller, created by the program over the user defaults, gives the application our light
//   or dark palette: "light"/"dark" stored in "kavrel.appearanceMode" win; "system" follows the
//   desktop portal's colour scheme, else the desktop palette's. KavrelAppearanceController::palette(scheme)
//   is that palette; the desktop's own palette is never applied, so texts read as the tests measure.
//
// Shapes and effects (KavrelPainting.h), in device-independent pixels, sharp at any device ratio:
//   continuousRoundedRect(rect, radius), capsule(rect)           QPainterPaths
//   fillAndStroke(painter, path, fill, stroke, width = 1)        a fill with a border inside it
//   fillGradient(painter, path, from, to, vertical = false)      top-leading → bottom-trailing
//   drawSoftShadow(painter, path, color, blurRadius, offset)     a blurred shadow under the path (kept
//                                                                per shape, colour, blur and ratio)
//   drawSpinner(painter, rect, color, phase)
//
// Symbols (KavrelSymbols.h)
//   KavrelSymbols::paint(painter, rect, "mic.fill", color)  and  KavrelSymbols::icon("checkmark", color)
//   The desktop icon theme's freedesktop icon when it has one, else the program's own drawing; both
//   in the given colour. Drawn: mic, mic.fill, mic.slash.fill, stop.fill, ellipsis, checkmark,
//   waveform, character.bubble, eye.slash, arrow.up.and.down, arrow.left.and.right,
//   rectangle.split.2x1, rectangle.split.1x2, xmark, play.fill, envelope, gearshape,
//   chevron.up.chevron.down, clock, calendar,
//   text.alignleft, text.word.spacing, globe, number, sparkles, doc.on.doc, eye, trash,
//   magnifyingglass, xmark.circle.fill, person. A screen's own symbol file draws only what is
//   not here.
//
// Widgets
//   KavrelPill            a capsule badge: setText, setSymbol, setLook({fill, fillOpacity, ...}).
//   KavrelCapsuleButton   a capsule button (QAbstractButton): setText, setSymbol, setLook,
//                         setFixedContentSize, setBusy(true) shows a spinner and takes no clicks;
//                         disabled draws faded (disabledOpacity). Its Look also gives a rounded
//                         rectangle (cornerRadius), a gradient fill (fillEnd, gradientAcross), a
//                         shadow or glow in margins round the face (only the face takes clicks),
//                         content from the leading padding (alignsLeading), a trailing symbol, a
//                         screen's own symbol painter, where on its face the kit's focus ring lies,
//                         a darker pressed state (pressedShade) and colours of its own when
//                         disabled. Return and Enter click it as Space does. A text too long for
//                         the button is cut with an ellipsis. Screens keep their buttons' looks in
//                         small factories (SignInButtons, WorkspaceButtons, KavrelScreenButton, ...).
//   KavrelIconButton      a borderless button that is only a symbol: its Look gives the colour,
//                         size and painter of the symbol, a faint plate under the pointer and while
//                         pressed, and how much a disabled symbol fades.
//   KavrelLinkButton      a text drawn as a link, underlined under the pointer and while focused.
//   KavrelSwitch          an on/off switch: its Look gives the track's colours and stroke, whether
//                         the knob slides, and the disabled fade.
//   KavrelSplitContainer  two panels with a draggable divider: setPanels(first, second),
//                         setOrientation(Qt::Horizontal = side by side), setFraction, setStyle
//                         (minimum pane, divider size, spacing, clamp range, handle look), signal
//                         fractionDragged(f) for the owner to store. Hiding the second panel lets
//                         the first fill it. The arithmetic is KavrelSplitGeometry (kit/).
//   KavrelSegmentedPicker segments of symbols in a capsule: setValue (a value no segment has
//                         selects none), signal picked(value).
//   kavrelPaintedIcon(painter)  a QIcon drawn by code at any size (KavrelPaintedIcon.h).
//   KavrelSlimScrollBars::apply(area)  thin rounded scroll bars without track or arrows; every
//                         scrolling view (scroll areas, lists, text views) wears them.
//   KavrelScrollPage::install(owner), setPage(area, page)  a screen that scrolls as a whole,
//                         vertically, over the screen's own background.
//   KavrelDeferredRefresh a view's refresh coalesced to one run on the next event-loop turn:
//                         schedule(); the refresh calls done().
//   KavrelOpaqueBackdrop(widget)  a widget that repaints often draws a kept picture of what lies
//                         beneath it (paint() first in its paintEvent), so its repaints stop at it.
//
// Keyboard
//   KavrelFocusRing::paint(painter, control, centreLine, under)  the one focus ring every control
//                         draws (every kit control does already): the accent, 3 : 1 and more
//                         against `under`, shown while the control has the keyboard and its window
//                         is used from the keyboard (a text field: whenever it has the keyboard).
//                         KavrelFocusRing::shows(control) says whether it shows now.
//   KavrelButtonKeys::pressOnReturn(button, event)  Return and Enter press a focused button as
//                         Space does; every button's key handler asks it first.
//   KavrelArrivalFocus::give(control), giveFirst(window)  where the keyboard goes when a screen
//                         arrives or a window's content is made anew.
//   KavrelFocusLanding(area, {landings})  the keyboard of a control in `area` that is hidden or
//                         disabled goes to the first landing that can take it, never to the
//                         neighbour Qt would pick (which may stop, delete or start something).
//   KavrelFocusHold::setAvailable(control, bool)  instead of setEnabled for a control that turns
//                         itself off while it may have the keyboard (busy, at a limit): with the
//                         keyboard it keeps it, looks and reads unavailable and ignores presses;
//                         KavrelFocusHold::looksAvailable(control) is what its painting asks.
//
// Motion
//   KavrelSpring(response, dampingFraction)  a damped spring's motion, ending exactly on its target;
//                         KavrelSpringAnimation(spring) a QVariantAnimation of a number that moves so.
//   KavrelAppearTransition(widget, edge, ms, curve)  setShown(bool) fades the widget in while it
//                         slides in from that edge (and back out); finish() ends it at once.
//   KavrelCrossFade::start(widget, spring)  call before changing a whole view: its old look fades
//                         out over the new one.
//   KavrelHiddenPause::install(widget, animation)  a looping animation (a spinner) holds still while
//                         its widget is hidden.
//
// Screenshots in tests: tests/support/Screenshots.h.

#include "kit/KavrelPalette.h"
#include "kit/KavrelSplitGeometry.h"
#include "kit/widgets/KavrelAppearTransition.h"
#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelButtonKeys.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelCrossFade.h"
#include "kit/widgets/KavrelDeferredRefresh.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelFocusLanding.h"
#include "kit/widgets/KavrelHiddenPause.h"
#include "kit/widgets/KavrelIconButton.h"
#include "kit/widgets/KavrelLinkButton.h"
#include "kit/widgets/KavrelOpaqueBackdrop.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelPaintedIcon.h"
#include "kit/widgets/KavrelPill.h"
#include "kit/widgets/KavrelScrollPage.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "kit/widgets/KavrelSplitContainer.h"
#include "kit/widgets/KavrelSpring.h"
#include "kit/widgets/KavrelSpringAnimation.h"
#include "kit/widgets/KavrelSwitch.h"
#include "kit/widgets/KavrelSymbols.h"
