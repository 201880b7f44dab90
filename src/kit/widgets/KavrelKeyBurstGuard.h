#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <chrono>

class QKeyEvent;
class QWindow;
class QWidget;

// The key that answered a question, closed a notice or pressed a control is often pressed again,
// or held, before the user sees what it did. Where the program moved the keyboard meanwhile (the
// question closed and gave it back to the window, a window came forward or went away, the control
// turned into another: start into stop), the next press lands on a control the user never chose,
// and stops, deletes or switches off what nobody asked about. So a key that presses controls
// (Space, Return, Enter, Select) is not delivered while it belongs to such a burst:
// - pressed again, or repeated by the keyboard, within `burstGap` of its last press, while the
//   keyboard is on another control than the one the burst began on, or the control has turned into
//   another (its name changed);
// - pressed within `burstGap` of one of the program's windows, already on the screen, becoming
//   active on the window manager's account while none of them was (another program's window
//   went away under the keyboard: a second copy's notice), and of every press held back since.
//   A window the program shows or brings forward is not such an arrival: its keys are the
//   user's to give (and its keyboard is on its landing, see KavrelArrivalFocus).
// - reaching the program within `burstGap` of its process being continued after a stop (SIGCONT),
//   and every press held back since: pressed while the program could take none, they were meant
//   for what the screen showed then (a second start's notice that this copy does not answer),
//   and the windowing system hands them over all at once, the window manager's moves between
//   them already past.
// Any other key (Tab among them) or a click ends the burst; so does a pause of `burstGap`, after
// which the same key presses the control it is on the first time. Only the keys of the windowing
// system are held back, not events a program sends to a widget. Main thread only.
class KavrelKeyBurstGuard final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds burstGap{1000};

    // Watches the application's input from now on, and the process being continued; once per
    // application, later calls do nothing.
    static void install();

    // The program asks the windowing system to activate `window` (KavrelWindowFront).
    static void noteActivationAsked(QWindow *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit KavrelKeyBurstGuard(QObject *parent);

    static KavrelKeyBurstGuard *instance();
    bool holdsBack(const QKeyEvent *event);
    void arrive(QWindow *window);
    void beginArrival();
    void expect(QWindow *window);
    void endBurst();

    // The burst's key, the control it began on and that control's name then; none after an
    // arrival from another program, where no control of ours took the first press.
    int m_key = 0;
    QPointer<QWidget> m_target;
    QString m_meaning;
    bool m_fromArrival = false;
    QElapsedTimer m_lastPress;
    bool m_ownWindowActive = false;
    // Windows the program showed, or asked to become active, that have not been active since:
    // the window manager's focus on them is the program's doing.
    // Asked for a while ago and never active, a window comes forward for other reasons. Just
    // activated, it may lose the keyboard and get it back while the window manager catches up.
    struct Expected
    {
        QPointer<QWindow> window;
        QElapsedTimer since;
        QElapsedTimer activated;
    };
    QList<Expected> m_expected;
    // Keys held back whose release has not come yet.
    QSet<int> m_heldBack;
};
