#pragma once

#include <QByteArray>
#include <QMarginsF>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// One window that another application shows on screen, as the window manager lists it.
struct X11Window
{
    // Stacking layers, ordered like the window server's levels: a higher layer floats above a lower one.
    static constexpr int normalLayer = 0;
    // Kept above normal windows: the above-state, dialogs, utility, toolbar, menu and splash windows.
    static constexpr int floatingLayer = 3;
    static constexpr int dockLayer = 20;
    // Short-lived overlays: notifications, tooltips, popup and drop-down menus, drag icons.
    static constexpr int overlayLayer = 25;

    quint32 id = 0;                  // the client window, never the window manager's frame
    std::optional<qint64> processId; // _NET_WM_PID
    std::optional<QString> title;    // _NET_WM_NAME, else WM_NAME; absent when the window has neither
    QString instanceName;            // WM_CLASS, first part
    QString className;               // WM_CLASS, second part
    QRectF bounds;                   // the client area in root coordinates, device-independent pixels
    QMarginsF frameExtents;          // the decorations around it (_NET_FRAME_EXTENTS), same units
    int layer = normalLayer;
    double alpha = 1.0;              // _NET_WM_WINDOW_OPACITY; 1 when the window does not set it

    // The window with its decorations: what covers the screen.
    QRectF frameBounds() const { return bounds.marginsAdded(frameExtents); }
};

struct X11WindowListSnapshot
{
    // Front to back. Windows that are hidden, minimised, unmapped or on another desktop, and
    // desktop backgrounds, are left out.
    std::vector<X11Window> windows;
    // The owner of the window that has the focus (_NET_ACTIVE_WINDOW), when it says.
    std::optional<qint64> activeWindowProcessId;
};

// Reads the list of on-screen windows from an EWMH window manager over the X11 protocol.
//
// read() answers "unreadable" (an empty optional, never an empty list) where no list can be
// read: no X server, or an X server without an EWMH window manager. In a Wayland session the X
// server is XWayland, whose list holds only the applications that run as X11 clients: whether
// that counts as a list is the caller's choice. A lost connection is made again on the next read.
//
// A read costs two round trips to the X server whatever the number of windows (all requests
// of one step are sent before the first answer is read): well under a millisecond on a local
// server, but a remote or stuck server can hold it up. Code that reads periodically does so on
// a worker thread. One object is used by one thread at a time.
class X11WindowList final
{
public:
    // What a read gives in a Wayland session.
    enum class UnderWayland {
        // Unreadable: a list that may lack this program's own windows and the native Wayland ones
        // cannot tell what covers a window.
        unreadable,
        // The XWayland clients' windows: enough to find the windows of an application that runs
        // under XWayland.
        xwaylandClients,
    };

    // displayName empty: the display of $DISPLAY. Coordinates are divided by devicePixelRatio
    // (the ratio the program's own windows are drawn with) to give device-independent pixels.
    explicit X11WindowList(QByteArray displayName = {}, double devicePixelRatio = 1.0,
                           UnderWayland underWayland = UnderWayland::unreadable);
    ~X11WindowList();

    X11WindowList(const X11WindowList &) = delete;
    X11WindowList &operator=(const X11WindowList &) = delete;

    std::optional<X11WindowListSnapshot> read();

    // Following changes, read() asks the X server for the whole list again only after the
    // server reported something that can change it: a window mapped, unmapped, moved, resized,
    // restacked or destroyed, or one of the properties read here set on the root or a listed
    // window. Until then it answers the list it read last, without a round trip. Those reports
    // queue on the connection until they are taken: an owner that reads seldom calls
    // takeChanges() whenever connectionDescriptor() turns readable, so none pile up in the
    // server or here.
    void setFollowsChanges(bool follows);
    // The connection's socket; -1 while there is none (before the first read, or once it broke).
    int connectionDescriptor() const;
    void takeChanges();
    // Following changes: true while a read would answer the list it read last, the server
    // having reported nothing that can change it since.
    bool isCurrent() const { return m_followsChanges && m_connection && m_last && !m_changed; }
    // How many times the whole list has been asked of the X server.
    int wholeReadCount() const { return m_wholeReads; }

    // True in a Wayland session, where an X11 window list shows only part of the screen.
    static bool isWaylandSession();

private:
    struct Connection;

    bool connect();
    std::optional<X11WindowListSnapshot> readWhole();

    QByteArray m_displayName;
    double m_devicePixelRatio;
    UnderWayland m_underWayland;
    std::unique_ptr<Connection> m_connection;
    bool m_followsChanges = false;
    bool m_changed = true;
    std::optional<X11WindowListSnapshot> m_last;
    int m_wholeReads = 0;
};
