#include "kit/widgets/KavrelArrivalFocus.h"

#include <QVariant>
#include <QWidget>

namespace KavrelArrivalFocus {

namespace {

constexpr char landingName[] = "KavrelArrivalFocus.landing";

bool isShownLanding(const QWidget *widget, const QWidget *window)
{
    return widget && widget->property(landingName).toBool() && widget->isEnabled() && widget->isVisibleTo(window);
}

} // namespace

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

void setLanding(QWidget *widget, bool lands)
{
    if (widget)
        widget->setProperty(landingName, lands ? QVariant(true) : QVariant());
}

void land(QWidget *window)
{
    if (!window || !window->focusWidget() || isShownLanding(window->focusWidget(), window))
        return;
    // The focus chain holds every widget of the window, those Tab passes by too.
    for (QWidget *next = window->nextInFocusChain(); next && next != window; next = next->nextInFocusChain()) {
        if (window->isAncestorOf(next) && isShownLanding(next, window)) {
            next->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

} // namespace KavrelArrivalFocus
