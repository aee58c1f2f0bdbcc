#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>

namespace tonelark {

// The desktop's trigger text for a 16-bit shortcut value (with Super when `withSuper`), as
// the global shortcuts portal takes it: "CTRL+SHIFT+LOGO+a". Empty for no key or a key the
// text cannot name; the desktop's own dialog then lets the user choose.
QString portalTriggerFor(quint16 shortcut, bool withSuper);

// One global shortcut bound through the desktop's GlobalShortcuts portal, the way a Wayland
// session gives a program a key: the portal asks the user to confirm it in the desktop's own
// dialog, and reports each press. Every call is asynchronous, so the window never waits for
// the desktop.
class PortalHotKey : public QObject {
    Q_OBJECT
public:
    explicit PortalHotKey(const QDBusConnection &bus, QObject *parent = nullptr);
    ~PortalHotKey() override;

    // Whether a portal service is on the bus (running, or started on demand).
    static bool available(const QDBusConnection &bus);

    // Replaces the bound key: closes any session and asks for a new one with this trigger.
    // False when no portal is there; true once asked (the desktop may still refuse).
    bool bind(quint16 shortcut, bool withSuper);
    void release();
    // True once the portal has confirmed the binding of the current request.
    bool isBound() const { return m_bound; }

signals:
    // The bound key was pressed (the portal gives no X server time: 0).
    void activated(quint32 timestamp);
    // The portal answered the current request: bound, or refused (cancelled by the user).
    void bindingFinished(bool bound);

private slots:
    void onCreateSessionResponse(uint response, const QVariantMap &results);
    void onBindResponse(uint response, const QVariantMap &results);
    void onActivated(const QDBusMessage &message);

private:
    QString requestPath(const QString &token) const;
    QString nextToken();
    void watchRequest(const QString &path, const char *slot);
    void unwatchRequest();

    QDBusConnection m_bus;
    QString m_trigger;
    QString m_session;
    QString m_request;        // the request whose Response is awaited
    const char *m_requestSlot = nullptr;
    int m_tokenCounter = 0;
    bool m_bound = false;
};

} // namespace tonelark
