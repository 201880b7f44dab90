#pragma once

class QWidget;

// Where the keyboard goes when a screen comes into a window, or a window is brought forward.
// Main thread only.
namespace KavrelArrivalFocus {

// Gives `control` its window's keyboard focus, unless the window holds it in a control the user
// still sees (the sidebar button that brought the screen, the focus a window shown again had).
// The focus stays inside the window: the window is neither raised nor activated for it, so it
// reaches the control once the user brings the window forward.
void give(QWidget *control);

// Gives the first control of `window`'s tab order the focus, unless the window holds it in a
// control the user still sees: for a window whose content is made anew as it loads.
void giveFirst(QWidget *window);

// Names `widget` as a place for the keyboard of a window the user brings forward from elsewhere
// (another of the program's windows, the tray, a link, a second start): a text to read or a
// screen's heading, which a key can neither press nor switch. The key that brought the window
// is often pressed again, or held, and it goes to the window next; on the control the window
// had before (stop, the microphone, sign out) it would act. A widget that takes no keyboard
// from Tab may be named: it holds the keyboard, and Tab goes on from it to the next control.
// False takes the name back.
void setLanding(QWidget *widget, bool lands = true);

// Puts `window`'s keyboard on the first named landing it shows, in its tab order, unless the
// keyboard is on a shown one already. A window that names none keeps its keyboard where it is,
// and so does a window whose keyboard has no place yet: shown for the first time, its screens
// place it as they arrive (give()).
void land(QWidget *window);

} // namespace KavrelArrivalFocus
