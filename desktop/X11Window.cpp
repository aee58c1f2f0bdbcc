#include "X11Window.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace tonelark {

bool setX11WindowOpacity(quintptr window, std::optional<quint8> alpha)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || window == 0)
        return false;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    static const char kName[] = "_NET_WM_WINDOW_OPACITY";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(kName), kName), nullptr);
    bool ok = atom != nullptr;
    if (atom) {
        const auto id = static_cast<xcb_window_t>(window);
        if (alpha) {
            // The property's scale: 0xffffffff is opaque; alpha 128 is 128/255 of it.
            const quint32 value = quint32((quint64(*alpha) * 0xffffffffull) / 255);
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom->atom, XCB_ATOM_CARDINAL,
                                32, 1, &value);
        } else {
            xcb_delete_property(connection, id, atom->atom);
        }
        std::free(atom);
        // Round trip: the change is applied before the connection goes.
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
    xcb_disconnect(connection);
    return ok;
}

} // namespace tonelark
