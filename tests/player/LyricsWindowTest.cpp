#include "FakeEngine.h"
#include "LyricsModel.h"
#include "WindowTestSupport.h"
#include "uMain.h"

#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// The lyric list and the info boxes in the real window on the offscreen platform.
class LyricsWindowTest : public QObject {
    Q_OBJECT

private:
    struct Setup {
        FakeEngine engine;
        FakeUi ui;
        Convex ini;
        QTemporaryDir dir;
        std::unique_ptr<TfrmTonelark2Main> window;
    };

    // A shown window with a song of `lines` lyric lines, one per beat (480 ticks, 500 ms).
    static void open(Setup &setup, int lines, const QByteArray &iniText = "[Tonelark]\nShowInfo=1\n",
                     const QString &copyright = QStringLiteral("作者"),
                     const QString &title = QStringLiteral("曲名"))
    {
        setup.ini = Convex::fromBytes(iniText);
        setup.window = std::make_unique<TfrmTonelark2Main>(setup.engine, setup.ini, QStringList{}, &setup.ui);
        SmfBuilder smf;
        smf.copyright(copyright).title(title);
        for (int i = 0; i < lines; ++i)
            smf.lyric(i == 0 ? 0 : 480, QStringLiteral("歌詞%1").arg(i));
        smf.note(0, 60, 480);
        const QString file = setup.dir.filePath(QStringLiteral("song.mid"));
        QVERIFY(writeFile(file, smf.bytes()));
        QCOMPARE(setup.window->BRSLoad(file), LoadOutcome::Success);
        setup.window->timerUpdating->stop(); // the test runs the ticks
        setup.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(setup.window.get()));
        setup.engine.calls.clear();
    }

    static void tickAt(Setup &setup, int row, qint32 lastNoteTime = 1000000)
    {
        setup.engine.setStatus(BRSSTATE_PLAY, row * 480, row * 500);
        setup.engine.nextInfo.LastNoteTime = lastNoteTime;
        setup.window->timerUpdatingTimer();
    }

    static void select(TListView *list, std::initializer_list<int> rows)
    {
        list->clearSelection();
        for (int row : rows)
            list->selectionModel()->select(list->model()->index(row, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Tonelark")); }

    void paintingAHighlightedCell()
    {
        const auto paint = [](bool highlighted, bool bold) {
            QImage image(200, 20, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QStyleOptionViewItem option;
            option.rect = image.rect();
            option.text = QStringLiteral("WWWWWWWW");
            option.features = QStyleOptionViewItem::HasDisplay;
            option.state = QStyle::State_Enabled | QStyle::State_Active;
            option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
            option.palette.setColor(QPalette::Text, Qt::black);
            option.fontMetrics = QFontMetrics(option.font);
            LyricHighlightLook look{bold, false, QColor(0x12, 0x34, 0x56), QColor(0xFF, 0x99, 0x66)};
            QPainter painter(&image);
            paintLyricCell(&painter, option, highlighted, look);
            painter.end();
            return image;
        };
        const auto inkWidth = [](const QImage &image, QRgb background) {
            int right = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (image.pixel(x, y) != background)
                        right = std::max(right, x);
            return right;
        };
        const QImage plain = paint(false, true);
        const QImage lit = paint(true, true);
        const QImage litRegular = paint(true, false);
        QCOMPARE(QColor(plain.pixel(199, 0)), QColor(Qt::white));
        QCOMPARE(QColor(lit.pixel(199, 0)), QColor(0x12, 0x34, 0x56));
        // The text colour is used: some pixel is closer to it than to the background.
        bool textColour = false;
        for (int y = 0; y < lit.height() && !textColour; ++y)
            for (int x = 0; x < lit.width() && !textColour; ++x)
                textColour = qRed(lit.pixel(x, y)) > 0xC0 && qBlue(lit.pixel(x, y)) < 0x90;
        QVERIFY(textColour);
        QVERIFY(inkWidth(plain, qRgb(255, 255, 255)) < 199);
        QVERIFY(inkWidth(lit, lit.pixel(199, 0)) > inkWidth(litRegular, litRegular.pixel(199, 0)));
    }

    // The reading is drawn above its base only: ink in the band over "春", none over "の".
    void paintingACellWithFurigana()
    {
        QFont font;
        font.setPointSize(12);
        const int height = lyricRubyRowHeight(font);
        QVERIFY(height > QFontMetrics(font).height());
        QImage image(200, height, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        option.font = font;
        option.text = QStringLiteral("の春");
        option.features = QStyleOptionViewItem::HasDisplay;
        option.state = QStyle::State_Enabled | QStyle::State_Active;
        option.palette.setColor(QPalette::Text, Qt::black);
        option.fontMetrics = QFontMetrics(font);
        QPainter painter(&image);
        paintLyricRubyCell(&painter, option, false, LyricHighlightLook{},
                           {LyricRuby{1, QStringLiteral("春"), QStringLiteral("はる")}});
        painter.end();
        const int band = height - QFontMetrics(font).height();
        const int split = QFontMetrics(font).horizontalAdvance(QStringLiteral("の"));
        const auto inked = [&](int fromX, int toX, int fromY, int toY) {
            for (int y = fromY; y < toY; ++y)
                for (int x = fromX; x < toX; ++x)
                    if (qGray(image.pixel(x, y)) < 128)
                        return true;
            return false;
        };
        QVERIFY(inked(split, 200, 0, band));
        QVERIFY(!inked(0, split - 2, 0, band - 1));
        QVERIFY(inked(0, split, band, height));
    }

    void aTickRepaintsOnlyRowsWhoseHighlightChanged()
    {
        // A list repainted every tick kept a core busy while the song stood still.
        Setup setup;
        open(setup, 20);
        TfrmTonelark2Main &w = *setup.window;
        struct PaintSpy : QObject {
            QList<QRect> painted;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Paint)
                    painted << static_cast<QPaintEvent *>(event)->region().boundingRect();
                return false;
            }
        } spy;
        w.lvLyrics->viewport()->installEventFilter(&spy);
        tickAt(setup, 2);
        QCoreApplication::processEvents();
        spy.painted.clear();
        for (int i = 0; i < 3; ++i)
            tickAt(setup, 2);   // stopped or paused: the same position every tick
        QCoreApplication::processEvents();
        QCOMPARE(spy.painted.size(), 0);
        tickAt(setup, 3);
        QCoreApplication::processEvents();
        QCOMPARE(spy.painted.size(), 1);
        const int rowHeight = w.lvLyrics->uniformRowHeight();
        const QRect expected = w.lvLyrics->visualRect(w.lvLyrics->model()->index(2, 0))
                                   .united(w.lvLyrics->visualRect(w.lvLyrics->model()->index(3, 1)));
        QVERIFY(spy.painted.first().height() <= 2 * rowHeight);
        QVERIFY(spy.painted.first().contains(QRect(0, expected.top(), 1, expected.height())));
    }

    void listGettingTheFocusAfterALoadShowsNoFocusedRow()
    {
        Setup setup;
        open(setup, 5);
        TfrmTonelark2Main &w = *setup.window;
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.tabInfo->setFocus();
        w.lvLyrics->setFocus(Qt::TabFocusReason);
        QVERIFY(w.lvLyrics->hasFocus());
        QVERIFY(!w.lvLyrics->currentIndex().isValid());
    }

    void followingScrollsAsLittleAsNeededWhileVisible()
    {
        Setup setup;
        open(setup, 60);
        TfrmTonelark2Main &w = *setup.window;
        QVERIFY(w.lvLyrics->isVisible());
        QCOMPARE(w.lvLyrics->model()->rowCount(), 60);
        const int page = w.lvLyrics->wholeVisibleRows();
        QVERIFY(page >= 2 && page < 30);
        const int viewportHeight = w.lvLyrics->viewport()->height();
        const auto rowRect = [&w](int row) { return w.lvLyrics->visualRect(w.lvLyrics->model()->index(row, 1)); };
        tickAt(setup, 0);
        QCOMPARE(w.lastLyricIndex(), 0);
        QCOMPARE(w.lvLyrics->topRow(), 0);
        tickAt(setup, page - 1); // already whole in view: no scrolling
        QCOMPARE(rowRect(0).top(), 0);
        // Below: it comes whole into view as near the bottom edge as whole rows allow, with
        // no row cut in half at the top.
        const auto wholeNearBottom = [&](int row) {
            const QRect rect = rowRect(row);
            return rect.bottom() <= viewportHeight - 1 && rect.bottom() > viewportHeight - 1 - rect.height()
                && rowRect(w.lvLyrics->topRow()).top() == 0;
        };
        tickAt(setup, page + 1);
        QVERIFY(wholeNearBottom(page + 1));
        tickAt(setup, 40);
        QVERIFY(wholeNearBottom(40));
        tickAt(setup, 5); // above: it becomes the top row
        QCOMPARE(rowRect(5).top(), 0);
        QCOMPARE(w.lvLyrics->topRow(), 5);
        // Following off: the index moves on, the list stays.
        w.pmiScrollToCurrentLyric->setChecked(false);
        tickAt(setup, 50);
        QCOMPARE(w.lastLyricIndex(), 50);
        QCOMPARE(w.lvLyrics->topRow(), 5);
        // Turning it on scrolls at once.
        w.pmiScrollToCurrentLyric->trigger();
        QVERIFY(w.pmiScrollToCurrentLyric->isChecked());
        QVERIFY(wholeNearBottom(50));
        // Another page active: the step does not run.
        w.pagesInfo->setCurrentWidget(w.tabInfo);
        tickAt(setup, 10);
        QCOMPARE(w.lastLyricIndex(), 50);
        w.pagesInfo->setCurrentWidget(w.tabLyrics);
        tickAt(setup, 10);
        QCOMPARE(w.lastLyricIndex(), 10);
    }

    void lastLyricIndexSurvivesALoad()
    {
        Setup setup;
        open(setup, 30);
        tickAt(setup, 0);
        QCOMPARE(setup.window->lastLyricIndex(), 0);
        const QString file = setup.dir.filePath(QStringLiteral("song.mid"));
        setup.window->BRSLoad(file);
        QCOMPARE(setup.window->lastLyricIndex(), 0);
    }

    void enterAndDoubleClickPlayFromTheLowestSelectedRow()
    {
        Setup setup;
        open(setup, 10);
        TfrmTonelark2Main &w = *setup.window;
        QTest::keyClick(w.lvLyrics, Qt::Key_Return);
        QVERIFY(!setup.engine.calls.join(' ').contains(QStringLiteral("play(")));
        select(w.lvLyrics, {7, 3, 5});
        QTest::keyClick(w.lvLyrics, Qt::Key_Return, Qt::ShiftModifier);
        const QString option = QString::number(w.transport().currentPlayOption());
        QCOMPARE(setup.engine.calls.last(), QStringLiteral("play(%1,%2)").arg(option).arg(3 * 480));
        select(w.lvLyrics, {6});
        const QRect rect = w.lvLyrics->visualRect(w.lvLyrics->model()->index(6, 1));
        QTest::mouseDClick(w.lvLyrics->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(setup.engine.calls.last(), QStringLiteral("play(%1,%2)").arg(option).arg(6 * 480));
    }

    void copyAndSaveFromTheMenu()
    {
        Setup setup;
        open(setup, 4, "[Tonelark]\nShowInfo=1\nSeparatorType=7\n", QStringLiteral(" 作者 "), QStringLiteral("曲名"));
        TfrmTonelark2Main &w = *setup.window;
        select(w.lvLyrics, {2, 0});
        w.pmiCopyLyricsToClipboard->trigger();
        QCOMPARE(setup.ui.clipboard, QStringLiteral("歌詞0\r\n歌詞2\r\n"));
        w.lvLyrics->clearSelection();
        w.pmiCopyLyricsToClipboard->trigger();
        QCOMPARE(setup.ui.clipboard, QString());

        const QString out = setup.dir.filePath(QStringLiteral("out.txt"));
        setup.ui.nextSaveFileName = out;
        bool modalDuringDialog = false;
        setup.ui.duringSaveDialog = [&] { modalDuringDialog = w.inModalLoop(); };
        w.pmiSaveLyricsAndDetails->trigger();
        QVERIFY(modalDuringDialog);
        QVERIFY(!w.inModalLoop());
        QCOMPARE(setup.ui.saveRequests.last().fileName, QStringLiteral("song-Lyrics.txt"));
        // The save dialog starts in the song's folder.
        QCOMPARE(setup.ui.saveRequests.last().folder, setup.dir.path());
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        // Title first, SeparatorType 7 acting as 1.
        QCOMPARE(file.readAll(), QByteArray("\x8B\xC8\x96\xBC / \x8D\xEC\x8E\xD2\r\n\r\n"
                                            "00:00 \x89\xCC\x8E\x8C""0\r\n00:00 \x89\xCC\x8E\x8C""1\r\n"
                                            "00:01 \x89\xCC\x8E\x8C""2\r\n00:01 \x89\xCC\x8E\x8C""3\r\n"));
        file.close();
        w.pmiLyricsIncludeMetaText->trigger(); // toggles itself off
        QVERIFY(!w.pmiLyricsIncludeMetaText->isChecked());
        w.pmiSaveLyricsOnly->trigger();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\x89\xCC\x8E\x8C""0\r\n\x89\xCC\x8E\x8C""1\r\n"
                                            "\x89\xCC\x8E\x8C""2\r\n\x89\xCC\x8E\x8C""3\r\n"));
    }

    // 文字コード while the song plays: rows, boxes and comments read again in place, no
    // stop or play reaches the engine, the highlight stays on its line; the next load of
    // the file (in a new window) uses the choice kept in the state folder.
    void encodingMenuRereadsThePlayingSongInPlace()
    {
        Setup setup;
        const QByteArray state = QFile::encodeName(setup.dir.filePath(QStringLiteral("state")));
        qputenv("XDG_STATE_HOME", state);
        const QString words = QStringLiteral("ó pé dos meus cabezales");
        SmfBuilder smf;
        smf.meta(0, 0x03, QStringLiteral("Cantiga ó").toUtf8()).meta(0, 0x01, QByteArray("@LGALI"));
        smf.meta(0, 0x05, QStringLiteral("Unha").toUtf8()).meta(480, 0x05, words.toUtf8())
            .meta(480, 0x05, QByteArray("fin"));
        smf.note(0, 60, 480);
        const QString file = setup.dir.filePath(QStringLiteral("cantiga.kar"));
        QVERIFY(writeFile(file, smf.bytes()));
        setup.ini = Convex::fromBytes("[Tonelark]\nShowInfo=1\n");
        setup.window = std::make_unique<TfrmTonelark2Main>(setup.engine, setup.ini, QStringList{}, &setup.ui);
        QCOMPARE(setup.window->BRSLoad(file), LoadOutcome::Success);
        setup.window->timerUpdating->stop();
        setup.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(setup.window.get()));
        TfrmTonelark2Main &w = *setup.window;
        const auto row = [&](int r) { return w.lvLyrics->model()->index(r, 1).data().toString(); };
        QCOMPARE(row(1), words);
        QCOMPARE(w.editTitle->text(), QStringLiteral("Cantiga ó"));
        tickAt(setup, 1);
        QCOMPARE(w.lastLyricIndex(), 1);
        setup.engine.calls.clear();

        QVERIFY(w.popupMenuMain->actions().contains(w.pmiEncoding->menuAction()));
        QVERIFY(w.popupMenuMetaText->actions().contains(w.pmiEncoding->menuAction()));
        w.pmiEncodingPopup();
        auto *automatic = w.findChild<QAction *>(QStringLiteral("pmiEncodingAuto"));
        auto *cp932 = w.findChild<QAction *>(QStringLiteral("pmiEncodingCp932"));
        QVERIFY(automatic && cp932 && automatic->isChecked() && cp932->isEnabled());
        cp932->trigger();
        QCOMPARE(row(1), QStringLiteral("ﾃｳ pﾃｩ dos meus cabezales"));
        QCOMPARE(w.editTitle->text(), QStringLiteral("Cantiga ﾃｳ"));
        tickAt(setup, 1);
        QCOMPARE(w.lastLyricIndex(), 1);
        const QString calls = setup.engine.calls.join(' ');
        QVERIFY2(!calls.contains(QStringLiteral("stop(")) && !calls.contains(QStringLiteral("play(")) &&
                     !calls.contains(QStringLiteral("addList")),
                 qPrintable(calls));
        w.pmiEncodingPopup();
        QVERIFY(cp932->isChecked());
        QFile kept(QFile::decodeName(state) + QStringLiteral("/Tonelark/encodings.ini"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll().contains("cantiga.kar=cp932"));

        Setup again;
        again.ini = Convex::fromBytes("[Tonelark]\nShowInfo=1\n");
        again.window = std::make_unique<TfrmTonelark2Main>(again.engine, again.ini, QStringList{}, &again.ui);
        QCOMPARE(again.window->BRSLoad(file), LoadOutcome::Success);
        QCOMPARE(again.window->lvLyrics->model()->index(1, 1).data().toString(),
                 QStringLiteral("ﾃｳ pﾃｩ dos meus cabezales"));
        qunsetenv("XDG_STATE_HOME");
    }

    void lyricMenuEnabledByRows()
    {
        Setup setup;
        setup.ini = Convex::fromBytes({});
        TfrmTonelark2Main w(setup.engine, setup.ini, QStringList{}, &setup.ui);
        w.popupMenuLyricsPopup();
        QVERIFY(!w.pmiCopyLyricsToClipboard->isEnabled());
        QVERIFY(!w.pmiSaveLyrics->menuAction()->isEnabled());
        QVERIFY(w.pmiScrollToCurrentLyric->isEnabled());
        QVERIFY(w.pmiLyricsIncludeMetaText->isChecked() && w.pmiLyricsPreferTitleToCopyright->isChecked());
        Setup loaded;
        open(loaded, 2);
        loaded.window->popupMenuLyricsPopup();
        QVERIFY(loaded.window->pmiCopyLyricsToClipboard->isEnabled());
        QVERIFY(loaded.window->pmiSaveLyrics->menuAction()->isEnabled());
    }

    void cutOffCellShowsItsTextAsToolTip()
    {
        Setup setup;
        open(setup, 1, "[Tonelark]\nShowInfo=1\nAlwaysOnTop=1\n");
        TfrmTonelark2Main &w = *setup.window;
        w.lvLyrics->setColumnWidth(1, 20);
        const QRect rect = w.lvLyrics->visualRect(w.lvLyrics->model()->index(0, 1));
        QHelpEvent help(QEvent::ToolTip, rect.center(), w.lvLyrics->viewport()->mapToGlobal(rect.center()));
        QCoreApplication::sendEvent(w.lvLyrics->viewport(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("歌詞0"));
        // Qt's tool tip is a tool-tip window, stacked above stay-on-top windows by itself.
        QWidget *tip = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top->isVisible() && top->windowType() == Qt::ToolTip)
                tip = top;
        QVERIFY(tip);
        QToolTip::hideText();
    }

    void infoBoxStylesAndTexts()
    {
        Setup setup;
        const QString longAuthor = QStringLiteral("とても長い作者の名前がここにあり、最後まで続いて終わりが見えない作者名");
        open(setup, 1, "[Tonelark]\nShowInfo=1\n", longAuthor, QStringLiteral("Night"));
        TfrmTonelark2Main &w = *setup.window;
        // The start of a long text shows, not its tail.
        QCOMPARE(w.editCopyright->cursorPosition(), 0);
        const int tag = w.editTitle->tag();
        struct {
            qint32 style;
            InfoBoxFrame frame;
            int offset;
        } cases[] = {{1, InfoBoxFrame::FlatBorder, 1}, {2, InfoBoxFrame::None, 3},
                     {0, InfoBoxFrame::Sunken, 0}, {7, InfoBoxFrame::Sunken, 0}, {2, InfoBoxFrame::None, 3}};
        for (const auto &c : cases) {
            w.ApplyInfoBoxStyle(c.style);
            for (umain::TEdit *box : {w.editCopyright, w.editTitle}) {
                QCOMPARE(box->frame(), c.frame);
                QCOMPARE(box->y(), box->tag() + c.offset);
                QCOMPARE(box->hasFrame(), c.frame == InfoBoxFrame::Sunken);
            }
        }
        QCOMPARE(w.editTitle->tag(), tag);
        // The three frames draw differently.
        QList<QImage> looks;
        for (qint32 style : {0, 1, 2}) {
            w.ApplyInfoBoxStyle(style);
            looks << w.editTitle->grab().toImage();
        }
        QVERIFY(looks[0] != looks[1] && looks[1] != looks[2] && looks[0] != looks[2]);
    }

    void metaTextMenuFollowsTheActiveBox()
    {
        Setup setup;
        open(setup, 1, "[Tonelark]\nShowInfo=1\n", QStringLiteral("  Tune Maker "), QStringLiteral("Night"));
        TfrmTonelark2Main &w = *setup.window;
        QCOMPARE(w.editTitle->contextMenu(), w.popupMenuMetaText);
        QCOMPARE(w.memoCompileMsg->contextMenu(), w.popupMenuMetaText);

        w.editTitle->setFocus();
        w.editTitle->setSelection(0, 2);
        w.popupMenuMetaTextPopup();
        QVERIFY(w.pmiMetaTextCopy->isEnabled());
        QVERIFY(!w.pmiMetaTextCopyFormat1->isVisible() && w.pmiMetaTextCopyFormat2->isVisible());
        QCOMPARE(w.pmiMetaTextCopyFormat2->text(), QStringLiteral("「Night - Tune Maker」でコピー"));
        w.MetaTextContextMenu(w.pmiMetaTextCopyFormat2);
        QCOMPARE(setup.ui.clipboard, QStringLiteral("Night - Tune Maker"));

        w.editCopyright->setFocus();
        w.editCopyright->deselect();
        w.popupMenuMetaTextPopup();
        QVERIFY(!w.pmiMetaTextCopy->isEnabled());
        QVERIFY(w.pmiMetaTextCopyFormat1->isVisible() && !w.pmiMetaTextCopyFormat2->isVisible());
        w.MetaTextContextMenu(w.pmiMetaTextCopyFormat1);
        QCOMPARE(setup.ui.clipboard, QStringLiteral("Tune Maker - Night"));
        w.MetaTextContextMenu(w.pmiMetaTextSelectAll);
        QCOMPARE(w.editCopyright->selectedText(), w.editCopyright->text());

        // In a memo neither format shows, and the separator left last is not drawn.
        w.memoComments->setFocus();
        w.popupMenuMetaText->popup(w.mapToGlobal(QPoint(10, 10)));
        QVERIFY(!w.pmiMetaTextCopyFormat1->isVisible() && !w.pmiMetaTextCopyFormat2->isVisible());
        QAction *separator = w.popupMenuMetaText->findChild<QAction *>(QStringLiteral("pmiMetaTextSeparator"));
        QVERIFY(separator);
        QVERIFY(w.popupMenuMetaText->actionGeometry(separator).isEmpty());
        QVERIFY(!w.popupMenuMetaText->actionGeometry(w.pmiMetaTextSelectAll).isEmpty());
        w.popupMenuMetaText->close();

        w.SetContextMenuMode(false);
        for (umain::TEdit *box : w.findChildren<umain::TEdit *>())
            QCOMPARE(box->contextMenu(), nullptr);
        for (umain::TMemo *memo : w.findChildren<umain::TMemo *>())
            QCOMPARE(memo->contextMenu(), nullptr);
    }

    void contextMenuRunsInsideTheModalFlag()
    {
        for (const QByteArray &ini : {QByteArray("[Tonelark]\nShowInfo=1\n"),
                                     QByteArray("[Tonelark]\nShowInfo=1\nUseSystemContextMenu=1\n")}) {
            Setup setup;
            open(setup, 1, ini);
            TfrmTonelark2Main &w = *setup.window;
            bool flagWhileOpen = false;
            bool formatOffered = false;
            QTimer::singleShot(50, [&] {
                QWidget *popup = QApplication::activePopupWidget();
                flagWhileOpen = w.inModalLoop();
                if (auto *menu = qobject_cast<QMenu *>(popup)) {
                    for (QAction *action : menu->actions())
                        formatOffered |= action->isVisible() && action->text().contains(QStringLiteral("でコピー"));
                    menu->close();
                }
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), w.editTitle->mapToGlobal(QPoint(5, 5)));
            QCoreApplication::sendEvent(w.editTitle, &event);
            QVERIFY(flagWhileOpen);
            QVERIFY(!w.inModalLoop());
            QCOMPARE(formatOffered, !ini.contains("UseSystemContextMenu"));
        }
    }

    void onlyCtrlASelectsAll()
    {
        Setup setup;
        open(setup, 1);
        umain::TEdit *box = setup.window->editTitle;
        box->setFocus();
        for (Qt::KeyboardModifiers modifiers : {Qt::ControlModifier | Qt::ShiftModifier,
                                                Qt::ControlModifier | Qt::AltModifier}) {
            box->deselect();
            QTest::keyClick(box, Qt::Key_A, modifiers);
            QVERIFY(!box->hasSelectedText());
        }
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(box->selectedText(), box->text());
    }
};

QTEST_MAIN(LyricsWindowTest)
#include "LyricsWindowTest.moc"
