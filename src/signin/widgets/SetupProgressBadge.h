#pragma once

#include <QWidget>

class ProgressAnimation;

// A capsule with a small progress bar (red through blue to green) and a title, such as
// "Setup 75%". The bar never gets narrower than a 12 px stub.
class SetupProgressBadge final : public QWidget
{
    Q_OBJECT

public:
    explicit SetupProgressBadge(QWidget *parent = nullptr);

    // The title is an interface key or a finished text; progress is a fraction.
    void setContent(const QString &title, double progress);
    QString title() const { return m_title; }

    // Width of the bar's fill for a progress.
    static qreal fillWidth(double progress);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_title;
    ProgressAnimation *m_progress;
};
