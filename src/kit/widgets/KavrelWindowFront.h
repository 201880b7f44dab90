#pragma once

class QWidget;

// The one way the program brings one of its windows forward: a tray entry, a link, a second
// start, a window opened by name. Main thread only.
namespace KavrelWindowFront {

enum class Focus { take, leave };

// Restores the top-level `window` from minimized, shows and raises it, and with Focus::take
// activates it. A window the user minimized stays unmapped through show() and raise() alone:
// the window manager keeps it iconic until the program asks for its normal state back.
// A maximized or full-screen window keeps that state. A question open over the window (a modal
// dialog of it) comes in front of it, and with Focus::take has the keyboard.
void bringForward(QWidget *window, Focus focus = Focus::take);

} // namespace KavrelWindowFront
