#pragma once

#include <QtGlobal>

#include <optional>

namespace tonelark {

// Sets the window's _NET_WM_WINDOW_OPACITY (the alpha a compositor blends it with), or
// removes it for no blending at all, on the X11 display the application runs on. Qt's own
// property write was seen lost on the way back to opaque (the window stayed translucent), so
// the window states it here as well. False where the application is not on X11.
bool setX11WindowOpacity(quintptr window, std::optional<quint8> alpha);

} // namespace tonelark
