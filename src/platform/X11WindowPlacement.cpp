#include "platform/X11WindowPlacement.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace X11WindowPlacement {

namespace {

xcb_connection_t *connection()
{
    auto *app = qGuiApp;
    if (!app)
        return nullptr;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

struct Atoms
{
    xcb_atom_t desktop = XCB_NONE;
    xcb_atom_t state = XCB_NONE;
    xcb_atom_t sticky = XCB_NONE;
};

Atoms internAtoms(xcb_connection_t *c)
{
    const char *names[] = {"_NET_WM_DESKTOP", "_NET_WM_STATE", "_NET_WM_STATE_STICKY"};
    xcb_intern_atom_cookie_t cookies[3];
    for (int i = 0; i < 3; ++i)
        cookies[i] = xcb_intern_atom(c, 0, uint16_t(std::strlen(names[i])), names[i]);
    xcb_atom_t atoms[3] = {XCB_NONE, XCB_NONE, XCB_NONE};
    for (int i = 0; i < 3; ++i) {
        if (xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookies[i], nullptr)) {
            atoms[i] = reply->atom;
            std::free(reply);
        }
    }
    return Atoms{atoms[0], atoms[1], atoms[2]};
}

void sendToRoot(xcb_connection_t *c, xcb_window_t root, xcb_window_t window, xcb_atom_t type, uint32_t d0, uint32_t d1)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = 0;
    event.data.data32[3] = 1; // from a normal application
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace

void showOnAllDesktops(WId window)
{
    xcb_connection_t *c = connection();
    if (!c || window == 0)
        return;
    static const Atoms atoms = internAtoms(c);
    if (atoms.desktop == XCB_NONE || atoms.state == XCB_NONE || atoms.sticky == XCB_NONE)
        return;
    const auto id = xcb_window_t(window);
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, atoms.desktop, XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (screen) {
        constexpr uint32_t add = 1;
        sendToRoot(c, screen->root, id, atoms.desktop, allDesktops, 0);
        sendToRoot(c, screen->root, id, atoms.state, add, atoms.sticky);
    }
    xcb_flush(c);
}

} // namespace X11WindowPlacement
