#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Keeps the keyboard with a control that goes away for a while (disabled while its action
// runs, hidden in some state): Qt hands the focus on to the next control meanwhile, and may hand
// it on again as that one goes too; once the control can take the focus again it gets it back,
// unless the user moved the focus in that window in between. Main thread only.
class KavrelFocusReturn final : public QObject
{
    Q_OBJECT

public:
    // Lives as long as the control.
    explicit KavrelFocusReturn(QWidget *control);

    // Runs `change`, which may disable, hide, enable or show the control.
    template<typename Change>
    void change(Change &&apply)
    {
        const bool held = holdsFocus();
        apply();
        settle(held);
    }

    bool isWaiting() const { return m_waiting; }

private:
    bool holdsFocus() const;
    void settle(bool heldBefore);
    void followFocus(QWidget *old, QWidget *now);

    QPointer<QWidget> m_control;
    bool m_waiting = false;
};
