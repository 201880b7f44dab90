#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

// A control that cannot act for a while (its work runs, the session is busy, a limit is
// reached) yet holds the keyboard. Disabling it would make Qt hand the keyboard to the next
// control in the chain, and the user's next key would press that one instead: a stop, a new
// meeting. Such a control stays enabled while it has the keyboard, draws itself as unavailable,
// tells a screen reader so (its state reads as not enabled, its description says so too) and
// ignores every press, a screen reader's included (KavrelBoundedAccessible.h); once the keyboard
// leaves it, it is disabled as usual. A control without the keyboard is simply disabled. Main
// thread only.
class KavrelFocusHold final : public QObject
{
    Q_OBJECT

public:
    // Whether `control` can act now. Used instead of QWidget::setEnabled for a control that
    // turns itself off while it may have the keyboard.
    static void setAvailable(QWidget *control, bool available);

    // Gives `control` the keyboard (its window's focus), also while it cannot act: it is then
    // held as if it had had the keyboard already. False when it cannot take it (hidden, or
    // disabled for another reason than setAvailable).
    static bool takeKeyboard(QWidget *control);

    // Enabled only to keep the keyboard: drawn and answered as unavailable, presses ignored.
    static bool isHeld(const QWidget *control);
    // Whether the control is drawn as one that can act: enabled and not held.
    static bool looksAvailable(const QWidget *control);

    // What a screen reader hears after the name of a held control.
    static QString unavailableDescription();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit KavrelFocusHold(QWidget *control);
    static KavrelFocusHold *of(const QWidget *control);

    void hold();
    void release(bool available);
    // The keyboard left the control (not only its window): now it may be disabled.
    void settleAfterFocusOut();

    QPointer<QWidget> m_control;
    bool m_unavailable = false;
    bool m_held = false;
    QString m_ownDescription;
};
