#pragma once

#include "kit/KavrelPalette.h"

#include <QWidget>

// The grab handle between the two panels of a KavrelSplitContainer. It shows the resize cursor
// of its axis while the pointer is over it (set on the handle itself, so leaving it or the
// handle going away never leaves the cursor behind) and reports drag positions once the
// pointer has moved far enough from where it was pressed.
class KavrelSplitDivider final : public QWidget
{
    Q_OBJECT

public:
    struct Look
    {
        double handleLength = 24;     // across the split
        double handleThickness = 3;   // along the split
        double handleRadius = 2;
        KavrelDynamicColor handleColor = KavrelSystemColors::secondaryLabel;
        double handleOpacity = 0.2;
        bool showsArrows = false;     // the two-way arrow over the handle
        double minimumDragDistance = 10;
    };

    explicit KavrelSplitDivider(QWidget *parent = nullptr);

    void setLook(const Look &look);
    // Qt::Horizontal: the panels stand side by side and the divider moves left and right.
    void setOrientation(Qt::Orientation orientation);
    Qt::Orientation orientation() const { return m_orientation; }

Q_SIGNALS:
    // The pointer's position in the parent's coordinates along the split axis.
    void dragged(double position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Look m_look;
    Qt::Orientation m_orientation = Qt::Horizontal;
    QPointF m_pressPosition;
    bool m_pressed = false;
    bool m_dragging = false;
};
