#pragma once

#include <QWidget>

#include <functional>
#include <optional>

class KavrelListeningMiniView;
class KavrelPresentationStore;
class KavrelSessionSurface;
class UserDefaults;

// The floating "Listening" window: frameless, above other windows, on every desktop, moved by
// dragging its background and resized by dragging its edges, through the window manager; kept
// wholly on a screen. It closes for good (the next one starts afresh).
class KavrelListeningMiniWindow final : public QWidget
{
    Q_OBJECT

public:
    KavrelListeningMiniWindow(KavrelSessionSurface &session, KavrelPresentationStore &presentation, UserDefaults &defaults,
                              std::function<void()> openMainWindow, QWidget *parent = nullptr);

    KavrelListeningMiniView *view() const { return m_view; }
    QSize sizeHint() const override { return QSize(720, 420); }

    // Where a new mini window opens on a screen whose free area is `available`: its preferred
    // size, shrunk to fit but not below its minimum, a margin in from the bottom-right corner,
    // where a floating transcript keeps out of the way. A window larger than the area keeps
    // its top-left corner on the screen.
    static QRect initialGeometry(const QRect &available, QSize preferred, QSize minimum);
    // Where the window is once it has followed the pointer `travelled` from the press, as the
    // window manager would have it: moved with no edges, else those edges moved within the
    // window's least and largest size.
    static QRect followedGeometry(const QRect &geometry, Qt::Edges edges, QPoint travelled, QSize minimum, QSize maximum);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A press on the background (no edges) or on an edge; the window manager takes the move or
    // the resize over only once the pointer moves with the button held.
    struct Press
    {
        QPoint globalPosition;
        Qt::Edges edges;
    };

    void placeGrips();
    bool press(QMouseEvent *event, Qt::Edges edges);
    bool follow(QMouseEvent *event);

    KavrelListeningMiniView *m_view = nullptr;
    QList<QWidget *> m_grips;
    std::optional<Press> m_press;
};
