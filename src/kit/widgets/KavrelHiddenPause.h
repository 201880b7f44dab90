#pragma once

#include <QObject>
#include <QPointer>

class QAbstractAnimation;
class QWidget;

// Holds an animation still while the widget that shows it is hidden (with its window, a parent or
// itself) and lets it go on when the widget shows again, so a spinner nobody sees does not wake
// the program sixty times a second. An animation started while its widget is hidden waits too.
class KavrelHiddenPause final : public QObject
{
    Q_OBJECT

public:
    // The pause lives as long as the widget; the animation must live at least as long.
    static void install(QWidget *widget, QAbstractAnimation *animation);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    KavrelHiddenPause(QWidget *widget, QAbstractAnimation *animation);
    void pauseIfHidden();
    void pause();

    QWidget *m_widget;
    QPointer<QAbstractAnimation> m_animation;
    bool m_pausedHere = false;
};
