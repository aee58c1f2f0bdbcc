#include "FakeEngine.h"
#include "Gauges.h"
#include "GlobalHotKey.h"
#include "TrayIcon.h"
#include "WindowTestSupport.h"
#include "uMain.h"
#include "MixerControls.h"

#include <QCheckBox>
#include <QLabel>
#include <QTemporaryDir>

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// The main window on the tests' real X server under a window manager: the hot key typed with
// xdotool, the tray with a real tray host (trayer), and the window state read back with xprop
// as the window manager and a compositor see it.
class DesktopWindowTest : public QObject {
    Q_OBJECT

private:
    struct Setup {
        FakeEngine engine;
        FakeUi ui;
        Convex ini;
        std::unique_ptr<TfrmTonelark2Main> window;
        explicit Setup(const QByteArray &iniText = {})
        {
            ini = Convex::fromBytes(iniText);
            window = std::make_unique<TfrmTonelark2Main>(engine, ini, QStringList(), &ui);
        }
    };

    static QString run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(10000))
            return QStringLiteral("(timed out)");
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }
    static bool type(const QString &keys)
    {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
        return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
    }
    // The native window as it is now: Qt re-creates it on some showings (a changed stay-on-top
    // hint), and the widget's own winId() then still names the destroyed one.
    static WId nativeId(QWidget &window) { return window.windowHandle() ? window.windowHandle()->winId() : window.winId(); }
    static QString property(QWidget &window, const char *name)
    {
        return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(nativeId(window)),
                                             QString::fromLatin1(name)});
    }
    static bool showActive(QWidget &window)
    {
        window.show();
        window.raise();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window, 10000);
    }
    // A tray host: trayer on the screen's top edge, ready once it owns the tray selection.
    struct TrayHost {
        QProcess process;
        bool start()
        {
            process.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                     QStringLiteral("--align"), QStringLiteral("right"),
                                                     QStringLiteral("--widthtype"), QStringLiteral("request")});
            if (!process.waitForStarted(5000))
                return false;
            QDeadlineTimer deadline(10000);
            while (!deadline.hasExpired()) {
                if (QSystemTrayIcon::isSystemTrayAvailable())
                    return true;
                QTest::qWait(100);
            }
            return false;
        }
        ~TrayHost()
        {
            process.terminate();
            process.waitForFinished(5000);
        }
    };

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("no X server for the tests (DISPLAY_FOR_X11_TESTS is set by scripts/test.sh)");
        for (const char *tool : {"xdotool", "xprop"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("xdotool and xprop are needed (scripts/setup.sh --tests)");
        }
        if (!run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                 .contains(QLatin1String("window id")))
            QSKIP("no window manager on the test display (scripts/servers/x11wm.sh starts openbox)");
        QCoreApplication::setApplicationName(QStringLiteral("Tonelark"));
    }

    void translucencyAndTopmostAsTheDesktopSeesThem()
    {
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        const WId id = window.winId();

        window.pmiTransparentHalf->trigger();
        QTRY_VERIFY(property(window, "_NET_WM_WINDOW_OPACITY").contains(QString::number(quint32(128.0 / 255 * 0xffffffffu))));
        QVERIFY(window.pmiTransparentHalf->isChecked());
        window.pmiTransparentNone->trigger();
        // Blending off: no opacity property at all (or a fully opaque one).
        QTRY_VERIFY(property(window, "_NET_WM_WINDOW_OPACITY").contains(QLatin1String("not found")) ||
                    property(window, "_NET_WM_WINDOW_OPACITY").contains(QLatin1String("4294967295")));
        QCOMPARE(window.windowOpacity(), 1.0);

        const QPoint before = window.pos();
        window.actionPin->trigger();
        QVERIFY(window.toolButtonOfPin->isChecked());
        QTRY_VERIFY(property(window, "_NET_WM_STATE").contains(QLatin1String("_NET_WM_STATE_ABOVE")));
        // In place: the same native window, at the same place, never hidden.
        QCOMPARE(window.winId(), id);
        QVERIFY(window.isVisible());
        QCOMPARE(window.pos(), before);
        window.actionPin->trigger();
        QTRY_VERIFY(!property(window, "_NET_WM_STATE").contains(QLatin1String("_NET_WM_STATE_ABOVE")));
        QCOMPARE(window.winId(), id);
    }

    void hotKeyHidesToTheTrayAndBringsTheWindowBack()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
            QSKIP("trayer is not installed (scripts/setup.sh --tests)");
        TrayHost tray;
        QVERIFY2(tray.start(), "trayer did not provide a notification area");
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        window.move(200, 150);
        // Once the window manager has framed it, where its client area is.
        QTRY_VERIFY(window.frameGeometry() != window.geometry());
        QTest::qWait(200);
        const QPoint place = window.geometry().topLeft();

        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(window.taskTrayIcon());
        QTRY_VERIFY(!window.isVisible());
        QVERIFY(window.trayIcon().isShown());
        QCOMPARE(window.trayIcon().tip(), QStringLiteral("Tonelark"));

        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(window.isVisible());
        QVERIFY(!window.taskTrayIcon());
        QVERIFY(!window.trayIcon().isShown());
        QTRY_VERIFY(window.isActiveWindow());
        QTRY_COMPARE(window.geometry().topLeft(), place);

        // A left click on the icon; then its menu, run as a modal loop of the window, and the
        // restore item typed by its accelerator.
        const auto *icon = window.findChild<QSystemTrayIcon *>(QStringLiteral("taskTrayIcon"));
        QVERIFY(icon);
        const auto clickIcon = [&](const char *button) {
            // Until the tray host has embedded it, the icon sits at the screen's origin.
            if (!QTest::qWaitFor([&] { return icon->geometry().topLeft() != QPoint(0, 0); }, 10000))
                return false;
            const QPoint center = icon->geometry().center();
            QProcess xdotool;
            xdotool.start(QStringLiteral("xdotool"), {"mousemove", QString::number(center.x()),
                                                      QString::number(center.y()), "click", button});
            return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
        };
        // Clicked only once the window manager has let go of the hidden window (no WM_STATE left),
        // as a user's click comes long after that.
        const auto settledInTray = [&] {
            return QTest::qWaitFor([&] { return window.taskTrayIcon() && !window.isVisible(); }, 10000)
                   && QTest::qWaitFor([&] { return property(window, "WM_STATE").contains(QLatin1String("not found")); }, 10000);
        };
        window.showMinimized();
        QVERIFY(settledInTray());
        QVERIFY(clickIcon("1"));
        QTRY_VERIFY(window.isVisible() && !window.taskTrayIcon());
        // And it stays: the window manager shows it as a normal window (a window minimised by
        // the program came back marked to start iconic, was iconified again and went back to
        // the tray).
        QTRY_VERIFY_WITH_TIMEOUT(property(window, "WM_STATE").contains(QLatin1String("Normal")), 10000);
        QVERIFY(window.isVisible() && !window.taskTrayIcon());

        window.showMinimized();
        QVERIFY(settledInTray());
        bool modalDuringMenu = false;
        // The accelerator is typed until the menu takes it: on a loaded machine the menu may not
        // hold the keyboard yet at the first try, and a menu left open would keep its grab and
        // swallow every later test's keys.
        QTimer typeRestore;
        typeRestore.setInterval(300);
        connect(&typeRestore, &QTimer::timeout, this, [] { type(QStringLiteral("r")); });
        connect(window.popupMenuTaskTray, &QMenu::aboutToShow, this, [&] {
            modalDuringMenu = window.inModalLoop();
            typeRestore.start();
        });
        connect(window.popupMenuTaskTray, &QMenu::aboutToHide, &typeRestore, &QTimer::stop);
        bool menuShown = false;
        connect(window.popupMenuTaskTray, &QMenu::aboutToShow, this, [&] { menuShown = true; });
        QVERIFY(clickIcon("3"));
        QTRY_VERIFY2(menuShown, "a right click on the tray icon opened no menu");
        QTRY_VERIFY(window.isVisible() && !window.taskTrayIcon());
        QVERIFY(modalDuringMenu);
        QTRY_VERIFY(!window.inModalLoop());
    }

    void pinnedWindowStaysOnTopThroughTripsToTheTray()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
            QSKIP("trayer is not installed (scripts/setup.sh --tests)");
        TrayHost tray;
        QVERIFY2(tray.start(), "trayer did not provide a notification area");
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        window.actionPin->trigger();
        QTRY_VERIFY(property(window, "_NET_WM_STATE").contains(QLatin1String("_NET_WM_STATE_ABOVE")));
        const auto inTray = [&] {
            return QTest::qWaitFor([&] { return window.taskTrayIcon() && !window.isVisible(); }, 10000);
        };
        const auto backOnTop = [&] {
            return QTest::qWaitFor([&] { return window.isVisible() && !window.taskTrayIcon(); }, 10000) &&
                   QTest::qWaitFor([&] { return property(window, "_NET_WM_STATE").contains(QLatin1String("_NET_WM_STATE_ABOVE")); }, 10000);
        };
        // By the hot key and by the title bar's minimise, back by the hot key and the tray's menu item.
        for (int trip = 0; trip < 6; ++trip) {
            if (trip % 2)
                window.showMinimized();
            else
                QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
            QVERIFY2(inTray(), qPrintable(QStringLiteral("trip %1 did not reach the tray").arg(trip)));
            QTest::qWait(100);
            if (trip % 3 == 2)
                window.menuItemRestore->trigger();
            else
                QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
            QVERIFY2(backOnTop(), qPrintable(QStringLiteral("trip %1 came back without the pin").arg(trip)));
            QVERIFY(window.toolButtonOfPin->isChecked());
            QTRY_VERIFY2(window.isActiveWindow(), qPrintable(QStringLiteral("trip %1 came back without the focus").arg(trip)));
        }
        // Covered by a new window, it stays above.
        QWidget other;
        other.resize(300, 200);
        QVERIFY(showActive(other));
        QVERIFY(property(window, "_NET_WM_STATE").contains(QLatin1String("_NET_WM_STATE_ABOVE")));
    }

    void quickSecondPressesAndAHeldKeyNeverLoseTheWindow()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
            QSKIP("trayer is not installed (scripts/setup.sh --tests)");
        TrayHost tray;
        QVERIFY2(tray.start(), "trayer did not provide a notification area");
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        const auto xdotool = [](const QStringList &arguments) {
            QProcess process;
            process.start(QStringLiteral("xdotool"), arguments);
            return process.waitForFinished(10000) && process.exitCode() == 0;
        };
        // Whatever the presses did, the window settles either in the tray or shown, and the
        // next single press takes it to the other state.
        // Shown means shown with the focus, which a loaded machine may deliver well after the
        // window is mapped; until then the next press would rightly activate it rather than hide it.
        const auto settled = [&] {
            QTest::qWait(1500);
            return QTest::qWaitFor([&] {
                return window.taskTrayIcon() ? !window.isVisible()
                                             : window.isVisible() && !window.isMinimized() && window.isActiveWindow();
            }, 10000);
        };
        const auto nextPressToggles = [&] {
            QTest::qWait(500); // as a person presses again, not within the window manager's work
            const bool wasInTray = window.taskTrayIcon();
            if (!type(QStringLiteral("super+ctrl+shift+a")))
                return false;
            const bool ok = QTest::qWaitFor([&] {
                return wasInTray ? window.isVisible() && !window.taskTrayIcon() && window.isActiveWindow()
                                 : window.taskTrayIcon() && !window.isVisible();
            }, 10000);
            return ok;
        };
        for (int round = 0; round < 3; ++round) {
            QVERIFY(xdotool({"key", "--delay", "30", "super+ctrl+shift+a", "super+ctrl+shift+a"}));
            QVERIFY2(settled(), qPrintable(QStringLiteral("double press %1").arg(round)));
            QVERIFY2(nextPressToggles(), qPrintable(QStringLiteral("after double press %1").arg(round)));
            QVERIFY2(nextPressToggles(), qPrintable(QStringLiteral("after double press %1, again").arg(round)));
        }
        // Held for a second: one press.
        QTest::qWait(500);
        const bool wasInTray = window.taskTrayIcon();
        QVERIFY(xdotool({"keydown", "super+ctrl+shift+a"}));
        QTest::qWait(1000);
        QVERIFY(xdotool({"keyup", "a"}));
        QVERIFY(xdotool({"keyup", "super+ctrl+shift"}));
        QVERIFY(settled());
        QCOMPARE(window.taskTrayIcon(), !wasInTray);
        QVERIFY(nextPressToggles());
    }

    void whenTheTrayGoesAwayTheHiddenWindowComesBack()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
            QSKIP("trayer is not installed (scripts/setup.sh --tests)");
        auto tray = std::make_unique<TrayHost>();
        QVERIFY2(tray->start(), "trayer did not provide a notification area");
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(window.taskTrayIcon() && !window.isVisible());
        tray.reset(); // the panel quits
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible() && !window.taskTrayIcon(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(property(window, "WM_STATE").contains(QLatin1String("Normal")), 10000);
        QVERIFY(!window.trayIcon().isShown());
    }

    // A popup some failed check left open keeps the keyboard: close it so the next test starts clean.
    void cleanup()
    {
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }

    void withoutATrayTheWindowMinimisesAndStaysReachable()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(window.isMinimized());
        QTRY_VERIFY(property(window, "WM_STATE").contains(QLatin1String("Iconic")));
        QVERIFY(!window.taskTrayIcon());
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(!window.isMinimized());
        QTRY_VERIFY(property(window, "WM_STATE").contains(QLatin1String("Normal")));
        QTRY_VERIFY(window.isActiveWindow());
    }

    void guideMelodyKeyAndTheMixerWindowOnTheDesktop()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("melody.mid"));
        QVERIFY(writeFile(song, SmfBuilder().title(QStringLiteral("Melody")).note(0, 60, 480).bytes()));
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        setup.engine.setTotals(960, 1000);
        QCOMPARE(window.BRSLoad(song), LoadOutcome::Success);
        QVERIFY(showActive(window));
        setup.engine.calls.clear();
        QVERIFY(type(QStringLiteral("alt+m")));
        QTRY_COMPARE(setup.engine.calls.filter(QStringLiteral("setChannel")), QStringList{"setChannelLevel(0,50)"});
        QTRY_VERIFY(window.panelTimeElapsed->text().startsWith(QStringLiteral("メロ小")));

        QVERIFY(type(QStringLiteral("alt+n")));
        QTRY_VERIFY(window.mixer().mixerWindow() && window.mixer().mixerWindow()->isActiveWindow());
        MixerWindow &mixer = *window.mixer().mixerWindow();
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                QStringLiteral("--name"), QStringLiteral("^チャンネル$")})
                    .trimmed()
                    .toULongLong() == mixer.winId());
        // A real click on channel 1's mute box, then Alt+M typed into this window.
        QCheckBox *mute = mixer.findChild<QCheckBox *>(QStringLiteral("checkMute1"));
        const QPoint at = mute->mapToGlobal(mute->rect().center());
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()),
                                                QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")})
                    .isEmpty());
        QTRY_VERIFY(mute->isChecked());
        QVERIFY(type(QStringLiteral("alt+m")));
        QTRY_COMPARE(setup.engine.calls.filter(QStringLiteral("setChannel")),
                     (QStringList{"setChannelLevel(0,50)", "setChannelMute(0,1)", "setChannelLevel(0,100)"}));
        QTRY_VERIFY(mixer.findChild<QLabel *>(QStringLiteral("labelMelody"))->text().contains(QStringLiteral("消す")));
        mixer.close();
    }

    void hotKeyActivatesTheWindowWhenItIsBehindAnother()
    {
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        QWidget other;
        other.setWindowTitle(QStringLiteral("other"));
        other.resize(300, 200);
        QVERIFY(showActive(other));
        QVERIFY(!window.isActiveWindow());
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(window.isActiveWindow());
        QVERIFY(window.isVisible() && !window.isMinimized());

    }

    void underAModalLoopTheKeyOnlyBringsTheDialogForward()
    {
        // With HideIfWindowIsActive off the key would otherwise minimise the window.
        Setup setup("[Tonelark]\r\nHideIfWindowIsActive=0\r\n");
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        QDialog dialog(&window);
        dialog.resize(200, 100);
        bool pressed = false;
        bool windowStayed = false;
        bool dialogActive = false;
        QTimer::singleShot(0, &dialog, [&] {
            if (QTest::qWaitForWindowActive(&dialog, 10000) && type(QStringLiteral("super+ctrl+shift+a"))) {
                QTest::qWait(500);
                pressed = true;
                windowStayed = window.isVisible() && !window.isMinimized() && !window.taskTrayIcon();
                dialogActive = dialog.isActiveWindow();
            }
            dialog.reject();
        });
        {
            const ModalLoopGuard modal(window.modalLoopState());
            dialog.exec();
        }
        QVERIFY(pressed);
        QVERIFY(windowStayed);
        QVERIFY(dialogActive);
        // Once the loop has ended the key acts on the window again.
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(window.isMinimized());
    }

    void hotKeyHidesABackWindowWhenHideIfActiveIsOff()
    {
        Setup setup("[Tonelark]\r\nHideIfWindowIsActive=0\r\n");
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        QWidget other;
        other.resize(300, 200);
        QVERIFY(showActive(other));
        QVERIFY(type(QStringLiteral("super+ctrl+shift+a")));
        QTRY_VERIFY(window.isMinimized());
    }

    void draggedByItsSurfaceThroughTheWindowManager()
    {
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        QVERIFY(showActive(window));
        window.move(100, 100);
        QTRY_COMPARE(window.pos(), QPoint(100, 100));
        // The bare surface right of the seek bar; then the mouse as a user moves it.
        const QPoint surface(window.gaugePlayback->geometry().right() + 5, window.gaugePlayback->y() + 2);
        QVERIFY(!window.childAt(surface));
        const QPoint start = window.mapToGlobal(surface);
        const auto xdotool = [](const QStringList &arguments) {
            QProcess process;
            process.start(QStringLiteral("xdotool"), arguments);
            return process.waitForFinished(10000) && process.exitCode() == 0;
        };
        QVERIFY(xdotool({"mousemove", QString::number(start.x()), QString::number(start.y())}));
        QVERIFY(xdotool({"mousedown", "1"}));
        QTest::qWait(200);
        for (int step = 1; step <= 5; ++step) {
            QVERIFY(xdotool({"mousemove", QString::number(start.x() + 20 * step), QString::number(start.y() + 10 * step)}));
            QTest::qWait(50);
        }
        QVERIFY(xdotool({"mouseup", "1"}));
        // The window manager takes over the pointer some motion events into the drag, so
        // the window follows the drag, not necessarily to the pixel.
        QTRY_VERIFY(window.pos().x() >= 160 && window.pos().y() >= 120);
        QVERIFY(window.pos().x() <= 200 && window.pos().y() <= 150);
    }

    void aKeyHeldByAnotherProgramIsRefused()
    {
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        GlobalHotKey other(qgetenv("DISPLAY"));
        QVERIFY(other.grab(0x4000 | 'K', true));
        QVERIFY(!window.RegHotKey(0x4000 | 'K'));
        QVERIFY(window.RegHotKey(0x4000 | 'J'));
        // Once the other program lets go, the key can be had.
        other.release();
        QVERIFY(window.RegHotKey(0x4000 | 'K'));
    }
};

TONELARK_X11_TEST_MAIN(DesktopWindowTest)

#include "DesktopWindowTest.moc"
