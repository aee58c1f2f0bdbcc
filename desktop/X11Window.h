#pragma once

#include <QtGlobal>

#include <optional>

class QWidget;

namespace tonelark {

// The native window of a top-level widget as it is now. Qt re-creates it on some showings (the
// first after the stay-on-top hint changed), and QWidget::winId() keeps naming the old one.
quintptr currentNativeWindow(QWidget &widget);

// Sets the window's _NET_WM_WINDOW_OPACITY (the alpha a compositor blends it with), or
// removes it for no blending at all, on the X11 display the application runs on. Qt's own
// property write was seen lost on the way back to opaque (the window stayed translucent), so
// the window states it here as well. False where the application is not on X11.
bool setX11WindowOpacity(quintptr window, std::optional<quint8> alpha);

// Asks the window manager to activate `window` for a user action at X server time
// `timestamp` (the hot key press). Qt's own request carries the time of the last event Qt
// saw, older than a key that only our grab saw, and focus-stealing prevention may then
// refuse it. Sent on the application's own X11 connection, after the window's mapping. False
// where the application is not on X11.
bool activateX11Window(quintptr window, quint32 timestamp);

// Makes the window's next mapping a normal one. Qt marks a window minimised by the program as
// starting iconic (WM_HINTS) and never takes that back, so a window hidden from the iconic
// state and shown again was iconified again by the window manager the moment it was mapped.
// False where the application is not on X11.
bool clearX11IconicStart(quintptr window);

// Whether the window manager has iconified `window` (its WM_STATE says Iconic); nothing where
// the application is not on X11. The program's own minimised state changes at once, the
// window manager's later.
std::optional<bool> x11WindowIconic(quintptr window);

// Asks the window manager to keep the mapped `window` above others (or no longer). Sent on the
// application's own X11 connection, so it follows that connection's mapping of the window:
// a window manager drops the state of a window that leaves the screen (the tray), and Qt's
// hint before the new mapping was seen lost. False where the application is not on X11.
bool setX11WindowAbove(quintptr window, bool above);

} // namespace tonelark
