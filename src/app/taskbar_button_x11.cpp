// X11: the taskbar leaves out a window whose _NET_WM_STATE holds _NET_WM_STATE_SKIP_TASKBAR
// (EWMH). A withdrawn window's property is written directly; a mapped window's state belongs
// to the window manager, which is asked with a client message to the root window.
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/taskbar_button.h"

namespace {

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

std::vector<xcb_atom_t> StateAtoms(xcb_connection_t* c, xcb_window_t w, xcb_atom_t state) {
    std::vector<xcb_atom_t> atoms;
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, w, state, XCB_ATOM_ATOM, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return atoms;
}

void WriteWithdrawnState(xcb_connection_t* c, xcb_window_t w, xcb_atom_t state, xcb_atom_t skip,
                         bool set) {
    std::vector<xcb_atom_t> atoms = StateAtoms(c, w, state);
    std::erase(atoms, skip);
    if (set) atoms.push_back(skip);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
}

void AskWindowManager(xcb_connection_t* c, xcb_window_t w, xcb_atom_t state, xcb_atom_t skip,
                      bool set) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
    const xcb_window_t root = tree ? tree->root : screens.data->root;
    std::free(tree);
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = state;
    ev.data.data32[0] = set ? 1 : 0;  // _NET_WM_STATE_ADD or _REMOVE
    ev.data.data32[1] = skip;
    ev.data.data32[3] = 1;  // the request comes from an application
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}

}  // namespace

void ShowTaskbarButton(QWidget& window, bool shown, bool mapped) {
    // Other window systems (offscreen, Wayland) have no such state to set.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return;
    xcb_connection_t* c = x11->connection();
    const auto w = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t state = Atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip = Atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE) return;
    if (mapped)
        AskWindowManager(c, w, state, skip, !shown);
    else
        WriteWithdrawnState(c, w, state, skip, !shown);
    xcb_flush(c);
}
