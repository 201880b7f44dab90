#pragma once

#include <QPointF>
#include <QWidget>

#include <optional>

// The small tab on the window's leading edge while the sidebar is hidden. A click reveals the
// sidebar, and so does a drag that ends more than 12 px towards the content; shorter drags and
// drags back towards the edge do nothing. Space or Enter reveals it from the keyboard.
class KavrelSidebarRevealTab final : public QWidget
{
    Q_OBJECT

public:
    explicit KavrelSidebarRevealTab(QWidget *parent = nullptr);

    // The tab's outline: straight and flush on the leading side, the two trailing corners
    // rounded by at most `cornerRadius`.
    static QPainterPath shape(const QRectF &rect, qreal cornerRadius);

Q_SIGNALS:
    void revealRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::optional<QPointF> m_pressPosition;
};
