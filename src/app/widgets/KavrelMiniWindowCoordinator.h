#pragma once

#include "platform/X11WindowList.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

class KavrelWindowListReader;

// Finds, closes, presents and tests the windows of the program for the floating mini window:
// it recognises the main and mini windows, hides the main window while the mini window stands
// in for it (remembering where it was and which application covered it), decides from the
// window manager's list whether the main window is really covered, and keeps the mini window
// above other applications on every desktop.
//
// The main window is the first top-level window titled "КАВРЕЛ"; a mini window is one named
// miniWindowIdentifier or titled with the interface text of "Listening". Main thread only.
class KavrelMiniWindowCoordinator final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *miniWindowIdentifier = "kavrel-listening-mini";

    // The latest list of on-screen windows; none when it cannot be read.
    using WindowListSource = std::function<std::optional<X11WindowListSnapshot>()>;

    explicit KavrelMiniWindowCoordinator(WindowListSource windowList, QObject *parent = nullptr);
    // Over the window list read in the background; each decision asks for a fresh read.
    explicit KavrelMiniWindowCoordinator(KavrelWindowListReader &reader, QObject *parent = nullptr);

    // Asks for a fresh window list for the next decisions (nothing for a plain source).
    void requestWindowListRefresh();

    // Closes (not hides) every mini window; with `restoringMainWindow`, a main window hidden
    // for it comes back.
    void closeMiniWindow(bool restoringMainWindow);
    // Closes the mini window and hides every other visible window of the program, remembering
    // the main window.
    void hideAllWindowsForBackgroundMode();
    // Hides the main window when it is on screen, remembering it, its place and the
    // application that covered it.
    void hideMainWindowIfNeeded();
    // Hides the main window the user closed while listening where no tray shows the program: the
    // mini window stands in for it, whatever covers its place, until the user asks for it back
    // or the session ends, and then it comes back.
    void hideMainWindowClosedWhileListening();
    bool isMiniWindowVisible() const;
    // Keeps every mini window above other windows on all desktops and brings it to the front.
    void presentMiniWindowOverOtherApps();
    // True when the main window is out of sight and the mini window should stand in.
    bool shouldPresentMiniWindow() const;

    QWidget *mainWindow() const;
    QList<QWidget *> miniWindows() const;
    bool isMiniWindow(const QWidget *window) const;

    // The main window hidden for the mini window or for background-only mode, if any.
    QWidget *mainWindowHiddenForMiniWindow() const { return m_mainWindowHiddenForMiniWindow; }
    // Forgets the hidden main window and brings it back to the front; returns it.
    QWidget *restoreHiddenMainWindow();

    // Brings back a main window the user minimized. It takes the keyboard, as a window the
    // window manager restores from minimized does; under Wayland it is shown afresh.
    void restoreMinimizedMainWindow();

    // Called whenever the main window is brought to the screen (see setSettleTime).
    void noteMainWindowRevealed();

    // Sets up a mini window's platform window: stays on top, on every desktop.
    static void configureMiniWindow(QWidget *window);
    // Whether a top-level widget is one of the program's windows. Under an XEmbed tray host
    // the tray icon is a top-level widget of its own, and menus and tooltips are too.
    static bool isProgramWindow(const QWidget *widget);

    // After the main window comes back, the window manager takes a moment to list it again;
    // until then it counts as on screen.
    void setSettleTime(std::chrono::milliseconds time) { m_settleTime = time; }
    void setOwnProcessId(qint64 pid) { m_ownProcessId = pid; }

private:
    void clearRecord();
    void orderFront(QWidget *window);
    bool isSettling() const;

    WindowListSource m_windowList;
    std::function<void()> m_refresh;
    qint64 m_ownProcessId;
    QPointer<QWidget> m_mainWindowHiddenForMiniWindow;
    mutable QPointer<QWidget> m_lastMainWindow;
    std::optional<QRectF> m_hiddenMainWindowBounds;
    std::optional<qint64> m_coveringApplicationPID;
    // The hidden main window was closed by the user, not covered by another application.
    bool m_hiddenMainWindowClosed = false;
    QElapsedTimer m_revealedAt;
    std::chrono::milliseconds m_settleTime{1000};
};
