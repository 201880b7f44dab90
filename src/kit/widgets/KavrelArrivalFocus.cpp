#include "kit/widgets/KavrelArrivalFocus.h"

#include <QWidget>

namespace KavrelArrivalFocus {

void give(QWidget *control)
{
    if (!control)
        return;
    QWidget *window = control->window();
    if (!control->isEnabled() || !control->isVisibleTo(window))
        return;
    // The screen that held it was taken out of the window, or nothing ever had it.
    const QWidget *focused = window->focusWidget();
    if (focused && focused->isVisibleTo(window))
        return;
    control->setFocus(Qt::OtherFocusReason);
}

void giveFirst(QWidget *window)
{
    const QWidget *focused = window->focusWidget();
    if (focused && focused != window && focused->isVisibleTo(window))
        return;
    for (QWidget *next = window->nextInFocusChain(); next && next != window; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && next->isEnabled() && window->isAncestorOf(next)
            && next->isVisibleTo(window)) {
            next->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

} // namespace KavrelArrivalFocus
