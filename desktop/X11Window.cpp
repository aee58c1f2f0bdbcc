#include "X11Window.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tonelark {

namespace {

struct Connection {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    Connection()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return;
        int screenNumber = 0;
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            connection = nullptr;
            return;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        root = screens.rem ? screens.data->root : 0;
    }
    ~Connection()
    {
        if (connection) {
            // Round trip: every request is applied before the connection goes.
            std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
            xcb_disconnect(connection);
        }
    }
};

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

} // namespace

bool activateX11Window(quintptr window, quint32 timestamp)
{
    // On the application's own connection, after the mapping Qt has queued there: sent on a
    // connection of its own, the request could reach the window manager before the window it
    // names was mapped, and was then dropped (the window came back without the focus).
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || window == 0)
        return false;
    const auto atom = [connection](const char *name) { return internAtom(connection, name); };
    const auto id = static_cast<xcb_window_t>(window);
    const xcb_atom_t userTime = atom("_NET_WM_USER_TIME");
    const xcb_atom_t activeWindow = atom("_NET_ACTIVE_WINDOW");
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (userTime == XCB_ATOM_NONE || activeWindow == XCB_ATOM_NONE || !screen)
        return false;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, userTime, XCB_ATOM_CARDINAL, 32, 1, &timestamp);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = activeWindow;
    message.data.data32[0] = 1; // source: an application acting on a user's request
    message.data.data32[1] = timestamp;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
    return true;
}

bool clearX11IconicStart(quintptr window)
{
    const Connection x;
    if (!x.connection || window == 0)
        return false;
    const auto id = static_cast<xcb_window_t>(window);
    // WM_HINTS: flags, input, initial_state, then six fields this leaves as they are.
    constexpr std::uint32_t kStateHint = 1u << 1;
    constexpr std::uint32_t kNormalState = 1, kIconicState = 3;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        x.connection, xcb_get_property(x.connection, 0, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, 9), nullptr);
    if (!reply)
        return false;
    if (reply->format == 32 && xcb_get_property_value_length(reply) >= int(3 * sizeof(std::uint32_t))) {
        const int count = xcb_get_property_value_length(reply) / int(sizeof(std::uint32_t));
        auto *hints = static_cast<std::uint32_t *>(xcb_get_property_value(reply));
        if ((hints[0] & kStateHint) && hints[2] == kIconicState) {
            hints[2] = kNormalState;
            xcb_change_property(x.connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32,
                                std::uint32_t(count), hints);
        }
    }
    std::free(reply);
    return true;
}

quintptr currentNativeWindow(QWidget &widget)
{
    if (QWindow *handle = widget.windowHandle())
        return handle->winId();
    return widget.winId();
}

std::optional<bool> x11WindowIconic(quintptr window)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || window == 0)
        return std::nullopt;
    static const char kName[] = "WM_STATE";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, std::strlen(kName), kName), nullptr);
    const xcb_atom_t wmState = atom ? atom->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(atom);
    if (wmState == XCB_ATOM_NONE)
        return false;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, static_cast<xcb_window_t>(window), wmState, wmState, 0, 1), nullptr);
    constexpr std::uint32_t kIconicState = 3;
    const bool iconic = reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4 &&
                        *static_cast<const std::uint32_t *>(xcb_get_property_value(reply)) == kIconicState;
    std::free(reply);
    return iconic;
}

bool setX11WindowAbove(quintptr window, bool above)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection || window == 0)
        return false;
    const auto atom = [connection](const char *name) { return internAtom(connection, name); };
    const xcb_atom_t state = atom("_NET_WM_STATE");
    const xcb_atom_t stateAbove = atom("_NET_WM_STATE_ABOVE");
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (state == XCB_ATOM_NONE || stateAbove == XCB_ATOM_NONE || !screen)
        return false;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window);
    message.type = state;
    message.data.data32[0] = above ? 1 : 0; // _NET_WM_STATE_ADD, _NET_WM_STATE_REMOVE
    message.data.data32[1] = stateAbove;
    message.data.data32[3] = 1; // source: an application acting on a user's request
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
    return true;
}

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
