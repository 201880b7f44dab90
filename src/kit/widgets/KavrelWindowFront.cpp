#include "kit/widgets/KavrelWindowFront.h"

#include <QWidget>

namespace KavrelWindowFront {

void bringForward(QWidget *window, Focus focus)
{
    if (!window)
        return;
    if (window->windowState() & Qt::WindowMinimized)
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    if (focus == Focus::take)
        window->activateWindow();
}

} // namespace KavrelWindowFront
