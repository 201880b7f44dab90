#include "kit/widgets/KavrelFocusLanding.h"

#include "kit/widgets/KavrelFocusHold.h"

#include <QApplication>
#include <QScopedValueRollback>
#include <QWidget>

KavrelFocusLanding::KavrelFocusLanding(QWidget *area, const QList<QWidget *> &landings) : QObject(area), m_area(area)
{
    for (QWidget *landing : landings)
        m_landings.append(landing);
    connect(qApp, &QApplication::focusChanged, this, &KavrelFocusLanding::follow);
}

void KavrelFocusLanding::follow(QWidget *old, QWidget *now)
{
    if (m_landing || !old || !m_area || (old != m_area && !m_area->isAncestorOf(old)))
        return;
    // Focus that moves into another window (a menu, a question) comes back on its own.
    if (now && now->window() != old->window())
        return;
    const bool gone = !old->isVisibleTo(old->window()) || !old->isEnabled();
    if (!gone)
        return;
    // Moved once Qt's move is done, so that a screen reader hears the landing last; window
    // events wait behind it, so no key reaches Qt's choice meanwhile.
    QMetaObject::invokeMethod(
        this, [this, window = QPointer<QWidget>(old->window()), pick = QPointer<QWidget>(now)] { land(window, pick); },
        Qt::QueuedConnection);
}

void KavrelFocusLanding::land(const QPointer<QWidget> &window, const QPointer<QWidget> &pick)
{
    // Unless the keyboard moved on since (the user, or the program on purpose).
    if (!window || window->focusWidget() != pick.data())
        return;
    const QScopedValueRollback<bool> landing(m_landing, true);
    for (const QPointer<QWidget> &candidate : std::as_const(m_landings)) {
        if (candidate && candidate == pick)
            return;
        if (candidate && KavrelFocusHold::takeKeyboard(candidate))
            return;
    }
}
