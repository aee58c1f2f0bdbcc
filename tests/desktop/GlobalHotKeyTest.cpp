#include "GlobalHotKey.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

using namespace tonelark;

// The hot key on the tests' Xvfb: presses typed with xdotool (XTEST, as a keyboard would)
// and a second client that already holds the combination.
class GlobalHotKeyTest : public QObject {
    Q_OBJECT

private:
    QByteArray m_display = qgetenv("DISPLAY_FOR_X11_TESTS");

    bool xdotool(const QStringList &arguments)
    {
        QProcess xdotool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(m_display));
        xdotool.setProcessEnvironment(env);
        xdotool.start(QStringLiteral("xdotool"), arguments);
        return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
    }
    bool type(const QString &keys) { return xdotool({QStringLiteral("key"), keys}); }

private slots:
    void initTestCase()
    {
        if (m_display.isEmpty())
            QSKIP("no X server for the tests (DISPLAY_FOR_X11_TESTS is set by scripts/test.sh)");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is not installed (scripts/setup.sh --tests)");
    }

    void firesForItsCombinationInEveryLockState()
    {
        GlobalHotKey hotKey(m_display);
        QSignalSpy fired(&hotKey, &GlobalHotKey::activated);
        // The default: Ctrl+Shift+A with the Windows key.
        QVERIFY(hotKey.grab(0x6041, true));
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_COMPARE(fired.size(), 1);

        // Without Super, or with another letter, it does not fire.
        QVERIFY(type(QStringLiteral("ctrl+shift+a")));
        QVERIFY(type(QStringLiteral("super+ctrl+shift+b")));
        // Caps Lock and Num Lock on: still the same key.
        QVERIFY(type(QStringLiteral("Caps_Lock")));
        QVERIFY(type(QStringLiteral("Num_Lock")));
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QVERIFY(type(QStringLiteral("Caps_Lock")));
        QVERIFY(type(QStringLiteral("Num_Lock")));
        QTRY_COMPARE(fired.size(), 2);
        QTest::qWait(200);
        QCOMPARE(fired.size(), 2);

        // A new key releases the old one; F12 with Alt, no Super.
        QVERIFY(hotKey.grab(0x8000 | 0x7B, false));
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QVERIFY(type(QStringLiteral("alt+F12")));
        QTRY_COMPARE(fired.size(), 3);
        QTest::qWait(200);
        QCOMPARE(fired.size(), 3);
    }

    void aHeldKeyFiresOnceAndAQuickSecondPressFiresAgain()
    {
        GlobalHotKey hotKey(m_display);
        QSignalSpy fired(&hotKey, &GlobalHotKey::activated);
        QVERIFY(hotKey.grab(0x6041, true));
        // Held for a second: the server repeats it about 25 times a second after 660 ms.
        QVERIFY(xdotool({"keydown", "super+ctrl+shift+a"}));
        QTest::qWait(1200);
        QVERIFY(xdotool({"keyup", "a"}));
        QVERIFY(xdotool({"keyup", "super+ctrl+shift"}));
        QTRY_COMPARE(fired.size(), 1);
        QTest::qWait(200);
        QCOMPARE(fired.size(), 1);
        // Two presses 30 ms apart are two presses.
        QVERIFY(xdotool({"key", "--delay", "30", "super+ctrl+shift+a", "super+ctrl+shift+a"}));
        QTRY_COMPARE(fired.size(), 3);
    }

    void refusedWithoutAKeyOrADisplay()
    {
        GlobalHotKey hotKey(m_display);
        QVERIFY(!hotKey.grab(0x4000 | 0xBA, false)); // a key with no counterpart here
        GlobalHotKey nowhere(QByteArrayLiteral(":4097"));
        QVERIFY(!nowhere.grab(0x6041, true));
    }
};

QTEST_GUILESS_MAIN(GlobalHotKeyTest)
#include "GlobalHotKeyTest.moc"
