#include "app/widgets/KavrelMenuBarIcon.h"

#include "kit/widgets/KavrelPaintedIcon.h"
#include "kit/widgets/KavrelPainting.h"

#include <QPainter>
#include <QPainterPath>

namespace KavrelMenuBarIcon {

namespace {

const QColor sessionRed = QColor::fromRgbF(0.92f, 0.05f, 0.08f);

} // namespace

void paint(QPainter &painter, const QRectF &rect, bool isActive, bool showsListeningStatus)
{
    const qreal side = std::min(rect.width(), rect.height());
    const QRectF square(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isActive ? 1.0 : 0.82);

    // A blue rounded badge with a white sound wave: readable on light and dark panels alike.
    const QRectF badge = square.adjusted(side * 0.06, side * 0.06, -side * 0.06, -side * 0.06);
    KavrelPainting::fillGradient(painter, KavrelPainting::continuousRoundedRect(badge, badge.width() * 0.22),
                                 QColor::fromRgbF(0.16f, 0.56f, 0.95f), QColor::fromRgbF(0.08f, 0.36f, 0.80f), true);
    QPainterPath wave;
    const qreal heights[] = {0.22, 0.46, 0.66, 0.38, 0.54};
    for (int i = 0; i < 5; ++i) {
        const qreal x = badge.left() + badge.width() * (0.22 + 0.14 * i);
        const qreal half = badge.height() * heights[i] / 2;
        wave.moveTo(x, badge.center().y() - half);
        wave.lineTo(x, badge.center().y() + half);
    }
    painter.strokePath(wave, QPen(Qt::white, std::max<qreal>(1.2, side * 0.085), Qt::SolidLine, Qt::RoundCap));

    if (isActive && showsListeningStatus) {
        // The dot sits on the top-right corner with a ring that keeps it apart from the badge.
        const qreal diameter = side * 0.42;
        const QRectF dot(square.right() - diameter, square.top(), diameter, diameter);
        painter.setOpacity(1.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(dot);
        painter.setBrush(sessionRed);
        painter.drawEllipse(dot.adjusted(side * 0.05, side * 0.05, -side * 0.05, -side * 0.05));
    }
    painter.restore();
}

QIcon icon(bool isActive, bool showsListeningStatus)
{
    return kavrelPaintedIcon([isActive, showsListeningStatus](QPainter &painter, const QRectF &rect, QIcon::Mode) {
        paint(painter, rect, isActive, showsListeningStatus);
    });
}

} // namespace KavrelMenuBarIcon
