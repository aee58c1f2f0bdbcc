// The hot key through the desktop's global shortcuts portal, against a fake portal on a private
// session bus (dbus-run-session): the calls a desktop receives, a press it reports, a binding
// the user refuses, and no portal at all.
#include "DesktopHotKey.h"
#include "PortalHotKey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QTest>

using namespace tonelark;

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

// Answers CreateSession, BindShortcuts and Session.Close the way the portal does: each call
// returns a request path at once and its Response signal follows.
class FakePortal : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection bus) : m_bus(bus) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        calls << message.member();
        if (message.member() == u"Close") {
            closed << message.path();
            connection.send(message.createReply());
            return true;
        }
        const QList<QVariant> args = message.arguments();
        QVariantMap options = qdbus_cast<QVariantMap>(args.last());
        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        const QString request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                    .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        if (message.member() == u"CreateSession") {
            session = QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                          .arg(sender, options.value(QStringLiteral("session_handle_token")).toString());
            results.insert(QStringLiteral("session_handle"), session);
        } else if (message.member() == u"BindShortcuts") {
            boundSession = qdbus_cast<QDBusObjectPath>(args.at(0)).path();
            const QDBusArgument shortcuts = args.at(1).value<QDBusArgument>();
            shortcuts.beginArray();
            while (!shortcuts.atEnd()) {
                QString id;
                QVariantMap properties;
                shortcuts.beginStructure();
                shortcuts >> id >> properties;
                shortcuts.endStructure();
                shortcutId = id;
                trigger = properties.value(QStringLiteral("preferred_trigger")).toString();
                description = properties.value(QStringLiteral("description")).toString();
            }
            shortcuts.endArray();
        }
        QDBusMessage response = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                           QStringLiteral("Response"));
        response << uint(refuse && message.member() == u"BindShortcuts" ? 1 : 0) << results;
        connection.send(response);
        return true;
    }

    void press()
    {
        QDBusMessage activated = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("Activated"));
        activated << QVariant::fromValue(QDBusObjectPath(boundSession)) << shortcutId << qulonglong(1234)
                  << QVariantMap();
        m_bus.send(activated);
    }

    QStringList calls;
    QStringList closed;
    QString session, boundSession, shortcutId, trigger, description;
    bool refuse = false;

private:
    QDBusConnection m_bus;
};

} // namespace

class PortalHotKeyTest : public QObject {
    Q_OBJECT

private slots:
    void backendAndWindowStackingFollowTheSession()
    {
        struct Case {
            const char *platform;
            bool waylandSession, portal;
            HotKeyBackend expected;
        };
        const Case cases[] = {
            {"xcb", false, false, HotKeyBackend::X11Grab},
            {"xcb", false, true, HotKeyBackend::X11Grab},     // X11 session: the grab sees every key
            {"xcb", true, true, HotKeyBackend::Portal},       // XWayland: the grab would miss Wayland windows
            {"xcb", true, false, HotKeyBackend::X11Grab},     // ... but it is better than nothing
            {"wayland", true, true, HotKeyBackend::Portal},
            {"wayland", true, false, HotKeyBackend::None},
            {"offscreen", false, true, HotKeyBackend::None},
        };
        for (const Case &c : cases)
            QCOMPARE(hotKeyBackendFor(QString::fromLatin1(c.platform), c.waylandSession, c.portal), c.expected);

        QVERIFY(windowStackingFor(QStringLiteral("xcb")).available);
        QVERIFY(!windowStackingFor(QStringLiteral("wayland")).available);
        QVERIFY(!windowStackingFor(QStringLiteral("wayland-egl")).reason.isEmpty());
    }

    void triggerTextNamesTheKeyAsTheDesktopDoes()
    {
        QCOMPARE(portalTriggerFor(0x6041, true), QStringLiteral("CTRL+SHIFT+LOGO+a")); // the default
        QCOMPARE(portalTriggerFor(0x8070, false), QStringLiteral("ALT+F1"));
        QCOMPARE(portalTriggerFor(0x4025, false), QStringLiteral("CTRL+Left"));
        QCOMPARE(portalTriggerFor(0xC063, false), QStringLiteral("CTRL+ALT+KP_3"));
        QCOMPARE(portalTriggerFor(0x4000, false), QString());  // no key
    }

    void bindsThroughThePortalAndFiresOnItsPress()
    {
        QDBusConnection portalBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-portal"));
        QVERIFY(portalBus.isConnected());
        FakePortal portal(portalBus);
        QVERIFY(portalBus.registerVirtualObject(kPath, &portal, QDBusConnection::VirtualObjectRegisterOption::SubPath));
        QVERIFY(portalBus.registerService(kService));

        DesktopHotKey hotKey(HotKeyBackend::Portal, QDBusConnection::sessionBus());
        QSignalSpy pressed(&hotKey, &DesktopHotKey::activated);
        QVERIFY(hotKey.grab(0x6041, true));
        QTRY_COMPARE(portal.calls, (QStringList{QStringLiteral("CreateSession"), QStringLiteral("BindShortcuts")}));
        QCOMPARE(portal.boundSession, portal.session);
        QCOMPARE(portal.trigger, QStringLiteral("CTRL+SHIFT+LOGO+a"));
        QVERIFY(!portal.description.isEmpty());

        portal.press();
        QTRY_COMPARE(pressed.size(), 1);
        QCOMPARE(pressed.first().first().toUInt(), 0u);

        // A new key replaces the old binding: the old session is closed, its presses ignored.
        const QString oldSession = portal.session;
        QVERIFY(hotKey.grab(0x8070, false));
        QTRY_COMPARE(portal.calls.size(), 5);
        QCOMPARE(portal.closed, QStringList{oldSession});
        QCOMPARE(portal.trigger, QStringLiteral("ALT+F1"));
        portal.press();
        QTRY_COMPARE(pressed.size(), 2);

        // The user refuses the new binding in the desktop's dialog: presses do nothing.
        portal.refuse = true;
        PortalHotKey refused(QDBusConnection::sessionBus());
        QSignalSpy finished(&refused, &PortalHotKey::bindingFinished);
        QVERIFY(refused.bind(0x6041, true));
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(!refused.isBound());

        hotKey.release();
        portalBus.unregisterService(kService);
        portalBus.unregisterObject(kPath, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
    }

    void withoutPortalTheGrabFails()
    {
        QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService));
        DesktopHotKey hotKey(HotKeyBackend::Portal, QDBusConnection::sessionBus());
        QVERIFY(!hotKey.grab(0x6041, true));
        DesktopHotKey none(HotKeyBackend::None, QDBusConnection::sessionBus());
        QVERIFY(!none.grab(0x6041, true));
    }
};

QTEST_GUILESS_MAIN(PortalHotKeyTest)
#include "PortalHotKeyTest.moc"
