#include "FakeEngine.h"
#include "Gauges.h"
#include "PrefRules.h"
#include "WindowTestSupport.h"
#include "uMain.h"
#include "uPref.h"

#include <QAction>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QRegularExpression>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// The settings dialog opened from the real main window, applied to a real settings file. The
// last case runs on the tests' X server under openbox and drives the dialog with real input.
class PrefWindowTest : public QObject {
    Q_OBJECT

private:
    struct Setup {
        QTemporaryDir dir;
        QString path;
        FakeEngine engine;
        FakeUi ui;
        Convex ini;
        std::unique_ptr<TfrmTonelark2Main> window;
        Setup()
        {
            path = dir.filePath(QStringLiteral("Tonelark.ini"));
            ini = Convex(path);
            engine.ports = {QStringLiteral("Port A")};
            window = std::make_unique<TfrmTonelark2Main>(engine, ini, QStringList(), &ui);
        }
        Convex saved() const { return Convex(path); }
    };

    // Runs `inside` on the settings dialog once it is open, then waits until it has closed.
    static bool withDialog(TfrmTonelark2Main &window, const std::function<void(TfrmTonelark2Pref &)> &inside)
    {
        bool seen = false;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, &window, [&] {
            auto *dialog = qobject_cast<TfrmTonelark2Pref *>(QApplication::activeModalWidget());
            if (!dialog || seen)
                return;
            seen = true;
            inside(*dialog);
        });
        poll.start();
        window.actionSettings->trigger();
        const auto closed = [&] { return seen && !QApplication::activeModalWidget() && !window.inModalLoop(); };
        QDeadlineTimer deadline(20000);
        while (!closed() && !deadline.hasExpired())
            QTest::qWait(20);
        return closed();
    }

    static bool xdotool(const QStringList &arguments)
    {
        QProcess process;
        process.start(QStringLiteral("xdotool"), arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0;
    }
    static bool click(QWidget *widget, int button = 1)
    {
        const QPoint at = widget->mapToGlobal(widget->rect().center());
        return xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}) &&
               xdotool({QStringLiteral("click"), QString::number(button)});
    }

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Tonelark")); }

    void okAppliesToTheRunningWindowAndTheFile()
    {
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        setup.engine.setStatus(BRSSTATE_PLAY, 0, 0);
        window.timerUpdatingTimer(); // the last poll saw the song playing
        setup.engine.calls.clear();
        QVERIFY(withDialog(window, [&](TfrmTonelark2Pref &dialog) {
            QVERIFY(window.inModalLoop());
            QCOMPARE(dialog.parentWidget(), &window);
            QCOMPARE(dialog.font().family(), window.font().family());
            QCOMPARE(dialog.comboMidiOutDevs->currentIndex(), 0);
            dialog.comboMidiOutDevs->setCurrentIndex(1);
            dialog.checkDisableLoop->click();
            dialog.popupMenuProgress->actions()[1]->trigger();
            dialog.buttonOk->click();
        }));
        QCOMPARE(setup.engine.calls.filter(QStringLiteral("openDevice")), QStringList({"openDevice(0)"}));
        // The new output gets the singer's key and tempo too.
        QCOMPARE(setup.engine.calls.filter(QRegularExpression(QStringLiteral("^set(Key|Tempo)"))),
                 QStringList({"setKeyShift(0)", "setTempoRatio(100)"}));
        const Convex saved = setup.saved();
        QCOMPARE(saved.ReadInteger(kSectionTonelark, u"MidiOutDeviceId", -1), 0);
        QCOMPARE(saved.ReadInteger(kSectionProgress, u"ForeColor", -1), 0xFFFF99);
        QCOMPARE(window.gaugePlayback->foreColor(), 0xFFFF99);
        QCOMPARE(setup.ui.informations,
                 QStringList({QStringLiteral("設定|変更された次の設定は次回の演奏から有効になります。\r\n\r\n・繰り返しを行わない")}));
        QCOMPARE(window.settings().DisableLoop, true);
    }

    void cancelChangesNothingButTheCustomColours()
    {
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        const TColor before = window.gaugePlayback->foreColor();
        TfrmTonelark2Pref::CustomColorList()[0] = qRgb(1, 2, 3);
        QVERIFY(withDialog(window, [&](TfrmTonelark2Pref &dialog) {
            dialog.popupMenuProgress->actions()[2]->trigger();
            dialog.checkDisableLoop->click();
            // A colour picked and then the colour dialog cancelled: its custom colours stay.
            QTimer::singleShot(0, &dialog, [&] {
                auto *colors = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
                QVERIFY(colors);
                QCOMPARE(QColorDialog::customColor(0), QColor(1, 2, 3));
                QColorDialog::setCustomColor(1, QColor(4, 5, 6));
                colors->reject();
            });
            dialog.buttonLyricBackColor->click();
            QTest::keyClick(&dialog, Qt::Key_Escape);
        }));
        QVERIFY(!QFileInfo::exists(setup.path));
        QCOMPARE(window.gaugePlayback->foreColor(), before);
        QCOMPARE(window.settings().DisableLoop, false);
        QCOMPARE(TfrmTonelark2Pref::CustomColorList()[1], qRgb(4, 5, 6));
    }

    // Real input on a real X server: the dialog opens from Alt+C, the lyric highlight colour
    // is typed into the colour dialog, a seek bar preset comes from the page's context menu,
    // and Enter confirms; the file on disk and the window as the X server shows it follow.
    void realDesktopChangesColoursAndSeekBarStyle()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("no X server for the tests (DISPLAY_FOR_X11_TESTS is set by scripts/test.sh)");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("xdotool is needed (scripts/setup.sh --tests)");
        // Dialogs' focus and stacking are the window manager's work: without one the steps
        // below do not hold (a dialog comes back after the last one and waits for ever).
        if (qEnvironmentVariableIsEmpty("TONELARK_X11_WM"))
            QSKIP("no window manager on the test display (scripts/servers/x11wm.sh starts openbox)");
        Setup setup;
        TfrmTonelark2Main &window = *setup.window;
        window.show();
        window.raise();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window, 10000));

        bool seen = false;
        QTimer poll;
        poll.setInterval(50);
        int step = 0;
        connect(&poll, &QTimer::timeout, &window, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            auto *dialog = qobject_cast<TfrmTonelark2Pref *>(modal);
            auto *colors = qobject_cast<QColorDialog *>(modal);
            if (step == 0 && dialog && dialog->isActiveWindow()) {
                seen = true;
                step = 1;
                dialog->pageCtrl->setCurrentWidget(dialog->tabLyric);
                QVERIFY(click(dialog->buttonLyricTextColor));
            } else if (step == 1 && colors && colors->isActiveWindow()) {
                step = 2;
                // Opened with its bottom edge at the cursor, the red box ready for typing.
                const QRect area = colors->screen()->availableGeometry();
                QCOMPARE(colors->frameGeometry().topLeft(),
                         colorDialogPosition(colors->frameGeometry().size(), QCursor::pos(), area.x() + area.width()));
                QVERIFY(colors->focusWidget() && colors->focusWidget()->inherits("QSpinBox"));
                QVERIFY(xdotool({QStringLiteral("type"), QStringLiteral("200")}));
                QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
            } else if (step == 2 && dialog && dialog->isActiveWindow()) {
                step = 3;
                dialog->pageCtrl->setCurrentWidget(dialog->tabProgress);
                const QPoint free = dialog->tabProgress->mapToGlobal(
                    QPoint(dialog->tabProgress->width() - 10, dialog->tabProgress->height() - 10));
                QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(free.x()), QString::number(free.y())}));
                QVERIFY(xdotool({QStringLiteral("click"), QStringLiteral("3")}));
            } else if (step == 3 && dialog && dialog->popupMenuProgress->isVisible()) {
                step = 4;
                QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("c")})); // シアンカラー(&C)
            } else if (step == 4 && dialog && dialog->isActiveWindow() && !dialog->popupMenuProgress->isVisible()) {
                step = 5;
                QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
            }
        });
        poll.start();
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("alt+c")}));
        QTRY_VERIFY_WITH_TIMEOUT(step == 5 && !QApplication::activeModalWidget(), 30000);
        QVERIFY(seen);

        const Convex saved = setup.saved();
        QCOMPARE(saved.ReadInteger(kSectionLyric, u"TextColor", -1), 0xFF99C8); // red 0x66 became 200
        QCOMPARE(saved.ReadInteger(kSectionProgress, u"ForeColor", -1), 0xFFFF99);
        QCOMPARE(saved.ReadInteger(kSectionProgress, u"FrameColor", -1), 0x999999);
        QCOMPARE(window.settings().Lyric.TextColor, 0xFF99C8);

        // The seek bar's frame as the X server shows it now.
        QTest::qWait(200);
        TGauge *gauge = window.gaugePlayback;
        const QPoint origin = gauge->mapToGlobal(QPoint(0, 0));
        const QImage shot = window.screen()
                                ->grabWindow(0, origin.x(), origin.y(), gauge->width(), gauge->height())
                                .toImage();
        QCOMPARE(QColor(shot.pixel(0, gauge->height() / 2)), QColor(0x99, 0x99, 0x99));
    }
};

TONELARK_X11_TEST_MAIN(PrefWindowTest)

#include "PrefWindowTest.moc"
