#pragma once

// The contrast of every text a scene shows, measured in the scene's rendered picture.
//
// Each widget under the scene's root is painted once more into a recorder that keeps where it
// draws text and in which font, so labels, buttons, line edits (their text or placeholder),
// item delegates and the program's own painted pills and badges are all found the same way.
// In each text's box of the picture the most common pixel is taken as the background and the
// pixel farthest from it, among the few farthest, as the text (so thin antialiased glyph edges
// do not decide); on a background that changes along the line the text is judged against it
// wherever its glyphs stand. The ratio must be 4.5 : 1, 3 : 1 for large text (24 px, or
// 18.66 px bold) and 4.8 : 1 for small text (under 13 px), which a real X server renders
// fainter than these pictures: sizes in the widget's own pixels whatever the picture's device
// pixel ratio.
//
// Disabled controls are exempt, as the accessibility guidelines exempt inactive components.

#include <QList>
#include <QString>

class QImage;
class QWidget;

namespace RenderedContrast {

struct Finding
{
    const QWidget *source = nullptr;
    QString widget; // its class and object name
    QString text;   // the text with the lowest ratio the widget paints
    double ratio = 0;
    double wanted = 0;
};

// Every text under `root` whose contrast in `picture` (a render of `root` at any device pixel
// ratio) is below its threshold.
QList<Finding> unreadableTexts(QWidget *root, const QImage &picture);

// Fails the running test, naming the scene and each unreadable text.
void verify(QWidget *root, const QImage &picture, const QString &scene);

} // namespace RenderedContrast
