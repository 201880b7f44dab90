#pragma once

class QScrollArea;
class QWidget;

// A screen that scrolls as a whole: a frameless area that scrolls only vertically, wears the
// slim scroll bars (shown while the page is taller than the window) and lets the screen's
// own background show through.
namespace KavrelScrollPage {

// Lays the area out over the whole of `owner`, which has no layout yet, and returns it.
QScrollArea *install(QWidget *owner);
// Puts the finished page into the area, transparent.
void setPage(QScrollArea *area, QWidget *page);

} // namespace KavrelScrollPage
