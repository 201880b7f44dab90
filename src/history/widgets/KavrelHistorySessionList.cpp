#include "history/widgets/KavrelHistorySessionList.h"

#include "history/widgets/KavrelHistoryAccessibleList.h"
#include "kit/widgets/KavrelAccessibleFactory.h"

KavrelHistorySessionList::KavrelHistorySessionList(QWidget *parent)
    : QListView(parent)
{
    KavrelAccessibleFactory::registerInterface(staticMetaObject, [](QWidget *widget) -> QAccessibleInterface * {
        return new KavrelHistoryAccessibleList(static_cast<KavrelHistorySessionList *>(widget));
    });
}

void KavrelHistorySessionList::announceKeyboard()
{
    if (!QAccessible::isActive())
        return;
    // Qt names the list when it takes the keyboard, after the list has handled its focus: the
    // card's part follows that.
    QMetaObject::invokeMethod(this, [this] {
        if (!hasFocus())
            return;
        if (auto *accessible = dynamic_cast<KavrelHistoryAccessibleList *>(QAccessible::queryAccessibleInterface(this)))
            accessible->announceKeyboard();
    }, Qt::QueuedConnection);
}

void KavrelHistorySessionList::focusInEvent(QFocusEvent *event)
{
    QListView::focusInEvent(event);
    announceKeyboard();
}
