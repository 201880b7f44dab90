#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

// Where the keyboard goes when the control holding it goes away: hidden (alone or with the part
// of the window around it) or disabled. Qt hands it to the next control in the chain, one the
// user never chose, and the next key presses that one: a stop, a new meeting, a delete. Within
// `area`, it goes to the first of `landings` that can take it instead (one that cannot act for
// now is held, see KavrelFocusHold). Main thread only.
class KavrelFocusLanding final : public QObject
{
    Q_OBJECT

public:
    // Lives as long as `area`.
    KavrelFocusLanding(QWidget *area, const QList<QWidget *> &landings);

private:
    void follow(QWidget *old, QWidget *now);
    void land(const QPointer<QWidget> &window, const QPointer<QWidget> &pick);

    QPointer<QWidget> m_area;
    QList<QPointer<QWidget>> m_landings;
    bool m_landing = false;
};
