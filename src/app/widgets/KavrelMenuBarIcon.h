#pragma once

#include <QIcon>
#include <QRectF>

class QPainter;

// The tray item's picture: the program's mark, slightly faded while no session is active, with
// a red dot while a session is active and its status is shown.
namespace KavrelMenuBarIcon {

void paint(QPainter &painter, const QRectF &rect, bool isActive, bool showsListeningStatus);
// An icon that draws itself at whatever size and device ratio the tray asks for.
QIcon icon(bool isActive, bool showsListeningStatus);

} // namespace KavrelMenuBarIcon
