#include "PortalHotKey.h"

#include "HotKeyMap.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QLoggingCategory>

namespace tonelark {

Q_LOGGING_CATEGORY(lcPortalHotKey, "tonelark.desktop.portal")

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString kShortcutId = QStringLiteral("show-hide-window");

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The trigger grammar names keys by their XKB keysym names.
QString keyNameFor(quint16 virtualKey)
{
    if ((virtualKey >= 'A' && virtualKey <= 'Z'))
        return QString(QChar(virtualKey - 'A' + 'a'));
    if (virtualKey >= '0' && virtualKey <= '9')
        return QString(QChar(virtualKey));
    if (virtualKey >= 0x70 && virtualKey <= 0x87) // F1-F24
        return QStringLiteral("F%1").arg(virtualKey - 0x70 + 1);
    if (virtualKey >= 0x60 && virtualKey <= 0x69) // numeric keypad 0-9
        return QStringLiteral("KP_%1").arg(virtualKey - 0x60);
    switch (virtualKey) {
    case 0x08: return QStringLiteral("BackSpace");
    case 0x09: return QStringLiteral("Tab");
    case 0x0D: return QStringLiteral("Return");
    case 0x13: return QStringLiteral("Pause");
    case 0x1B: return QStringLiteral("Escape");
    case 0x20: return QStringLiteral("space");
    case 0x21: return QStringLiteral("Page_Up");
    case 0x22: return QStringLiteral("Page_Down");
    case 0x23: return QStringLiteral("End");
    case 0x24: return QStringLiteral("Home");
    case 0x25: return QStringLiteral("Left");
    case 0x26: return QStringLiteral("Up");
    case 0x27: return QStringLiteral("Right");
    case 0x28: return QStringLiteral("Down");
    case 0x2C: return QStringLiteral("Print");
    case 0x2D: return QStringLiteral("Insert");
    case 0x2E: return QStringLiteral("Delete");
    case 0x6A: return QStringLiteral("KP_Multiply");
    case 0x6B: return QStringLiteral("KP_Add");
    case 0x6D: return QStringLiteral("KP_Subtract");
    case 0x6E: return QStringLiteral("KP_Decimal");
    case 0x6F: return QStringLiteral("KP_Divide");
    default: return {};
    }
}

} // namespace

} // namespace tonelark

Q_DECLARE_METATYPE(tonelark::PortalShortcut)

namespace tonelark {

QString portalTriggerFor(quint16 shortcut, bool withSuper)
{
    const QString key = keyNameFor(shortcut & kVirtualKeyMask);
    if (key.isEmpty())
        return {};
    QStringList parts;
    if (shortcut & 0x4000)
        parts << QStringLiteral("CTRL");
    if (shortcut & 0x8000)
        parts << QStringLiteral("ALT");
    if (shortcut & 0x2000)
        parts << QStringLiteral("SHIFT");
    if (withSuper)
        parts << QStringLiteral("LOGO");
    parts << key;
    return parts.join(u'+');
}

PortalHotKey::PortalHotKey(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus)
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    // The whole message: a slot with the signal's own types is refused for the object path.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
}

PortalHotKey::~PortalHotKey()
{
    release();
}

bool PortalHotKey::available(const QDBusConnection &bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (bus.interface()->isServiceRegistered(kService))
        return true;
    const QDBusReply<QStringList> activatable = bus.interface()->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(kService);
}

QString PortalHotKey::nextToken()
{
    return QStringLiteral("tonelark%1").arg(++m_tokenCounter);
}

QString PortalHotKey::requestPath(const QString &token) const
{
    // The portal names its request object after the caller's unique name and our token, so
    // the answer can be watched for before the call is made (no race with a fast portal).
    QString sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

void PortalHotKey::watchRequest(const QString &path, const char *slot)
{
    unwatchRequest();
    m_request = path;
    m_requestSlot = slot;
    m_bus.connect(kService, path, kRequestInterface, QStringLiteral("Response"), this, slot);
}

void PortalHotKey::unwatchRequest()
{
    if (m_request.isEmpty())
        return;
    m_bus.disconnect(kService, m_request, kRequestInterface, QStringLiteral("Response"), this, m_requestSlot);
    m_request.clear();
    m_requestSlot = nullptr;
}

bool PortalHotKey::bind(quint16 shortcut, bool withSuper)
{
    release();
    if (!available(m_bus))
        return false;
    m_trigger = portalTriggerFor(shortcut, withSuper);
    const QString token = nextToken();
    watchRequest(requestPath(token), SLOT(onCreateSessionResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), nextToken()}};
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError()) {
            qCWarning(lcPortalHotKey) << "CreateSession:" << w->error().message();
            unwatchRequest();
            emit bindingFinished(false);
        }
    });
    return true;
}

void PortalHotKey::onCreateSessionResponse(uint response, const QVariantMap &results)
{
    unwatchRequest();
    m_session = results.value(QStringLiteral("session_handle")).toString();
    if (response != 0 || m_session.isEmpty()) {
        m_session.clear();
        emit bindingFinished(false);
        return;
    }
    QVariantMap properties{{QStringLiteral("description"), QStringLiteral("Tonelark のウィンドウを隠す・元に戻す")}};
    if (!m_trigger.isEmpty())
        properties.insert(QStringLiteral("preferred_trigger"), m_trigger);
    const QString token = nextToken();
    watchRequest(requestPath(token), SLOT(onBindResponse(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(m_session))
         << QVariant::fromValue(QList<PortalShortcut>{{kShortcutId, properties}})
         << QString() // no parent window: a Wayland client cannot name one across processes
         << QVariantMap{{QStringLiteral("handle_token"), token}};
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError()) {
            qCWarning(lcPortalHotKey) << "BindShortcuts:" << w->error().message();
            unwatchRequest();
            emit bindingFinished(false);
        }
    });
}

void PortalHotKey::onBindResponse(uint response, const QVariantMap &)
{
    unwatchRequest();
    m_bound = response == 0;
    emit bindingFinished(m_bound);
}

void PortalHotKey::onActivated(const QDBusMessage &message)
{
    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QList<QVariant> args = message.arguments();
    if (!m_bound || args.size() < 2)
        return;
    if (qdbus_cast<QDBusObjectPath>(args.at(0)).path() == m_session && args.at(1).toString() == kShortcutId)
        emit activated(0);
}

void PortalHotKey::release()
{
    unwatchRequest();
    m_bound = false;
    if (m_session.isEmpty())
        return;
    // Closing the session is how a portal client gives its shortcuts back.
    m_bus.asyncCall(QDBusMessage::createMethodCall(kService, m_session, kSessionInterface, QStringLiteral("Close")));
    m_session.clear();
}

} // namespace tonelark
