#include "platform/X11WindowHints.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_connection_t *connection()
{
    if (!qGuiApp)
        return nullptr;
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_screen_t *defaultScreen(xcb_connection_t *c)
{
    // Qt opens its connection on the default screen of $DISPLAY, which is the first one here.
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    return screens.rem ? screens.data : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_generic_error_t *error = nullptr;
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), &error);
    const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    std::free(error);
    return value;
}

void sendToRoot(xcb_connection_t *c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                std::initializer_list<quint32> data)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (const quint32 value : data)
        event.data.data32[i++] = value;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace

namespace X11WindowHints {

bool isX11()
{
    return connection() != nullptr;
}

bool isCompositing()
{
    xcb_connection_t *c = connection();
    if (!c)
        return true; // other platforms compose windows themselves
    const QByteArray selection = "_NET_WM_CM_S0";
    xcb_generic_error_t *error = nullptr;
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom(c, selection.constData())), &error);
    const bool composited = reply && reply->owner != XCB_NONE;
    std::free(reply);
    std::free(error);
    return composited;
}

void keepOnAllDesktopsAbove(quint32 windowId)
{
    xcb_connection_t *c = connection();
    xcb_screen_t *screen = c ? defaultScreen(c) : nullptr;
    if (!screen || windowId == 0)
        return;
    constexpr quint32 add = 1;
    constexpr quint32 fromApplication = 1;
    constexpr quint32 allDesktops = 0xFFFFFFFF;
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    sendToRoot(c, screen->root, windowId, state,
               {add, atom(c, "_NET_WM_STATE_SKIP_TASKBAR"), atom(c, "_NET_WM_STATE_SKIP_PAGER"), fromApplication});
    sendToRoot(c, screen->root, windowId, state,
               {add, atom(c, "_NET_WM_STATE_STICKY"), atom(c, "_NET_WM_STATE_ABOVE"), fromApplication});
    sendToRoot(c, screen->root, windowId, atom(c, "_NET_WM_DESKTOP"), {allDesktops, fromApplication});
    xcb_flush(c);
}

void setTransientFor(quint32 windowId, quint32 ownerId)
{
    xcb_connection_t *c = connection();
    if (!c || windowId == 0 || ownerId == 0)
        return;
    const xcb_window_t owner = ownerId;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, windowId, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &owner);
    xcb_flush(c);
}

} // namespace X11WindowHints
