#include "kit/widgets/KavrelFocusHold.h"

#include "localization/KavrelLocalizationStore.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

namespace {

bool holdsKeyboard(const QWidget *control)
{
    // The window's focus, active or not: a question over the window, or its menu, may have the
    // keyboard for a moment, and it comes back to this control.
    return control->window()->focusWidget() == control;
}

// Keys that would act on the control; Tab, the arrows and the rest still move the keyboard on.
bool pressesTheControl(const QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
    case Qt::Key_Menu:
        return true;
    default:
        return false;
    }
}

// Tells a screen reader the control is, or is no longer, one that can act.
void tellAvailabilityChanged(QWidget *control)
{
    if (!QAccessible::isActive())
        return;
    QAccessible::State changed;
    changed.disabled = true;
    QAccessibleStateChangeEvent event(control, changed);
    QAccessible::updateAccessibility(&event);
}

} // namespace

KavrelFocusHold::KavrelFocusHold(QWidget *control) : QObject(control), m_control(control)
{
}

KavrelFocusHold *KavrelFocusHold::of(const QWidget *control)
{
    return control ? control->findChild<KavrelFocusHold *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void KavrelFocusHold::setAvailable(QWidget *control, bool available)
{
    if (!control)
        return;
    KavrelFocusHold *hold = of(control);
    if (available) {
        if (hold) {
            hold->m_unavailable = false;
            hold->release(true);
        }
        control->setEnabled(true);
        return;
    }
    if (!hold)
        hold = new KavrelFocusHold(control);
    hold->m_unavailable = true;
    if (hold->m_held)
        return;
    if (!control->isEnabled() || !holdsKeyboard(control)) {
        control->setEnabled(false);
        return;
    }
    hold->hold();
}

bool KavrelFocusHold::takeKeyboard(QWidget *control)
{
    if (!control || !control->isVisibleTo(control->window()))
        return false;
    KavrelFocusHold *hold = of(control);
    const bool waiting = hold && hold->m_unavailable && !hold->m_held;
    if (waiting)
        control->setEnabled(true);
    if (!control->isEnabled())
        return false;
    control->setFocus(Qt::OtherFocusReason);
    if (!holdsKeyboard(control)) {
        if (waiting)
            control->setEnabled(false);
        return false;
    }
    if (waiting)
        hold->hold();
    return true;
}

bool KavrelFocusHold::isHeld(const QWidget *control)
{
    const KavrelFocusHold *hold = of(control);
    return hold && hold->m_held;
}

bool KavrelFocusHold::looksAvailable(const QWidget *control)
{
    return control->isEnabled() && !isHeld(control);
}

QString KavrelFocusHold::unavailableDescription()
{
    return KavrelLocalizationStore::shared().localized(QStringLiteral("Unavailable right now"));
}

void KavrelFocusHold::hold()
{
    m_held = true;
    // A press begun before the control stopped acting ends without a click.
    if (auto *button = qobject_cast<QAbstractButton *>(m_control.data()); button && button->isDown())
        button->setDown(false);
    m_control->installEventFilter(this);
    m_ownDescription = m_control->accessibleDescription();
    m_control->setAccessibleDescription(m_ownDescription.isEmpty()
                                            ? unavailableDescription()
                                            : QStringLiteral("%1. %2").arg(m_ownDescription, unavailableDescription()));
    m_control->update();
    tellAvailabilityChanged(m_control);
}

void KavrelFocusHold::release(bool available)
{
    if (!m_held)
        return;
    m_held = false;
    m_control->removeEventFilter(this);
    m_control->setAccessibleDescription(m_ownDescription);
    // Unavailable it stays, now disabled as well (which Qt tells of).
    if (available)
        tellAvailabilityChanged(m_control);
    else
        m_control->setEnabled(false);
    m_control->update();
}

void KavrelFocusHold::settleAfterFocusOut()
{
    if (m_held && m_control && !holdsKeyboard(m_control))
        release(false);
}

bool KavrelFocusHold::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_control || !m_held)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::ContextMenu:
    case QEvent::Shortcut:
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return pressesTheControl(static_cast<QKeyEvent *>(event));
    case QEvent::FocusOut:
        // Decided once the move is done: the window going inactive keeps its focus widget.
        QMetaObject::invokeMethod(this, &KavrelFocusHold::settleAfterFocusOut, Qt::QueuedConnection);
        return false;
    default:
        return false;
    }
}
