#include "platform/X11WindowList.h"

#include <QList>

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace {

// Replies are malloc'ed by xcb.
struct FreeDeleter
{
    void operator()(void *pointer) const { std::free(pointer); }
};
template<typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// Takes a reply and drops its error. Every request goes through here: an error of a request
// whose reply is read without an error pointer would queue as an event that nobody reads.
template<typename Reply, typename Cookie>
XcbReply<Reply> takeReply(Reply *(*replyFunction)(xcb_connection_t *, Cookie, xcb_generic_error_t **),
                          xcb_connection_t *connection, Cookie cookie)
{
    xcb_generic_error_t *error = nullptr;
    XcbReply<Reply> reply(replyFunction(connection, cookie, &error));
    std::free(error);
    return reply;
}

XcbReply<xcb_get_property_reply_t> takeProperty(xcb_connection_t *connection, xcb_get_property_cookie_t cookie)
{
    return takeReply(&xcb_get_property_reply, connection, cookie);
}

// The 32-bit items of a property of format 32.
std::vector<quint32> cardinals(const xcb_get_property_reply_t *reply)
{
    std::vector<quint32> values;
    if (!reply || reply->format != 32)
        return values;
    const int count = xcb_get_property_value_length(reply) / 4;
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply));
    values.assign(data, data + count);
    return values;
}

std::optional<quint32> firstCardinal(const xcb_get_property_reply_t *reply)
{
    const auto values = cardinals(reply);
    if (values.empty())
        return std::nullopt;
    return values.front();
}

std::optional<QByteArray> bytes(const xcb_get_property_reply_t *reply)
{
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
}

constexpr quint32 propertyLength = 1024; // in 32-bit units: titles up to 4 KiB, lists up to 1024 items
constexpr quint32 allDesktops = 0xFFFFFFFF;

// The requests sent for one window, answered together after all have been sent.
struct WindowCookies
{
    xcb_window_t window = XCB_NONE;
    xcb_get_window_attributes_cookie_t attributes{};
    xcb_get_geometry_cookie_t geometry{};
    xcb_translate_coordinates_cookie_t position{};
    xcb_get_property_cookie_t pid{};
    xcb_get_property_cookie_t netName{};
    xcb_get_property_cookie_t wmName{};
    xcb_get_property_cookie_t wmClass{};
    xcb_get_property_cookie_t type{};
    xcb_get_property_cookie_t state{};
    xcb_get_property_cookie_t desktop{};
    xcb_get_property_cookie_t frameExtents{};
    xcb_get_property_cookie_t opacity{};
};

} // namespace

struct X11WindowList::Connection
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    xcb_atom_t opacityAtom = XCB_NONE;
    // Following changes: the server reports on the root and on these windows.
    bool followed = false;
    std::unordered_set<xcb_window_t> watched;

    ~Connection()
    {
        if (ewmhReady)
            xcb_ewmh_connection_wipe(&ewmh);
        if (connection)
            xcb_disconnect(connection);
    }

    xcb_get_property_cookie_t property(xcb_window_t window, xcb_atom_t atom, xcb_atom_t type = XCB_ATOM_ANY) const
    {
        return xcb_get_property(connection, 0, window, atom, type, 0, propertyLength);
    }

    int layerOf(const std::vector<quint32> &types, const std::vector<quint32> &states) const
    {
        int layer = X11Window::normalLayer;
        // The first type the window names that we know decides; none means a normal window.
        for (const quint32 type : types) {
            if (type == ewmh._NET_WM_WINDOW_TYPE_NORMAL) {
                break;
            }
            if (type == ewmh._NET_WM_WINDOW_TYPE_DOCK) {
                layer = X11Window::dockLayer;
                break;
            }
            if (type == ewmh._NET_WM_WINDOW_TYPE_NOTIFICATION || type == ewmh._NET_WM_WINDOW_TYPE_TOOLTIP
                || type == ewmh._NET_WM_WINDOW_TYPE_POPUP_MENU || type == ewmh._NET_WM_WINDOW_TYPE_DROPDOWN_MENU
                || type == ewmh._NET_WM_WINDOW_TYPE_COMBO || type == ewmh._NET_WM_WINDOW_TYPE_DND) {
                layer = X11Window::overlayLayer;
                break;
            }
            if (type == ewmh._NET_WM_WINDOW_TYPE_DIALOG || type == ewmh._NET_WM_WINDOW_TYPE_UTILITY
                || type == ewmh._NET_WM_WINDOW_TYPE_TOOLBAR || type == ewmh._NET_WM_WINDOW_TYPE_MENU
                || type == ewmh._NET_WM_WINDOW_TYPE_SPLASH) {
                layer = X11Window::floatingLayer;
                break;
            }
        }
        if (std::find(states.begin(), states.end(), ewmh._NET_WM_STATE_ABOVE) != states.end())
            layer = std::max(layer, X11Window::floatingLayer);
        return layer;
    }

    bool isDesktopBackground(const std::vector<quint32> &types) const
    {
        return std::find(types.begin(), types.end(), ewmh._NET_WM_WINDOW_TYPE_DESKTOP) != types.end();
    }

    void reportChangesOf(xcb_window_t window, quint32 mask) const
    {
        xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
    }

    bool isReadProperty(xcb_atom_t atom) const
    {
        const xcb_atom_t read[] = {ewmh._NET_CLIENT_LIST_STACKING, ewmh._NET_CLIENT_LIST, ewmh._NET_ACTIVE_WINDOW,
                                   ewmh._NET_CURRENT_DESKTOP, ewmh._NET_WM_PID, ewmh._NET_WM_NAME, XCB_ATOM_WM_NAME,
                                   XCB_ATOM_WM_CLASS, ewmh._NET_WM_WINDOW_TYPE, ewmh._NET_WM_STATE,
                                   ewmh._NET_WM_DESKTOP, ewmh._NET_FRAME_EXTENTS, opacityAtom};
        return std::find(std::begin(read), std::end(read), atom) != std::end(read);
    }

    // Whether a report can change the list. Menus and tooltips (override-redirect windows) come
    // and go without a window manager and are never listed.
    bool changesTheList(const xcb_generic_event_t &event) const
    {
        switch (event.response_type & 0x7f) {
        case 0: // an error: a window gone while it was asked about; read again to be sure
            return true;
        case XCB_PROPERTY_NOTIFY:
            return isReadProperty(reinterpret_cast<const xcb_property_notify_event_t &>(event).atom);
        case XCB_CONFIGURE_NOTIFY:
            return !reinterpret_cast<const xcb_configure_notify_event_t &>(event).override_redirect;
        case XCB_MAP_NOTIFY:
            return !reinterpret_cast<const xcb_map_notify_event_t &>(event).override_redirect;
        case XCB_UNMAP_NOTIFY:
        case XCB_DESTROY_NOTIFY:
        case XCB_REPARENT_NOTIFY:
        case XCB_GRAVITY_NOTIFY:
        case XCB_CIRCULATE_NOTIFY:
            return true;
        default:
            return false;
        }
    }
};

X11WindowList::X11WindowList(QByteArray displayName, double devicePixelRatio, UnderWayland underWayland)
    : m_displayName(std::move(displayName))
    , m_devicePixelRatio(devicePixelRatio > 0 ? devicePixelRatio : 1.0)
    , m_underWayland(underWayland)
{
}

X11WindowList::~X11WindowList() = default;

bool X11WindowList::isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool X11WindowList::connect()
{
    if (m_connection && !xcb_connection_has_error(m_connection->connection))
        return true;
    m_connection.reset();

    auto connection = std::make_unique<Connection>();
    int screenNumber = 0;
    connection->connection = xcb_connect(m_displayName.isEmpty() ? nullptr : m_displayName.constData(), &screenNumber);
    if (!connection->connection || xcb_connection_has_error(connection->connection))
        return false;

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection->connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return false;
    connection->root = screens.data->root;

    static constexpr char opacityName[] = "_NET_WM_WINDOW_OPACITY";
    const auto opacityCookie = xcb_intern_atom(connection->connection, 0, sizeof opacityName - 1, opacityName);
    xcb_intern_atom_cookie_t *ewmhCookies = xcb_ewmh_init_atoms(connection->connection, &connection->ewmh);
    connection->ewmhReady = xcb_ewmh_init_atoms_replies(&connection->ewmh, ewmhCookies, nullptr) != 0;
    if (const auto reply = takeReply(&xcb_intern_atom_reply, connection->connection, opacityCookie))
        connection->opacityAtom = reply->atom;
    if (!connection->ewmhReady)
        return false;

    m_connection = std::move(connection);
    return true;
}

void X11WindowList::setFollowsChanges(bool follows)
{
    m_followsChanges = follows;
    m_changed = true;
    m_last.reset();
}

int X11WindowList::connectionDescriptor() const
{
    return m_connection ? xcb_get_file_descriptor(m_connection->connection) : -1;
}

void X11WindowList::takeChanges()
{
    if (!m_connection)
        return;
    xcb_connection_t *c = m_connection->connection;
    while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
        m_changed = m_changed || m_connection->changesTheList(*event);
        std::free(event);
    }
    // A broken connection's socket stays readable; it is closed here and made again on the
    // next read.
    if (xcb_connection_has_error(c)) {
        m_connection.reset();
        m_changed = true;
    }
}

std::optional<X11WindowListSnapshot> X11WindowList::read()
{
    if (m_followsChanges)
        takeChanges(); // this drops a connection that broke
    if ((m_underWayland == UnderWayland::unreadable && isWaylandSession()) || !connect()) {
        m_last.reset();
        return std::nullopt;
    }
    if (!m_followsChanges)
        return readWhole();

    Connection &x = *m_connection;
    if (!x.followed) {
        x.followed = true;
        x.reportChangesOf(x.root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
        m_changed = true;
    }
    if (!m_changed && m_last)
        return m_last;
    // Cleared before the requests go out: whatever changes while they are answered is reported
    // after them and makes the next read ask again.
    m_changed = false;
    m_last = readWhole();
    if (!m_last)
        m_changed = true;
    return m_last;
}

std::optional<X11WindowListSnapshot> X11WindowList::readWhole()
{
    ++m_wholeReads;
    Connection &x = *m_connection;
    xcb_connection_t *c = x.connection;
    const xcb_ewmh_connection_t &ewmh = x.ewmh;

    // First round trip: the root's lists.
    const auto stackingCookie = x.property(x.root, ewmh._NET_CLIENT_LIST_STACKING, XCB_ATOM_WINDOW);
    const auto clientListCookie = x.property(x.root, ewmh._NET_CLIENT_LIST, XCB_ATOM_WINDOW);
    const auto activeCookie = x.property(x.root, ewmh._NET_ACTIVE_WINDOW, XCB_ATOM_WINDOW);
    const auto currentDesktopCookie = x.property(x.root, ewmh._NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL);

    const auto stacking = takeProperty(c, stackingCookie);
    const auto clientList = takeProperty(c, clientListCookie);
    const auto active = firstCardinal(takeProperty(c, activeCookie).get());
    const auto currentDesktop = firstCardinal(takeProperty(c, currentDesktopCookie).get());
    if (xcb_connection_has_error(c))
        return std::nullopt;

    // The stacking list runs bottom to top. A window manager that keeps only the plain client
    // list gives no order; its windows are taken as they come.
    std::vector<quint32> windows;
    if (stacking && stacking->type == XCB_ATOM_WINDOW) {
        windows = cardinals(stacking.get());
        std::reverse(windows.begin(), windows.end());
    } else if (clientList && clientList->type == XCB_ATOM_WINDOW) {
        windows = cardinals(clientList.get());
    } else {
        return std::nullopt; // no EWMH window manager
    }

    // Second round trip: everything about every window, sent before any answer is read. A window
    // followed for the first time is asked to report before it is read, so no change falls
    // between the two.
    std::vector<WindowCookies> requests;
    requests.reserve(windows.size() + 1);
    std::unordered_set<xcb_window_t> listed;
    for (const quint32 window : windows) {
        if (x.followed) {
            listed.insert(window);
            if (!x.watched.count(window))
                x.reportChangesOf(window, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
        }
        WindowCookies cookies;
        cookies.window = window;
        cookies.attributes = xcb_get_window_attributes(c, window);
        cookies.geometry = xcb_get_geometry(c, window);
        cookies.position = xcb_translate_coordinates(c, window, x.root, 0, 0);
        cookies.pid = x.property(window, ewmh._NET_WM_PID, XCB_ATOM_CARDINAL);
        cookies.netName = x.property(window, ewmh._NET_WM_NAME, ewmh.UTF8_STRING);
        cookies.wmName = x.property(window, XCB_ATOM_WM_NAME);
        cookies.wmClass = x.property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
        cookies.type = x.property(window, ewmh._NET_WM_WINDOW_TYPE, XCB_ATOM_ATOM);
        cookies.state = x.property(window, ewmh._NET_WM_STATE, XCB_ATOM_ATOM);
        cookies.desktop = x.property(window, ewmh._NET_WM_DESKTOP, XCB_ATOM_CARDINAL);
        cookies.frameExtents = x.property(window, ewmh._NET_FRAME_EXTENTS, XCB_ATOM_CARDINAL);
        cookies.opacity = x.opacityAtom != XCB_NONE ? x.property(window, x.opacityAtom, XCB_ATOM_CARDINAL)
                                                    : xcb_get_property_cookie_t{};
        requests.push_back(cookies);
    }
    // The active window may be missing from the client list (a window of the manager itself).
    std::optional<xcb_get_property_cookie_t> activePidCookie;
    if (active && *active != XCB_NONE)
        activePidCookie = x.property(*active, ewmh._NET_WM_PID, XCB_ATOM_CARDINAL);

    X11WindowListSnapshot snapshot;
    const double ratio = m_devicePixelRatio;
    for (const WindowCookies &cookies : requests) {
        // Every reply is taken, also of windows that are skipped early.
        const auto attributes = takeReply(&xcb_get_window_attributes_reply, c, cookies.attributes);
        const auto geometry = takeReply(&xcb_get_geometry_reply, c, cookies.geometry);
        const auto position = takeReply(&xcb_translate_coordinates_reply, c, cookies.position);
        const auto pid = takeProperty(c, cookies.pid);
        const auto netName = takeProperty(c, cookies.netName);
        const auto wmName = takeProperty(c, cookies.wmName);
        const auto wmClass = takeProperty(c, cookies.wmClass);
        const auto type = takeProperty(c, cookies.type);
        const auto state = takeProperty(c, cookies.state);
        const auto desktop = takeProperty(c, cookies.desktop);
        const auto frameExtents = takeProperty(c, cookies.frameExtents);
        const auto opacity = x.opacityAtom != XCB_NONE ? takeProperty(c, cookies.opacity) : nullptr;

        // A window destroyed since the list was read has no attributes.
        if (!attributes || !geometry || !position || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const auto types = cardinals(type.get());
        const auto states = cardinals(state.get());
        if (std::find(states.begin(), states.end(), ewmh._NET_WM_STATE_HIDDEN) != states.end())
            continue;
        if (x.isDesktopBackground(types))
            continue;
        const auto windowDesktop = firstCardinal(desktop.get());
        if (windowDesktop && currentDesktop && *windowDesktop != allDesktops && *windowDesktop != *currentDesktop)
            continue;

        X11Window window;
        window.id = cookies.window;
        if (const auto value = firstCardinal(pid.get()); value && *value > 0)
            window.processId = qint64(*value);
        if (const auto text = bytes(netName.get()))
            window.title = QString::fromUtf8(*text);
        else if (const auto legacy = bytes(wmName.get()))
            window.title = wmName->type == ewmh.UTF8_STRING ? QString::fromUtf8(*legacy) : QString::fromLatin1(*legacy);
        if (const auto classBytes = bytes(wmClass.get())) {
            const QList<QByteArray> parts = classBytes->split('\0');
            window.instanceName = QString::fromLocal8Bit(parts.value(0));
            window.className = QString::fromLocal8Bit(parts.value(1));
        }
        window.bounds = QRectF(position->dst_x / ratio, position->dst_y / ratio, geometry->width / ratio,
                               geometry->height / ratio);
        if (const auto extents = cardinals(frameExtents.get()); extents.size() >= 4) {
            // left, right, top, bottom
            window.frameExtents = QMarginsF(extents[0] / ratio, extents[2] / ratio, extents[1] / ratio, extents[3] / ratio);
        }
        window.layer = x.layerOf(types, states);
        if (const auto value = firstCardinal(opacity.get()))
            window.alpha = double(*value) / double(0xFFFFFFFFu);
        snapshot.windows.push_back(std::move(window));
    }

    if (activePidCookie) {
        if (const auto value = firstCardinal(takeProperty(c, *activePidCookie).get()); value && *value > 0)
            snapshot.activeWindowProcessId = qint64(*value);
    }
    if (xcb_connection_has_error(c))
        return std::nullopt;
    if (x.followed)
        x.watched = std::move(listed);
    return snapshot;
}
