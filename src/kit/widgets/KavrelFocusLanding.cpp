#include "kit/widgets/KavrelFocusLanding.h"

#include "kit/widgets/KavrelFocusHold.h"

#include <QApplication>
#include <QEvent>
#include <QScopedValueRollback>
#include <QWidget>

KavrelFocusLanding::KavrelFocusLanding(QWidget *area, const QList<QWidget *> &landings) : QObject(area), m_area(area)
{
    for (QWidget *landing : landings)
        m_landings.append(landing);
    area->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &KavrelFocusLanding::follow);
}

bool KavrelFocusLanding::holds(const QWidget *widget) const
{
    return widget && m_area && (widget == m_area || m_area->isAncestorOf(widget));
}

void KavrelFocusLanding::follow(QWidget *old, QWidget *now)
{
    if (m_holder && m_holder != m_area)
        m_holder->removeEventFilter(this);
    m_holder = holds(now) ? now : nullptr;
    if (m_holder && m_holder != m_area)
        m_holder->installEventFilter(this);
    if (m_landing)
        return;

    // A hidden control was seen to (below) before Qt moved the keyboard; a disabled one is seen
    // only once Qt has moved it.
    if (!holds(old) || (now && now->window() != old->window()) || old->isEnabled() || m_landings.contains(now))
        return;
    // Moved once Qt's move is done, so that a screen reader hears the landing last; window
    // events wait behind it, so no key reaches Qt's choice meanwhile.
    QMetaObject::invokeMethod(
        this, [this, window = QPointer<QWidget>(old->window()), pick = QPointer<QWidget>(now)] {
            // Unless the keyboard moved on since (the user, or the program on purpose).
            if (window && window->focusWidget() == pick.data())
                land();
        },
        Qt::QueuedConnection);
}

bool KavrelFocusLanding::eventFilter(QObject *watched, QEvent *event)
{
    // Qt tells a widget it is hidden before it moves the keyboard away from it: the keyboard
    // goes straight to the landing and never passes through Qt's choice. A window hidden as a
    // whole (or minimized) keeps its keyboard where it was.
    if (event->type() != QEvent::Hide || event->spontaneous() || m_landing)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    QWidget *holder = widget ? widget->window()->focusWidget() : nullptr;
    if (holder && holds(holder) && (holder == widget || widget->isAncestorOf(holder))
        && !holder->isVisibleTo(holder->window()))
        land();
    return false;
}

void KavrelFocusLanding::land()
{
    const QScopedValueRollback<bool> landing(m_landing, true);
    for (const QPointer<QWidget> &candidate : std::as_const(m_landings)) {
        if (candidate && KavrelFocusHold::takeKeyboard(candidate))
            return;
    }
}
