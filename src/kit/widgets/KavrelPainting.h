#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// Shapes and effects every screen draws with. All sizes are device-independent pixels; the
// painter's device pixel ratio is honoured, so results are sharp on high-DPI screens.
namespace KavrelPainting {

// A rounded rectangle with continuous corners: the curvature eases into the straight edges
// instead of meeting them at a circular arc. A radius larger than the shape allows becomes
// the largest that fits.
QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius);
// A rectangle whose shorter sides are full half circles.
QPainterPath capsule(const QRectF &rect);

// Fills the path, then strokes it with a 1 px line inside its bounds (a border over the fill).
// A transparent colour skips that step.
void fillAndStroke(QPainter &painter, const QPainterPath &path, const QColor &fill, const QColor &stroke,
                   qreal lineWidth = 1.0);

// Fills the path with a linear gradient from `from` at the rectangle's top-leading corner to
// `to` at its bottom-trailing corner (or top to bottom when `vertical`).
void fillGradient(QPainter &painter, const QPainterPath &path, const QColor &from, const QColor &to,
                  bool vertical = false);

// Draws a blurred shadow of the path under where the path itself will be painted. The blurred
// image is kept (a few megabytes at most) and drawn again for the same shape, colour, blur and
// device pixel ratio, wherever it is drawn.
void drawSoftShadow(QPainter &painter, const QPainterPath &path, const QColor &color, qreal blurRadius,
                    QPointF offset = QPointF(0, 2));
// How many shadows this thread has blurred (a kept one drawn again adds nothing), and forgetting
// the kept ones.
quint64 softShadowRenderCount();
void clearSoftShadowCache();

// The colour `progress` (0 to 1) of the way from `from` to `to`, every channel alike.
QColor blend(const QColor &from, const QColor &to, qreal progress);

// Draws the arc of a busy spinner in `rect`; `phase` from 0 to 1 turns it once.
void drawSpinner(QPainter &painter, const QRectF &rect, const QColor &color, qreal phase);

} // namespace KavrelPainting
