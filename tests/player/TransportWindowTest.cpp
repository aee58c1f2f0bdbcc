#include "FakeEngine.h"
#include "Gauges.h"
#include "WindowTestSupport.h"
#include "uConst.h"
#include "uMain.h"
#include "uSeek.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// The transport's wiring in the real window: seek bar drags, Esc, the seek dialog and the
// step actions, against the recording engine.
class TransportWindowTest : public QObject {
    Q_OBJECT

private:
    struct Setup {
        FakeEngine engine;
        FakeUi ui;
        Convex ini;
    };
    QTemporaryDir m_dir;
    QString m_song;

    // A loaded 10-second song at 120 beats per minute (960 ticks per second), its monitor
    // run once at `timeMs` while playing.
    std::unique_ptr<TfrmTonelark2Main> loaded(Setup &setup, qint32 timeMs = 0, qint32 loopTick = -1,
                                              QString song = {})
    {
        setup.engine.setTotals(9600, 10000, loopTick, loopTick < 0 ? -1 : loopTick * 1000 / 960);
        setup.engine.nextInfo.TimeBase = 480;
        setup.engine.nextInfo.LastNoteTime = 10000;
        auto window = std::make_unique<TfrmTonelark2Main>(setup.engine, setup.ini,
                                                          QStringList{song.isEmpty() ? m_song : song}, &setup.ui);
        setup.engine.setStatus(BRSSTATE_PLAY, timeMs * 960 / 1000, timeMs);
        window->timerUpdatingTimer();
        setup.engine.calls.clear();
        return window;
    }

    // Runs `answer` on the seek dialog once it is shown modally; false when none opened.
    static void answerSeekDialog(std::function<void(TfrmTonelark2Seek *)> answer, bool *opened)
    {
        QTimer::singleShot(0, [answer, opened] {
            auto *dialog = qobject_cast<TfrmTonelark2Seek *>(QApplication::activeModalWidget());
            *opened = dialog != nullptr;
            if (dialog)
                answer(dialog);
        });
    }

    // Opens `menu` by a right click at `pos` on `widget` and picks `item` in it.
    static void pickFromMenu(QWidget *widget, QPoint pos, QMenu *menu, QAction *item)
    {
        bool shown = false;
        QTimer::singleShot(0, [&] {
            shown = menu->isVisible();
            if (item->isEnabled())
                item->trigger();
            menu->close();
        });
        emit widget->customContextMenuRequested(pos);
        QVERIFY(shown);
    }

    static QStringList plays(const FakeEngine &engine)
    {
        QStringList result;
        for (const QString &call : engine.calls)
            if (!call.startsWith(QLatin1String("status")) && !call.startsWith(QLatin1String("info")))
                result << call;
        return result;
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName(QStringLiteral("Tonelark"));
        m_song = m_dir.filePath(QStringLiteral("song.mid"));
        QVERIFY(writeFile(m_song, SmfBuilder().tempo(0, 500000).note(0, 60, 4800).bytes()));
    }

    void dragFollowsTheMouseAndPlaysFromTheRelease()
    {
        Setup setup;
        auto window = loaded(setup);
        TGauge *bar = window->gaugePlayback;
        QCOMPARE(bar->maxValue(), 10000);
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(100, 6));
        QVERIFY(window->transport().isMouseDown());
        QCOMPARE(bar->progress(), 3100); // 10000 / 329 × 102
        QTest::mouseMove(bar, QPoint(200, 6));
        QCOMPARE(bar->progress(), 6139);
        // The engine does not move the bar during the drag; the panel shows the dragged time.
        setup.engine.setStatus(BRSSTATE_PLAY, 960, 1000);
        window->timerUpdatingTimer();
        QCOMPARE(bar->progress(), 6139);
        QCOMPARE(window->panelTimeElapsed->text(), QStringLiteral("00:06 / 00:10"));
        // Past the right end the value stays below the total.
        QTest::mouseMove(bar, QPoint(400, 6));
        QCOMPARE(bar->progress(), 6139);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(400, 6));
        QVERIFY(!window->transport().isMouseDown());
        QCOMPARE(plays(setup.engine), QStringList{"play(35,5893)"}); // 6139 ms
    }

    void escAndRightPressEndADragWithoutPlaying()
    {
        Setup setup;
        auto window = loaded(setup, 1000);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        TGauge *bar = window->gaugePlayback;

        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(200, 6));
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window.get(), Qt::Key_Escape);
        QVERIFY(!window->transport().isMouseDown());
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(200, 6));
        // Back to the playing position at the next tick.
        window->timerUpdatingTimer();
        QCOMPARE(bar->progress(), 1000);

        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(200, 6));
        QTest::mousePress(bar, Qt::RightButton, {}, QPoint(200, 6));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(200, 6));
        QVERIFY(plays(setup.engine).isEmpty());
    }

    void seekDialogPlaysTheChosenTickAndHoldsTheModalFlag()
    {
        Setup setup;
        auto window = loaded(setup, 75400);
        bool opened = false;
        bool modalWhileOpen = false;
        answerSeekDialog([&](TfrmTonelark2Seek *dialog) {
            modalWhileOpen = window->inModalLoop();
            QCOMPARE(dialog->updownMinute->value(), 1);
            QCOMPARE(dialog->updownSecond->value(), 15);
            dialog->radioTickToSeek->setChecked(true);
            dialog->updownTickToSet->setValue(1920);
            dialog->buttonOk->click();
        }, &opened);
        window->toolButtonOfSeek->click();
        QVERIFY(opened);
        QVERIFY(modalWhileOpen);
        QVERIFY(!window->inModalLoop());
        QCOMPARE(plays(setup.engine), QStringList{"play(35,1920)"});

        // The time row through the tempo map; Esc plays nothing.
        setup.engine.calls.clear();
        answerSeekDialog([](TfrmTonelark2Seek *dialog) { dialog->buttonOk->click(); }, &opened);
        window->menuItemSeek->trigger();
        QVERIFY(opened);
        answerSeekDialog([](TfrmTonelark2Seek *dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }, &opened);
        window->actionSeek->trigger();
        QVERIFY(opened);
        QCOMPARE(plays(setup.engine), QStringList{"play(35,72000)"});
    }

    void songHandedOverWhileTheSeekDialogIsOpenEndsItAsCancelled()
    {
        // A hand-over loads another song from inside the dialog's event loop; the old tempo
        // map is freed then. Typing into the dialog or pressing OK afterwards must neither
        // touch the freed map nor seek the new song to the old song's position.
        Setup setup;
        auto window = loaded(setup, 75400);
        const QString other = m_dir.filePath(QStringLiteral("other.mid"));
        QVERIFY(writeFile(other, SmfBuilder().tempo(0, 250000).note(0, 64, 9600).bytes()));
        bool opened = false;
        bool stillOpen = true;
        answerSeekDialog([&](TfrmTonelark2Seek *dialog) {
            window->BRSLoad(other);
            QCoreApplication::processEvents();
            stillOpen = dialog->isVisible();
            if (stillOpen) {
                QTest::keyClicks(dialog->editMinute, QStringLiteral("2"));
                dialog->buttonOk->click();
            }
        }, &opened);
        setup.engine.calls.clear();
        window->toolButtonOfSeek->click();
        QVERIFY(opened);
        QVERIFY(!stillOpen);
        QVERIFY(!window->inModalLoop());
        // The load's own start of play, and no seek after it.
        QCOMPARE(plays(setup.engine).filter(QStringLiteral("play(")), QStringList{"play(35,0)"});
    }

    void monitorSlowsDownOnlyWhileNothingMoves()
    {
        Setup setup;
        auto window = loaded(setup, 1000);
        QCOMPARE(window->timerUpdating->interval(), 16);
        setup.engine.setStatus(BRSSTATE_STOP, 0, 0);
        window->timerUpdatingTimer();
        QCOMPARE(window->timerUpdating->interval(), kIdleMonitorIntervalMs);
        // Any command brings the display's pace back before the engine has answered.
        window->toolButtonOfPlay->setEnabled(true);
        window->toolButtonOfPlay->click();
        QCOMPARE(window->timerUpdating->interval(), 16);
        window->timerUpdatingTimer();   // still stopped: slow again
        QTest::mousePress(window->gaugePlayback, Qt::LeftButton, {}, QPoint(100, 6));
        QCOMPARE(window->timerUpdating->interval(), 16);
        window->timerUpdatingTimer();   // dragging: stays fast
        QCOMPARE(window->timerUpdating->interval(), 16);
    }

    void seekActionWaitsForItsButton()
    {
        Setup setup;
        setup.ini = Convex::fromBytes({});
        TfrmTonelark2Main window(setup.engine, setup.ini, {}, &setup.ui);
        bool opened = false;
        answerSeekDialog([](TfrmTonelark2Seek *dialog) { dialog->reject(); }, &opened);
        window.actionSeek->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!opened);
    }

    void stepActionsAndTheLoopItem()
    {
        Setup setup;
        auto window = loaded(setup, 3400);
        window->popupMenuPlaybackPopup();
        QVERIFY(!window->menuItemPlayFromCC111->isEnabled());
        window->actionRewind->trigger();
        window->actionSeekBack->trigger();    // -2,000 ms
        window->actionSeekForward->trigger(); // 8,000 ms
        QCOMPARE(plays(setup.engine), (QStringList{"play(35,-1920)", "play(35,7680)"}));

        Setup withLoop;
        auto looped = loaded(withLoop, 0, 1920);
        looped->popupMenuPlaybackPopup();
        QVERIFY(looped->menuItemPlayFromCC111->isEnabled());
        looped->actionRewind->trigger();
        looped->menuItemPlayFromBeginning->trigger();
        QCOMPARE(plays(withLoop.engine), (QStringList{"play(35,1920)", "play(35,0)"}));
    }

    // A and B from the seek bar's menu at the clicked point and by keys at the playing
    // position, a lyric line's range, a refusal in the info area, clearing by the menu and by
    // a new song; the bar marks A and B in place of the loop point.
    void abRepeatFromMenusKeysAndLyricLines()
    {
        const QString song = m_dir.filePath(QStringLiteral("lines.mid"));
        QVERIFY(writeFile(song, SmfBuilder()
                                    .tempo(0, 500000)
                                    .lyric(0, QStringLiteral("いち"))
                                    .note(0, 60, 1920)
                                    .lyric(0, QStringLiteral("に"))
                                    .note(0, 62, 1920)
                                    .lyric(0, QStringLiteral("さん"))
                                    .note(0, 64, 5760)
                                    .bytes()));
        Setup setup;
        auto window = loaded(setup, 0, 1920, song);
        TGauge *bar = window->gaugePlayback;
        const auto tick = [&] {
            window->timerUpdatingTimer();
            return std::pair(bar->repeatStart(), bar->repeatEnd());
        };
        const auto repeats = [&] {
            QStringList out;
            for (const QString &call : setup.engine.calls)
                if (call.startsWith(QLatin1String("setRepeat")) || call.startsWith(QLatin1String("play")))
                    out << call;
            setup.engine.calls.clear();
            return out;
        };
        const QStringList captions{window->pmiRepeatStart->text(), window->pmiRepeatEnd->text(),
                                   window->pmiRepeatClear->text(), window->pmiRepeatLine->text()};
        QCOMPARE(captions, (QStringList{"ここをAに", "ここをBに", "A-B 解除", "この行を繰り返す"}));

        // A at x 100 (3100 ms, tick 2976) waits for B; B at x 50 (1580 ms) lies before it.
        pickFromMenu(bar, QPoint(100, 6), window->popupMenuPlayback, window->pmiRepeatStart);
        QCOMPARE(tick(), std::pair(3100, -1));
        pickFromMenu(bar, QPoint(50, 6), window->popupMenuPlayback, window->pmiRepeatEnd);
        QVERIFY(window->memoComments->toPlainText().contains(
            QStringLiteral("A-B リピート: B (00:01.5) が A (00:03.1) と同じか前なので設定できません。")));
        QCOMPARE(repeats(), QStringList());
        pickFromMenu(bar, QPoint(200, 6), window->popupMenuPlayback, window->pmiRepeatEnd);
        QCOMPARE(repeats(), QStringList{"setRepeat(2976,5893)"});
        QCOMPARE(tick(), std::pair(3100, 6138));
        QCOMPARE(bar->medValue(), -1);
        QVERIFY(window->panelTimeElapsed->text().startsWith(QLatin1String("A-B  ")));

        // The keys take the playing position.
        setup.engine.setStatus(BRSSTATE_PLAY, 960, 1000);
        window->actionRepeatStart->trigger();
        setup.engine.setStatus(BRSSTATE_PLAY, 2880, 3000);
        window->actionRepeatEnd->trigger();
        QCOMPARE(repeats(), (QStringList{"setRepeat(960,5893)", "setRepeat(960,2880)"}));
        window->popupMenuPlaybackPopup();
        QVERIFY(window->pmiRepeatClear->isEnabled());
        window->pmiRepeatClear->trigger();
        QCOMPARE(repeats(), QStringList{"setRepeat(-1,-1)"});
        QCOMPARE(tick(), std::pair(-1, -1));
        QCOMPARE(bar->medValue(), 2000);

        // A lyric line repeats from its start to the next line's, and starts now; the last
        // one runs to the song's end.
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->pagesInfo->setCurrentWidget(window->tabLyrics);
        TListView *list = window->lvLyrics;
        const auto lineAt = [&](int row) { return list->visualRect(list->model()->index(row, 0)).center(); };
        pickFromMenu(list, lineAt(1), window->popupMenuLyrics, window->pmiRepeatLine);
        QCOMPARE(repeats(), (QStringList{"setRepeat(1920,3840)", "play(35,1920)"}));
        pickFromMenu(list, lineAt(2), window->popupMenuLyrics, window->pmiRepeatLine);
        QCOMPARE(repeats(), (QStringList{"setRepeat(3840,9600)", "play(35,3840)"}));

        // A new song forgets it (the engine did with the old one).
        QCOMPARE(window->BRSLoad(m_song), LoadOutcome::Success);
        QVERIFY(!window->abRepeat().start() && !window->abRepeat().end());
        QCOMPARE(tick(), std::pair(-1, -1));
    }
};

QTEST_MAIN(TransportWindowTest)
#include "TransportWindowTest.moc"
