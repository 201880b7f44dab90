#pragma once

class QWidget;

// The one way the program brings one of its windows forward: a tray entry, a link, a second
// start, a window opened by name, and the mini window's periodic presentation; and the way a
// window leaves the screen with its questions. Main thread only.
namespace KavrelWindowFront {

// Focus::take when the user asked for the window; Focus::leave when the program shows it on
// its own, which must never take the keyboard from the application the user works in.
enum class Focus { take, leave };

// With Focus::take: puts the window's keyboard on its landing (KavrelArrivalFocus::land), and
// restores the top-level `window` from minimized, shows, raises and activates it. A window the
// user minimized stays unmapped through show() and raise() alone: the window manager keeps it
// iconic until the program asks for its normal state back. Where only the desktop can give a
// minimized window back (Wayland), it is hidden and shown again instead.
// With Focus::leave: shows and raises it without activating it. A window the user minimized
// stays minimized: the window manager focuses a window it restores from minimized.
// A maximized or full-screen window keeps that state. A question open over the window (a modal
// dialog of it) comes in front of it, and with Focus::take has the keyboard.
void bringForward(QWidget *window, Focus focus = Focus::take);
// Whether the user minimized the top-level `window`: Qt's state, or under Wayland, where the
// compositor never says so, a minimize request the window has not been active since.
bool isMinimized(const QWidget *window);
// Hides the top-level `window`. A question open over it goes along and is still open: it comes
// back in front of the window when bringForward() brings the window back. Given a question, it
// sends just that away with its window.
void sendAway(QWidget *window);

} // namespace KavrelWindowFront
