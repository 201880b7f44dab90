#include "kit/widgets/KavrelButtonKeys.h"

#include "kit/widgets/KavrelFocusHold.h"

#include <QAbstractButton>
#include <QKeyEvent>

namespace KavrelButtonKeys {

bool pressOnReturn(QAbstractButton *button, QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    if (event->modifiers() & ~Qt::KeypadModifier)
        return false;
    if (!event->isAutoRepeat() && KavrelFocusHold::looksAvailable(button))
        button->click();
    event->accept();
    return true;
}

} // namespace KavrelButtonKeys
