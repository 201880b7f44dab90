#pragma once

// Input as the user gives it: sent to the test services' X server (with XTest, by xdotool), so
// the window manager sees every click and decides which window takes it, and a key goes to the
// window that has the keyboard. The event loop runs while the input is sent.

#include <QPoint>
#include <QStringList>

class QWidget;

namespace X11TestInput {

// Moves the pointer to the middle of the widget as it is on the screen and clicks the first
// button there. False when the input could not be sent.
bool click(const QWidget *widget);
bool click(QPoint global);

// Moves the pointer there, without a button held.
bool movePointer(QPoint global);
// Presses the first button there and releases it `heldMs` later (0: at once): a touchpad's tap.
bool tap(QPoint global, int heldMs = 0);
// Presses the first button at `from`, moves the pointer to `to` in a few steps with it held (as
// a hand does, with pauses for the window manager to follow), and releases it there.
bool drag(QPoint from, QPoint to);

// Presses and releases each key in turn (xdotool's names: "Return", "Tab", "Escape", "space").
bool keys(const QStringList &keys);
// The same, one press `apartMs` after the other (0: as fast as the server takes them).
bool keys(const QStringList &keys, int apartMs);
// Presses the key and releases it `heldMs` later, as a hand that holds it: the server repeats it
// meanwhile.
bool holdKey(const QString &key, int heldMs);

} // namespace X11TestInput
