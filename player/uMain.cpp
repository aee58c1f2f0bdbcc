#include "uMain.h"

#include "AudioExport.h"
#include "CopyFormats.h"
#include "CstmUtils.h"
#include "Engine.h"
#include "EngineNotices.h"
#include "FileNames.h"
#include "FileVersionInfo.h"
#include "FontSetup.h"
#include "DesktopHotKey.h"
#include "LyricsModel.h"
#include "LyricsViewExport.h"
#include "PrefApply.h"
#include "Playlist.h"
#include "QueuePage.h"
#include "SakuraDll.h"
#include "StageWindow.h"
#include "Gauges.h"
#include "TColor.h"
#include "TrayIcon.h"
#include "X11Window.h"
#include "uConst.h"
#include "uPref.h"
#include "uSeek.h"
#include "uShortcuts.h"
#include "WindowPlacement.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include "MixerControls.h"

#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>

// Resources of a static library must be registered by name from outside any namespace.
static void initToolbarImages()
{
    Q_INIT_RESOURCE(icons);
}

namespace tonelark {

namespace {

const QString kOpenFilter = QStringLiteral(
    "スタンダードMIDIファイル (*.mid)|*.mid;*.midi;*.kar|テキスト音楽「サクラ」ファイル (*.mml)|*.mml|"
    "すべての対応ファイル|*.mid;*.midi;*.kar;*.mml;*.m3u;*.m3u8|プレイリスト|*.m3u;*.m3u8");
constexpr int kOpenFilterSelected = 2; // "すべての対応ファイル"

const char *const kImageFiles[] = {
    ":/icons/0-play.svg",     ":/icons/1-pause.svg", ":/icons/2-stop.svg",
    ":/icons/3-play-loop.svg", ":/icons/4-settings.svg", ":/icons/5-info.svg",
    ":/icons/6-pin.svg",      ":/icons/7-open.svg",  ":/icons/8-seek.svg",
};

// Tags of the transparency items: the alpha value, or -1 for opaque.
constexpr int kTagQuarter = 192;
constexpr int kTagHalf = 128;
constexpr int kTagNone = -1;

constexpr int kLyricsTextColumnWidth = 270;

} // namespace

void TimePanel::mousePressEvent(QMouseEvent *event)
{
    QLabel::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void TimePanel::setFittedText(const QString &text)
{
    const QFont own = parentWidget() ? parentWidget()->font() : QApplication::font();
    QFont face = own;
    const int room = contentsRect().width();
    constexpr int kSmallestPixels = 7;
    int pixels = QFontInfo(face).pixelSize();
    while (QFontMetrics(face).horizontalAdvance(text) > room && pixels > kSmallestPixels)
        face.setPixelSize(--pixels);
    if (face != own) {
        if (face != font())
            setFont(face);
    } else if (testAttribute(Qt::WA_SetFont)) {
        setFont(QFont()); // inherited again, so a new window font reaches the panel too
    }
    setText(text);
}

void TimePanel::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of a quick pair reaches a widget only as this event: it is a click.
    event->accept();
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

TfrmTonelark2Main::TfrmTonelark2Main(Engine &engine, Convex &ini, const QStringList &arguments,
                                     Ui *ui, QWidget *parent, const QString &stateFolder)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_engine(engine),
      m_ini(ini)
{
    initToolbarImages();
    setObjectName(QStringLiteral("TfrmTonelark2Main"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tonelark.svg")));
    if (ui) {
        m_ui = ui;
    } else {
        m_ownUi = std::make_unique<WidgetUi>(this, &m_modalLoop);
        m_ui = m_ownUi.get();
    }
    FontSetup::installJapaneseSubstitutions();

    // 2. Settings; 8. the window font from them, before the children exist: each is made
    // with it, rather than laid out again when it changes.
    m_settings = Settings::load(m_ini);
    setFont(FontSetup::windowFont(font(), m_settings.UIFontType, m_settings.FontName,
                                  m_settings.FontSize));

    buildComponents();
    buildMenus();
    buildActions();

    // 1. Caption and application title.
    m_appTitle = QCoreApplication::applicationName();
    if (m_appTitle.isEmpty())
        m_appTitle = QString::fromLatin1(kAppTitle);
    setWindowTitle(m_appTitle);
    m_applicationTitle = m_appTitle;

    m_muteMode = isMuteKeyword(m_settings.Keyword);
    m_keyTempo = KeyTempo(m_settings.KeyShift, m_settings.TempoRatio);
    m_atStart.KeyShift = m_keyTempo.key();
    m_atStart.TempoRatio = m_keyTempo.tempo();

    // 3. Position: restored from the file, moved onto a screen when the stored place lies
    // (partly) outside every screen's available area, so the window is never out of reach.
    if (m_settings.RestoreWindowPos) {
        QList<QRect> screens;
        for (const QScreen *screen : QGuiApplication::screens())
            screens << screen->availableGeometry();
        move(usableWindowPosition(QRect(QPoint(m_settings.Left, m_settings.Top), size()), screens));
        m_positionRestored = true;
        m_atStart.Left = m_settings.Left;
        m_atStart.Top = m_settings.Top;
    }

    // 4. Check buttons.
    toolButtonOfPin->setChecked(m_settings.AlwaysOnTop);
    toolButtonOfInfo->setChecked(m_settings.ShowInfo);

    // 5.-7. Colours.
    applyColors();

    // 9. The layout of the song information block depends on the face the window got.
    m_infoFontPitch = FontSetup::probeInfoFontPitch(font().family());

    // 10. Dropped files load like opened ones.
    setAcceptDrops(true);

    // 11. A hot key that cannot be had is not reported at start.
    m_trayIcon = new TrayIcon(windowIcon(), this);
    connect(m_trayIcon, &TrayIcon::restoreRequested, this, &TfrmTonelark2Main::OnRestore);
    // The panel restarted or quit: the window comes back rather than stay out of reach.
    connect(m_trayIcon, &TrayIcon::trayLost, this, &TfrmTonelark2Main::OnRestore);
    connect(m_trayIcon, &TrayIcon::menuRequested, this, &TfrmTonelark2Main::popupMenuTaskTrayAt,
            Qt::QueuedConnection);
    m_hotKey = new DesktopHotKey(this);
    connect(m_hotKey, &DesktopHotKey::activated, this, [this](quint32 timestamp) {
        m_hotKeyTime = timestamp;
        hotKeyPressed(HotKeyId);
        m_hotKeyTime = 0;
    });
    RegHotKey(m_settings.HotKey);

    m_transport = std::make_unique<Transport>(m_engine, m_settings, m_muteMode);
    m_transport->setCommandHook([this] {
        setMonitorPace(kMonitorIntervalMs);
        if (m_queuePlayer)
            m_queuePlayer->userCommand();
    });
    // Panels learn of every jump (seek bar, keys, wheel, dialog, lyric, MPRIS) at once.
    m_transport->setJumpHook([this] {
        if (m_mpris)
            m_mpris->seeked(mprisPositionUs());
    });
    m_monitor = std::make_unique<PlaybackMonitor>(m_engine);
    m_abRepeat = std::make_unique<ABRepeat>(m_engine);
    m_mixer = new MixerControls(m_engine, m_muteMode, m_settings, this);
    m_mixer->addToMenu(popupMenuMain, true);
    m_mixer->addToMenu(popupMenuPlayback, false);
    m_mixer->recordInto(m_atStart);
    connect(m_mixer, &MixerControls::markChanged, this, &TfrmTonelark2Main::showTimePanel);
    connect(m_mixer, &MixerControls::volumeChanged, this, [this] {
        if (m_mpris)
            m_mpris->refresh();
    });
    m_gate = std::make_unique<SongGate>(*m_ui, [this](const QString &fileName) { return loadNow(fileName); });
    m_gate->setNotice([this](const QString &text) { showInfoNotice(text); });
    m_loader = std::make_unique<SongLoader>(m_engine, static_cast<SongLoaderView &>(*this), m_gate->loaderUi(),
                                            m_settings, m_infoFontPitch, m_appTitle);
    m_encodingChoices = std::make_unique<EncodingChoices>();
    m_loader->setEncodingLookup([this](const QString &fileName) { return m_encodingChoices->choiceFor(fileName); });
    wireLyricsAndInfoBoxes();
    m_queuePlayer = std::make_unique<QueuePlayer>(static_cast<QueuePlayerHost &>(*this), stateFolder);
    m_queuePlayer->setSettings(QueueSettings::load(m_ini));
    m_transport->setLoopWanted([this] { return m_queuePlayer->engineShouldLoop(m_loader->song().BrsSmfInfo.LoopTick >= 0); });
    buildQueue();
    buildAudioExport();

    // 13. Every press on the time display is a click.
    connect(panelTimeElapsed, &TimePanel::clicked, this, &TfrmTonelark2Main::panelTimeElapsedClick);

    // 14. Without ShowInfo the window starts without the info pages, shorter by their height.
    m_atStart.ShowInfo = toolButtonOfInfo->isChecked();
    if (!toolButtonOfInfo->isChecked())
        toolButtonOfInfoClick();

    // 15. Always on top from the pin's state.
    toolButtonOfPinClick();
    m_atStart.AlwaysOnTop = toolButtonOfPin->isChecked();

    // 16. The monitor stays off until the first successful load.
    timerUpdating->setInterval(kMonitorIntervalMs);

    // 17. A device that cannot be opened is not reported at start; a SoundFont from the
    // settings that is not used, and the sound server going and coming, are (info area).
    m_engineNotices = new EngineNotices(m_engine, this);
    connect(m_engineNotices, &EngineNotices::notice, memoComments, &QPlainTextEdit::appendPlainText);
    if (!m_settings.SoundFont.isEmpty()) {
        const std::int32_t soundFont = m_engine.setSoundFont(m_settings.SoundFont);
        if (m_settings.MidiOutDeviceId == BRSDEVICE_BUILTIN_SYNTH)
            m_engineNotices->watchSoundFontAtStart(m_settings.SoundFont, soundFont);
    }
    m_engine.openDevice(m_settings.MidiOutDeviceId);
    // The engine starts at the song's own key and tempo: only a stored change is sent.
    if (m_keyTempo.key() != KeyTempo::kOriginalKey)
        m_engine.setKeyShift(m_keyTempo.key());
    if (m_keyTempo.tempo() != KeyTempo::kOriginalTempo)
        m_engine.setTempoRatio(m_keyTempo.tempo());
    showKeyTempo();

    // 18. Before the window is first shown: the queue of the last run, then the songs named
    // on the command line, which join it and play.
    m_queuePlayer->restore();
    if (!arguments.isEmpty())
        openSongs(arguments);

    // 21.
    m_lastLyricIndex = -1;
}

TfrmTonelark2Main::~TfrmTonelark2Main()
{
    m_stage.reset();
    // The page shows the queue player's queue: it goes first, while that still exists.
    delete queuePage;
    queuePage = nullptr;
    timerUpdating->stop();
    m_engine.stop();
    m_engine.closeDevice();
}

void TfrmTonelark2Main::buildComponents()
{
    labelCopyright = new QLabel(QStringLiteral("作者:"), this);
    labelCopyright->setObjectName(QStringLiteral("labelCopyright"));
    labelCopyright->setGeometry(8, 7, 34, 18);
    editCopyright = new umain::TEdit(this);
    editCopyright->setObjectName(QStringLiteral("editCopyright"));
    editCopyright->setReadOnly(true);
    editCopyright->setGeometry(44, 5, 300, 21);

    labelTitle = new QLabel(QStringLiteral("曲名:"), this);
    labelTitle->setObjectName(QStringLiteral("labelTitle"));
    labelTitle->setGeometry(8, 31, 34, 18);
    editTitle = new umain::TEdit(this);
    editTitle->setObjectName(QStringLiteral("editTitle"));
    editTitle->setReadOnly(true);
    editTitle->setGeometry(44, 29, 300, 21);

    gaugePlayback = new TGauge(this);
    gaugePlayback->setObjectName(QStringLiteral("gaugePlayback"));
    gaugePlayback->setGeometry(12, 55, 329, 13);
    gaugePlayback->setShowText(false);
    gaugePlayback->setProgress(0);
    gaugePlayback->setMaxValue(0);
    gaugePlayback->setContextMenuPolicy(Qt::CustomContextMenu);

    // A plain row rather than a tool bar: a fixed bar needs neither handle nor extension
    // button, and the extension's icon alone loaded every image plugin at start.
    const auto makeBar = [this](const char *name, int x, int buttons) {
        auto *bar = new QWidget(this);
        bar->setObjectName(QLatin1String(name));
        auto *row = new QHBoxLayout(bar);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        bar->setGeometry(x, 74, 23 * buttons, 24);
        return bar;
    };
    for (const char *file : kImageFiles)
        m_imageListOfToolbar << QIcon(QString::fromLatin1(file));

    toolbarLeft = makeBar("toolbarLeft", 8, 3);
    toolButtonOfSettings = addToolButton(toolbarLeft, "toolButtonOfSettings", QStringLiteral("設定"), 4, false);
    toolButtonOfPin = addToolButton(toolbarLeft, "toolButtonOfPin", QStringLiteral("最前面に表示"), 6, true);
    toolButtonOfInfo = addToolButton(toolbarLeft, "toolButtonOfInfo", QStringLiteral("情報"), 5, true);

    toolbarCenter = makeBar("toolbarCenter", 84, 1);
    toolButtonOfOpen = addToolButton(toolbarCenter, "toolButtonOfOpen", QStringLiteral("開く"), 7, false);

    toolbarRight = makeBar("toolbarRight", 114, 4);
    toolButtonOfPlay = addToolButton(toolbarRight, "toolButtonOfPlay", QStringLiteral("演奏"), 0, false);
    toolButtonOfPause = addToolButton(toolbarRight, "toolButtonOfPause", QStringLiteral("一時停止"), 1, false);
    toolButtonOfStop = addToolButton(toolbarRight, "toolButtonOfStop", QStringLiteral("停止"), 2, false);
    toolButtonOfSeek = addToolButton(toolbarRight, "toolButtonOfSeek", QStringLiteral("演奏位置の入力指定"), 8, false);
    for (QToolButton *button : {toolButtonOfPlay, toolButtonOfPause, toolButtonOfStop, toolButtonOfSeek})
        button->setEnabled(false);

    m_timeText = PlaybackMonitor::initialTimeText();
    panelTimeElapsed = new TimePanel(m_timeText, this);
    panelTimeElapsed->setObjectName(QStringLiteral("panelTimeElapsed"));
    panelTimeElapsed->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    panelTimeElapsed->setGeometry(210, 74, 132, 24);

    pagesInfo = new QTabWidget(this);
    pagesInfo->setObjectName(QStringLiteral("pagesInfo"));
    pagesInfo->setGeometry(0, kClientHeight - kPagesInfoHeight, kClientWidth, kPagesInfoHeight);

    const auto makeMemo = [](const char *name, QWidget *page) {
        auto *memo = new umain::TMemo(page);
        memo->setObjectName(QLatin1String(name));
        memo->setReadOnly(true);
        memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        return memo;
    };
    const auto makePage = [this](const char *name, const QString &caption) {
        auto *page = new QWidget;
        page->setObjectName(QLatin1String(name));
        auto *layout = new QVBoxLayout(page);
        layout->setContentsMargins(2, 2, 2, 2);
        pagesInfo->addTab(page, caption);
        return page;
    };

    tabInfo = makePage("tabInfo", QStringLiteral("情報"));
    memoComments = makeMemo("memoComments", tabInfo);
    tabInfo->layout()->addWidget(memoComments);

    tabComments = makePage("tabComments", QStringLiteral("コメント"));
    memoMetaComments = makeMemo("memoMetaComments", tabComments);
    tabComments->layout()->addWidget(memoMetaComments);

    tabLyrics = makePage("tabLyrics", QStringLiteral("歌詞"));
    memoLyrics = makeMemo("memoLyrics", tabLyrics);
    memoLyrics->hide();
    lvLyrics = new TListView(tabLyrics);
    lvLyrics->setObjectName(QStringLiteral("lvLyrics"));
    tabLyrics->layout()->addWidget(lvLyrics);

    // Its list and menu come with the queue player (buildQueue).
    tabQueue = makePage("tabQueue", QStringLiteral("曲順"));

    tabCompileMsg = makePage("tabCompileMsg", QStringLiteral("コンパイラ"));
    memoCompileMsg = makeMemo("memoCompileMsg", tabCompileMsg);
    tabCompileMsg->layout()->addWidget(memoCompileMsg);

    tabAbout = makePage("tabAbout", QStringLiteral("バージョン情報"));
    textAbout = new QLabel(tabAbout);
    textAbout->setObjectName(QStringLiteral("textAbout"));
    textAbout->setAlignment(Qt::AlignCenter);
    tabAbout->layout()->addWidget(textAbout);

    for (InfoPage page : {InfoPage::Comments, InfoPage::Lyrics, InfoPage::Queue, InfoPage::CompileMsg, InfoPage::About})
        pagesInfo->setTabVisible(static_cast<int>(page), false);
    pagesInfo->setCurrentWidget(tabInfo);

    timerUpdating = new QTimer(this);
    timerUpdating->setObjectName(QStringLiteral("timerUpdating"));
    timerUpdating->setTimerType(Qt::PreciseTimer);
    timerUpdating->setInterval(kMonitorIntervalMs);
    connect(timerUpdating, &QTimer::timeout, this, &TfrmTonelark2Main::timerUpdatingTimer);

    setFixedSize(kClientWidth, kClientHeight);
}

QToolButton *TfrmTonelark2Main::addToolButton(QWidget *bar, const char *name, const QString &hint,
                                              int image, bool checkable)
{
    auto *button = new QToolButton(bar);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(hint);
    button->setIcon(m_imageListOfToolbar.value(image));
    button->setIconSize(QSize(16, 16));
    button->setCheckable(checkable);
    button->setAutoRaise(true);
    button->setFixedSize(23, 22);
    bar->layout()->addWidget(button);
    return button;
}

QAction *TfrmTonelark2Main::addAction(const char *name, const QString &caption,
                                      const QKeySequence &shortcut)
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    QWidget::addAction(action);
    return action;
}

void TfrmTonelark2Main::buildMenus()
{
    const auto item = [this](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    const auto checkItem = [&item](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = item(menu, name, caption);
        action->setCheckable(true);
        action->setChecked(true);
        return action;
    };

    popupMenuTaskTray = new QMenu(this);
    popupMenuTaskTray->setObjectName(QStringLiteral("popupMenuTaskTray"));
    menuItemRestore = item(popupMenuTaskTray, "menuItemRestore", QStringLiteral("ウィンドウを元に戻す(&R)"));
    menuItemExit = item(popupMenuTaskTray, "menuItemExit", QStringLiteral("終了(&X)"));
    connect(menuItemRestore, &QAction::triggered, this, &TfrmTonelark2Main::menuItemRestoreClick);
    connect(menuItemExit, &QAction::triggered, this, &TfrmTonelark2Main::menuItemExitClick);

    popupMenuPlayback = new QMenu(this);
    popupMenuPlayback->setObjectName(QStringLiteral("popupMenuPlayback"));
    menuItemPlayFromBeginning = item(popupMenuPlayback, "menuItemPlayFromBeginning", QStringLiteral("最初から演奏(&B)"));
    menuItemPlayFromBeginning->setIcon(m_imageListOfToolbar.value(0));
    menuItemPlayFromCC111 = item(popupMenuPlayback, "menuItemPlayFromCC111", QStringLiteral("ループポイントから演奏(&L)"));
    menuItemPlayFromCC111->setIcon(m_imageListOfToolbar.value(3));
    menuItemSeek = item(popupMenuPlayback, "menuItemSeek", QStringLiteral("演奏位置を直接入力して指定(&S)"));
    menuItemSeek->setIcon(m_imageListOfToolbar.value(8));
    popupMenuPlayback->addSeparator();
    pmiRepeatStart = item(popupMenuPlayback, "pmiRepeatStart", QStringLiteral("ここをAに"));
    pmiRepeatEnd = item(popupMenuPlayback, "pmiRepeatEnd", QStringLiteral("ここをBに"));
    pmiRepeatClear = item(popupMenuPlayback, "pmiRepeatClear", QStringLiteral("A-B 解除"));
    connect(menuItemPlayFromBeginning, &QAction::triggered, this, &TfrmTonelark2Main::menuItemPlayFromBeginningClick);
    connect(menuItemPlayFromCC111, &QAction::triggered, this, &TfrmTonelark2Main::menuItemPlayFromCC111Click);
    connect(popupMenuPlayback, &QMenu::aboutToShow, this, &TfrmTonelark2Main::popupMenuPlaybackPopup);
    connect(gaugePlayback, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        m_menuTick = seekBarTick(pos.x(), gaugePlayback->width(), gaugePlayback->maxValue(),
                                 m_settings.PlaybackBaseMode, m_monitor->info(),
                                 m_loader->song().CurrentTempoList.get());
        m_menuSong = m_modalLoop.songGeneration();
        const ModalLoopGuard modal(m_modalLoop);
        popupMenuPlayback->exec(gaugePlayback->mapToGlobal(pos));
    });

    popupMenuLyrics = new QMenu(this);
    popupMenuLyrics->setObjectName(QStringLiteral("popupMenuLyrics"));
    pmiRepeatLine = item(popupMenuLyrics, "pmiRepeatLine", QStringLiteral("この行を繰り返す"));
    popupMenuLyrics->addSeparator();
    pmiCopyLyricsToClipboard = item(popupMenuLyrics, "pmiCopyLyricsToClipboard", QStringLiteral("選択した歌詞をクリップボードにコピー(&C)"));
    pmiSaveLyrics = popupMenuLyrics->addMenu(QStringLiteral("歌詞をテキストファイルに保存(&S)"));
    pmiSaveLyrics->setObjectName(QStringLiteral("pmiSaveLyrics"));
    pmiSaveLyricsOnly = item(pmiSaveLyrics, "pmiSaveLyricsOnly", QStringLiteral("歌詞のみ(&L)..."));
    pmiSaveLyricsAndDetails = item(pmiSaveLyrics, "pmiSaveLyricsAndDetails", QStringLiteral("演奏時間と歌詞(&T)..."));
    pmiSaveLyrics->addSeparator()->setObjectName(QStringLiteral("pmiMenuLyricsSeparator2"));
    pmiLyricsIncludeMetaText = checkItem(pmiSaveLyrics, "pmiLyricsIncludeMetaText", QStringLiteral("作者と曲名を挿入(&I)"));
    pmiLyricsPreferTitleToCopyright = checkItem(pmiSaveLyrics, "pmiLyricsPreferTitleToCopyright", QStringLiteral("曲名、作者の順番にする(&R)"));
    popupMenuLyrics->addSeparator()->setObjectName(QStringLiteral("pmiMenuLyricsSeparator"));
    pmiScrollToCurrentLyric = checkItem(popupMenuLyrics, "pmiScrollToCurrentLyric", QStringLiteral("現在位置の歌詞まで自動的にスクロール(&L)"));

    popupMenuMetaText = new QMenu(this);
    popupMenuMetaText->setObjectName(QStringLiteral("popupMenuMetaText"));
    pmiMetaTextCopy = item(popupMenuMetaText, "pmiMetaTextCopy", QStringLiteral("コピー(&C)"));
    pmiMetaTextSelectAll = item(popupMenuMetaText, "pmiMetaTextSelectAll", QStringLiteral("すべて選択(&A)"));
    // Qt hides a separator that would lead, trail or follow another (separatorsCollapsible).
    popupMenuMetaText->addSeparator()->setObjectName(QStringLiteral("pmiMetaTextSeparator"));
    pmiMetaTextCopyFormat1 = item(popupMenuMetaText, "pmiMetaTextCopyFormat1", QStringLiteral("(作者) (区切り線) (曲名) でコピー(&F)"));
    pmiMetaTextCopyFormat2 = item(popupMenuMetaText, "pmiMetaTextCopyFormat2", QStringLiteral("(曲名) (区切り線) (作者) でコピー(&F)"));

    popupMenuMain = new QMenu(this);
    popupMenuMain->setObjectName(QStringLiteral("popupMenuMain"));
    pmiTransparent = popupMenuMain->addMenu(QStringLiteral("ウィンドウの透過度(&T)"));
    pmiTransparent->setObjectName(QStringLiteral("pmiTransparent"));
    transparentGroup = new QActionGroup(this);
    transparentGroup->setExclusive(true);
    const auto radio = [&](const char *name, const QString &caption, int tag) {
        QAction *action = item(pmiTransparent, name, caption);
        action->setCheckable(true);
        action->setData(tag);
        transparentGroup->addAction(action);
        return action;
    };
    pmiTransparentQuarter = radio("pmiTransparentQuarter", QStringLiteral("25%(&Q)"), kTagQuarter);
    pmiTransparentHalf = radio("pmiTransparentHalf", QStringLiteral("50%(&H)"), kTagHalf);
    pmiTransparentNone = radio("pmiTransparentNone", QStringLiteral("透過しない(&N)"), kTagNone);
    pmiTransparentNone->setChecked(true);
    connect(transparentGroup, &QActionGroup::triggered, this, &TfrmTonelark2Main::TransparentSelect);

    pmiEncoding = new QMenu(QStringLiteral("文字コード(&E)"), this);
    pmiEncoding->setObjectName(QStringLiteral("pmiEncoding"));
    encodingGroup = new QActionGroup(this);
    encodingGroup->setExclusive(true);
    const std::pair<const char *, QString> encodings[] = {
        {"pmiEncodingAuto", QStringLiteral("自動(&A)")},
        {"pmiEncodingCp932", QStringLiteral("Shift_JIS (CP932)(&S)")},
        {"pmiEncodingUtf8", QStringLiteral("UTF-8(&U)")},
        {"pmiEncodingCp1252", QStringLiteral("西欧 (Windows-1252)(&W)")},
    };
    const TextEncoding encodingValues[] = {TextEncoding::Auto, TextEncoding::Cp932, TextEncoding::Utf8,
                                           TextEncoding::Cp1252};
    for (size_t i = 0; i < std::size(encodings); ++i) {
        QAction *action = item(pmiEncoding, encodings[i].first, encodings[i].second);
        action->setCheckable(true);
        action->setData(static_cast<int>(encodingValues[i]));
        encodingGroup->addAction(action);
    }
    popupMenuMain->addMenu(pmiEncoding);
    // Before the copy formats' separator, which a memo's menu then leaves last and undrawn.
    popupMenuMetaText->insertMenu(
        popupMenuMetaText->findChild<QAction *>(QStringLiteral("pmiMetaTextSeparator"), Qt::FindDirectChildrenOnly),
        pmiEncoding);
    connect(encodingGroup, &QActionGroup::triggered, this, &TfrmTonelark2Main::EncodingSelect);
    connect(pmiEncoding, &QMenu::aboutToShow, this, &TfrmTonelark2Main::pmiEncodingPopup);

    // Where the window system gives a client neither (Wayland), the controls say so greyed out
    // rather than doing nothing; the stored pin state is kept for the next X11 session.
    if (const WindowStacking stacking = windowStackingFor(QGuiApplication::platformName()); !stacking.available) {
        toolButtonOfPin->setEnabled(false);
        toolButtonOfPin->setToolTip(stacking.reason);
        pmiTransparent->menuAction()->setEnabled(false);
        pmiTransparent->menuAction()->setToolTip(stacking.reason);
        popupMenuMain->setToolTipsVisible(true);
    }
}

void TfrmTonelark2Main::buildActions()
{
    actionPlay = addAction("actionPlay", QStringLiteral("Play"), QKeySequence(Qt::ALT | Qt::Key_Q));
    actionPause = addAction("actionPause", QStringLiteral("Pause"), QKeySequence(Qt::ALT | Qt::Key_W));
    actionStop = addAction("actionStop", QStringLiteral("Stop"), QKeySequence(Qt::ALT | Qt::Key_E));
    actionTimeOrTick = addAction("actionTimeOrTick", QStringLiteral("Time or Tick"), QKeySequence(Qt::ALT | Qt::Key_T));
    actionPin = addAction("actionPin", QStringLiteral("Always On Top"), QKeySequence(Qt::ALT | Qt::Key_A));
    actionSeek = addAction("actionSeek", QStringLiteral("Seek"), QKeySequence(Qt::ALT | Qt::Key_S));
    actionInfo = addAction("actionInfo", QStringLiteral("Show SongInfo"), QKeySequence(Qt::ALT | Qt::Key_D));
    actionOpen = addAction("actionOpen", QStringLiteral("Open"), QKeySequence(Qt::ALT | Qt::Key_F));
    actionHelp = addAction("actionHelp", QStringLiteral("Help"), QKeySequence(Qt::ALT | Qt::Key_H));
    actionSettings = addAction("actionSettings", QStringLiteral("Settings"), QKeySequence(Qt::ALT | Qt::Key_C));
    actionNextTab = addAction("actionNextTab", QStringLiteral("Next Tab"), QKeySequence(Qt::ALT | Qt::Key_X));
    actionPrevTab = addAction("actionPrevTab", QStringLiteral("Prev Tab"), QKeySequence(Qt::ALT | Qt::Key_Z));
    actionAbout = addAction("actionAbout", QStringLiteral("About"), QKeySequence(Qt::ALT | Qt::Key_V));
    actionSearchStr = addAction("actionSearchStr", QStringLiteral("actionSearchStr"), QKeySequence(Qt::CTRL | Qt::Key_F));
    actionSeekBack = addAction("actionSeekBack", QStringLiteral("actionSeekBack"), QKeySequence(Qt::ALT | Qt::Key_Left));
    actionSeekForward = addAction("actionSeekForward", QStringLiteral("actionSeekForward"), QKeySequence(Qt::ALT | Qt::Key_Right));
    actionRewind = addAction("actionRewind", QStringLiteral("actionRewind"), QKeySequence(Qt::ALT | Qt::Key_R));
    // Only a secondary shortcut: the primary slot stays empty.
    actionMainContextMenu = addAction("actionMainContextMenu", QStringLiteral("actionMainContextMenu"), QKeySequence());
    actionMainContextMenu->setShortcuts({QKeySequence(), QKeySequence(Qt::ALT | Qt::Key_At)});

    for (QAction *action : {actionPlay, actionPause, actionStop, actionTimeOrTick, actionPin, actionSeek,
                            actionInfo, actionOpen, actionHelp, actionSettings, actionAbout}) {
        connect(action, &QAction::triggered, this, [this, action] { actionListItemExecute(action); });
    }
    for (QAction *action : {actionNextTab, actionPrevTab})
        connect(action, &QAction::triggered, this, [this, action] { actionNextTabExecute(action); });
    connect(actionMainContextMenu, &QAction::triggered, this, &TfrmTonelark2Main::actionMainContextMenuExecute);
    connect(menuItemSeek, &QAction::triggered, actionSeek, &QAction::trigger);
    connect(actionSeekBack, &QAction::triggered, this, &TfrmTonelark2Main::actionSeekBackExecute);
    connect(actionSeekForward, &QAction::triggered, this, &TfrmTonelark2Main::actionSeekForwardExecute);
    connect(actionRewind, &QAction::triggered, this, &TfrmTonelark2Main::actionRewindExecute);

    connect(gaugePlayback, &TGauge::mouseDown, this, &TfrmTonelark2Main::gaugePlaybackMouseDown);
    connect(gaugePlayback, &TGauge::mouseMove, this, &TfrmTonelark2Main::gaugePlaybackMouseMove);
    connect(gaugePlayback, &TGauge::mouseUp, this, &TfrmTonelark2Main::gaugePlaybackMouseUp);
    // Esc ends a drag wherever the focus is; the release then plays nothing and the bar
    // returns to the playing position at the next tick.
    m_cancelDragShortcut = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_cancelDragShortcut->setEnabled(false);
    connect(m_cancelDragShortcut, &QShortcut::activated, this, [this] {
        if (QWidget *grabber = QWidget::mouseGrabber())
            grabber->releaseMouse();
        m_transport->cancelDrag();
        m_cancelDragShortcut->setEnabled(false);
    });

    buildKeyTempoActions();

    actionStage = addAction("actionStage", QStringLiteral("歌詞ウィンドウ(&L)"), QKeySequence(Qt::ALT | Qt::Key_L));
    actionStage->setCheckable(true);
    popupMenuMain->addSeparator();
    popupMenuMain->addAction(actionStage);
    popupMenuTaskTray->insertAction(menuItemExit, actionStage);
    connect(actionStage, &QAction::triggered, this, &TfrmTonelark2Main::actionStageExecute);

    // Alt with the bracket keys, which no other shortcut, menu or the default hot key uses.
    actionRepeatStart = addAction("actionRepeatStart", QStringLiteral("A-B: A"), QKeySequence(Qt::ALT | Qt::Key_BracketLeft));
    actionRepeatEnd = addAction("actionRepeatEnd", QStringLiteral("A-B: B"), QKeySequence(Qt::ALT | Qt::Key_BracketRight));
    for (QAction *action : {actionRepeatStart, actionRepeatEnd, pmiRepeatStart, pmiRepeatEnd, pmiRepeatClear, pmiRepeatLine})
        connect(action, &QAction::triggered, this, [this, action] { repeatActionExecute(action); });

    connect(toolButtonOfOpen, &QToolButton::clicked, this, &TfrmTonelark2Main::toolButtonOfOpenClick);
    // Queued: the dialog's loop must not run inside the button's signal.
    connect(toolButtonOfSettings, &QToolButton::clicked, this, &TfrmTonelark2Main::toolButtonOfSettingsClick,
            Qt::QueuedConnection);
    connect(toolButtonOfPin, &QToolButton::clicked, this, &TfrmTonelark2Main::toolButtonOfPinClick);
    connect(toolButtonOfInfo, &QToolButton::clicked, this, &TfrmTonelark2Main::toolButtonOfInfoClick);
    for (QToolButton *button : {toolButtonOfPlay, toolButtonOfPause, toolButtonOfStop, toolButtonOfSeek})
        connect(button, &QToolButton::clicked, this, [this, button] { toolButtonOfPlayClick(button); });
}

void TfrmTonelark2Main::buildAudioExport()
{
    m_audioExport = new AudioExport(*m_ui, m_modalLoop, this);
    m_audioExport->setNotice([this](const QString &text) { memoComments->appendPlainText(text); });
    m_audioExport->setSource([this] {
        BackingTrackSource source;
        const LoadedSong &song = m_loader->song();
        if (!song.HasSong)
            return source;
        source.songPath = m_loadedFileName;
        source.smf = song.MemoryStream;
        source.tags = {editTitle->text(), editCopyright->text()};
        // The SoundFont the built-in synthesizer plays; with a MIDI port, the one set for it.
        QString soundFont = m_engine.soundFontInUse();
        if (soundFont.isEmpty())
            soundFont = m_settings.SoundFont;
        source.render = backingTrackSettings(m_keyTempo, m_mixer->session().mixer(),
                                             composePlayOption(m_settings, m_transport->currentPlayOption()),
                                             m_queuePlayer->settings().LoopCount, soundFont);
        source.classicDialog = m_settings.UseClassicDialogForFile;
        return source;
    });
    for (QMenu *menu : {popupMenuMain, popupMenuPlayback}) {
        menu->addSeparator();
        menu->addAction(m_audioExport->action);
    }
}

void TfrmTonelark2Main::buildKeyTempoActions()
{
    // Alt with keys the window's other shortcuts, the tray menu and the default hot key
    // (Super+Ctrl+Shift+A) leave free: arrows up and down for the key, page up and down
    // for the tempo, K and P back to the song's own.
    actionKeyUp = addAction("actionKeyUp", QStringLiteral("キー +1(&U)"), QKeySequence(Qt::ALT | Qt::Key_Up));
    actionKeyDown = addAction("actionKeyDown", QStringLiteral("キー −1(&D)"), QKeySequence(Qt::ALT | Qt::Key_Down));
    actionKeyOriginal = addAction("actionKeyOriginal", QStringLiteral("原曲キー(&K)"), QKeySequence(Qt::ALT | Qt::Key_K));
    actionTempoUp = addAction("actionTempoUp", QStringLiteral("テンポ +5%(&F)"), QKeySequence(Qt::ALT | Qt::Key_PageUp));
    actionTempoDown = addAction("actionTempoDown", QStringLiteral("テンポ −5%(&W)"), QKeySequence(Qt::ALT | Qt::Key_PageDown));
    actionTempoOriginal = addAction("actionTempoOriginal", QStringLiteral("元のテンポ(&P)"), QKeySequence(Qt::ALT | Qt::Key_P));
    const QList<QAction *> keyItems{actionKeyUp, actionKeyDown, actionKeyOriginal};
    const QList<QAction *> tempoItems{actionTempoUp, actionTempoDown, actionTempoOriginal};
    for (QMenu *menu : {popupMenuMain, popupMenuPlayback}) {
        menu->addSeparator();
        menu->addActions(keyItems);
        menu->addSeparator();
        menu->addActions(tempoItems);
    }
    for (QAction *action : keyItems + tempoItems)
        connect(action, &QAction::triggered, this, [this, action] { keyTempoActionExecute(action); });
}

void TfrmTonelark2Main::keyTempoActionExecute(QAction *action)
{
    KeyTempo next = m_keyTempo;
    if (action == actionKeyUp)
        next.keyUp();
    else if (action == actionKeyDown)
        next.keyDown();
    else if (action == actionKeyOriginal)
        next.resetKey();
    else if (action == actionTempoUp)
        next.tempoUp();
    else if (action == actionTempoDown)
        next.tempoDown();
    else if (action == actionTempoOriginal)
        next.resetTempo();
    setKeyTempo(next);
}

void TfrmTonelark2Main::setKeyTempo(const KeyTempo &keyTempo)
{
    if (keyTempo.key() != m_keyTempo.key())
        m_engine.setKeyShift(keyTempo.key());
    if (keyTempo.tempo() != m_keyTempo.tempo())
        m_engine.setTempoRatio(keyTempo.tempo());
    m_keyTempo = keyTempo;
    showKeyTempo();
    if (m_mpris)
        m_mpris->refresh();
}

void TfrmTonelark2Main::outputDeviceChanged()
{
    m_engine.setKeyShift(m_keyTempo.key());
    m_engine.setTempoRatio(m_keyTempo.tempo());
}

void TfrmTonelark2Main::showTimePanel()
{
    QString mark = m_keyTempo.mark();
    if (m_mixer && !m_mixer->mark().isEmpty())
        mark = mark.isEmpty() ? m_mixer->mark() : m_mixer->mark() + QLatin1Char(' ') + mark;
    if (m_abRepeat && !m_abRepeat->mark().isEmpty())
        mark = mark.isEmpty() ? m_abRepeat->mark() : mark + QLatin1Char(' ') + m_abRepeat->mark();
    const QString text = mark.isEmpty() ? m_timeText : mark + QStringLiteral("  ") + m_timeText;
    if (panelTimeElapsed->text() != text)
        panelTimeElapsed->setFittedText(text);
}

void TfrmTonelark2Main::showKeyTempo()
{
    showTimePanel();
    panelTimeElapsed->setToolTip(m_keyTempo.toolTip());
    // An item that would change nothing is greyed, and so is its shortcut.
    actionKeyUp->setEnabled(m_keyTempo.canKeyUp());
    actionKeyDown->setEnabled(m_keyTempo.canKeyDown());
    actionKeyOriginal->setEnabled(m_keyTempo.key() != KeyTempo::kOriginalKey);
    actionTempoUp->setEnabled(m_keyTempo.canTempoUp());
    actionTempoDown->setEnabled(m_keyTempo.canTempoDown());
    actionTempoOriginal->setEnabled(m_keyTempo.tempo() != KeyTempo::kOriginalTempo);
}

void TfrmTonelark2Main::applyColors()
{
    const auto colorBox = [](QWidget *box, TColor back, TColor text) {
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base, colorFromTColor(back, palette));
        palette.setColor(QPalette::Text, colorFromTColor(text, palette));
        box->setPalette(palette);
    };
    colorBox(memoComments, m_settings.CommentBackColor, m_settings.CommentTextColor);
    colorBox(editCopyright, m_settings.CopyrightBackColor, m_settings.CopyrightTextColor);
    colorBox(editTitle, m_settings.TitleBackColor, m_settings.TitleTextColor);
    // The other memos keep the designed button-face background.
    for (QPlainTextEdit *memo : {memoMetaComments, memoLyrics, memoCompileMsg})
        colorBox(memo, clBtnFace, clWindowText);

    gaugePlayback->setForeColor(m_settings.Progress.ForeColor);
    gaugePlayback->setBackColor(m_settings.Progress.BackColor);
    gaugePlayback->setFrameColor(m_settings.Progress.FrameColor);
}

LoadOutcome TfrmTonelark2Main::BRSLoad(const QString &fileName, SongSource source)
{
    return m_gate->request({fileName, source});
}

LoadOutcome TfrmTonelark2Main::loadNow(const QString &fileName)
{
    const quint64 generation = m_modalLoop.songGeneration();
    m_loadingFileName = QFileInfo(fileName).absoluteFilePath();
    const LoadOutcome outcome = m_loader->load(fileName);
    m_monitor->setTempoList(m_loader->song().CurrentTempoList.get());
    m_abRepeat->setTempoList(m_loader->song().CurrentTempoList.get());
    if (outcome != LoadOutcome::MissingFile)
        m_dialogFolder = QFileInfo(QDir(QDir::currentPath()).absoluteFilePath(fileName)).path();
    // The info area a failure opened closes again once a song loads.
    if (outcome == LoadOutcome::Success && m_infoShownForFailure)
        toolButtonOfInfoClick();
    // A refused file leaves the current song as it was; any other outcome replaced it.
    if (m_modalLoop.songGeneration() != generation) {
        m_loadedFileName = outcome == LoadOutcome::Success ? QFileInfo(fileName).absoluteFilePath() : QString();
        // By the name's bytes, so that a panel's "open again" names this very file.
        m_loadedUrl = m_loadedFileName.isEmpty() ? QString() : fileUriFromLocalPath(m_loadedFileName);
        m_audioExport->setSongLoaded(m_loader->song().HasSong);
        stageSongChanged();
    }
    if (m_mpris)
        m_mpris->refresh();
    // In the notification area the icon's tip names the new song.
    if (m_taskTrayIcon)
        m_trayIcon->show(m_applicationTitle);
    return outcome;
}

void TfrmTonelark2Main::bringToFront()
{
    // A window in the tray comes back the way a click on the icon brings it.
    if (m_taskTrayIcon) {
        OnRestore();
        return;
    }
    if (isMinimized())
        showNormal();
    else if (!isVisible())
        show();
    raise();
    activateWindow();
    // A press of the hot key was seen by our key grab only; the window manager weighs the
    // activation by that press's time.
    if (m_hotKeyTime != 0)
        activateX11Window(currentNativeWindow(*this), m_hotKeyTime);
}

PlayContext TfrmTonelark2Main::playContext() const
{
    return {m_monitor->status().State, gaugePlayback->progress(),
            m_loader->song().CurrentTempoList.get()};
}

void TfrmTonelark2Main::toolButtonOfOpenClick()
{
    const ModalLoopGuard modal(m_modalLoop);
    OpenFileRequest request;
    request.filters = qtNameFilters(kOpenFilter);
    request.selectedFilter = kOpenFilterSelected;
    request.defaultSuffix = QStringLiteral("mid");
    request.classicDialog = m_settings.UseClassicDialogForFile;
    request.folder = m_dialogFolder.isEmpty() ? QDir::homePath() : m_dialogFolder;
    QStringList files = m_ui->getOpenFileNames(request);
    for (QString &file : files)
        file = resolveDialogPath(file);
    files.removeAll(QString());
    if (!files.isEmpty()) {
        m_dialogFolder = QFileInfo(files.first()).path();
        openSongs(files);
    }
}

namespace {

// What applying the settings reaches in the main window.
class MainPrefWindow final : public PrefWindow {
public:
    explicit MainPrefWindow(TfrmTonelark2Main &window) : m_window(window) {}
    bool RegHotKey(quint16 ShortCut) override { return m_window.RegHotKey(ShortCut); }
    void setGaugeColors(const Settings::ProgressKeys &colors) override
    {
        m_window.gaugePlayback->setForeColor(colors.ForeColor);
        m_window.gaugePlayback->setBackColor(colors.BackColor);
        m_window.gaugePlayback->setFrameColor(colors.FrameColor);
    }
    void ApplyInfoBoxStyle(qint32 Style) override { m_window.ApplyInfoBoxStyle(Style); }
    void SetContextMenuMode(bool UseCompactMenu) override { m_window.SetContextMenuMode(UseCompactMenu); }

private:
    TfrmTonelark2Main &m_window;
};

} // namespace

void TfrmTonelark2Main::toolButtonOfSettingsClick()
{
    const ModalLoopGuard modal(m_modalLoop);
    TfrmTonelark2Pref dialog(this, m_engine.midiOutputPorts(), [this] { return settingsVersionText(); });
    dialog.fill(m_settings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    MainPrefWindow target(*this);
    const qint32 deviceBefore = m_settings.MidiOutDeviceId;
    const QString soundFontBefore = m_settings.SoundFont;
    // The state of the last poll, read when the notice is due: a song may be handed over
    // while the dialog or one of the applying's boxes is open.
    const auto playingOrPaused = [this] {
        const TBrsPlayerState state = m_monitor->status().State;
        return state == BRSSTATE_PLAY || state == BRSSTATE_PAUSE;
    };
    applyPreferences(dialog.edited(m_settings), {m_ini, m_settings, m_engine, *m_ui, target, playingOrPaused});
    if (m_settings.MidiOutDeviceId != deviceBefore || m_settings.SoundFont != soundFontBefore)
        outputDeviceChanged();
    applyLyricHighlightSettings();
    lvLyrics->viewport()->update();
}

QString TfrmTonelark2Main::settingsVersionText()
{
    QString engineDetails = m_engine.synthVersion();
    const QString soundFont = m_engine.soundFontInUse();
    if (!engineDetails.isEmpty())
        engineDetails += QStringLiteral(" / SoundFont: ") +
                         (soundFont.isEmpty() ? QStringLiteral("なし") : QFileInfo(soundFont).fileName());
    return versionPageText(m_appTitle, programFileName(), m_engine.libraryFileName(), SakuraGetVersion(),
                           engineDetails);
}

void TfrmTonelark2Main::toolButtonOfPlayClick(QObject *sender)
{
    if (sender == toolButtonOfPlay || sender == actionPlay)
        m_transport->play(playContext());
    else if (sender == toolButtonOfPause || sender == actionPause)
        m_transport->pause();
    else if (sender == toolButtonOfStop || sender == actionStop)
        m_transport->stop();
    else if (sender == toolButtonOfSeek || sender == actionSeek)
        runSeekDialog();
}

void TfrmTonelark2Main::runSeekDialog()
{
    const ModalLoopGuard modal(m_modalLoop);
    TfrmTonelark2Seek dialog(this, m_loader->song().CurrentTempoList.get());
    // The monitor keeps refreshing both records while the dialog is open.
    dialog.SetTotalTick(&m_monitor->info(), &m_monitor->status());
    // A song handed over while the dialog is open frees the tempo map it converts with; the
    // position asked for belonged to the old song, so the dialog ends as cancelled.
    connect(&m_modalLoop, &ModalLoopState::songReplacing, &dialog, &TfrmTonelark2Seek::songWithdrawn);
    const int result = dialog.exec();
    if (modal.songReplaced())
        return;
    SeekChoice choice;
    if (dialog.radioTimeToSeek->isChecked())
        choice.unit = SeekChoice::Time;
    else if (dialog.radioTickToSeek->isChecked())
        choice.unit = SeekChoice::Tick;
    choice.minutes = dialog.updownMinute->value();
    choice.seconds = dialog.updownSecond->value();
    choice.tick = dialog.updownTickToSet->value();
    m_transport->seekDialogClosed(result, choice, m_loader->song().CurrentTempoList.get());
}

void TfrmTonelark2Main::toolButtonOfPinClick()
{
    const bool onTop = toolButtonOfPin->isChecked();
    if (onTop == windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return;
    if (QWindow *native = windowHandle()) {
        // setWindowFlag would re-create a shown window (it flickers and the window manager
        // may place it anew); the native window takes the new state in place instead.
        const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowStaysOnTopHint, onTop);
        overrideWindowFlags(flags);
        native->setFlags(flags);
    } else {
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    }
}

void TfrmTonelark2Main::toolButtonOfInfoClick()
{
    m_infoShownForFailure = false;
    const bool visible = !pagesInfo->isVisibleTo(this);
    pagesInfo->setVisible(visible);
    toolButtonOfInfo->setChecked(visible);
    const int delta = visible ? kPagesInfoHeight : -kPagesInfoHeight;
    setFixedSize(width(), height() + delta);
}

void TfrmTonelark2Main::panelTimeElapsedClick()
{
    m_transport->toggleDisplayTicks();
    setMonitorPace(kMonitorIntervalMs);
}

void TfrmTonelark2Main::setMonitorPace(int intervalMs)
{
    // setInterval restarts a running timer; only a change of pace may do that.
    if (timerUpdating->interval() != intervalMs)
        timerUpdating->setInterval(intervalMs);
}

void TfrmTonelark2Main::timerUpdatingTimer()
{
    MonitorInputs inputs;
    inputs.isMouseDown = m_transport->isMouseDown();
    inputs.displayTicks = m_transport->displayTicks();
    inputs.playbackBaseMode = m_settings.PlaybackBaseMode;
    inputs.gaugeProgress = gaugePlayback->progress();
    inputs.lyricsVisible = lvLyrics->isVisible();
    inputs.repeatStartTick = m_abRepeat->start().value_or(-1);
    inputs.repeatEndTick = m_abRepeat->end().value_or(-1);
    applyMonitorDisplay(m_monitor->tick(inputs));
    if (m_queuePlayer)
        m_queuePlayer->polled(m_monitor->status(), m_monitor->info());
    if (m_stage && m_stage->isVisible())
        m_stage->follow(m_monitor->status().Time);
    const bool moving = m_monitor->status().State == BRSSTATE_PLAY || inputs.isMouseDown;
    setMonitorPace(moving ? kMonitorIntervalMs : kIdleMonitorIntervalMs);
    if (m_mpris)
        m_mpris->refresh();
}

void TfrmTonelark2Main::applyMonitorDisplay(const MonitorDisplay &display)
{
    if (display.buttons) {
        toolButtonOfPlay->setEnabled(display.buttons->play);
        toolButtonOfStop->setEnabled(display.buttons->stop);
        toolButtonOfPause->setEnabled(display.buttons->pause);
        toolButtonOfSeek->setEnabled(display.buttons->seek);
    }
    if (display.timeText && m_timeText != *display.timeText) {
        m_timeText = *display.timeText;
        showTimePanel();
    }
    if (display.gaugeMaxValue)
        gaugePlayback->setMaxValue(*display.gaugeMaxValue);
    if (display.gaugeMedValue)
        gaugePlayback->setMedValue(*display.gaugeMedValue);
    if (display.gaugeRepeatMarks)
        gaugePlayback->setRepeatMarks(display.gaugeRepeatMarks->first, display.gaugeRepeatMarks->second);
    if (display.gaugeProgress)
        gaugePlayback->setProgress(*display.gaugeProgress);
}

void TfrmTonelark2Main::actionListItemExecute(QAction *action)
{
    const auto clickIfEnabled = [](QToolButton *button) {
        if (button->isEnabled())
            button->click();
    };
    if (action == actionPlay)
        clickIfEnabled(toolButtonOfPlay);
    else if (action == actionPause)
        clickIfEnabled(toolButtonOfPause);
    else if (action == actionStop)
        clickIfEnabled(toolButtonOfStop);
    else if (action == actionTimeOrTick)
        panelTimeElapsedClick();
    else if (action == actionPin)
        clickIfEnabled(toolButtonOfPin); // a check button's click flips its state itself
    else if (action == actionSeek)
        clickIfEnabled(toolButtonOfSeek);
    else if (action == actionInfo)
        clickIfEnabled(toolButtonOfInfo);
    else if (action == actionOpen)
        clickIfEnabled(toolButtonOfOpen);
    else if (action == actionSettings)
        clickIfEnabled(toolButtonOfSettings);
    else if (action == actionHelp) {
        const ModalLoopGuard modal(m_modalLoop);
        TfrmTonelark2Shortcuts dialog(this);
        dialog.exec();
    } else if (action == actionAbout) {
        tabAboutShow();
        pagesInfo->setCurrentWidget(tabAbout);
    }
}

void TfrmTonelark2Main::tabAboutShow()
{
    // Built once per run from the program file's own version record; the text always holds
    // " Ver.", so an empty label means not yet built.
    if (!textAbout->text().isEmpty())
        return;
    TFileVersionInfo info;
    info.LoadFromFile(programFileName());
    textAbout->setText(aboutText(info));
}

void TfrmTonelark2Main::actionNextTabExecute(QAction *action)
{
    QList<bool> visible;
    for (int index = 0; index < pagesInfo->count(); ++index)
        visible << pagesInfo->isTabVisible(index);
    if (const std::optional<int> page =
            adjacentVisibleTab(visible, pagesInfo->currentIndex(), action == actionPrevTab ? -1 : 1))
        pagesInfo->setCurrentIndex(*page);
}

void TfrmTonelark2Main::actionMainContextMenuExecute()
{
    popupMenuMain->popup(QCursor::pos());
}

void TfrmTonelark2Main::TransparentSelect(QAction *item)
{
    item->setChecked(true);
    const int tag = item->data().toInt();
    setWindowOpacity(tag == kTagNone ? 1.0 : (tag & 0xFF) / 255.0);
    if (testAttribute(Qt::WA_WState_Created))
        setX11WindowOpacity(currentNativeWindow(*this), tag == kTagNone ? std::nullopt : std::optional<quint8>(tag & 0xFF));
}

void TfrmTonelark2Main::menuItemPlayFromBeginningClick()
{
    m_transport->playFrom(0);
}

void TfrmTonelark2Main::menuItemPlayFromCC111Click()
{
    m_transport->playFrom(m_monitor->info().LoopTick);
}

void TfrmTonelark2Main::popupMenuPlaybackPopup()
{
    menuItemPlayFromCC111->setEnabled(loopPointItemEnabled(m_monitor->info()));
    const bool hasSong = m_loader->song().HasSong;
    pmiRepeatStart->setEnabled(hasSong && m_menuTick);
    pmiRepeatEnd->setEnabled(hasSong && m_menuTick);
    pmiRepeatClear->setEnabled(m_abRepeat->start() || m_abRepeat->end());
}

void TfrmTonelark2Main::repeatActionExecute(QAction *action)
{
    if (!m_loader->song().HasSong && action != pmiRepeatClear)
        return;
    // A menu's point belongs to the song it was opened on; another may have come meanwhile.
    const bool menuCurrent = m_menuSong == m_modalLoop.songGeneration();
    QString refusal;
    if (action == actionRepeatStart || action == actionRepeatEnd) {
        const qint32 tick = m_engine.status().Tick;
        refusal = action == actionRepeatStart ? m_abRepeat->setStart(tick) : m_abRepeat->setEnd(tick);
    } else if (action == pmiRepeatStart || action == pmiRepeatEnd) {
        if (!menuCurrent || !m_menuTick)
            return;
        refusal = action == pmiRepeatStart ? m_abRepeat->setStart(*m_menuTick) : m_abRepeat->setEnd(*m_menuTick);
    } else if (action == pmiRepeatClear) {
        m_abRepeat->clear();
    } else if (action == pmiRepeatLine) {
        const auto range = lyricLineRange(m_loader->song().SmfLyrics, m_menuLyricRow, m_monitor->info().TotalTick);
        if (!menuCurrent || !range)
            return;
        refusal = m_abRepeat->setRange(range->first, range->second);
        // The singer asked for this line: it starts now, not when the song comes round to it.
        if (refusal.isEmpty())
            m_transport->playFrom(range->first);
    }
    if (!refusal.isEmpty())
        showInfoNotice(refusal);
    showTimePanel();
    setMonitorPace(kMonitorIntervalMs); // the marks follow at the next tick
}

void TfrmTonelark2Main::gaugePlaybackMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                                               QPoint position)
{
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    // The press itself holds the mouse for the bar until the release (Qt's implicit grab),
    // so the drag goes on outside the bar with x in the bar's coordinates.
    const bool dragging = m_transport->mouseDown(button);
    m_cancelDragShortcut->setEnabled(dragging);
    if (dragging)
        gaugePlaybackMouseMove(button, modifiers, position);
}

void TfrmTonelark2Main::gaugePlaybackMouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, QPoint position)
{
    if (const std::optional<int> value = m_transport->mouseMove(
            position.x(), gaugePlayback->maxValue(), gaugePlayback->width(), m_monitor->info()))
        gaugePlayback->setProgress(*value);
}

void TfrmTonelark2Main::gaugePlaybackMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint)
{
    m_transport->mouseUp(button, gaugePlayback->progress(), m_loader->song().CurrentTempoList.get());
    m_cancelDragShortcut->setEnabled(m_transport->isMouseDown());
}

void TfrmTonelark2Main::actionSeekBackExecute()
{
    m_transport->skipBack(m_monitor->status().Time, m_loader->song().CurrentTempoList.get());
}

void TfrmTonelark2Main::actionSeekForwardExecute()
{
    m_transport->skipForward(m_monitor->status().Time, m_monitor->info().LastNoteTime,
                             m_loader->song().CurrentTempoList.get());
}

void TfrmTonelark2Main::actionRewindExecute()
{
    m_transport->rewind(m_monitor->info().LoopTick);
}

void TfrmTonelark2Main::closeEvent(QCloseEvent *event)
{
    // The karaoke window writes its keys as it closes, before the file is saved.
    if (m_stage)
        m_stage->close();
    WindowSnapshot atClose;
    atClose.AlwaysOnTop = toolButtonOfPin->isChecked();
    atClose.ShowInfo = toolButtonOfInfo->isChecked() && !m_infoShownForFailure;
    atClose.Left = pos().x();
    atClose.Top = pos().y();
    atClose.KeyShift = m_keyTempo.key();
    atClose.TempoRatio = m_keyTempo.tempo();
    m_mixer->recordInto(atClose);
    // A failed save at close is not reported: the user is leaving.
    saveSettingsAtClose(m_ini, m_atStart, atClose, m_settings.RestoreWindowPos);
    // A box of a load may still be open (closed by MPRIS or a signal): once it returns,
    // nothing waiting is loaded any more.
    m_gate->dropWaiting();
    event->accept();
}

void TfrmTonelark2Main::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() && !droppedPaths(event->mimeData()->urls()).isEmpty())
        event->acceptProposedAction();
}

void TfrmTonelark2Main::dropEvent(QDropEvent *event)
{
    // Every dropped file and folder joins the queue; web links are ignored.
    const QStringList paths = droppedPaths(event->mimeData()->urls());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // The drag source waits for the drop to end: the load (and any box it shows) runs after.
    QMetaObject::invokeMethod(this, [this, paths] { openSongs(paths); }, Qt::QueuedConnection);
}

void TfrmTonelark2Main::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_firstShowDone)
        return;
    m_firstShowDone = true;
    if (!m_positionRestored) {
        if (const QScreen *screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    if (pagesInfo->isVisible()) {
        QWidget *current = pagesInfo->currentWidget();
        if (current == tabInfo)
            memoComments->setFocus();
        else if (current == tabLyrics)
            lvLyrics->setFocus();
        else if (current == tabCompileMsg)
            memoCompileMsg->setFocus();
        else if (current == tabComments)
            memoMetaComments->setFocus();
    }
    resetCarets();
}

// SongLoaderView

void TfrmTonelark2Main::setMonitorEnabled(bool enabled)
{
    if (enabled)
        timerUpdating->start();
    else
        timerUpdating->stop();
}

void TfrmTonelark2Main::runMonitorStep()
{
    timerUpdatingTimer();
}

void TfrmTonelark2Main::clearSongDisplay()
{
    gaugePlayback->setProgress(0);
    gaugePlayback->setMaxValue(0);
    // The engine dropped the range with the old song.
    m_abRepeat->forget();
    gaugePlayback->setRepeatMarks(-1, -1);
    showTimePanel();
    for (QToolButton *button : {toolButtonOfPlay, toolButtonOfStop, toolButtonOfPause, toolButtonOfSeek})
        button->setEnabled(false);
    editCopyright->clear();
    editTitle->clear();
    for (QPlainTextEdit *memo : {memoComments, memoMetaComments, memoLyrics, memoCompileMsg})
        memo->clear();
    // What still holds of the output is said again above the new song's information.
    for (const QString &line : m_engineNotices ? m_engineNotices->standingNotices() : QStringList())
        memoComments->appendPlainText(line);
}

void TfrmTonelark2Main::setCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void TfrmTonelark2Main::Debug(const QString &Text)
{
    if (m_debugMode)
        setWindowTitle(Text);
}

void TfrmTonelark2Main::setApplicationTitle(const QString &title)
{
    m_applicationTitle = title;
}

void TfrmTonelark2Main::setSaveFileName(const QString &fileName)
{
    m_saveFileName = fileName;
}

void TfrmTonelark2Main::setTabVisible(InfoPage page, bool visible)
{
    pagesInfo->setTabVisible(static_cast<int>(page), visible);
}

void TfrmTonelark2Main::setActivePage(InfoPage page)
{
    pagesInfo->setCurrentIndex(static_cast<int>(page));
}

void TfrmTonelark2Main::showFailure(InfoPage page)
{
    if (!pagesInfo->isVisibleTo(this)) {
        toolButtonOfInfoClick();
        m_infoShownForFailure = true;
    }
    pagesInfo->setCurrentIndex(static_cast<int>(page));
}

void TfrmTonelark2Main::showInfoNotice(const QString &text)
{
    memoComments->appendPlainText(QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")));
    showFailure(InfoPage::Info);
}

ModalLoopState &TfrmTonelark2Main::modalLoop()
{
    return m_modalLoop;
}

void TfrmTonelark2Main::appendCompileMessage(const QString &line)
{
    memoCompileMsg->appendPlainText(line);
}

void TfrmTonelark2Main::setCommentsText(const QStringList &lines)
{
    memoComments->setPlainText(lines.join(QLatin1Char('\n')));
}

void TfrmTonelark2Main::appendComments(const QStringList &lines)
{
    for (const QString &line : lines)
        memoComments->appendPlainText(line);
}

void TfrmTonelark2Main::appendMetaComments(const QStringList &lines)
{
    for (const QString &line : lines)
        memoMetaComments->appendPlainText(line);
}

void TfrmTonelark2Main::setMetaCommentsText(const QStringList &lines)
{
    memoMetaComments->setPlainText(lines.join(QLatin1Char('\n')));
}

void TfrmTonelark2Main::pmiEncodingPopup()
{
    const LoadedSong &current = m_loader->song();
    for (QAction *action : encodingGroup->actions()) {
        action->setEnabled(current.HasSong);
        action->setChecked(current.HasSong && action->data().toInt() == static_cast<int>(current.Encoding));
    }
}

void TfrmTonelark2Main::EncodingSelect(QAction *item)
{
    const auto choice = static_cast<TextEncoding>(item->data().toInt());
    // Playback goes on: only the texts and the rows are read again.
    if (!m_loader->reread(choice))
        return;
    lvLyrics->viewport()->update();
    if (m_mpris)
        m_mpris->refresh();
    if (m_loadedFileName.isEmpty())
        return;
    // A box here would open a modal loop inside the menu's signal; the info area says it.
    if (const std::optional<QString> error = m_encodingChoices->remember(m_loadedFileName, choice))
        showInfoNotice(*error);
}

void TfrmTonelark2Main::setSongTexts(const QString &copyright, const QString &title,
                                     const QString &lyricsText)
{
    editCopyright->setText(copyright);
    editTitle->setText(title);
    // setText leaves the cursor at the end: a long text would show its tail.
    editCopyright->setCursorPosition(0);
    editTitle->setCursorPosition(0);
    memoLyrics->setPlainText(lyricsText);
}

void TfrmTonelark2Main::setLyricCount(int count)
{
    // The tempo map was replaced just before; the monitor must not keep the old one.
    m_monitor->setTempoList(m_loader->song().CurrentTempoList.get());
    m_abRepeat->setTempoList(m_loader->song().CurrentTempoList.get());
    m_lyricsModel->setItemCount(count);
    m_lyricsDelegate->forgetPaintedRows();
}

void TfrmTonelark2Main::invokePlay()
{
    // The new song's melody and channels are set before its first note.
    appendComments({m_mixer->songLoaded(m_loader->song().MemoryStream, m_loadingFileName)});
    toolButtonOfPlayClick(toolButtonOfPlay);
}

void TfrmTonelark2Main::resetLyricsList()
{
    lvLyrics->clearSelection();
    lvLyrics->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    lvLyrics->scrollToTop();
}

void TfrmTonelark2Main::resetCarets()
{
    for (QPlainTextEdit *memo : {memoComments, memoLyrics, memoCompileMsg, memoMetaComments}) {
        QTextCursor cursor = memo->textCursor();
        cursor.movePosition(QTextCursor::Start);
        memo->setTextCursor(cursor);
    }
    if (lvLyrics->isVisible())
        lvLyrics->viewport()->update();
}

void TfrmTonelark2Main::wireLyricsAndInfoBoxes()
{
    TSmfMetaEventString &lyrics = m_loader->song().SmfLyrics;
    m_lyricsModel = new LyricsModel(lyrics, this);
    m_lyricsModel->setSungLines(&m_loader->song().Sung);
    lvLyrics->setModel(m_lyricsModel);
    m_lyricsDelegate = new LyricsDelegate(
        lyrics,
        [this] {
            return LyricsPosition{m_monitor->status().Time, m_monitor->info().LastNoteTime};
        },
        lvLyrics);
    lvLyrics->setItemDelegate(m_lyricsDelegate);
    applyLyricHighlightSettings();
    lvLyrics->setColumnWidth(kLyricsTimeColumn,
                             lvLyrics->fontMetrics().horizontalAdvance(QStringLiteral("000:00")) + 12);
    lvLyrics->setColumnWidth(kLyricsTextColumn, kLyricsTextColumnWidth);
    lvLyrics->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvLyrics, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const QModelIndex at = lvLyrics->indexAt(pos);
        m_menuLyricRow = at.isValid() ? at.row() : lvLyrics->firstSelectedRow();
        m_menuSong = m_modalLoop.songGeneration();
        const ModalLoopGuard modal(m_modalLoop);
        popupMenuLyrics->exec(lvLyrics->viewport()->mapToGlobal(pos));
    });
    connect(lvLyrics, &TListView::playRequested, this, &TfrmTonelark2Main::lvLyricsDblClick);
    connect(m_monitor.get(), &PlaybackMonitor::lyricsStep, this, &TfrmTonelark2Main::lyricsFollowStep);
    connect(popupMenuLyrics, &QMenu::aboutToShow, this, &TfrmTonelark2Main::popupMenuLyricsPopup);
    connect(pmiCopyLyricsToClipboard, &QAction::triggered, this,
            &TfrmTonelark2Main::pmiCopyLyricsToClipboardClick);
    for (QAction *item : {pmiSaveLyricsOnly, pmiSaveLyricsAndDetails})
        connect(item, &QAction::triggered, this, [this, item] { pmiSaveLyricsOnlyClick(item); });
    connect(pmiScrollToCurrentLyric, &QAction::triggered, this,
            &TfrmTonelark2Main::pmiScrollToCurrentLyricClick);

    for (umain::TEdit *box : {editCopyright, editTitle}) {
        box->setTag(box->y());
        box->setModalLoopState(&m_modalLoop);
    }
    for (umain::TMemo *memo : {memoComments, memoMetaComments, memoLyrics, memoCompileMsg})
        memo->setModalLoopState(&m_modalLoop);
    ApplyInfoBoxStyle(m_settings.InfoBoxStyle);
    SetContextMenuMode(!m_settings.UseSystemContextMenu);
    connect(popupMenuMetaText, &QMenu::aboutToShow, this, &TfrmTonelark2Main::popupMenuMetaTextPopup);
    for (QAction *item : {pmiMetaTextCopy, pmiMetaTextSelectAll, pmiMetaTextCopyFormat1,
                          pmiMetaTextCopyFormat2})
        connect(item, &QAction::triggered, this, [this, item] { MetaTextContextMenu(item); });
}

void TfrmTonelark2Main::applyLyricHighlightSettings()
{
    const QPalette palette = lvLyrics->palette();
    LyricHighlightLook look;
    look.bold = m_settings.Lyric.FontBold;
    look.italic = m_settings.Lyric.FontItalic;
    look.back = colorFromTColor(m_settings.Lyric.BackColor, palette);
    look.text = colorFromTColor(m_settings.Lyric.TextColor, palette);
    m_lyricsDelegate->setHighlight(m_settings.Lyric.ApplyColor, look);
    stageColorsChanged();
}

void TfrmTonelark2Main::actionStageExecute()
{
    if (m_stage && m_stage->isVisible()) {
        m_stage->close();
        return;
    }
    if (!m_stage) {
        // A window of its own (no parent), so it is not kept above the player or hidden
        // with it; the player closes it when it closes.
        m_stage = std::make_unique<StageWindow>(m_ini);
        m_stage->setWindowIcon(windowIcon());
        m_stage->addAction(actionStage);
        connect(m_stage.get(), &StageWindow::closed, this, [this] { actionStage->setChecked(false); });
        connect(m_stage->stage, &StageWidget::playRequested, this,
                [this](qint32 tick) { m_transport->playFrom(tick); });
        stageColorsChanged();
        stageSongChanged();
    }
    m_stage->follow(m_monitor->status().Time);
    m_stage->open();
    actionStage->setChecked(true);
}

void TfrmTonelark2Main::stageSongChanged()
{
    if (!m_stage)
        return;
    QString title = editTitle->text().trimmed();
    if (title.isEmpty() && !m_loadedFileName.isEmpty())
        title = QFileInfo(m_loadedFileName).fileName();
    const LoadedSong &song = m_loader->song();
    m_stage->setSong(stageSongFromSungLines(song.Sung, title), song.CurrentTempoList.get());
}

void TfrmTonelark2Main::stageColorsChanged()
{
    if (!m_stage)
        return;
    const QPalette palette = lvLyrics->palette();
    m_stage->setLyricColors(colorFromTColor(m_settings.Lyric.BackColor, palette),
                            colorFromTColor(m_settings.Lyric.TextColor, palette),
                            palette.color(QPalette::Text));
}

int TfrmTonelark2Main::GetCurrentPlayingLyricIndex() const
{
    return tonelark::GetCurrentPlayingLyricIndex(m_loader->song().SmfLyrics, m_monitor->status().Tick);
}

void TfrmTonelark2Main::lyricsFollowStep()
{
    const std::optional<int> row =
        followLyricRow(GetCurrentPlayingLyricIndex(), m_lastLyricIndex,
                       pmiScrollToCurrentLyric->isChecked(), m_lyricsModel->rowCount());
    if (row)
        lvLyrics->scrollRowIntoView(*row);
    // Only rows whose highlight changed since they were painted: a list repainted every tick
    // kept a core busy while nothing moved.
    const int top = lvLyrics->topRow();
    for (int stale : m_lyricsDelegate->rowsWithStaleHighlight(top, top + lvLyrics->wholeVisibleRows()))
        lvLyrics->updateRow(stale);
}

void TfrmTonelark2Main::lvLyricsDblClick()
{
    const int row = lvLyrics->firstSelectedRow();
    const TSmfMetaEventString &lyrics = m_loader->song().SmfLyrics;
    if (row < 0 || row >= lyrics.Count())
        return;
    const TSmfLyricInfo *info = lyrics.Objects(row);
    m_transport->playFrom(info ? info->Tick : 0);
}

void TfrmTonelark2Main::pmiScrollToCurrentLyricClick()
{
    if (pmiScrollToCurrentLyric->isChecked() && m_lyricsModel->rowCount() > 0)
        lvLyrics->scrollRowIntoView(GetCurrentPlayingLyricIndex());
}

void TfrmTonelark2Main::pmiCopyLyricsToClipboardClick()
{
    m_ui->setClipboardText(lyricsCopyText(m_loader->song().SmfLyrics, lvLyrics->selectedRowsAscending()));
}

void TfrmTonelark2Main::pmiSaveLyricsOnlyClick(QObject *sender)
{
    const LyricsSaveFormat format = sender == pmiSaveLyricsAndDetails
                                        ? LyricsSaveFormat::TimesAndLyrics
                                        : LyricsSaveFormat::LyricsOnly;
    const QString proposed =
        m_dialogFolder.isEmpty() ? m_saveFileName : QDir(m_dialogFolder).filePath(m_saveFileName);
    saveLyricsFile(*m_ui, m_modalLoop, proposed, m_settings.UseClassicDialogForFile, [&] {
        LyricsHeading heading;
        heading.include = pmiLyricsIncludeMetaText->isChecked();
        heading.titleFirst = pmiLyricsPreferTitleToCopyright->isChecked();
        heading.copyright = editCopyright->text();
        heading.title = editTitle->text();
        heading.separator = GetSeparatorText(m_settings.SeparatorType);
        return lyricsSaveLines(m_loader->song().SmfLyrics, format, heading);
    });
}

void TfrmTonelark2Main::popupMenuLyricsPopup()
{
    const bool hasRows = !m_loader->song().SmfLyrics.isEmpty();
    pmiRepeatLine->setEnabled(
        lyricLineRange(m_loader->song().SmfLyrics, m_menuLyricRow, m_monitor->info().TotalTick).has_value());
    pmiCopyLyricsToClipboard->setEnabled(hasRows);
    pmiSaveLyrics->menuAction()->setEnabled(hasRows);
    pmiScrollToCurrentLyric->setEnabled(true);
}

void TfrmTonelark2Main::ApplyInfoBoxStyle(qint32 Style)
{
    for (umain::TEdit *box : {editCopyright, editTitle})
        box->applyInfoBoxStyle(Style);
}

void TfrmTonelark2Main::SetContextMenuMode(bool UseCompactMenu)
{
    QMenu *menu = UseCompactMenu ? popupMenuMetaText : nullptr;
    for (umain::TEdit *box : findChildren<umain::TEdit *>())
        box->setContextMenu(menu);
    for (umain::TMemo *memo : findChildren<umain::TMemo *>())
        memo->setContextMenu(menu);
}

void TfrmTonelark2Main::popupMenuMetaTextPopup()
{
    QWidget *active = focusWidget();
    MetaTextBox kind = MetaTextBox::Other;
    bool hasSelection = false;
    if (auto *box = qobject_cast<umain::TEdit *>(active)) {
        kind = box == editCopyright ? MetaTextBox::Copyright
               : box == editTitle   ? MetaTextBox::Title
                                    : MetaTextBox::Memo;
        hasSelection = box->hasSelectedText();
    } else if (auto *memo = qobject_cast<umain::TMemo *>(active)) {
        kind = MetaTextBox::Memo;
        hasSelection = memo->textCursor().hasSelection();
    }
    const MetaTextMenuState state =
        metaTextMenuStateFor(kind, hasSelection, pmiMetaTextCopy->isEnabled());
    pmiMetaTextCopy->setEnabled(state.copyEnabled);
    pmiMetaTextCopyFormat1->setVisible(state.format1Visible);
    pmiMetaTextCopyFormat2->setVisible(state.format2Visible);
    const CopyFormats formats(editCopyright->text(), editTitle->text(),
                              GetSeparatorText(m_settings.SeparatorType));
    pmiMetaTextCopyFormat1->setText(formats.format1Caption());
    pmiMetaTextCopyFormat2->setText(formats.format2Caption());
}

void TfrmTonelark2Main::MetaTextContextMenu(QObject *sender)
{
    QWidget *active = focusWidget();
    auto *box = qobject_cast<umain::TEdit *>(active);
    auto *memo = qobject_cast<umain::TMemo *>(active);
    if (sender == pmiMetaTextCopy) {
        // WM_COPY reaches any edit control; here the window's own boxes are the ones.
        if (box)
            box->copy();
        else if (memo)
            memo->copy();
        else if (auto *line = qobject_cast<QLineEdit *>(active))
            line->copy();
    } else if (sender == pmiMetaTextSelectAll) {
        if (box)
            box->selectAll();
        else if (memo)
            memo->selectAll();
    } else if (sender == pmiMetaTextCopyFormat1 || sender == pmiMetaTextCopyFormat2) {
        const CopyFormats formats(editCopyright->text(), editTitle->text(),
                                  GetSeparatorText(m_settings.SeparatorType));
        m_ui->setClipboardText(sender == pmiMetaTextCopyFormat1 ? formats.format1Text()
                                                                : formats.format2Text());
    }
}

// Window behaviours: tray, hot key, surface drag, wheel, context menu.

bool TfrmTonelark2Main::RegHotKey(quint16 ShortCut)
{
    return m_hotKey->grab(ShortCut, m_settings.CombinationWithWinKey);
}

void TfrmTonelark2Main::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // Queued: hiding the window while the window system is still minimising it would leave
    // the two disagreeing about its state.
    if (isMinimized())
        QMetaObject::invokeMethod(this, &TfrmTonelark2Main::OnMinimize, Qt::QueuedConnection);
}

void TfrmTonelark2Main::OnMinimize()
{
    if (m_taskTrayIcon || !isMinimized())
        return;
    // Without a notification area the window stays minimised the ordinary way, reachable
    // from the taskbar and the hot key.
    m_taskTrayIcon = m_trayIcon->show(m_applicationTitle);
    if (!m_taskTrayIcon)
        return;
    // The client area's place: a window withdrawn from the window manager may come back
    // before its frame is known again, and a frame position would then land the client
    // where the frame was.
    m_trayPosition = geometry().topLeft();
    hide();
}

void TfrmTonelark2Main::OnRestore()
{
    if (!m_taskTrayIcon) {
        bringToFront();
        return;
    }
    m_trayIcon->hide();
    m_taskTrayIcon = false;
    // Before anything maps the window: a window that went to the tray minimised would
    // otherwise be iconified again by the window manager as it appears, and go back to the tray.
    if (testAttribute(Qt::WA_WState_Created))
        clearX11IconicStart(currentNativeWindow(*this));
    setWindowState(windowState() & ~Qt::WindowMinimized);
    setGeometry(QRect(m_trayPosition, size()));
    show();
    // The window manager dropped the window's stay-on-top state when it left the screen.
    if (toolButtonOfPin->isChecked())
        setX11WindowAbove(currentNativeWindow(*this), true);
    bringToFront();
}

void TfrmTonelark2Main::menuItemRestoreClick()
{
    OnRestore();
}

void TfrmTonelark2Main::menuItemExitClick()
{
    // A window hidden in the tray is no longer a visible last window whose closing ends
    // the program, so the end is asked for here.
    const bool hidden = !isVisible();
    if (close() && hidden)
        QCoreApplication::quit();
}

void TfrmTonelark2Main::popupMenuTaskTrayAt(QPoint globalPos)
{
    const ModalLoopGuard modal(m_modalLoop);
    popupMenuTaskTray->exec(globalPos);
}

void TfrmTonelark2Main::hotKeyPressed(int id)
{
    HotKeyContext context;
    context.inModalLoop = m_modalLoop.inModalLoop();
    context.id = id;
    context.taskTrayIcon = m_taskTrayIcon;
    context.hideIfWindowIsActive = m_settings.HideIfWindowIsActive;
    context.windowActive = isActiveWindow();
    context.windowShown = isVisible() && !isMinimized();
    const HotKeyResponse response = hotKeyResponseFor(context);
    if (response == HotKeyResponse::None)
        return;
    if (response == HotKeyResponse::BringModalForward) {
        QWidget *front = QApplication::activeModalWidget();
        if (!front)
            front = QApplication::activePopupWidget();
        if (!front)
            front = QApplication::activeWindow();
        if (front) {
            front->raise();
            front->activateWindow();
            if (m_hotKeyTime != 0 && front->isWindow() && front->testAttribute(Qt::WA_WState_Created))
                activateX11Window(currentNativeWindow(*front), m_hotKeyTime);
        }
        return;
    }
    if (!m_hotKeyClock.isValid())
        m_hotKeyClock.start();
    const auto minimisedByTheWindowManager = [this] {
        return x11WindowIconic(currentNativeWindow(*this)).value_or(isMinimized());
    };
    // At rest: hidden in the tray, iconified, or shown and active (the title bar or the tray
    // icon may have ended a transition the other way).
    const bool hiddenOrMinimised = m_taskTrayIcon ? !isVisible() : minimisedByTheWindowManager();
    const bool settled = hiddenOrMinimised || (context.windowShown && context.windowActive);
    if (!m_hotKeyTransition.pressMayAct(m_hotKeyClock.elapsed(), settled))
        return;
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    switch (response) {
    case HotKeyResponse::RestoreFromTray:
        m_hotKeyTransition.begin(m_hotKeyClock.elapsed());
        OnRestore();
        break;
    case HotKeyResponse::Activate:
        m_hotKeyTransition.begin(m_hotKeyClock.elapsed());
        bringToFront();
        break;
    case HotKeyResponse::Minimise:
        m_hotKeyTransition.begin(m_hotKeyClock.elapsed());
        showMinimized();
        break;
    default:
        break;
    }
}

void TfrmTonelark2Main::contextMenuEvent(QContextMenuEvent *event)
{
    // Only the window's own surface: requests that child controls pass up are dropped.
    if (childAt(event->pos())) {
        event->accept();
        return;
    }
    event->accept();
    const ModalLoopGuard modal(m_modalLoop);
    popupMenuMain->exec(event->globalPos());
}

void TfrmTonelark2Main::mousePressEvent(QMouseEvent *event)
{
    if (childAt(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (QWidget *grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    if (event->button() != Qt::LeftButton)
        return;
    event->accept();
    // The window manager moves the window as by its caption; where it cannot, the window
    // follows the mouse itself until the button is released.
    if (QWindow *native = windowHandle(); native && native->startSystemMove())
        return;
    m_manualMoveOffset = event->globalPosition().toPoint() - pos();
}

void TfrmTonelark2Main::mouseMoveEvent(QMouseEvent *event)
{
    if (m_manualMoveOffset && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *m_manualMoveOffset);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void TfrmTonelark2Main::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_manualMoveOffset && event->button() == Qt::LeftButton) {
        m_manualMoveOffset.reset();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void TfrmTonelark2Main::wheelEvent(QWheelEvent *event)
{
    const QRect bar(gaugePlayback->mapToGlobal(QPoint(0, 0)), gaugePlayback->size());
    if (!wheelSeeksAt(bar, event->globalPosition().toPoint())) {
        QWidget::wheelEvent(event);
        return;
    }
    event->accept();
    if (event->angleDelta().y() > 0)
        actionSeekForward->trigger();
    else
        actionSeekBack->trigger();
}

// The queue: the 曲順 tab, next and previous, recent files.

void TfrmTonelark2Main::buildQueue()
{
    queuePage = new QueuePage(*m_queuePlayer, *m_ui, m_modalLoop, tabQueue);
    queuePage->setObjectName(QStringLiteral("queuePage"));
    queuePage->layout()->setContentsMargins(0, 0, 0, 0);
    tabQueue->layout()->addWidget(queuePage);
    connect(m_queuePlayer.get(), &QueuePlayer::changed, this, &TfrmTonelark2Main::queueChanged);
    connect(queuePage, &QueuePage::settingsEdited, this, [this] { m_queuePlayer->settings().store(m_ini); });

    // Alt with the two keys beside M, which the window's other shortcuts, the tray menu and
    // the default hot key leave free.
    actionNextSong = addAction("actionNextSong", QStringLiteral("次の曲(&G)"), QKeySequence(Qt::ALT | Qt::Key_Period));
    actionPrevSong = addAction("actionPrevSong", QStringLiteral("前の曲(&B)"), QKeySequence(Qt::ALT | Qt::Key_Comma));
    // Queued: a load may show a box, which must not run inside a menu's or a key's signal.
    connect(actionNextSong, &QAction::triggered, this, [this] { m_queuePlayer->next(); }, Qt::QueuedConnection);
    connect(actionPrevSong, &QAction::triggered, this,
            [this] { m_queuePlayer->previous(m_monitor->status().Time); }, Qt::QueuedConnection);

    pmiRecentFiles = new QMenu(QStringLiteral("最近使ったファイル(&J)"), this);
    pmiRecentFiles->setObjectName(QStringLiteral("pmiRecentFiles"));
    connect(pmiRecentFiles, &QMenu::aboutToShow, this, &TfrmTonelark2Main::popupMenuRecentFilesPopup);

    popupMenuMain->insertActions(pmiTransparent->menuAction(),
                                 {actionPrevSong, actionNextSong, pmiRecentFiles->menuAction()});
    popupMenuMain->insertSeparator(pmiTransparent->menuAction());
    QAction *restore = menuItemRestore;
    popupMenuTaskTray->insertActions(restore, {actionPrevSong, actionNextSong, pmiRecentFiles->menuAction()});
    popupMenuTaskTray->insertSeparator(restore);
    queueChanged();
}

void TfrmTonelark2Main::queueChanged()
{
    pagesInfo->setTabVisible(int(InfoPage::Queue), !m_queuePlayer->queue().isEmpty());
    actionNextSong->setEnabled(m_queuePlayer->canGoNext());
    actionPrevSong->setEnabled(m_queuePlayer->canGoPrevious());
    if (m_mpris)
        m_mpris->refresh();
}

void TfrmTonelark2Main::popupMenuRecentFilesPopup()
{
    pmiRecentFiles->clear();
    const QStringList files = m_queuePlayer->recentFiles();
    if (files.isEmpty()) {
        pmiRecentFiles->addAction(QStringLiteral("(なし)"))->setEnabled(false);
        return;
    }
    for (int i = 0; i < files.size(); ++i) {
        QString name = displayFileName(QFileInfo(files[i]).fileName());
        name.replace(u'&', QStringLiteral("&&"));
        QAction *item = pmiRecentFiles->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(name));
        item->setToolTip(displayFileName(files[i]));
        // Queued: the menu's loop ends before the load runs.
        connect(item, &QAction::triggered, this, [this, path = files[i]] { openSongs({path}); },
                Qt::QueuedConnection);
    }
}

void TfrmTonelark2Main::openSongs(const QStringList &paths)
{
    m_queuePlayer->open(paths, QueueJoin::PlayNow);
}

void TfrmTonelark2Main::openHandedOver(const QString &path)
{
    m_queuePlayer->openHandedOver(path);
}

void TfrmTonelark2Main::queueFollowingHandOver(const QString &path)
{
    m_queuePlayer->queueFollowingHandOver(path);
}

LoadOutcome TfrmTonelark2Main::loadSong(const QString &path)
{
    // The queue's songs pass the same gate as every other way in.
    return BRSLoad(path, SongSource::Queue);
}

void TfrmTonelark2Main::restartSong()
{
    menuItemPlayFromBeginningClick();
}

QString TfrmTonelark2Main::loadedSongTitle() const
{
    return editTitle->text();
}

qint32 TfrmTonelark2Main::loadedSongLengthMs() const
{
    return m_loader->song().BrsSmfInfo.TotalTime;
}

void TfrmTonelark2Main::showQueueNote(const QString &text)
{
    memoComments->appendPlainText(text);
}

// MPRIS

bool TfrmTonelark2Main::enableMpris(const QDBusConnection &bus)
{
    if (m_mpris)
        return m_mpris->isRegistered();
    auto *service = new MprisService(static_cast<MprisPlayer &>(*this), this);
    if (!service->registerOn(bus)) {
        delete service;
        return false;
    }
    m_mpris = service;
    return true;
}

MprisSnapshot TfrmTonelark2Main::mprisSnapshot() const
{
    MprisSnapshot snapshot;
    snapshot.hasSong = !m_loadedFileName.isEmpty();
    snapshot.songId = m_modalLoop.songGeneration();
    snapshot.rate = m_keyTempo.tempo() / 100.0;
    snapshot.volume = m_mixer->volume() / 100.0;
    snapshot.canGoNext = m_queuePlayer && m_queuePlayer->canGoNext();
    snapshot.canGoPrevious = m_queuePlayer && m_queuePlayer->canGoPrevious();
    if (!snapshot.hasSong)
        return snapshot;
    // The engine's own state and position, not the last tick's: a jump is seen at once, and
    // a wrap at the loop point is never confused with a seek the monitor has not polled yet.
    const TBrs4PlayerStatus live = m_engine.status();
    switch (live.State) {
    case BRSSTATE_PLAY:
        snapshot.status = MprisSnapshot::Status::Playing;
        break;
    case BRSSTATE_PAUSE:
        snapshot.status = MprisSnapshot::Status::Paused;
        break;
    default:
        break;
    }
    snapshot.positionUs = qint64(std::max(live.Time, 0)) * 1000;
    snapshot.lengthUs = qint64(std::max(m_monitor->info().TotalTime, 0)) * 1000;
    snapshot.title = editTitle->text();
    snapshot.artist = editCopyright->text();
    snapshot.url = m_loadedUrl;
    const TSmfMetaEventString &lyrics = m_loader->song().SmfLyrics;
    const int row = GetCurrentPlayingLyricIndex();
    if (row >= 0 && row < lyrics.Count())
        snapshot.lyricLine = lyrics.Strings(row);
    return snapshot;
}

qint64 TfrmTonelark2Main::mprisPositionUs() const
{
    return qint64(std::max(m_engine.status().Time, 0)) * 1000;
}

void TfrmTonelark2Main::mprisPlay()
{
    actionListItemExecute(actionPlay);
}

void TfrmTonelark2Main::mprisPause()
{
    actionListItemExecute(actionPause);
}

void TfrmTonelark2Main::mprisStop()
{
    actionListItemExecute(actionStop);
}

void TfrmTonelark2Main::mprisSetPosition(qint64 positionUs)
{
    // The seek button's gate, and the seek dialog's way from a time to a tick.
    const TSmfEventTempoList *tempoList = m_loader->song().CurrentTempoList.get();
    if (!toolButtonOfSeek->isEnabled() || !tempoList)
        return;
    const qint32 tick = tempoList->TimeToTick(positionUs / 1000, tuMilliseconds);
    // A panel seeking out of the range means to leave it: the engine would take it back to A.
    if (m_abRepeat->seekedTo(tick))
        showTimePanel();
    m_transport->playFrom(tick);
}

void TfrmTonelark2Main::mprisSetVolume(double volume)
{
    m_mixer->setVolume(int(std::lround(volume * 100)));
}

void TfrmTonelark2Main::mprisSetRate(double rate)
{
    KeyTempo next = m_keyTempo;
    next.setTempo(qRound(rate * 100));
    setKeyTempo(next);
}

void TfrmTonelark2Main::mprisOpen(const QString &path)
{
    openSongs({path});
    if (m_taskTrayIcon)
        m_trayIcon->show(m_applicationTitle);
}

void TfrmTonelark2Main::mprisNext()
{
    actionNextSong->trigger();
}

void TfrmTonelark2Main::mprisPrevious()
{
    actionPrevSong->trigger();
}

void TfrmTonelark2Main::mprisRaise()
{
    OnRestore();
}

void TfrmTonelark2Main::mprisQuit()
{
    menuItemExitClick();
}

} // namespace tonelark
