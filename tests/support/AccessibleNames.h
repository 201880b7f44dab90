#pragma once

// What a screen reader reads of a scene, checked over its window through the accessibility
// interface of each control, as a screen reader sees it. Screenshots::write() runs it for every
// scene, so a new control cannot slip past it:
// - a button that shows only a symbol tells nothing by its face: it has an accessible name of
//   its own (a tooltip is only its description);
// - every control that takes the keyboard has a name, and none reads as a plain filler;
// - a segmented picker takes the keyboard, offers an action and names each segment.

#include <QStringList>

class QWidget;

namespace AccessibleNames {

// One line for each button shown under `root` (in its window) that has no text of its own and
// no accessible name: a button without a text, and a picker of symbols.
QStringList unnamedIconButtons(QWidget *root);

// One line for each control shown in the window of `root` that takes the keyboard focus and has
// no name or reads as a filler, and for each picker that a keyboard or a screen reader cannot
// work.
QStringList unnamedControls(QWidget *root);

// Fails the running test with what the two above find in `scene`, naming it `sceneName`.
void verify(QWidget *scene, const QString &sceneName);

} // namespace AccessibleNames
