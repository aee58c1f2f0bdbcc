#include "FakeEngine.h"
#include "StageWindow.h"
#include "WindowTestSupport.h"
#include "uMain.h"

#include <QAction>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// The karaoke window on the tests' real X server under a window manager: keys typed with
// xdotool, the full-screen state read back with xprop as the window manager set it, and the
// place it keeps in the settings file on disk.
class StageWindowTest : public QObject {
    Q_OBJECT

private:
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
    static bool fullScreenAsTheWindowManagerSeesIt(QWidget &window)
    {
        return run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()),
                                             QStringLiteral("_NET_WM_STATE")})
            .contains(QLatin1String("_NET_WM_STATE_FULLSCREEN"));
    }
    static bool showActive(QWidget &window)
    {
        window.show();
        window.raise();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window, 10000);
    }

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

    void altLOpensF11FillsTheScreenEscLeavesAndTheFileKeepsThePlace()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("song.mid"));
        QVERIFY(writeFile(song, SmfBuilder().title(QStringLiteral("さくら")).lyric(480, QStringLiteral("さくら　さくら"))
                                    .lyric(1920, QStringLiteral("弥生の空は")).note(0, 60, 480).bytes()));
        const QString iniPath = dir.filePath(QStringLiteral("tonelark.ini"));
        QRect placed;
        {
            FakeEngine engine;
            FakeUi ui;
            Convex ini(iniPath);
            TfrmTonelark2Main window(engine, ini, {song}, &ui);
            QVERIFY(showActive(window));
            QVERIFY(type(QStringLiteral("alt+l")));
            QTRY_VERIFY(window.stageWindow() && window.stageWindow()->isVisible());
            StageWindow &stage = *window.stageWindow();
            QCOMPARE(stage.windowTitle(), StageWindow::caption());
            QVERIFY(window.actionStage->isChecked());
            // The song's lines are on the stage; a click on the second plays from its tick.
            QCOMPARE(stage.stage->scene().timeline().lines().size(), size_t(2));
            QVERIFY(QTest::qWaitForWindowActive(&stage, 10000));
            stage.follow(2200);
            const int second = stage.stage->scene().timeline().frameAt(2200).slotLines.at(1);
            QCOMPARE(second, 1);
            engine.calls.clear();
            QTest::mouseClick(stage.stage, Qt::LeftButton, {},
                              stage.stage->scene().layout(1).slot.center().toPoint());
            QVERIFY2(engine.calls.join(u' ').contains(QLatin1String(",2400)")), qPrintable(engine.calls.join(u' ')));

            QVERIFY(type(QStringLiteral("F11")));
            QTRY_VERIFY(fullScreenAsTheWindowManagerSeesIt(stage));
            QTRY_COMPARE(stage.size(), stage.screen()->size());
            QVERIFY(type(QStringLiteral("Escape")));
            QTRY_VERIFY(!fullScreenAsTheWindowManagerSeesIt(stage));
            QTRY_VERIFY(!stage.isFullScreen());

            // Moved and sized as a user would, then closed with the same key.
            QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("windowsize"), QString::number(stage.winId()),
                                                    QStringLiteral("700"), QStringLiteral("400")}) != "(timed out)");
            QTRY_COMPARE(stage.size(), QSize(700, 400));
            stage.move(120, 140);
            QTRY_VERIFY(qAbs(stage.geometry().x() - 120) < 40);
            placed = stage.geometry();
            QVERIFY(QTest::qWaitForWindowActive(&stage, 10000));
            QVERIFY(type(QStringLiteral("alt+l")));
            QTRY_VERIFY(!stage.isVisible());
            QVERIFY(!window.actionStage->isChecked());
            // The player goes on as it was.
            QVERIFY(window.isVisible());
            window.close();
        }
        QFile file(iniPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.contains("[Stage]"), bytes.constData());
        QVERIFY2(bytes.contains("Width=700") && bytes.contains("Height=400"), bytes.constData());

        // The next run opens it where it was left.
        FakeEngine engine;
        FakeUi ui;
        Convex ini(iniPath);
        TfrmTonelark2Main window(engine, ini, {}, &ui);
        QVERIFY(showActive(window));
        window.actionStage->trigger();
        QTRY_VERIFY(window.stageWindow()->isVisible());
        QTRY_COMPARE(window.stageWindow()->geometry(), placed);
        window.close();
    }
};

TONELARK_X11_TEST_MAIN(StageWindowTest)

#include "StageWindowTest.moc"
