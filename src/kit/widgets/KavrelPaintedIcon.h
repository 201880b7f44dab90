#pragma once

#include <QIcon>
#include <QRectF>

#include <functional>

class QPainter;

// An icon drawn by code at whatever size and device pixel ratio it is asked for.
using KavrelIconPainter = std::function<void(QPainter &painter, const QRectF &rect, QIcon::Mode mode)>;
QIcon kavrelPaintedIcon(KavrelIconPainter painter);
