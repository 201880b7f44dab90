#include "workspace/widgets/SetupSwitch.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"

#include <QPainter>

SetupSwitch::SetupSwitch(QWidget *parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
}

void SetupSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(1, 2, -1, -2);
    const QColor on = QColor::fromRgbF(0.20, 0.74, 0.40);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(track),
                                  isChecked() ? on : KavrelSystemColors::secondaryLabel.resolve(palette(), 0.45),
                                  QColor::fromRgbF(0, 0, 0, 0.06));
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    QPainterPath circle;
    circle.addEllipse(QRectF(x, track.top() + 2, knob, knob));
    KavrelPainting::drawSoftShadow(painter, circle, QColor::fromRgbF(0, 0, 0, 0.2), 3, QPointF(0, 1));
    painter.fillPath(circle, Qt::white);
    if (hasFocus())
        painter.strokePath(KavrelPainting::capsule(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)),
                           QPen(KavrelSystemColors::accent.resolve(palette()), 1.5));
}
