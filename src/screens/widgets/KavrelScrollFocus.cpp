#include "screens/widgets/KavrelScrollFocus.h"

#include <QApplication>
#include <QPointer>
#include <QScrollArea>

namespace KavrelScrollFocus {

void follow(QScrollArea *area)
{
    QPointer<QScrollArea> target(area);
    QObject::connect(qApp, &QApplication::focusChanged, area, [target](QWidget *, QWidget *now) {
        if (target && now && target->widget() && target->widget()->isAncestorOf(now))
            target->ensureWidgetVisible(now, 16, 16);
    });
}

} // namespace KavrelScrollFocus
