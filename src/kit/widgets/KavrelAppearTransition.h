#pragma once

#include <QEasingCurve>
#include <QObject>
#include <QPointer>
#include <QVariantAnimation>

class QWidget;

// Shows and hides a widget by fading it in while it slides in from one of its own edges, and
// the reverse. It animates only while the widget's parent is on screen; otherwise the widget
// just shows or hides. Once settled the widget is left exactly as plain show()/hide() leave it.
class KavrelAppearTransition final : public QObject
{
    Q_OBJECT

public:
    KavrelAppearTransition(QWidget *target, Qt::Edge edge, int durationMs, const QEasingCurve &curve);

    void setShown(bool shown);
    bool isShown() const { return m_shown; }
    bool isRunning() const { return m_animation.state() == QAbstractAnimation::Running; }
    // Ends a running transition at its end state.
    void finish();

private:
    void follow(double progress);
    void settle();

    QPointer<QWidget> m_target;
    Qt::Edge m_edge;
    QVariantAnimation m_animation;
    double m_progress = 1;
    bool m_shown = true;
};
