#pragma once

#include <QAccessible>

struct QMetaObject;
class QWidget;

// What a screen reader is told about the controls that paint themselves. Qt's own interface for
// a checkable button toggles it without a click, so a setting that follows the button's clicks
// never hears of it; and a painted widget is an unnamed filler unless told what it is. Each
// control registers its class here once (its constructor does), and the interface built for it
// reaches the control the way a user does.
//
// Every widget's interface, a control's own or Qt's, stands behind bounds (KavrelBoundedAccessible.h):
// Qt's take a child's index (scroll areas and item views, menus, menu buttons) or a text offset
// (line edits, spin boxes, text views) on trust, and change any text a client on the bus asks to,
// read-only or not. A widget registered with an interface of its own answers for itself.
namespace KavrelAccessibleFactory {

// Puts the factory in front of Qt's own, with what the kit puts between Qt and the accessibility
// bus (KavrelAccessibilityBusGate.h, KavrelKeptFocusAnnouncer.h). It must come after the
// QApplication, which installs Qt's; the first registration does it too, but a window can hold a
// scroll area a screen reader reads before any kit control is made.
void install();

// A button whose every accessible action (press, toggle) is a click, so whatever listens to
// clicked() follows it. `role` is what it reads as (a check box for a switch, a radio button for
// one choice of several); its name is its accessible name, else its text.
void registerButton(const QMetaObject &type, QAccessible::Role role);

// A painted widget that reads as `role` (static text for a label-like capsule) under its
// accessible name. A widget that draws tabs (KavrelTabList.h) reads as a list of its tabs,
// whatever the role.
void registerWidget(const QMetaObject &type, QAccessible::Role role);

// A widget with an interface of its own, built by `build` for each widget of the class.
using Builder = QAccessibleInterface *(*)(QWidget *widget);
void registerInterface(const QMetaObject &type, Builder build);

} // namespace KavrelAccessibleFactory
