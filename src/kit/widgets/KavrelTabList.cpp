#include "kit/widgets/KavrelTabList.h"

#include <QAccessible>
#include <QWidget>

void KavrelTabList::announceSelectedTab(QWidget *widget) const
{
    const int selected = selectedTab();
    if (!QAccessible::isActive() || !widget->hasFocus() || selected < 0 || selected >= tabCount())
        return;
    QAccessibleEvent event(widget, QAccessible::Focus);
    event.setChild(selected);
    QAccessible::updateAccessibility(&event);
}

void KavrelTabList::keyboardCameTo(QWidget *widget) const
{
    // Qt tells of the keyboard coming to a widget once the widget's focus-in event is handled.
    QMetaObject::invokeMethod(widget, [widget, this] { announceSelectedTab(widget); }, Qt::QueuedConnection);
}
