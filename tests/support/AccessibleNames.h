#pragma once

// A button that shows only a symbol tells a screen reader nothing by its face: it must have an
// accessible name of its own (a tooltip is only its description). Checked over a scene's window
// as a screen reader sees it, through the accessibility interface of each button. Screenshots::
// write() runs it for every scene, so a new icon button cannot slip past it.

#include <QStringList>

class QWidget;

namespace AccessibleNames {

// One line for each button shown under `root` (in its window) that has no text of its own and
// no accessible name: a button without a text, and a picker of symbols.
QStringList unnamedIconButtons(QWidget *root);

// Fails the running test with the unnamed buttons of `scene`, naming it `sceneName`.
void verify(QWidget *scene, const QString &sceneName);

} // namespace AccessibleNames
