#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace tonelark {

class GlobalHotKey;
class PortalHotKey;

enum class HotKeyBackend { X11Grab, Portal, None };

// Where the global hot key comes from. A Wayland session gives keys through the desktop's
// global shortcuts portal, also to a program on XWayland (whose X11 grab would only see keys
// typed into X11 windows); elsewhere, and where no portal answers, the X11 grab of an X11
// display; neither: no hot key.
HotKeyBackend hotKeyBackendFor(const QString &platformName, bool waylandSession, bool portalAvailable);

// True when the session is a Wayland one (XDG_SESSION_TYPE or WAYLAND_DISPLAY say so).
bool isWaylandSession();

// Whether the window system lets a client keep its window above others and set its opacity.
// A Wayland client can do neither; the window greys those controls out with this reason.
struct WindowStacking {
    bool available = true;
    QString reason; // empty when available
};
WindowStacking windowStackingFor(const QString &platformName);

// The one global hot key of the window, through whichever backend the session offers.
class DesktopHotKey : public QObject {
    Q_OBJECT
public:
    // Chooses the backend from the program's platform and session (see hotKeyBackendFor).
    explicit DesktopHotKey(QObject *parent = nullptr);
    // A given backend; the portal on `bus` (tests use a private one).
    DesktopHotKey(HotKeyBackend backend, const QDBusConnection &bus, QObject *parent = nullptr);

    HotKeyBackend backend() const { return m_backend; }
    // Binds a 16-bit shortcut value (with Super when `withSuper`), replacing the previous one.
    // False when it cannot be had: no backend, a key already held on X11, no portal. Through
    // the portal the user confirms it in the desktop's dialog afterwards.
    bool grab(quint16 shortcut, bool withSuper);
    void release();

signals:
    // The key was pressed; `timestamp` is the X server time on X11, 0 through the portal.
    void activated(quint32 timestamp);

private:
    HotKeyBackend m_backend;
    GlobalHotKey *m_x11 = nullptr;
    PortalHotKey *m_portal = nullptr;
};

} // namespace tonelark
