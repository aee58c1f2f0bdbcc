#pragma once

#include "Brisola.h"
#include "QueueState.h"
#include "RecentFiles.h"
#include "SongLoader.h"
#include "SongQueue.h"

#include <QObject>
#include <QStringList>

// The queue at work: songs from every way in become queue entries, and every song the
// queue plays is loaded through the window's one loader. It decides what plays next (the
// user's next and previous, the end of a song), keeps the queue and the recent files in the
// state folder, and says in the info area what it skipped. No widgets: the 曲順 tab shows it.
namespace tonelark {

class Convex;

// The [Queue] keys of the settings file.
struct QueueSettings {
    qint32 ContinuousPlay = -1;    // 連続再生: -1 not chosen (continuousPlayOn), 0 off, 1 on
    qint32 LoopCount = 2;          // ループ回数: loop passes before moving on, 0 forever
    RepeatMode Repeat = RepeatMode::None;
    bool Shuffle = false;
    qint32 HandOverMode = 0;       // a second start's song: 0 今すぐ再生, 1 曲順に追加
    bool FolderRecursive = false;  // a dropped folder's subfolders join too

    static QueueSettings load(const Convex &ini);
    // Writes the keys whose values differ from what `ini` holds (or that are missing there
    // while differing from the default).
    void store(Convex &ini) const;
    bool operator==(const QueueSettings &) const = default;
};

inline constexpr QStringView kSectionQueue = u"Queue";

// The window as the queue player drives it.
class QueuePlayerHost {
public:
    virtual ~QueuePlayerHost() = default;
    // The one loader (BRSLoad): stops, empties, loads and plays `path`.
    virtual LoadOutcome loadSong(const QString &path) = 0;
    // The song loaded now from its start.
    virtual void restartSong() = 0;
    // The loaded song's title text (empty without one) and length.
    virtual QString loadedSongTitle() const = 0;
    virtual qint32 loadedSongLengthMs() const = 0;
    // A line in the info area.
    virtual void showQueueNote(const QString &text) = 0;
};

// How songs from a way in join: played now after the current song, or appended (played at
// once only while nothing is loaded).
enum class QueueJoin { PlayNow, Append };

class QueuePlayer : public QObject {
    Q_OBJECT
public:
    // `stateFolder` holds queue.m3u8 and recent.m3u8; without one nothing is kept.
    QueuePlayer(QueuePlayerHost &host, const QString &stateFolder, QObject *parent = nullptr);

    const SongQueue &queue() const { return m_queue; }
    const QueueSettings &settings() const { return m_settings; }
    void setSettings(const QueueSettings &settings);
    // The queue and the recent files as the last run left them; what could not be used is
    // said in the info area.
    void restore();

    // Songs from a way in: files, folders (their songs in name order) and playlists (their
    // songs). One missing file is handed to the loader, which says so as it always did;
    // among several, a missing one joins greyed and is skipped with a note.
    void open(const QStringList &paths, QueueJoin join);
    // A second start's song, by the HandOverMode setting.
    void openHandedOver(const QString &path);
    // A later file of the same second start: joins behind the one handed over before it.
    void queueFollowingHandOver(const QString &path);
    // Replaces the queue by a playlist's songs and plays the first.
    void openPlaylist(const QString &path);
    std::optional<QString> savePlaylist(const QString &path) const;

    // Plays a row of the queue (double-click, Enter, 再生).
    void playRow(int row);
    void removeRows(const QList<int> &rows);
    void moveRow(int from, int to);
    void insertAt(int row, const QStringList &paths);
    void clear();

    // The user's next and previous; previous within the first 3 s of the song goes back a
    // song, later it starts this one again. False when there was nowhere to go.
    bool next();
    bool previous(qint32 positionMs);
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool hasLoadedSong() const { return !m_loadedPath.isEmpty(); }

    // One poll of the engine; at a song's end the next song is started (queued, outside the
    // poll) when 連続再生 is on.
    void polled(const TBrs4PlayerStatus &status, const TBrs4SmfInformation &info);
    // Whether the engine should go round at the end of the song now starting, which has a
    // loop point or not: not when the queue moves on at its first end anyway (a wrap would
    // sound the song's start again for a moment before the next song is loaded).
    bool engineShouldLoop(bool songHasLoopPoint) const;
    // A transport command ran: what the next poll sees is the user's doing, not an end.
    void userCommand() { m_userCommand = true; }

    // 最近使ったファイル with the files that are gone dropped.
    QStringList recentFiles();
    // The path of a queue row's folder (フォルダーを開く).
    QString folderOf(int row) const;

signals:
    // Rows, the current row, a title or a length changed.
    void changed();

private:
    // Loads a row through the host; true when it plays.
    bool loadRow(int row);
    void advanceAtEnd();
    void noteSkipped(const QList<int> &rows);
    void flushNotes();
    QStringList expand(const QStringList &paths);
    void saveState();
    void songBecameLoaded(const QString &path);

    QueuePlayerHost &m_host;
    SongQueue m_queue;
    QueueSettings m_settings;
    RecentFiles m_recent;
    bool m_persistent;
    StateFile m_queueFile;
    StateFile m_recentFile;
    QStringList m_notes;
    QString m_loadedPath;     // the file of the song loaded now
    bool m_loading = false;
    bool m_endHandled = false;      // this play of the song has had its end
    bool m_saveFailureNoted = false;
    bool m_userCommand = false;
    bool m_advancePending = false;
    int m_lastState = BRSSTATE_STOP;
    // The last song a second start handed over.
    QString m_lastHandedOver;
};

} // namespace tonelark
