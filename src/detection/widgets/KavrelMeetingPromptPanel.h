#pragma once

#include <QPainterPath>
#include <QWidget>

// The floating window of a meeting prompt: frameless, above normal windows, on every desktop,
// outside the taskbar, and never taking the focus when shown. It draws the rounded
// background with its outline and hosts one prompt view; dragging the background moves it
// through the window manager.
class KavrelMeetingPromptPanel final : public QWidget
{
    Q_OBJECT

public:
    // `size` is the panel's size; it grows wider when the view needs more room.
    KavrelMeetingPromptPanel(QSize size, QWidget *view);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static constexpr double cornerRadius = 18;
    QPainterPath outline() const;
    bool m_translucent = true;
};
