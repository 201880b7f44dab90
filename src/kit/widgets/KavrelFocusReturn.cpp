#include "kit/widgets/KavrelFocusReturn.h"

#include <QApplication>
#include <QWidget>

KavrelFocusReturn::KavrelFocusReturn(QWidget *control) : QObject(control), m_control(control)
{
    connect(qApp, &QApplication::focusChanged, this, &KavrelFocusReturn::followFocus);
}

bool KavrelFocusReturn::holdsFocus() const
{
    // The window's focus, active or not: a question over the window may be what has the keyboard.
    return m_control && m_control->window()->focusWidget() == m_control;
}

void KavrelFocusReturn::settle(bool heldBefore)
{
    if (!m_control)
        return;
    const bool canTake = m_control->isEnabled() && m_control->isVisibleTo(m_control->window());
    if (!canTake) {
        if (heldBefore)
            m_waiting = true;
        return;
    }
    if (!m_waiting)
        return;
    m_waiting = false;
    m_control->setFocus(Qt::OtherFocusReason);
}

void KavrelFocusReturn::followFocus(QWidget *old, QWidget *now)
{
    if (!m_waiting || !m_control || !old || !now)
        return;
    // Focus that moves on because the control holding it went (hidden or disabled too), or that
    // comes into or leaves the window, is not the user's choice; a move from a control still
    // there to another in the same window is.
    const QWidget *window = m_control->window();
    if (old->window() == window && now->window() == window && old->isVisible() && old->isEnabled())
        m_waiting = false;
}
