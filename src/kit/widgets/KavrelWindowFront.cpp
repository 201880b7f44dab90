#include "kit/widgets/KavrelWindowFront.h"

#include <QWidget>
#include <QWindow>

namespace KavrelWindowFront {

namespace {

// Maps a hidden window so that the window manager leaves the keyboard where it is (on X11 its
// user time is 0). The platform reads the request as the window is mapped; later maps on the
// user's behalf activate as usual.
void showWithoutActivating(QWidget *window)
{
    if (window->isVisible() || window->testAttribute(Qt::WA_ShowWithoutActivating)) {
        window->show();
        return;
    }
    window->winId(); // the platform window the request is made on
    QWindow *handle = window->windowHandle();
    const char *property = "_q_showWithoutActivating";
    if (handle)
        handle->setProperty(property, true);
    window->show();
    if (handle)
        handle->setProperty(property, QVariant());
}

} // namespace

void bringForward(QWidget *window, Focus focus)
{
    if (!window)
        return;
    const bool minimized = window->windowState() & Qt::WindowMinimized;
    if (focus == Focus::leave) {
        if (minimized)
            return;
        showWithoutActivating(window);
        window->raise();
        return;
    }
    if (minimized)
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace KavrelWindowFront
