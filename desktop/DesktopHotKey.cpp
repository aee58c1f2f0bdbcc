#include "DesktopHotKey.h"

#include "GlobalHotKey.h"
#include "PortalHotKey.h"

#include <QGuiApplication>

namespace tonelark {

HotKeyBackend hotKeyBackendFor(const QString &platformName, bool waylandSession, bool portalAvailable)
{
    const bool wayland = platformName == QLatin1String("wayland");
    if ((wayland || waylandSession) && portalAvailable)
        return HotKeyBackend::Portal;
    if (platformName == QLatin1String("xcb"))
        return HotKeyBackend::X11Grab;
    return HotKeyBackend::None;
}

bool isWaylandSession()
{
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")
        || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

WindowStacking windowStackingFor(const QString &platformName)
{
    if (platformName.startsWith(QLatin1String("wayland")))
        return {false, QStringLiteral("Wayland ではウィンドウを最前面に置くことも透過させることも、"
                                      "プログラムからはできません。")};
    return {};
}

namespace {

HotKeyBackend sessionBackend()
{
    const QString platform = QGuiApplication::platformName();
    const bool waylandSession = isWaylandSession();
    // The bus is asked only where the portal could be chosen.
    const bool portal = (platform == QLatin1String("wayland") || waylandSession)
                     && PortalHotKey::available(QDBusConnection::sessionBus());
    return hotKeyBackendFor(platform, waylandSession, portal);
}

} // namespace

DesktopHotKey::DesktopHotKey(QObject *parent)
    : DesktopHotKey(sessionBackend(), QDBusConnection::sessionBus(), parent)
{
}

DesktopHotKey::DesktopHotKey(HotKeyBackend backend, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_backend(backend)
{
    if (backend == HotKeyBackend::X11Grab) {
        m_x11 = new GlobalHotKey({}, this);
        connect(m_x11, &GlobalHotKey::activated, this, &DesktopHotKey::activated);
    } else if (backend == HotKeyBackend::Portal) {
        m_portal = new PortalHotKey(bus, this);
        connect(m_portal, &PortalHotKey::activated, this, &DesktopHotKey::activated);
    }
}

bool DesktopHotKey::grab(quint16 shortcut, bool withSuper)
{
    if (m_x11)
        return m_x11->grab(shortcut, withSuper);
    if (m_portal) {
        // No key is no binding, as on X11 (a portal would otherwise ask the user for any key).
        if (shortcut == 0) {
            m_portal->release();
            return false;
        }
        return m_portal->bind(shortcut, withSuper);
    }
    return false;
}

void DesktopHotKey::release()
{
    if (m_x11)
        m_x11->release();
    if (m_portal)
        m_portal->release();
}

} // namespace tonelark
