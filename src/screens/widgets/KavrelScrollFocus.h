#pragma once

class QScrollArea;

namespace KavrelScrollFocus {

// Keeps the control that has the keyboard focus in view: whenever the focus moves to a widget
// inside the scroll area, the area scrolls to it, whatever moved the focus.
void follow(QScrollArea *area);

} // namespace KavrelScrollFocus
