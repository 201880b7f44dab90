#pragma once

class QAbstractButton;
class QKeyEvent;

namespace KavrelButtonKeys {

// On this desktop Return and Enter press a focused button as Space does. A button's key
// handler asks this first; true when it took the key (and clicked the button if it could).
bool pressOnReturn(QAbstractButton *button, QKeyEvent *event);

} // namespace KavrelButtonKeys
