#include "X11TestWindows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace X11TestWindows {

namespace {

struct Connection
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    ~Connection() { xcb_disconnect(c); }

    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }

    xcb_atom_t atom(const char *name) const
    {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr), &std::free);
        return reply ? reply->atom : XCB_NONE;
    }

    // The first 32-bit value of a property; none when it is not set.
    std::optional<quint32> cardinal(xcb_window_t window, const char *property, xcb_atom_t type) const
    {
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom(property), type, 0, 1), nullptr), &std::free);
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
            return std::nullopt;
        return *static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    }
};

} // namespace

bool isViewable(quint32 window)
{
    const Connection x;
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(x.c, xcb_get_window_attributes(x.c, window), nullptr), &std::free);
    return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::optional<quint32> activeWindow()
{
    const Connection x;
    const std::optional<quint32> active = x.cardinal(x.root(), "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
    if (!active || *active == XCB_WINDOW_NONE)
        return std::nullopt;
    return active;
}

std::optional<quint32> inputFocus()
{
    const Connection x;
    std::unique_ptr<xcb_get_input_focus_reply_t, decltype(&std::free)> reply(
        xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr), &std::free);
    // PointerRoot is 1, None 0.
    if (!reply || reply->focus <= 1)
        return std::nullopt;
    return quint32(reply->focus);
}

QString title(quint32 window)
{
    const Connection x;
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(x.c, xcb_get_property(x.c, 0, window, x.atom("_NET_WM_NAME"), x.atom("UTF8_STRING"), 0, 1024),
                               nullptr),
        &std::free);
    if (!reply || reply->format != 8)
        return {};
    return QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(reply.get())),
                             xcb_get_property_value_length(reply.get()));
}

std::vector<quint32> stackingOrder()
{
    const Connection x;
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(
            x.c, xcb_get_property(x.c, 0, x.root(), x.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW, 0, 4096),
            nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    return std::vector<quint32>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

std::optional<qint64> activeWindowProcessId()
{
    const std::optional<quint32> active = activeWindow();
    if (!active)
        return std::nullopt;
    const Connection x;
    const std::optional<quint32> pid = x.cardinal(*active, "_NET_WM_PID", XCB_ATOM_CARDINAL);
    if (!pid)
        return std::nullopt;
    return qint64(*pid);
}

bool settledActive(const QWidget *window, int forMs)
{
    QElapsedTimer held;
    return QTest::qWaitFor(
        [&] {
            const bool active = QApplication::activeWindow() == window
                                && activeWindow() == std::optional<quint32>(quint32(window->winId()));
            if (!active) {
                held.invalidate();
                return false;
            }
            if (!held.isValid())
                held.start();
            return held.elapsed() >= forMs;
        },
        5000);
}

void iconify(quint32 window)
{
    const Connection x;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = x.atom("WM_CHANGE_STATE");
    event.data.data32[0] = 3; // IconicState
    xcb_send_event(x.c, 0, x.root(), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    // A round trip: the server has handled the request before the connection closes.
    std::free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
}

} // namespace X11TestWindows
