#pragma once

#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;
class QWindow;

// Keeps the program's windows within the screen they are on. A window never asks for more
// room than the screen's free area (its available geometry: the screen without the panels)
// leaves, and it opens inside that area, so a small laptop screen or a 1280 × 720 work area
// shows every window whole. Main thread only.
class KavrelScreenFit final : public QObject
{
    Q_OBJECT

public:
    // What the window manager's decorations take when it has not said yet: a title bar.
    static constexpr int assumedTitleBarHeight = 40;
    // What a desktop's panels may take of a screen's height where nobody tells (a top bar, or a
    // panel at the bottom with its margins).
    static constexpr int assumedPanelsHeight = 64;

    // A screen's free area: its available geometry, where the platform tells one. Under Wayland
    // (and through XWayland, where the compositor's window manager may write no work area)
    // the program learns none (the available geometry is the whole screen) and the desktop's
    // panels still take their room: a band at the top, where those desktops put their bar, is
    // kept free.
    static QRect freeArea(const QScreen *screen);
    // Whether the platform tells the screens' free areas (every one but Wayland does); tests on
    // the offscreen platform set it to stand in for one that does not.
    static void setFreeAreaTold(bool told);

    // The width a window needs for the window manager to show `title` whole in its title bar,
    // beside its icon and its buttons (a bold title in the program's font, as title bars have it).
    static int titleBarWidth(const QString &title);
    // Holds a question box at least as wide as its title bar needs: it sizes itself by its text.
    static void keepTitleWhole(QWidget *questionBox);

    // `wanted` where `room` allows it, else `room`, each side on its own.
    static QSize boundedMinimum(QSize wanted, QSize room);
    // `frame` shrunk to fit `available` when larger and moved inside it.
    static QRect placedInside(const QRect &frame, const QRect &available);

    // Sets the minimum size of `widget` (a window or the content filling one) to `wanted`,
    // limited to what its screen leaves the widget; it follows the widget to another screen.
    static void setMinimumSize(QWidget *widget, QSize wanted);
    // Each time the top-level `window` is shown, it is limited to its screen's free area and,
    // when the program placed it, moved inside it (the window manager places the others). Once
    // the window manager reports decorations other than those assumed, and whenever its
    // screen's free area changes while it is shown, it is fitted again; squeezed by a smaller
    // free area, it returns to what it had once the area allows it. A screen that goes away
    // under a shown window leaves it wholly on a remaining one. A window the window manager
    // placed once comes back where it was left (inside the free area) each time it is shown
    // again; a question box or sheet (a window with a parent) is placed by the window manager
    // over its parent instead. A maximized or full-screen window is left to the window manager,
    // which keeps that state on whichever monitor it takes the window to.
    // Called for a window already on the screen, it moves it wholly inside the free area at
    // once: a window the user asks for comes where it can be seen, however it was left.
    static void keepOnScreen(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit KavrelScreenFit(QWidget *widget);
    static KavrelScreenFit *of(QWidget *widget);
    // The room the widget may take on its screen: the free area without the window's
    // decorations and without what lies above and left of the widget in its window.
    QSize room() const;
    void applyMinimum();
    enum class Placement {
        // Only resized when the window manager placed it; moved too when the program did.
        asPlaced,
        // Only resized: the user or the window manager is moving it.
        sizeOnly,
        // Moved wholly inside the free area, whoever placed it.
        inside,
    };
    // Fits `wanted` (else the window's geometry) inside the free area.
    void fitWindow(Placement placement = Placement::asPlaced, QRect wanted = QRect());
    void refitForScreen(Placement placement = Placement::asPlaced);
    void returnToPlace();
    void refitForLostScreen();
    void applyMinimumsWithin();
    bool isOnScreen() const;
    void followScreen();
    void followFreeArea(QScreen *screen);
    void refitForFreeArea();
    void refitForDecorations();

    QPointer<QWidget> m_widget;
    QMetaObject::Connection m_freeAreaConnection;
    QPointer<QWindow> m_handle;
    QSize m_wantedMinimum;
    // The decorations the last fit reckoned with, and the last the window manager reported.
    QMargins m_fittedDecorations;
    QMargins m_reportedDecorations;
    // What the window had before a smaller free area squeezed it, and what it was squeezed to.
    QRect m_geometryBeforeSqueeze;
    QRect m_squeezedGeometry;
    bool m_boundsMinimum = false;
    bool m_keepsWindowOnScreen = false;
    bool m_followsScreen = false;
    // The window has been on the screen, where the window manager or the program placed it.
    bool m_wasOnScreen = false;
};
