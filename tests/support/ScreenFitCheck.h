#pragma once

// What a user of a small screen sees whole, checked while a scene is on the screen:
// - every window shown lies, decorations included, within its screen's free area and can
//   shrink to fit it;
// - every text widget (labels, buttons with a caption) in those windows and in the scene has
//   room for its whole text: word-wrapped text for its width, other text for its line, and no
//   widget is squeezed below the least size it asks for.
// Screenshots::write() runs it for every scene, so a new window or a longer translation cannot
// slip past it.

#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;

namespace ScreenFitCheck {

// One line per fault, empty when everything fits.
QStringList faults(QWidget *scene);

// Fails the running test with the faults of `scene`, naming it `sceneName`.
void verify(QWidget *scene, const QString &sceneName);

// Sizes a scene's window as the program sizes its own: `wanted`, as far as the free area of
// its screen allows, now and each time it is shown.
void resizeWindow(QWidget *window, QSize wanted);

} // namespace ScreenFitCheck
