#pragma once

class QWidget;

// Where the keyboard goes when a screen comes into a window. Main thread only.
namespace KavrelArrivalFocus {

// Gives `control` its window's keyboard focus, unless the window holds it in a control the user
// still sees (the sidebar button that brought the screen, the focus a window shown again had).
// The focus stays inside the window: the window is neither raised nor activated for it, so it
// reaches the control once the user brings the window forward.
void give(QWidget *control);

// Gives the first control of `window`'s tab order the focus, unless the window holds it in a
// control the user still sees: for a window whose content is made anew as it loads.
void giveFirst(QWidget *window);

} // namespace KavrelArrivalFocus
