#pragma once

#include <QtGlobal>

#include <optional>

namespace tonelark {

// Sets the window's _NET_WM_WINDOW_OPACITY (the alpha a compositor blends it with), or
// removes it for no blending at all, on the X11 display the application runs on. Qt's own
// property write was seen lost on the way back to opaque (the window stayed translucent), so
// the window states it here as well. False where the application is not on X11.
bool setX11WindowOpacity(quintptr window, std::optional<quint8> alpha);

// Asks the window manager to activate `window` for a user action at X server time
// `timestamp` (the hot key press). Qt's own request carries the time of the last event Qt
// saw, older than a key that only our grab saw, and focus-stealing prevention may then
// refuse it. False where the application is not on X11.
bool activateX11Window(quintptr window, quint32 timestamp);

// Makes the window's next mapping a normal one. Qt marks a window minimised by the program as
// starting iconic (WM_HINTS) and never takes that back, so a window hidden from the iconic
// state and shown again was iconified again by the window manager the moment it was mapped.
// False where the application is not on X11.
bool clearX11IconicStart(quintptr window);

} // namespace tonelark
