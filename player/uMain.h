#pragma once

#include "ABRepeat.h"
#include "Convex.h"
#include "EncodingChoices.h"
#include "InfoBox.h"
#include "KeyTempo.h"
#include "LyricsView.h"
#include "ModalLoop.h"
#include "Mpris.h"
#include "PlaybackMonitor.h"
#include "QueuePlayer.h"
#include "Settings.h"
#include "SongGate.h"
#include "SongLoader.h"
#include "Transport.h"
#include "Ui.h"
#include "WindowBehaviour.h"

#include <QElapsedTimer>

#include <QIcon>
#include <QLabel>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QAction;
class QActionGroup;
class QDBusConnection;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QShortcut;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeView;

namespace tonelark {

class AudioExport;
class Engine;
class EngineNotices;
class DesktopHotKey;
class TGauge;
class TrayIcon;
class LyricsModel;
class MixerControls;
class QueuePage;
class StageWindow;

// The time display: a label that reports every left-button press as a click, so two quick
// clicks toggle the display twice instead of becoming one double click.
class TimePanel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // Shows `text` whole: when it is wider than the panel (a key and tempo mark before a long
    // tick count), in a face small enough to fit, otherwise in the window's own.
    void setFittedText(const QString &text);
signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

// The main window. It builds its widgets, wires them and shows what SongLoader, Transport
// and PlaybackMonitor work out; it holds no song logic of its own. Components carry their
// fixed names as members and as objectName.
class TfrmTonelark2Main : public QWidget, private SongLoaderView, private MprisPlayer, private QueuePlayerHost {
    Q_OBJECT

public:
    // Client size with the info pages shown, and the pages' height.
    static constexpr int kClientWidth = 352;
    static constexpr int kClientHeight = 251;
    static constexpr int kPagesInfoHeight = 147;

    // FormCreate: reads the settings from `ini`, builds fonts and colours, opens the
    // device through `engine` and loads arguments.first() when there is one. `ui` answers
    // message boxes and file dialogs (the real dialogs when null). `engine` and `ini`
    // outlive the window. The queue and the recent files are kept in `stateFolder`; without
    // one they live for the run only (and the desktop's recent list is left alone).
    TfrmTonelark2Main(Engine &engine, Convex &ini, const QStringList &arguments,
                      Ui *ui = nullptr, QWidget *parent = nullptr, const QString &stateFolder = {});
    // FormDestroy: stops the engine and closes the device.
    ~TfrmTonelark2Main() override;

    // Loads a song (open button, dropped file, command line, hand-over, MPRIS) through the
    // one gate: while another load or its box runs the request waits (Deferred) or, for a
    // missing file, is added to the box on screen.
    LoadOutcome BRSLoad(const QString &fileName, SongSource source = SongSource::OpenDialog);
    SongGate &songGate() { return *m_gate; }
    // A notice about the program itself, added to the info memo; the info area opens for it
    // as it does for a failed load.
    void showInfoNotice(const QString &text);
    // Songs from a way in (dialog, drop, command line, MPRIS): they join the queue after the
    // current song and the first plays now.
    void openSongs(const QStringList &paths);
    // A second start's song, joined as the HandOverMode setting says.
    void openHandedOver(const QString &path);
    // A later file of the same second start: queued behind the one handed over before it.
    void queueFollowingHandOver(const QString &path);
    QueuePlayer &queuePlayer() { return *m_queuePlayer; }
    // A second start: back from minimised, raised and activated (through the window
    // manager's activation request, which focus-stealing prevention honours).
    void bringToFront();
    // Tracing hook: in debug mode the caption becomes `Text`, otherwise nothing happens. The
    // program's own code does not call it.
    void Debug(const QString &Text);
    // DebugMode, fixed once by the program entry from the Keyword setting.
    void setDebugMode(bool debugMode) { m_debugMode = debugMode; }
    bool debugMode() const { return m_debugMode; }

    const Settings &settings() const { return m_settings; }
    int infoFontPitch() const { return m_infoFontPitch; }
    // The row at the playing position of the last poll.
    int GetCurrentPlayingLyricIndex() const;
    // LastLyricIndex: the row the following step last handled (-1 before the first).
    int lastLyricIndex() const { return m_lastLyricIndex; }
    LyricsModel &lyricsModel() { return *m_lyricsModel; }
    bool muteMode() const { return m_muteMode; }
    bool inModalLoop() const { return m_modalLoop.inModalLoop(); }
    ModalLoopState &modalLoopState() { return m_modalLoop; }
    bool displayTicks() const { return m_transport->displayTicks(); }
    QString appTitle() const { return m_appTitle; }
    // The title the taskbar and the notification area show: the caption after a load.
    QString applicationTitle() const { return m_applicationTitle; }
    QString saveFileName() const { return m_saveFileName; }
    QString dialogFolder() const { return m_dialogFolder; }
    const LoadedSong &song() const { return m_loader->song(); }
    const Transport &transport() const { return *m_transport; }
    PlaybackMonitor &monitor() { return *m_monitor; }
    // The nine tool bar images by index: 0 play, 1 pause, 2 stop, 3 play from the loop
    // point, 4 settings, 5 info, 6 pin, 7 open, 8 seek.
    const QList<QIcon> &imageListOfToolbar() const { return m_imageListOfToolbar; }

    // (Re)grabs the global hot key of a 16-bit shortcut value, with Super when
    // CombinationWithWinKey is on. False when the key is refused (another program holds it)
    // or the session has no X11; the previous key is released either way.
    bool RegHotKey(quint16 ShortCut);
    // TaskTrayIcon: the window is hidden in the notification area.
    bool taskTrayIcon() const { return m_taskTrayIcon; }
    TrayIcon &trayIcon() { return *m_trayIcon; }
    // Publishes the MPRIS2 service on `bus`; false (and nothing said) when it cannot.
    bool enableMpris(const QDBusConnection &bus);
    MprisService *mpris() const { return m_mpris; }

    MixerControls &mixer() { return *m_mixer; }
    // 「音声ファイルに保存…」 and the save running in the background.
    AudioExport &audioExport() { return *m_audioExport; }
    // The singer's key and tempo, kept for the run and stored at close.
    const KeyTempo &keyTempo() const { return m_keyTempo; }
    // Takes new values: the engine gets what changed, the time panel, the menu items and
    // MPRIS follow.
    void setKeyTempo(const KeyTempo &keyTempo);
    // Another output device was opened: it gets the key and tempo as well.
    void outputDeviceChanged();

    // Visible components.
    QLabel *labelCopyright = nullptr;
    umain::TEdit *editCopyright = nullptr;
    QLabel *labelTitle = nullptr;
    umain::TEdit *editTitle = nullptr;
    TGauge *gaugePlayback = nullptr;
    QWidget *toolbarLeft = nullptr;
    QToolButton *toolButtonOfSettings = nullptr;
    QToolButton *toolButtonOfPin = nullptr;
    QToolButton *toolButtonOfInfo = nullptr;
    QWidget *toolbarCenter = nullptr;
    QToolButton *toolButtonOfOpen = nullptr;
    QWidget *toolbarRight = nullptr;
    QToolButton *toolButtonOfPlay = nullptr;
    QToolButton *toolButtonOfPause = nullptr;
    QToolButton *toolButtonOfStop = nullptr;
    QToolButton *toolButtonOfSeek = nullptr;
    TimePanel *panelTimeElapsed = nullptr;
    QTabWidget *pagesInfo = nullptr;
    QWidget *tabInfo = nullptr;
    QWidget *tabComments = nullptr;
    QWidget *tabLyrics = nullptr;
    QWidget *tabCompileMsg = nullptr;
    QWidget *tabAbout = nullptr;
    umain::TMemo *memoComments = nullptr;
    umain::TMemo *memoMetaComments = nullptr;
    umain::TMemo *memoLyrics = nullptr;
    umain::TMemo *memoCompileMsg = nullptr;
    TListView *lvLyrics = nullptr;
    QLabel *textAbout = nullptr;
    QWidget *tabQueue = nullptr;
    QueuePage *queuePage = nullptr;   // the 曲順 page's list and menu

    // Non-visual components.
    QTimer *timerUpdating = nullptr;
    QMenu *popupMenuTaskTray = nullptr;
    QAction *menuItemRestore = nullptr;
    QAction *menuItemExit = nullptr;
    QMenu *popupMenuPlayback = nullptr;
    QAction *menuItemPlayFromBeginning = nullptr;
    QAction *menuItemPlayFromCC111 = nullptr;
    QAction *menuItemSeek = nullptr;
    // The A–B repeat at the point the seek bar's menu was opened at, and its clearing.
    QAction *pmiRepeatStart = nullptr;
    QAction *pmiRepeatEnd = nullptr;
    QAction *pmiRepeatClear = nullptr;
    QMenu *popupMenuLyrics = nullptr;
    QAction *pmiCopyLyricsToClipboard = nullptr;
    QMenu *pmiSaveLyrics = nullptr;
    QAction *pmiSaveLyricsOnly = nullptr;
    QAction *pmiSaveLyricsAndDetails = nullptr;
    QAction *pmiLyricsIncludeMetaText = nullptr;
    QAction *pmiLyricsPreferTitleToCopyright = nullptr;
    QAction *pmiScrollToCurrentLyric = nullptr;
    QAction *pmiRepeatLine = nullptr; // the A–B repeat over the line the menu was opened on
    QMenu *popupMenuMetaText = nullptr;
    QAction *pmiMetaTextCopy = nullptr;
    QAction *pmiMetaTextSelectAll = nullptr;
    QAction *pmiMetaTextCopyFormat1 = nullptr;
    QAction *pmiMetaTextCopyFormat2 = nullptr;
    QMenu *popupMenuMain = nullptr;
    QMenu *pmiTransparent = nullptr;
    QActionGroup *transparentGroup = nullptr;
    QAction *pmiTransparentQuarter = nullptr;
    QAction *pmiTransparentHalf = nullptr;
    QAction *pmiTransparentNone = nullptr;
    // 最近使ったファイル, in popupMenuMain and popupMenuTaskTray.
    QMenu *pmiRecentFiles = nullptr;
    QMenu *pmiEncoding = nullptr;          // 文字コード, in popupMenuMain and popupMenuMetaText
    QActionGroup *encodingGroup = nullptr; // each action's data is its TextEncoding

    // Keyboard actions (actionList).
    QAction *actionPlay = nullptr;
    QAction *actionPause = nullptr;
    QAction *actionStop = nullptr;
    QAction *actionTimeOrTick = nullptr;
    QAction *actionPin = nullptr;
    QAction *actionSeek = nullptr;
    QAction *actionInfo = nullptr;
    QAction *actionOpen = nullptr;
    QAction *actionHelp = nullptr;
    QAction *actionSettings = nullptr;
    QAction *actionNextTab = nullptr;
    QAction *actionPrevTab = nullptr;
    QAction *actionAbout = nullptr;
    QAction *actionSearchStr = nullptr;
    QAction *actionSeekBack = nullptr;
    QAction *actionSeekForward = nullptr;
    QAction *actionRewind = nullptr;
    QAction *actionMainContextMenu = nullptr;
    // Key and tempo: items of popupMenuMain and popupMenuPlayback, with window shortcuts.
    QAction *actionKeyUp = nullptr;
    QAction *actionKeyDown = nullptr;
    QAction *actionKeyOriginal = nullptr;
    QAction *actionTempoUp = nullptr;
    QAction *actionTempoDown = nullptr;
    QAction *actionTempoOriginal = nullptr;
    // The queue's next and previous song: items of popupMenuMain and popupMenuTaskTray.
    QAction *actionNextSong = nullptr;
    QAction *actionPrevSong = nullptr;
    // 歌詞ウィンドウ (Alt+L): an item of popupMenuMain and popupMenuTaskTray.
    QAction *actionStage = nullptr;
    // A and B of the A–B repeat at the playing position (Alt+[ and Alt+]).
    QAction *actionRepeatStart = nullptr;
    QAction *actionRepeatEnd = nullptr;
    const ABRepeat &abRepeat() const { return *m_abRepeat; }

public slots:
    // Minimising sends the window to the notification area where there is one; restoring
    // brings it back at its place.
    void OnMinimize();
    void OnRestore();
    void menuItemRestoreClick();
    void menuItemExitClick();
    // A press of the global hot key registered under `id`.
    void hotKeyPressed(int id);
    void toolButtonOfOpenClick();
    // The settings dialog: opened modally, filled from the settings, applied on OK.
    void toolButtonOfSettingsClick();
    void toolButtonOfPlayClick(QObject *sender);
    void toolButtonOfPinClick();
    void toolButtonOfInfoClick();
    void panelTimeElapsedClick();
    void timerUpdatingTimer();
    void actionListItemExecute(QAction *action);
    // Fills textAbout the first time the About page is shown in a run.
    void tabAboutShow();
    // The settings dialog's version page text, built anew each time it is asked for.
    QString settingsVersionText();
    void actionNextTabExecute(QAction *action);
    void actionMainContextMenuExecute();
    void TransparentSelect(QAction *item);
    // Re-reads the playing song's texts in the chosen encoding and remembers the choice.
    void EncodingSelect(QAction *item);
    void pmiEncodingPopup();
    void menuItemPlayFromBeginningClick();
    void menuItemPlayFromCC111Click();
    void popupMenuPlaybackPopup();
    // Drag seek on gaugePlayback, skips and rewind (the transport decides).
    void gaugePlaybackMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    void gaugePlaybackMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPoint position);
    void gaugePlaybackMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint position);
    void actionSeekBackExecute();
    void actionSeekForwardExecute();
    void actionRewindExecute();
    // The lyric list (lvLyrics and popupMenuLyrics).
    void lyricsFollowStep();
    void lvLyricsDblClick();
    void pmiScrollToCurrentLyricClick();
    void pmiCopyLyricsToClipboardClick();
    void pmiSaveLyricsOnlyClick(QObject *sender);
    void popupMenuLyricsPopup();
    // Every A–B repeat item and key; a refusal is said in the info area.
    void repeatActionExecute(QAction *action);
    // The text boxes' frame style (InfoBoxStyle) and menu (popupMenuMetaText or Qt's).
    void ApplyInfoBoxStyle(qint32 Style);
    void SetContextMenuMode(bool UseCompactMenu);
    void popupMenuMetaTextPopup();
    void MetaTextContextMenu(QObject *sender);
    // Opens the karaoke window, or closes it when it is open.
    void actionStageExecute();
    // The karaoke window once it was first opened, otherwise null.
    StageWindow *stageWindow() const { return m_stage.get(); }

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // One load, run by the gate.
    LoadOutcome loadNow(const QString &fileName);
    void buildComponents();
    void buildMenus();
    void buildActions();
    QToolButton *addToolButton(QWidget *bar, const char *name, const QString &hint, int image,
                               bool checkable);
    QAction *addAction(const char *name, const QString &caption, const QKeySequence &shortcut);
    void applyColors();
    void applyMonitorDisplay(const MonitorDisplay &display);
    // The time text with the key and tempo mark before it.
    void showTimePanel();
    // The mark, the time panel's tool tip and the items' enabled states.
    void showKeyTempo();
    void buildKeyTempoActions();
    void buildAudioExport();
    void keyTempoActionExecute(QAction *action);
    // The monitor timer's interval: 16 ms while something moves, slower while all stands.
    void setMonitorPace(int intervalMs);
    PlayContext playContext() const;
    // The seek dialog command, with InModalLoop set around the dialog.
    void runSeekDialog();
    void wireLyricsAndInfoBoxes();
    void applyLyricHighlightSettings();
    void popupMenuTaskTrayAt(QPoint globalPos);
    // The loaded song, the tempo map and the lyric colours for the karaoke window.
    void stageSongChanged();
    void stageColorsChanged();

    // MprisPlayer
    MprisSnapshot mprisSnapshot() const override;
    qint64 mprisPositionUs() const;
    void mprisPlay() override;
    void mprisPause() override;
    void mprisStop() override;
    void mprisSetPosition(qint64 positionUs) override;
    void mprisSetRate(double rate) override;
    void mprisSetVolume(double volume) override;
    void mprisOpen(const QString &path) override;
    void mprisNext() override;
    void mprisPrevious() override;
    void mprisRaise() override;
    void mprisQuit() override;

    // QueuePlayerHost
    LoadOutcome loadSong(const QString &path) override;
    void restartSong() override;
    QString loadedSongTitle() const override;
    qint32 loadedSongLengthMs() const override;
    void showQueueNote(const QString &text) override;
    void buildQueue();
    void queueChanged();
    void popupMenuRecentFilesPopup();

    // SongLoaderView
    void setMonitorEnabled(bool enabled) override;
    void runMonitorStep() override;
    void clearSongDisplay() override;
    void setCaption(const QString &caption) override;
    void setApplicationTitle(const QString &title) override;
    void setSaveFileName(const QString &fileName) override;
    void setTabVisible(InfoPage page, bool visible) override;
    void setActivePage(InfoPage page) override;
    void showFailure(InfoPage page) override;
    ModalLoopState &modalLoop() override;
    void appendCompileMessage(const QString &line) override;
    void setCommentsText(const QStringList &lines) override;
    void appendComments(const QStringList &lines) override;
    void appendMetaComments(const QStringList &lines) override;
    void setMetaCommentsText(const QStringList &lines) override;
    void setSongTexts(const QString &copyright, const QString &title,
                      const QString &lyricsText) override;
    void setLyricCount(int count) override;
    void invokePlay() override;
    void resetLyricsList() override;
    void resetCarets() override;

    Engine &m_engine;
    Convex &m_ini;
    std::unique_ptr<WidgetUi> m_ownUi;
    Ui *m_ui = nullptr;
    QString m_appTitle;
    QString m_applicationTitle;
    Settings m_settings;
    bool m_muteMode = false;
    bool m_debugMode = false;
    WindowSnapshot m_atStart;
    int m_infoFontPitch = 0;
    ModalLoopState m_modalLoop;
    bool m_taskTrayIcon = false;
    TrayIcon *m_trayIcon = nullptr;
    QPoint m_trayPosition;
    DesktopHotKey *m_hotKey = nullptr;
    // X server time of the hot key press being handled (0 outside one).
    quint32 m_hotKeyTime = 0;
    HotKeyTransition m_hotKeyTransition;
    QElapsedTimer m_hotKeyClock;
    MprisService *m_mpris = nullptr;
    // The file of the song loaded now (empty when there is none).
    QString m_loadedFileName;
    QString m_loadedUrl;
    // Where a press on the window's surface grabbed it, while it is moved by hand (where the
    // window manager does not move it).
    std::optional<QPoint> m_manualMoveOffset;
    // Esc while dragging on the seek bar; enabled only during a drag.
    QShortcut *m_cancelDragShortcut = nullptr;
    bool m_positionRestored = false;
    bool m_firstShowDone = false;
    int m_lastLyricIndex = -1;
    QString m_saveFileName;
    // Where the open and save dialogs start: the folder of the song last loaded or chosen.
    QString m_dialogFolder;
    // The info area is open only because a failed load opened it.
    bool m_infoShownForFailure = false;
    QList<QIcon> m_imageListOfToolbar;
    KeyTempo m_keyTempo;
    // The output's notices (sound server, SoundFont) for the info area.
    EngineNotices *m_engineNotices = nullptr;
    // The monitor's last time text, shown after the key and tempo mark.
    QString m_timeText;
    LyricsModel *m_lyricsModel = nullptr;
    // The guide melody, the master volume and the window 「チャンネル」.
    MixerControls *m_mixer = nullptr;
    AudioExport *m_audioExport = nullptr;
    // The file BRSLoad is loading (the per-song mixer memory is kept by it).
    QString m_loadingFileName;
    LyricsDelegate *m_lyricsDelegate = nullptr;
    std::unique_ptr<Transport> m_transport;
    std::unique_ptr<ABRepeat> m_abRepeat;
    // Where the seek bar's menu and the lyric list's menu were last opened, and on which song.
    std::optional<qint32> m_menuTick;
    int m_menuLyricRow = -1;
    quint64 m_menuSong = 0;
    std::unique_ptr<PlaybackMonitor> m_monitor;
    std::unique_ptr<SongGate> m_gate;
    std::unique_ptr<SongLoader> m_loader;
    std::unique_ptr<QueuePlayer> m_queuePlayer;
    std::unique_ptr<StageWindow> m_stage;
    std::unique_ptr<EncodingChoices> m_encodingChoices;
};

} // namespace tonelark
