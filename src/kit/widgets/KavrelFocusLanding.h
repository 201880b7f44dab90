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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool holds(const QWidget *widget) const;
    void follow(QWidget *old, QWidget *now);
    void land();

    QPointer<QWidget> m_area;
    QList<QPointer<QWidget>> m_landings;
    // The control in the area with its window's keyboard, watched for going away.
    QPointer<QWidget> m_holder;
    bool m_landing = false;
};
