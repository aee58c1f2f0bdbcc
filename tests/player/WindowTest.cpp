#include "FakeEngine.h"
#include "FileNames.h"
#include "Gauges.h"
#include "WindowTestSupport.h"
#include "uMain.h"
#include "MixerControls.h"

#include <QWidgetAction>
#include <QCheckBox>
#include <QLabel>
#include <QSlider>

#include <QAction>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QMimeData>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QSet>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QMenu>
#include <QMimeData>
#include <QWheelEvent>
#include <QtTest>
#include <QDeadlineTimer>
#include <thread>
#include <atomic>

#include <fcntl.h>
#include <unistd.h>

using namespace tonelark;
using namespace tonelark::test;

// The wiring of the real main window on the offscreen platform, with the recording engine
// and a Ui that answers for the user.
class WindowTest : public QObject {
    Q_OBJECT

private:
    struct Setup {
        FakeEngine engine;
        FakeUi ui;
        Convex ini;
    };
    static std::unique_ptr<TfrmTonelark2Main> makeWindow(Setup &setup, const QByteArray &iniText = {},
                                                         const QStringList &arguments = {})
    {
        setup.ini = Convex::fromBytes(iniText);
        return std::make_unique<TfrmTonelark2Main>(setup.engine, setup.ini, arguments, &setup.ui);
    }

    static QStringList queuePaths(TfrmTonelark2Main &window)
    {
        QStringList paths;
        for (const QueueEntry &entry : window.queuePlayer().queue().entries())
            paths << entry.path;
        return paths;
    }

private slots:
    // The program entry sets the application title before the window exists.
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Tonelark")); }

    void componentsCarryTheirNames()
    {
        Setup setup;
        auto window = makeWindow(setup);
        const char *const names[] = {
            "labelCopyright", "editCopyright", "labelTitle", "editTitle", "gaugePlayback",
            "toolbarLeft", "toolButtonOfSettings", "toolButtonOfPin", "toolButtonOfInfo",
            "toolbarCenter", "toolButtonOfOpen", "toolbarRight", "toolButtonOfPlay",
            "toolButtonOfPause", "toolButtonOfStop", "toolButtonOfSeek", "panelTimeElapsed",
            "pagesInfo", "tabInfo", "tabComments", "tabLyrics", "tabCompileMsg", "tabAbout",
            "memoComments", "memoMetaComments", "memoLyrics", "memoCompileMsg", "lvLyrics",
            "textAbout", "timerUpdating", "popupMenuTaskTray", "menuItemRestore", "menuItemExit",
            "popupMenuPlayback", "menuItemPlayFromBeginning", "menuItemPlayFromCC111", "menuItemSeek",
            "popupMenuLyrics", "pmiCopyLyricsToClipboard", "pmiSaveLyrics", "pmiSaveLyricsOnly",
            "pmiSaveLyricsAndDetails", "pmiLyricsIncludeMetaText", "pmiLyricsPreferTitleToCopyright",
            "pmiScrollToCurrentLyric", "popupMenuMetaText", "pmiMetaTextCopy", "pmiMetaTextSelectAll",
            "pmiMetaTextCopyFormat1", "pmiMetaTextCopyFormat2", "popupMenuMain", "pmiTransparent",
            "pmiTransparentQuarter", "pmiTransparentHalf", "pmiTransparentNone"};
        for (const char *name : names)
            QVERIFY2(window->findChild<QObject *>(QLatin1String(name)) != nullptr, name);

        QCOMPARE(window->toolButtonOfPlay->toolTip(), QStringLiteral("演奏"));
        QCOMPARE(window->toolButtonOfSeek->toolTip(), QStringLiteral("演奏位置の入力指定"));
        QCOMPARE(window->toolButtonOfPin->toolTip(), QStringLiteral("最前面に表示"));
        QCOMPARE(window->labelCopyright->text(), QStringLiteral("作者:"));
        QCOMPARE(window->pagesInfo->tabText(3), QStringLiteral("曲順"));
        QCOMPARE(window->pagesInfo->tabText(4), QStringLiteral("コンパイラ"));
        QCOMPARE(window->pagesInfo->tabText(5), QStringLiteral("バージョン情報"));
        QCOMPARE(window->imageListOfToolbar().size(), 9);
        for (const QIcon &icon : window->imageListOfToolbar())
            QVERIFY(!icon.pixmap(16, 16).isNull());
        QCOMPARE(window->gaugePlayback->size(), QSize(329, 13));
        QVERIFY(window->editCopyright->isReadOnly());
        QVERIFY(window->memoComments->isReadOnly());
    }

    void actionsHaveTheirShortcuts()
    {
        Setup setup;
        auto window = makeWindow(setup);
        const std::pair<const char *, const char *> expected[] = {
            {"actionPlay", "Alt+Q"}, {"actionPause", "Alt+W"}, {"actionStop", "Alt+E"},
            {"actionTimeOrTick", "Alt+T"}, {"actionPin", "Alt+A"}, {"actionSeek", "Alt+S"},
            {"actionInfo", "Alt+D"}, {"actionOpen", "Alt+F"}, {"actionHelp", "Alt+H"},
            {"actionSettings", "Alt+C"}, {"actionNextTab", "Alt+X"}, {"actionPrevTab", "Alt+Z"},
            {"actionAbout", "Alt+V"}, {"actionSearchStr", "Ctrl+F"}, {"actionSeekBack", "Alt+Left"},
            {"actionSeekForward", "Alt+Right"}, {"actionRewind", "Alt+R"}, {"actionKeyUp", "Alt+Up"},
            {"actionKeyDown", "Alt+Down"}, {"actionKeyOriginal", "Alt+K"}, {"actionTempoUp", "Alt+PgUp"},
            {"actionTempoDown", "Alt+PgDown"}, {"actionTempoOriginal", "Alt+P"},
            {"actionRepeatStart", "Alt+["}, {"actionRepeatEnd", "Alt+]"}};
        for (const auto &[name, keys] : expected) {
            auto *action = window->findChild<QAction *>(QLatin1String(name));
            QVERIFY2(action, name);
            QCOMPARE(action->shortcut(), QKeySequence(QString::fromLatin1(keys)));
        }
        const QList<QKeySequence> menuKeys = window->actionMainContextMenu->shortcuts();
        QVERIFY(menuKeys.size() == 2 && menuKeys[0].isEmpty());
        QCOMPARE(menuKeys[1], QKeySequence(Qt::ALT | Qt::Key_At));

        // No key does two things, and none is the default global hot key.
        QList<QKeySequence> seen{QKeySequence(Qt::META | Qt::CTRL | Qt::SHIFT | Qt::Key_A)};
        for (const QAction *action : window->actions()) {
            for (const QKeySequence &keys : action->shortcuts()) {
                if (keys.isEmpty())
                    continue;
                QVERIFY2(!seen.contains(keys), qPrintable(keys.toString()));
                seen << keys;
            }
        }
    }

    void keyAndTempoItemsReachTheEngineAndMarkTheTime()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a.mid"));
        QVERIFY(writeFile(file, SmfBuilder().note(0, 60, 480).bytes()));
        Setup setup;
        setup.engine.setTotals(960, 1000);
        auto window = makeWindow(setup, "[Tonelark]\nShowInfo=1\n", {file});
        // Both menus carry the six items.
        const QList<QAction *> items{window->actionKeyUp, window->actionKeyDown, window->actionKeyOriginal,
                                     window->actionTempoUp, window->actionTempoDown, window->actionTempoOriginal};
        for (QMenu *menu : {window->popupMenuMain, window->popupMenuPlayback})
            for (QAction *item : items)
                QVERIFY2(menu->actions().contains(item), qPrintable(item->text()));
        // Every item of either menu carries an accelerator of its own.
        for (QMenu *menu : {window->popupMenuMain, window->popupMenuPlayback}) {
            QSet<QChar> taken;
            for (QAction *item : menu->actions()) {
                // A row holding a widget (the volume slider) is no item to type a letter for.
                if (item->isSeparator() || qobject_cast<QWidgetAction *>(item))
                    continue;
                // The A–B repeat's captions are given as they are, without an accelerator.
                if (item->objectName().startsWith(QLatin1String("pmiRepeat")))
                    continue;
                const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\(&(.)\\)(\\.\\.\\.)?$")).match(item->text());
                QVERIFY2(m.hasMatch(), qPrintable(item->text()));
                const QChar key = m.captured(1).at(0).toUpper();
                QVERIFY2(!taken.contains(key), qPrintable(menu->objectName() + QLatin1Char(' ') + item->text()));
                taken.insert(key);
            }
        }
        QCOMPARE(window->actionKeyDown->text(), QStringLiteral("キー −1(&D)"));
        QCOMPARE(window->actionTempoOriginal->text(), QStringLiteral("元のテンポ(&P)"));
        QVERIFY(!window->actionKeyOriginal->isEnabled() && !window->actionTempoOriginal->isEnabled());
        setup.engine.setStatus(BRSSTATE_PLAY, 480, 500);
        window->timerUpdatingTimer();
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("00:00 / 00:01"));

        // Keys pressed while the lyric list, which moves on plain arrows, has the focus.
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        window->pagesInfo->setCurrentWidget(window->tabLyrics);
        window->lvLyrics->setFocus();
        setup.engine.calls.clear();
        QTest::keyClick(window->lvLyrics, Qt::Key_Up, Qt::AltModifier);
        QTest::keyClick(window->lvLyrics, Qt::Key_Up, Qt::AltModifier);
        QTest::keyClick(window->lvLyrics, Qt::Key_PageDown, Qt::AltModifier);
        window->timerUpdatingTimer();
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("♯2 95%  00:00 / 00:01"));
        QCOMPARE(window->panelTimeElapsed->toolTip(), QStringLiteral("キー: ♯2 (2 半音上)\nテンポ: 95%"));
        window->actionKeyDown->trigger(); // as the item of either menu
        QTest::keyClick(window.get(), Qt::Key_K, Qt::AltModifier);
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("95%  00:00 / 00:01"));
        QTest::keyClick(window.get(), Qt::Key_P, Qt::AltModifier);
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("00:00 / 00:01"));
        QCOMPARE(window->panelTimeElapsed->toolTip(), QStringLiteral("キー: 原曲キー\nテンポ: 100% (元のテンポ)"));
        const QStringList sent = setup.engine.calls.filter(QRegularExpression(QStringLiteral("^set(Key|Tempo)")));
        QCOMPARE(sent, (QStringList{"setKeyShift(1)", "setKeyShift(2)", "setTempoRatio(95)", "setKeyShift(1)",
                                    "setKeyShift(0)", "setTempoRatio(100)"}));

        // At a limit the step is greyed and sends nothing; the next song keeps what was set.
        for (int i = 0; i < 30; ++i)
            window->actionTempoDown->trigger();
        QVERIFY(!window->actionTempoDown->isEnabled());
        setup.engine.calls.clear();
        window->actionTempoDown->trigger();
        QTest::keyClick(window.get(), Qt::Key_PageDown, Qt::AltModifier);
        QVERIFY(setup.engine.calls.isEmpty());
        QCOMPARE(window->BRSLoad(file), LoadOutcome::Success);
        window->timerUpdatingTimer();
        QCOMPARE(window->keyTempo().tempo(), 50);
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("50%  00:00 / 00:01"));
        QVERIFY(setup.engine.calls.filter(QRegularExpression(QStringLiteral("^set(Key|Tempo)"))).isEmpty());

        // The widest mark before a long tick count still shows whole, in a smaller face.
        for (int i = 0; i < 12; ++i)
            window->actionKeyUp->trigger();
        setup.engine.setTotals(234567, 1000);
        setup.engine.setStatus(BRSSTATE_PLAY, 123456, 500);
        window->actionTimeOrTick->trigger();
        window->timerUpdatingTimer();
        TimePanel *panel = window->panelTimeElapsed;
        QCOMPARE(panel->text(), QStringLiteral("♯12 50%  123456 / 234567"));
        QVERIFY(QFontMetrics(panel->font()).horizontalAdvance(panel->text()) <= panel->contentsRect().width());
        QVERIFY(panel->font() != window->font());
        window->actionKeyOriginal->trigger();
        window->actionTempoOriginal->trigger();
        QCOMPARE(panel->font(), window->font());
    }

    void guideMelodyAndMixerReachTheEngineAndAreStoredAtClose()
    {
        QTemporaryDir dir;
        const QString song = dir.filePath(QStringLiteral("melody.mid"));
        QVERIFY(writeFile(song, SmfBuilder().title(QStringLiteral("Melody")).note(0, 60, 480).note(0, 62, 480).bytes()));
        const QString path = dir.filePath(QStringLiteral("Tonelark.ini"));
        QVERIFY(writeFile(path, "[Tonelark]\nShowInfo=1\n\n"));
        qputenv("XDG_STATE_HOME", dir.filePath(QStringLiteral("state")).toUtf8());
        {
            FakeEngine engine;
            FakeUi ui;
            Convex ini(path);
            engine.setTotals(960, 1000);
            TfrmTonelark2Main window(engine, ini, {song}, &ui);
            QVERIFY(window.memoComments->toPlainText().contains(QStringLiteral("メロディ: ch 1")));
            auto *guide = window.findChild<QAction *>(QStringLiteral("actionGuideMelody"));
            auto *mixer = window.findChild<QAction *>(QStringLiteral("actionMixer"));
            QVERIFY(guide && mixer);
            QCOMPARE(guide->shortcut(), QKeySequence(QStringLiteral("Alt+M")));
            QCOMPARE(mixer->shortcut(), QKeySequence(QStringLiteral("Alt+N")));
            for (QMenu *menu : {window.popupMenuMain, window.popupMenuPlayback})
                QVERIFY(menu->actions().contains(guide) && menu->actions().contains(mixer));
            QVERIFY(window.popupMenuMain->findChild<QSlider *>(QStringLiteral("sliderMenuVolume")));
            engine.setStatus(BRSSTATE_PLAY, 480, 500);
            window.show();
            QVERIFY(QTest::qWaitForWindowActive(&window));
            engine.calls.clear();
            QTest::keyClick(&window, Qt::Key_M, Qt::AltModifier);
            window.timerUpdatingTimer();
            QCOMPARE(window.panelTimeElapsed->text(), QStringLiteral("メロ小  00:00 / 00:01"));
            QCOMPARE(guide->text(), QStringLiteral("ガイドメロディ: 小さく(&M)"));
            QTest::keyClick(&window, Qt::Key_M, Qt::AltModifier);
            window.timerUpdatingTimer();
            QCOMPARE(window.panelTimeElapsed->text(), QStringLiteral("メロ消  00:00 / 00:01"));
            QCOMPARE(engine.calls.filter(QStringLiteral("setChannel")),
                     (QStringList{"setChannelLevel(0,50)", "setChannelMute(0,1)", "setChannelLevel(0,100)"}));

            // The next song keeps the guide melody; a song without melody shows no mark.
            const QString plain = dir.filePath(QStringLiteral("plain.mid"));
            QVERIFY(writeFile(plain, SmfBuilder().note(0, 60, 480).bytes()));
            engine.calls.clear();
            QCOMPARE(window.BRSLoad(plain), LoadOutcome::Success);
            QVERIFY(window.memoComments->toPlainText().contains(QStringLiteral("メロディ: なし")));
            QCOMPARE(engine.calls.filter(QStringLiteral("setChannel")), QStringList{"setChannelMute(0,0)"});
            window.timerUpdatingTimer();
            QCOMPARE(window.panelTimeElapsed->text(), QStringLiteral("00:00 / 00:01"));
            engine.calls.clear();
            QCOMPARE(window.BRSLoad(song), LoadOutcome::Success);
            const int playAt = int(engine.calls.indexOf(QRegularExpression(QStringLiteral("play\\(.*"))));
            QVERIFY(engine.calls.indexOf(QStringLiteral("setChannelMute(0,1)")) >= 0);
            QVERIFY(engine.calls.indexOf(QStringLiteral("setChannelMute(0,1)")) < playAt);

            // The window 「チャンネル」: Alt+N, a mute and a level go to the engine; nothing repaints
            // while paused.
            QTest::keyClick(&window, Qt::Key_N, Qt::AltModifier);
            QTRY_VERIFY(window.mixer().mixerWindow() && window.mixer().mixerWindow()->isVisible());
            MixerWindow *mixerWindow = window.mixer().mixerWindow();
            QCOMPARE(mixerWindow->windowTitle(), QStringLiteral("チャンネル"));
            QCOMPARE(mixerWindow->findChild<QLabel *>(QStringLiteral("labelTrack1"))->text(), QStringLiteral("Melody"));
            engine.calls.clear();
            mixerWindow->findChild<QCheckBox *>(QStringLiteral("checkSolo3"))->click();
            mixerWindow->findChild<QSlider *>(QStringLiteral("sliderLevel3"))->setValue(70);
            QCOMPARE(engine.calls.filter(QStringLiteral("setChannel")),
                     (QStringList{"setChannelSolo(2,1)", "setChannelLevel(2,70)"}));
            engine.channels[0].NoteOns = 1;
            engine.channels[0].Velocity = 127;
            engine.channels[0].Flags = BRSCHANNEL_PROGRAM;
            engine.channels[0].Program = 73;
            mixerWindow->pollChannels();
            QCOMPARE(mixerWindow->meter(0)->height(), ChannelMeters::kSteps);
            QCOMPARE(mixerWindow->findChild<QLabel *>(QStringLiteral("labelInstrument1"))->text(), QStringLiteral("フルート"));
            engine.setStatus(BRSSTATE_PAUSE, 480, 500);
            mixerWindow->pollChannels();
            QTRY_COMPARE(mixerWindow->meter(0)->height(), 0);
            QTest::qWait(50);
            const int paints = mixerWindow->meter(0)->paintCount();
            QTest::qWait(300);
            QCOMPARE(mixerWindow->meter(0)->paintCount(), paints);

            // The master volume from the window's menu steps and the mixer's slider.
            mixerWindow->findChild<QSlider *>(QStringLiteral("sliderVolume"))->setValue(50);
            QCOMPARE(engine.calls.last(), QStringLiteral("setMasterVolume(-63)"));
            window.findChild<QAction *>(QStringLiteral("actionVolumeUp"))->trigger();
            QCOMPARE(window.mixer().volume(), 55);
            QCOMPARE(window.popupMenuMain->findChild<QSlider *>(QStringLiteral("sliderMenuVolume"))->value(), 55);
            QCOMPARE(mixerWindow->findChild<QSlider *>(QStringLiteral("sliderVolume"))->value(), 55);
            window.close();
        }
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("[Tonelark]\nShowInfo=1\nGuideMelody=2\nMasterVolume=55\n\n"));
        written.close();
        FakeEngine engine;
        FakeUi ui;
        Convex ini(path);
        TfrmTonelark2Main window(engine, ini, {}, &ui);
        QCOMPARE(engine.calls, (QStringList{"setMasterVolume(-57)", "openDevice(-1100)"}));
        QCOMPARE(window.mixer().session().mixer().guideMelody(), GuideMelody::Off);
        window.close();
        qunsetenv("XDG_STATE_HOME");
    }

    void keyAndTempoAreStoredAtCloseAndSentAtStart()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tonelark.ini"));
        QVERIFY(writeFile(path, "[Tonelark]\nSecondsToSkip=3\n\n"));
        {
            FakeEngine engine;
            FakeUi ui;
            Convex ini(path);
            TfrmTonelark2Main window(engine, ini, {}, &ui);
            window.actionKeyDown->trigger();
            window.actionTempoDown->trigger();
            window.actionTempoDown->trigger();
            window.close();
        }
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("[Tonelark]\nSecondsToSkip=3\nKeyShift=-1\nTempoRatio=90\n\n"));
        written.close();

        FakeEngine engine;
        FakeUi ui;
        Convex ini(path);
        auto window = std::make_unique<TfrmTonelark2Main>(engine, ini, QStringList(), &ui);
        QCOMPARE(engine.calls, (QStringList{"openDevice(-1100)", "setKeyShift(-1)", "setTempoRatio(90)"}));
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("♭1 90%  --:-- / --:--"));
        window->outputDeviceChanged();
        QCOMPARE(engine.calls.mid(3), (QStringList{"setKeyShift(-1)", "setTempoRatio(90)"}));
        window->close();
        QVERIFY(!ini.Modified());

        // A hand-edited value beyond the range plays at the limit and stays in the file as written.
        Setup edited;
        auto other = makeWindow(edited, "[Tonelark]\nTempoRatio=500\nKeyShift=x\n");
        QCOMPARE(edited.engine.calls, (QStringList{"openDevice(-1100)", "setTempoRatio(200)"}));
        other->close();
        QVERIFY(!edited.ini.Modified());
    }

    // A song takes seconds to register when it is large: meanwhile the window goes on
    // handling its events (here a timer of the window's thread lets the registration finish),
    // and the song is shown once it is in.
    void aLoadRegistersWhileTheWindowAnswers()
    {
        Setup setup;
        auto window = makeWindow(setup);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("large.mid"));
        QVERIFY(writeFile(file, SmfBuilder().title(QStringLiteral("大きな曲")).note(0, 60, 480).bytes()));
        std::atomic<bool> answered{false};
        bool releasedByTheWindow = false;
        setup.engine.duringAddList = [&] {
            QDeadlineTimer deadline(10000);
            while (!answered && !deadline.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            releasedByTheWindow = answered;
        };
        QTimer::singleShot(20, window.get(), [&] { answered = true; });
        QCOMPARE(window->BRSLoad(file), LoadOutcome::Success);
        QVERIFY(releasedByTheWindow);
        QCOMPARE(window->editTitle->text(), QStringLiteral("大きな曲"));
        QVERIFY(!setup.engine.calls.filter(QStringLiteral("play(")).isEmpty());
    }

    void initialStates()
    {
        Setup setup;
        auto window = makeWindow(setup);
        QVERIFY(!window->toolButtonOfPlay->isEnabled());
        QVERIFY(!window->toolButtonOfPause->isEnabled());
        QVERIFY(!window->toolButtonOfStop->isEnabled());
        QVERIFY(!window->toolButtonOfSeek->isEnabled());
        QVERIFY(window->toolButtonOfOpen->isEnabled());
        QVERIFY(window->toolButtonOfSettings->isEnabled());
        QVERIFY(window->toolButtonOfPin->isCheckable() && window->toolButtonOfInfo->isCheckable());
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("--:-- / --:--"));
        QVERIFY(!window->timerUpdating->isActive());
        QCOMPARE(window->timerUpdating->interval(), 16);
        QVERIFY(window->pagesInfo->isTabVisible(0));
        for (int page = 1; page < 5; ++page)
            QVERIFY(!window->pagesInfo->isTabVisible(page));
        QVERIFY(window->pmiTransparentNone->isChecked());
        QVERIFY(window->pmiScrollToCurrentLyric->isChecked());
        QCOMPARE(window->windowTitle(), QStringLiteral("Tonelark"));
        QVERIFY(window->acceptDrops());
        // The device is opened at creation with the configured id, nothing else happens.
        QCOMPARE(setup.engine.calls, QStringList{QStringLiteral("openDevice(-1100)")});
        QVERIFY(setup.ui.errors.isEmpty());
    }

    void defaultFontGivesTheFixedPitchLayout()
    {
        if (!QFontDatabase::hasFamily(QStringLiteral("IPAGothic")))
            QSKIP("fonts-ipafont-gothic is not installed");
        Setup setup;
        auto window = makeWindow(setup);
        QCOMPARE(window->font().family(), QStringLiteral("ＭＳ ゴシック"));
        QCOMPARE(QFontInfo(window->memoComments->font()).family(), QStringLiteral("IPAGothic"));
        QCOMPARE(window->infoFontPitch(), 1);

        Setup proportional;
        auto other = makeWindow(proportional, "[Tonelark]\nFontName=IPAPGothic\nFontSize=12\n");
        QCOMPARE(other->infoFontPitch(), 2);
        QCOMPARE(other->font().pointSize(), 12);
    }

    void infoAreaFollowsShowInfo()
    {
        Setup hidden;
        auto window = makeWindow(hidden);
        QCOMPARE(window->size(), QSize(352, 251 - 147));
        QVERIFY(!window->pagesInfo->isVisibleTo(window.get()));
        QVERIFY(!window->toolButtonOfInfo->isChecked());
        window->toolButtonOfInfo->click();
        QCOMPARE(window->size(), QSize(352, 251));
        QVERIFY(window->pagesInfo->isVisibleTo(window.get()));
        QVERIFY(window->toolButtonOfInfo->isChecked());

        Setup shown;
        auto other = makeWindow(shown, "[Tonelark]\nShowInfo=1\n");
        QCOMPARE(other->size(), QSize(352, 251));
        QVERIFY(other->toolButtonOfInfo->isChecked());
    }

    void aloneStartIsSaidInTheInfoArea()
    {
        // The program entry's notice when no instance lock could be had: in the info memo,
        // whose area opens for it without changing the stored ShowInfo.
        Setup setup;
        auto window = makeWindow(setup);
        window->showInfoNotice(QStringLiteral("[起動]\r\n単独で起動しました。"));
        QVERIFY(window->pagesInfo->isVisibleTo(window.get()));
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabInfo);
        QCOMPARE(window->memoComments->toPlainText(), QStringLiteral("[起動]\n単独で起動しました。"));
        window->close();
        QVERIFY(!setup.ini.Modified());
    }

    void aboutPageIsReachableWithoutATab()
    {
        Setup setup;
        auto window = makeWindow(setup);
        window->actionAbout->trigger();
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabAbout);
        QVERIFY(!window->pagesInfo->isTabVisible(4));
        // Previous tab from the hidden page goes to the nearest visible tab before it.
        window->actionPrevTab->trigger();
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabInfo);
        window->actionPrevTab->trigger();
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabInfo);
    }

    void commandLineSongIsLoadedBeforeTheFirstShowing()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("曲 1.mid"));
        const QByteArray smf = SmfBuilder()
                                   .copyright(QStringLiteral("作者です"))
                                   .title(QStringLiteral("題名です"))
                                   .lyric(0, QStringLiteral("うた"))
                                   .note(0, 60, 480)
                                   .bytes();
        QVERIFY(writeFile(file, smf));
        Setup setup;
        setup.engine.setTotals(960, 1000);
        auto window = makeWindow(setup, {}, {file, QStringLiteral("ignored.mid")});

        QVERIFY(!window->isVisible());
        QCOMPARE(window->editCopyright->text(), QStringLiteral("作者です"));
        QCOMPARE(window->editTitle->text(), QStringLiteral("題名です"));
        QCOMPARE(window->windowTitle(), QStringLiteral("曲 1.mid - Tonelark"));
        QCOMPARE(window->applicationTitle(), window->windowTitle());
        QVERIFY(window->timerUpdating->isActive());
        QVERIFY(window->pagesInfo->isTabVisible(2));
        QCOMPARE(window->lvLyrics->model()->rowCount(), 1);
        QCOMPARE(window->lvLyrics->model()->index(0, 1).data().toString(), QStringLiteral("うた"));
        QCOMPARE(window->lvLyrics->model()->index(0, 0).data().toString(), QStringLiteral("00:00"));
        QVERIFY(window->memoComments->toPlainText().startsWith(QStringLiteral("[Song Info]\n")));
        const QStringList calls = setup.engine.calls;
        QCOMPARE(calls.first(), QStringLiteral("openDevice(-1100)"));
        QVERIFY(calls.indexOf(QStringLiteral("addListFromMemory(%1)").arg(smf.size())) > 0);
        QCOMPARE(calls.last(), QStringLiteral("play(35,0)"));

        // The monitor's ticks drive the buttons, the panel and the seek bar.
        setup.engine.setStatus(BRSSTATE_PLAY, 480, 500);
        window->timerUpdatingTimer();
        QVERIFY(!window->toolButtonOfPlay->isEnabled());
        QVERIFY(window->toolButtonOfPause->isEnabled());
        QVERIFY(window->toolButtonOfStop->isEnabled());
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("00:00 / 00:01"));
        QCOMPARE(window->gaugePlayback->maxValue(), 1000);
        QCOMPARE(window->gaugePlayback->progress(), 500);

        setup.engine.setStatus(BRSSTATE_STOP, 0, 0);
        window->timerUpdatingTimer();
        QVERIFY(window->toolButtonOfPlay->isEnabled());
        QVERIFY(!window->toolButtonOfPause->isEnabled());

        // Pause and Stop reach the engine.
        setup.engine.calls.clear();
        setup.engine.setStatus(BRSSTATE_PLAY, 480, 500);
        window->timerUpdatingTimer();
        window->actionPause->trigger();
        window->actionStop->trigger();
        QCOMPARE(setup.engine.calls.mid(2), (QStringList{"pause()", "play(35,0)", "stop()"}));
    }

    void openButtonAsksWithTheFilterAndLoadsThePick()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("picked.midi"));
        QVERIFY(writeFile(file, SmfBuilder().title(QStringLiteral("選んだ曲")).note(0, 60, 10).bytes()));
        Setup setup;
        auto window = makeWindow(setup, "[Tonelark]\nUseClassicDialogForFile=1\n");
        setup.ui.nextOpenFileName = file;
        window->toolButtonOfOpen->click();
        QCOMPARE(setup.ui.openRequests.size(), 1);
        const OpenFileRequest &request = setup.ui.openRequests.first();
        QCOMPARE(request.filters.size(), 4);
        QCOMPARE(request.selectedFilter, 2);
        QCOMPARE(request.filters[0], QStringLiteral("スタンダードMIDIファイル (*.mid) (*.mid *.midi *.kar)"));
        QCOMPARE(request.filters[2], QStringLiteral("すべての対応ファイル (*.mid *.midi *.kar *.mml *.m3u *.m3u8)"));
        QCOMPARE(request.filters[3], QStringLiteral("プレイリスト (*.m3u *.m3u8)"));
        // The first dialog starts in the home folder, not the program's working folder.
        QCOMPARE(request.folder, QDir::homePath());
        QCOMPARE(request.defaultSuffix, QStringLiteral("mid"));
        QVERIFY(request.classicDialog);
        QCOMPARE(window->editTitle->text(), QStringLiteral("選んだ曲"));
        QVERIFY(!window->inModalLoop());

        // Cancelling loads nothing; the dialog now starts in the song's folder.
        setup.engine.calls.clear();
        setup.ui.nextOpenFileName.clear();
        window->actionOpen->trigger();
        QVERIFY(setup.engine.calls.isEmpty());
        QCOMPARE(setup.ui.openRequests.last().folder, dir.path());
    }

    // A name in CP932 bytes comes back from the dialog (Qt's decoding) and from a drop (a
    // URL) in forms Qt itself cannot open; both reach the file.
    void cp932NamedFileOpensFromTheDialogAndByDrop()
    {
        QTemporaryDir dir;
        const QByteArray nameBytes = QFile::encodeName(dir.path()) + '/' + unicodeToAnsi(u"歌.mid");
        QFile out;
        const int fd = ::open(nameBytes.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        QVERIFY(fd >= 0 && out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
        out.write(SmfBuilder().title(QStringLiteral("古い名前")).note(0, 60, 10).bytes());
        out.close();
        auto cleanup = qScopeGuard([&] { ::unlink(nameBytes.constData()); });

        Setup setup;
        auto window = makeWindow(setup);
        setup.ui.nextOpenFileName = QFile::decodeName(nameBytes);
        window->toolButtonOfOpen->click();
        QCOMPARE(window->editTitle->text(), QStringLiteral("古い名前"));
        QCOMPARE(window->windowTitle(), QStringLiteral("\uFFFD\uFFFD.mid - Tonelark"));

        const QString other = dir.filePath(QStringLiteral("other.mid"));
        QVERIFY(writeFile(other, SmfBuilder().title(QStringLiteral("別の曲")).note(0, 60, 10).bytes()));
        QCOMPARE(window->BRSLoad(other), LoadOutcome::Success);
        QByteArray encoded = "file://";
        for (char c : nameBytes)
            encoded += c == '/' ? QByteArray("/") : '%' + QByteArray(1, c).toHex();
        QMimeData data;
        data.setUrls({QUrl::fromEncoded(encoded)});
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // Without a drag in progress the application would not pass a drop on; call the
        // window's handler as the application does.
        struct DropAccess : TfrmTonelark2Main {
            using TfrmTonelark2Main::dropEvent;
        };
        constexpr auto handler = &DropAccess::dropEvent;
        (window.get()->*handler)(&drop);
        QCoreApplication::processEvents(); // the load runs once the drop has ended
        QVERIFY(setup.ui.errors.isEmpty());
        QCOMPARE(window->editTitle->text(), QStringLiteral("古い名前"));
    }

    // Qt's own open dialog, as the user drives it: it starts in the folder it is given, and a
    // CP932 name typed as the dialog shows it (U+FFFD) is accepted as the real file.
    void realOpenDialogStartsInItsFolderAndAcceptsCp932Names()
    {
        QTemporaryDir dir;
        const QByteArray nameBytes = QFile::encodeName(dir.path()) + '/' + unicodeToAnsi(u"歌.mid");
        ::close(::open(nameBytes.constData(), O_CREAT | O_WRONLY, 0644));
        auto cleanup = qScopeGuard([&] { ::unlink(nameBytes.constData()); });

        WidgetUi ui(nullptr);
        OpenFileRequest request;
        request.filters = {QStringLiteral("MIDI (*.mid)")};
        request.classicDialog = true;
        request.folder = dir.path();
        QString startFolder;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            startFolder = dialog->directory().absolutePath();
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit);
            edit->setText(QFile::decodeName(unicodeToAnsi(u"歌.mid")));
            // A refusal would show a "file not found" box; close it so the test fails, not hangs.
            QTimer::singleShot(1000, dialog, [] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                    box->reject();
            });
            QTest::keyClick(edit, Qt::Key_Return);
            // Should the dialog have refused, close it so the test ends.
            if (dialog->isVisible())
                dialog->reject();
        });
        const QString picked = ui.getOpenFileName(request);
        QCOMPARE(startFolder, dir.path());
        QCOMPARE(encodeFileName(picked), nameBytes);
    }

    // A damaged file after a song with lyrics: the info area opens (ShowInfo stays as it
    // was), the parser's message is in front, and no line of the previous song remains.
    void damagedFileShowsItsMessageInFront()
    {
        QTemporaryDir dir;
        const QString good = dir.filePath(QStringLiteral("good.mid"));
        const QString bad = dir.filePath(QStringLiteral("bad.mid"));
        QVERIFY(writeFile(good, SmfBuilder().lyric(0, QStringLiteral("うた")).note(0, 60, 480).bytes()));
        QVERIFY(writeFile(bad, SmfBuilder().lyric(0, QStringLiteral("うた")).bytes().left(30)));

        Setup setup;
        auto window = makeWindow(setup);
        QCOMPARE(window->BRSLoad(good), LoadOutcome::Success);
        QVERIFY(!window->pagesInfo->isVisibleTo(window.get()));
        QCOMPARE(window->BRSLoad(bad), LoadOutcome::ParseError);
        QVERIFY(window->pagesInfo->isVisibleTo(window.get()));
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabInfo);
        QVERIFY(window->memoComments->toPlainText().startsWith(QStringLiteral("[SMFパーサー]\n")));
        QCOMPARE(window->lvLyrics->model()->rowCount(), 0);
        QVERIFY(!window->pagesInfo->isTabVisible(2));
        QVERIFY(!window->toolButtonOfPlay->isEnabled());

        // The next song closes it again; and a close right after a failure stores nothing.
        QCOMPARE(window->BRSLoad(good), LoadOutcome::Success);
        QVERIFY(!window->pagesInfo->isVisibleTo(window.get()));
        window->BRSLoad(bad);
        window->close();
        QVERIFY(!setup.ini.ValueExists(u"Tonelark", u"ShowInfo"));

        // With the info area open and the lyrics in front, the failure takes the front.
        Setup shown;
        auto other = makeWindow(shown, "[Tonelark]\nShowInfo=1\n");
        QCOMPARE(other->BRSLoad(good), LoadOutcome::Success);
        QCOMPARE(other->pagesInfo->currentWidget(), other->tabLyrics);
        other->BRSLoad(bad);
        QCOMPARE(other->pagesInfo->currentWidget(), other->tabInfo);
        QCOMPARE(other->lvLyrics->model()->rowCount(), 0);
    }

    void missingCommandLineFileStillOpensTheWindow()
    {
        Setup setup;
        auto window = makeWindow(setup, {}, {QStringLiteral("/no/such/song.mid")});
        QCOMPARE(setup.ui.errors.size(), 1);
        QCOMPARE(window->windowTitle(), QStringLiteral("Tonelark"));
        QVERIFY(!window->timerUpdating->isActive());
    }

    void closeWritesOnlyWhatChanged()
    {
        Setup untouched;
        auto window = makeWindow(untouched, "[Tonelark]\nAlwaysOnTop=1\n");
        QVERIFY(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        window->close();
        QVERIFY(!untouched.ini.Modified());
        QVERIFY(!untouched.ini.ValueExists(u"Tonelark", u"ShowInfo"));

        Setup changed;
        auto other = makeWindow(changed, "[Tonelark]\nAlwaysOnTop=1\n");
        other->actionPin->trigger();
        QVERIFY(!other->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        other->close();
        QCOMPARE(changed.ini.ReadInteger(u"Tonelark", u"AlwaysOnTop", -1), 0);
    }

    void destructionStopsAndClosesTheDevice()
    {
        Setup setup;
        auto window = makeWindow(setup, "[Tonelark]\nMidiOutDeviceId=2\n");
        QCOMPARE(setup.engine.calls, QStringList{QStringLiteral("openDevice(2)")});
        window.reset();
        QCOMPARE(setup.engine.calls, (QStringList{"openDevice(2)", "stop()", "closeDevice()"}));
    }

    // Several files join the queue and the first plays; a folder's songs follow the playing
    // song in name order; a web link changes nothing.
    void dropQueuesEveryFileAndAFoldersSongsInNameOrder()
    {
        QTemporaryDir dir;
        QStringList files;
        for (const char *name : {"a.mid", "b.mid", "c.mid", "folder/10.mid", "folder/2.kar", "folder/notes.txt"}) {
            files << dir.filePath(QLatin1String(name));
            QDir().mkpath(QFileInfo(files.last()).path());
            QVERIFY(writeFile(files.last(), SmfBuilder().note(0, 60, 480).bytes()));
        }
        Setup setup;
        auto window = makeWindow(setup);
        window->winId();
        const auto drop = [&](const QList<QUrl> &urls) {
            // As the window system delivers a drag: enter, then drop, to the native window.
            QMimeData mime;
            mime.setUrls(urls);
            QDragEnterEvent enter(QPoint(100, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window->windowHandle(), &enter);
            QDropEvent dropped(QPointF(100, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window->windowHandle(), &dropped);
            QCoreApplication::processEvents(); // the load runs once the drop has ended
        };
        drop({QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(files[1]), QUrl::fromLocalFile(files[2])});
        QCOMPARE(window->windowTitle(), QStringLiteral("a.mid - Tonelark"));
        QCOMPARE(queuePaths(*window), (QStringList{files[0], files[1], files[2]}));
        QVERIFY(window->pagesInfo->isTabVisible(int(InfoPage::Queue)));
        const int loads = setup.engine.calls.count(QStringLiteral("clearList()"));
        drop({QUrl(QStringLiteral("https://example.org/b.mid"))});
        QCOMPARE(setup.engine.calls.count(QStringLiteral("clearList()")), loads);
        drop({QUrl::fromLocalFile(dir.filePath(QStringLiteral("folder")))});
        QCOMPARE(queuePaths(*window), (QStringList{files[0], files[4], files[3], files[1], files[2]}));
        QCOMPARE(window->windowTitle(), QStringLiteral("2.kar - Tonelark"));
        QVERIFY(setup.ui.errors.isEmpty());
    }

    // The end of a song starts the next by itself: an engine stopped at the end, a song whose
    // loop went round its loop count; the last song of the queue then plays on as it would.
    void queuePlaysThroughAtSongEndsAndAfterTheLoopCount()
    {
        QTemporaryDir dir;
        QStringList files;
        for (const char *name : {"a.mid", "b.mid", "c.mid", "d.mid"}) {
            files << dir.filePath(QLatin1String(name));
            QVERIFY(writeFile(files.last(), SmfBuilder().note(0, 60, 480).bytes()));
        }
        QVERIFY(QFile::remove(files[2])); // c is gone: skipped with a note, no box
        Setup setup;
        setup.engine.setTotals(960, 1000);
        auto window = makeWindow(setup, {}, files);
        QCOMPARE(window->windowTitle(), QStringLiteral("a.mid - Tonelark"));
        const auto poll = [&](TBrsPlayerState state, qint32 tick, qint32 loops) {
            setup.engine.setStatus(state, tick, tick);
            setup.engine.nextStatus.LoopCount = loops;
            window->timerUpdatingTimer();
            QCoreApplication::processEvents();
        };
        poll(BRSSTATE_PLAY, 100, 0);
        poll(BRSSTATE_PLAY, 900, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("a.mid - Tonelark"));
        poll(BRSSTATE_STOP, 960, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("b.mid - Tonelark"));

        // b has a loop point: one pass of two goes on, the second moves on past the missing c.
        setup.engine.setTotals(960, 1000, 480, 500);
        poll(BRSSTATE_PLAY, 100, 0);
        poll(BRSSTATE_PLAY, 500, 1);
        QCOMPARE(window->windowTitle(), QStringLiteral("b.mid - Tonelark"));
        poll(BRSSTATE_PLAY, 500, 2);
        QCOMPARE(window->windowTitle(), QStringLiteral("d.mid - Tonelark"));
        QVERIFY(window->memoComments->toPlainText().contains(QStringLiteral("見つからないため飛ばしました")));
        QVERIFY(window->queuePlayer().queue().entries()[2].missing);
        QVERIFY(setup.ui.errors.isEmpty());

        // The last song: nowhere to go, it loops as a single song would.
        const int loads = setup.engine.calls.count(QStringLiteral("clearList()"));
        poll(BRSSTATE_PLAY, 100, 0);
        poll(BRSSTATE_PLAY, 500, 5);
        QCOMPARE(setup.engine.calls.count(QStringLiteral("clearList()")), loads);
        QVERIFY(!window->actionNextSong->isEnabled());

        // A stop by the user is no end. (The engine's loop count starts anew with each play.)
        setup.engine.setStatus(BRSSTATE_PLAY, 0, 0);
        setup.engine.nextStatus.LoopCount = 0;
        window->actionPrevSong->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window->windowTitle(), QStringLiteral("b.mid - Tonelark")); // within 3 s: back past c
        poll(BRSSTATE_PLAY, 100, 0);
        window->toolButtonOfStop->setEnabled(true);
        window->actionStop->trigger();
        poll(BRSSTATE_STOP, 0, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("b.mid - Tonelark"));
    }

    // Next and previous from the keys: later than 3 s into a song, previous starts it again.
    void nextAndPreviousMoveThroughTheQueue()
    {
        QTemporaryDir dir;
        QStringList files;
        for (const char *name : {"a.mid", "b.mid"}) {
            files << dir.filePath(QLatin1String(name));
            QVERIFY(writeFile(files.last(), SmfBuilder().note(0, 60, 480).bytes()));
        }
        Setup setup;
        auto window = makeWindow(setup, {}, files);
        QCOMPARE(window->actionNextSong->shortcut(), QKeySequence(QStringLiteral("Alt+.")));
        QCOMPARE(window->actionPrevSong->shortcut(), QKeySequence(QStringLiteral("Alt+,")));
        QVERIFY(window->popupMenuMain->actions().contains(window->actionNextSong));
        QVERIFY(window->popupMenuTaskTray->actions().contains(window->actionPrevSong));
        QVERIFY(window->actionNextSong->isEnabled());
        window->actionNextSong->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window->windowTitle(), QStringLiteral("b.mid - Tonelark"));
        QVERIFY(!window->actionNextSong->isEnabled());
        setup.engine.setStatus(BRSSTATE_PLAY, 1000, 4000);
        window->timerUpdatingTimer();
        setup.engine.calls.clear();
        window->actionPrevSong->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window->windowTitle(), QStringLiteral("b.mid - Tonelark"));
        QVERIFY(!setup.engine.calls.contains(QStringLiteral("clearList()")));
        QVERIFY(setup.engine.calls.last().startsWith(QStringLiteral("play(")));
        setup.engine.setStatus(BRSSTATE_PLAY, 100, 1500);
        window->timerUpdatingTimer();
        window->actionPrevSong->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window->windowTitle(), QStringLiteral("a.mid - Tonelark"));
    }

    // The queue and the recent files outlive the window in the state folder; a second run
    // shows them without playing; the recent menu lists what is still there, newest first.
    void queueAndRecentFilesSurviveARestart()
    {
        QTemporaryDir dir;
        QStringList files;
        for (const char *name : {"a.mid", "b.mid", "c.mid"}) {
            files << dir.filePath(QLatin1String(name));
            QVERIFY(writeFile(files.last(), SmfBuilder().note(0, 60, 480).bytes()));
        }
        const QString state = dir.filePath(QStringLiteral("state"));
        const QByteArray savedData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
        {
            Setup setup;
            setup.ini = Convex();
            TfrmTonelark2Main window(setup.engine, setup.ini, files, &setup.ui, nullptr, state);
            window.actionNextSong->trigger();
            QCoreApplication::processEvents();
            QCOMPARE(window.windowTitle(), QStringLiteral("b.mid - Tonelark"));
        }
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("data/recently-used.xbel"))));
        QVERIFY(QFile::remove(files[0]));
        Setup setup;
        TfrmTonelark2Main window(setup.engine, setup.ini, {}, &setup.ui, nullptr, state);
        QCOMPARE(queuePaths(window), files);
        QCOMPARE(window.queuePlayer().queue().current(), 1);
        QVERIFY(window.queuePlayer().queue().entries()[0].missing);
        QVERIFY(window.pagesInfo->isTabVisible(int(InfoPage::Queue)));
        QCOMPARE(setup.engine.calls, QStringList{QStringLiteral("openDevice(-1100)")});
        emit window.pmiRecentFiles->aboutToShow();
        const QList<QAction *> recent = window.pmiRecentFiles->actions();
        QCOMPARE(recent.size(), 1); // a.mid is gone
        QCOMPARE(recent[0]->text(), QStringLiteral("&1 b.mid"));
        recent[0]->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(window.windowTitle(), QStringLiteral("b.mid - Tonelark"));
        qputenv("XDG_DATA_HOME", savedData);
    }

    void wheelSeeksOverTheBarAndItsFarEdgesOnly()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("w.mid"));
        QVERIFY(writeFile(file, SmfBuilder().note(0, 60, 480 * 60).bytes()));
        Setup setup;
        setup.engine.setTotals(480 * 60, 30000);
        auto window = makeWindow(setup, {}, {file});
        setup.engine.nextInfo.LastNoteTime = 30000;
        setup.engine.setStatus(BRSSTATE_PLAY, 4800, 10000);
        window->timerUpdatingTimer();
        const QPoint topLeft = window->gaugePlayback->mapToGlobal(QPoint(0, 0));
        const QSize size = window->gaugePlayback->size();
        const auto wheel = [&](QPoint global, int delta) {
            setup.engine.calls.clear();
            QWheelEvent event(window->mapFromGlobal(global), global, QPoint(), QPoint(0, delta),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(window.get(), &event);
            return setup.engine.calls;
        };
        // Up seeks forward, down back; the column and row just past the bar still count.
        QVERIFY(wheel(topLeft + QPoint(size.width(), size.height()), 120).join(',').contains(QLatin1String("play(")));
        QVERIFY(wheel(topLeft, -120).join(',').contains(QLatin1String("play(")));
        QVERIFY(wheel(topLeft + QPoint(size.width() + 1, 0), 120).isEmpty());
        QVERIFY(wheel(topLeft + QPoint(0, size.height() + 1), -120).isEmpty());
    }

    void mainMenuOpensForTheSurfaceOnlyInsideAModalLoop()
    {
        Setup setup;
        auto window = makeWindow(setup);
        bool shown = false;
        bool modal = false;
        connect(window->popupMenuMain, &QMenu::aboutToShow, window.get(), [&] {
            shown = true;
            modal = window->inModalLoop();
            QTimer::singleShot(0, window->popupMenuMain, &QMenu::close);
        });
        // Over a child control (the copyright box passes nothing up): no menu.
        const QPoint overChild = window->editCopyright->geometry().center();
        QContextMenuEvent onChild(QContextMenuEvent::Mouse, overChild, window->mapToGlobal(overChild));
        QApplication::sendEvent(window.get(), &onChild);
        QVERIFY(!shown);
        // The bare surface right of the seek bar.
        const QPoint surface(window->gaugePlayback->geometry().right() + 5, window->gaugePlayback->y());
        QVERIFY(!window->childAt(surface));
        QContextMenuEvent onSurface(QContextMenuEvent::Mouse, surface, window->mapToGlobal(surface));
        QApplication::sendEvent(window.get(), &onSurface);
        QVERIFY(shown);
        QVERIFY(modal);
        QVERIFY(!window->inModalLoop());
    }

    void timePanelTogglesOnEveryPress()
    {
        Setup setup;
        auto window = makeWindow(setup);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        // Through the platform's input path, as a real X server delivers it: a quick second
        // press reaches the widget as a double click only.
        QWindow *handle = window->windowHandle();
        const QPoint at = window->panelTimeElapsed->mapTo(window.get(), QPoint(5, 5));
        QTest::mouseClick(handle, Qt::LeftButton, {}, at);
        QVERIFY(window->displayTicks());
        QTest::mouseDClick(handle, Qt::LeftButton, {}, at);
        QVERIFY(window->displayTicks()); // toggled twice
        QTest::mouseClick(handle, Qt::LeftButton, {}, at, 1000);
        QVERIFY(!window->displayTicks());
        window->actionTimeOrTick->trigger();
        QVERIFY(window->displayTicks());
        // Only the left button: right and middle clicks, single or quick pairs, change nothing.
        for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
            QTest::mouseClick(handle, button, {}, at, 1000);
            QTest::mouseDClick(handle, button, {}, at);
            QVERIFY(window->displayTicks());
        }
    }

    void versionPageShowsTheVersionAndIsLeftWithThePreviousTab()
    {
        Setup setup;
        auto window = makeWindow(setup, "[Tonelark]\nShowInfo=1\n");
        window->actionAbout->trigger();
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabAbout);
        QVERIFY(window->textAbout->text().startsWith(QStringLiteral("Tonelark Ver.")));
        window->actionNextTab->trigger();
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabAbout);
        window->actionPrevTab->trigger();
        QCOMPARE(window->pagesInfo->currentWidget(), window->tabInfo);
    }

    void missingFileBoxAtStartIsCentredOnTheScreen()
    {
        // The real box (no answering Ui): at start the window is not placed yet.
        FakeEngine engine;
        Convex ini = Convex::fromBytes({});
        QRect boxFrame;
        QString boxText;
        QTimer::singleShot(0, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxFrame = box->frameGeometry();
                boxText = box->text();
                box->accept();
            }
        });
        TfrmTonelark2Main window(engine, ini, {QStringLiteral("/no/such/song.mid")});
        QVERIFY(boxText.endsWith(QStringLiteral("が見つかりません。")));
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY2((boxFrame.center() - centre).manhattanLength() <= 4,
                 qPrintable(QStringLiteral("%1,%2").arg(boxFrame.center().x()).arg(boxFrame.center().y())));
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
