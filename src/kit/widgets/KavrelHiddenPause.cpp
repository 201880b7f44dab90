#include "kit/widgets/KavrelHiddenPause.h"

#include <QAbstractAnimation>
#include <QEvent>
#include <QWidget>

void KavrelHiddenPause::install(QWidget *widget, QAbstractAnimation *animation)
{
    new KavrelHiddenPause(widget, animation);
}

KavrelHiddenPause::KavrelHiddenPause(QWidget *widget, QAbstractAnimation *animation)
    : QObject(widget), m_widget(widget), m_animation(animation)
{
    widget->installEventFilter(this);
    connect(animation, &QAbstractAnimation::stateChanged, this, [this](QAbstractAnimation::State state) {
        if (state == QAbstractAnimation::Running)
            pauseIfHidden();
        else if (state == QAbstractAnimation::Stopped)
            m_pausedHere = false;
    });
}

void KavrelHiddenPause::pauseIfHidden()
{
    if (!m_widget->isVisible())
        pause();
}

void KavrelHiddenPause::pause()
{
    if (!m_animation || m_animation->state() != QAbstractAnimation::Running)
        return;
    m_pausedHere = true;
    m_animation->pause();
}

bool KavrelHiddenPause::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_widget && m_animation) {
        // A minimised window's widgets get a hide event but stay "visible".
        if (event->type() == QEvent::Hide) {
            pause();
        } else if (event->type() == QEvent::Show && m_pausedHere) {
            m_pausedHere = false;
            if (m_animation->state() == QAbstractAnimation::Paused)
                m_animation->resume();
        }
    }
    return QObject::eventFilter(watched, event);
}
