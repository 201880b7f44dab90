#pragma once

#include "kit/widgets/KavrelDeferredRefresh.h"

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>

#include <vector>

class QPainter;
class QWidget;

// Lets a widget that repaints often draw what lies beneath it itself, from a picture taken once.
//
// A see-through widget's every repaint goes through each widget below it: the window's fill, a
// card with its shadow, a tinted box, each blending the whole area again. With the picture the
// widget is opaque to Qt and its repaints stop at it. The picture is what the widgets it lies in
// paint themselves (not their other children, nor siblings of theirs that overlap them: widgets
// laid out side by side), taken again when one of them changes size, place, parent, palette or
// style, or repaints around the widget.
//
// Either the widget's paintEvent calls paint() first and draws nothing when it returns false
// (the picture is being taken), or, for a widget whose painting is not ours (a styled scroll
// bar), the backdrop draws the picture itself before each of the widget's repaints. Main thread
// only.
class KavrelOpaqueBackdrop final : public QObject
{
    Q_OBJECT

public:
    enum class Painting {
        byTheWidget,     // the widget's paintEvent calls paint()
        beforeTheWidget, // the picture is drawn before the widget's own paintEvent runs
    };

    explicit KavrelOpaqueBackdrop(QWidget *widget, Painting painting = Painting::byTheWidget);

    bool paint(QPainter &painter, const QRect &area);
    // The rows of the widget, across its whole width, in which the picture is the same row
    // after row (the inside of a box between its rounded ends): content moved up or down within
    // them may keep its pixels. Empty until a picture has been taken.
    QRect steadyRows() const { return m_steadyRows; }
    // Drops the picture; the next paint takes it again.
    void invalidate();
    // How many pictures have been taken (for tests).
    int pictureCount() const { return m_pictureCount; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchAncestors();
    void takePicture(qreal ratio);

    QWidget *m_widget;
    Painting m_painting;
    // Looks at the widgets beneath again once the events that changed them are through.
    KavrelDeferredRefresh m_rewatch;
    std::vector<QPointer<QWidget>> m_below; // from the widget's parent up to the first opaque one
    QPixmap m_picture;
    QRect m_steadyRows;
    bool m_taking = false;
    int m_pictureCount = 0;
};
