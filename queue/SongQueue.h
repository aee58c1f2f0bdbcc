#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The song queue: the songs the user gathered, the one playing, and where the player goes
// next. A plain value with no screen and no disk: the window shows it, the queue player
// drives it, and its tests run on it alone.
namespace tonelark {

struct QueueEntry {
    QString path;          // absolute, as the file system names it (FileNames.h escapes)
    QString title;         // the song's title text once it was loaded; empty before
    qint32 lengthMs = -1;  // the song's length once known
    bool missing = false;  // the file was not there when last looked for
    quint64 id = 0;        // the queue's own name for the entry, for the shuffle order
    bool operator==(const QueueEntry &other) const
    {
        return path == other.path && title == other.title && lengthMs == other.lengthMs &&
               missing == other.missing;
    }
};

// なし / 1曲 / すべて: what follows the last song (All: the first), or the song itself (One).
enum class RepeatMode { None = 0, One = 1, All = 2 };

class SongQueue {
public:
    const QList<QueueEntry> &entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    // The playing (or last played) row, -1 when none.
    int current() const { return m_current; }
    void setCurrent(int row);

    // Inserts `paths` at `row` (clamped; -1 appends) and returns the row of the first.
    int insert(int row, const QStringList &paths);
    int append(const QStringList &paths) { return insert(-1, paths); }
    // After the current row (at the end when there is none).
    int insertAfterCurrent(const QStringList &paths);
    // Replaces everything; no row is current afterwards.
    void assign(const QList<QueueEntry> &entries, int current = -1);
    void remove(int row);
    // Rows `rows` removed at once (any order, duplicates ignored).
    void removeRows(QList<int> rows);
    void clear();
    // Moves one row to `to`, the row it has afterwards; the current song stays current.
    void move(int from, int to);

    void setTitle(int row, const QString &title);
    void setLength(int row, qint32 lengthMs);
    void setMissing(int row, bool missing);

    RepeatMode repeatMode() const { return m_repeat; }
    void setRepeatMode(RepeatMode mode) { m_repeat = mode; }
    bool shuffle() const { return m_shuffle; }
    // Shuffle on draws a new order that starts with the current song; `seed` makes it
    // repeatable (tests), 0 draws one. Songs added later are drawn into the rest of it.
    void setShuffle(bool on, quint32 seed = 0);
    // The order the rows are played in: the rows themselves without shuffle.
    const QList<int> &playOrder() const { return m_order; }

    // Where a step leads and which rows it passed because their file was gone (those are
    // marked missing on the way).
    struct Step {
        std::optional<int> row;
        QList<int> skipped;
    };
    using Exists = std::function<bool(const QString &path)>;
    // The next song. At a song's end (`userAsked` false) 1曲 repeats the song itself; asked
    // for by the user it moves on as すべて would not past the end: only すべて wraps round.
    Step next(bool userAsked, const Exists &exists);
    Step previous(bool userAsked, const Exists &exists);
    // Whether next/previous would lead anywhere, looking at the rows' last known state.
    bool canGoNext() const;
    bool canGoPrevious() const;

private:
    Step find(int direction, bool userAsked, const Exists &exists) const;
    Step step(int direction, bool userAsked, const Exists &exists);
    bool knownPlayable(int direction) const;
    std::optional<int> orderPosition(int row) const;
    void rebuildOrder();

    QList<QueueEntry> m_entries;
    QList<int> m_order;
    QList<quint64> m_orderIds;
    quint64 m_lastId = 0;
    int m_current = -1;
    RepeatMode m_repeat = RepeatMode::None;
    bool m_shuffle = false;
    quint32 m_seed = 0;
};

// Previous within this many milliseconds of a song's start goes to the song before; later
// it starts the song again, as players do.
inline constexpr qint32 kPreviousRestartsAfterMs = 3000;

// 連続再生 as stored: -1 not chosen (on while the queue has more than one song or a repeat
// mode is set), 0 off, 1 on.
bool continuousPlayOn(int setting, int queueCount, RepeatMode repeat);

// Whether the song playing has come to its end for the queue: the engine stopped at the
// song's end after playing, or it went back to the loop point `loopCountSetting` times
// (ループ回数; 0 never). A song without a loop point counts its first return to the start.
struct SongEndInputs {
    bool wasPlaying = false;     // the previous poll saw the song playing
    int state = 0;               // the engine state of this poll (0 stop, 1 play, 2 pause)
    qint32 tick = 0;
    qint32 totalTick = 0;
    qint32 loopCount = 0;        // times the engine went back since the last play command
    bool hasLoopPoint = false;
    int loopCountSetting = 2;
};
bool songReachedEnd(const SongEndInputs &in);

// The songs of a folder as a file manager lists them: by name with numbers in numeric order
// (2 before 10), case ignored; with `recursive` the subfolders' songs follow, folder by folder
// in the same order. Only song files (.mid .midi .kar .mml, any case).
QStringList songsInFolder(const QString &folder, bool recursive);
// True for the extensions the player opens as songs.
bool isSongFileName(const QString &path);
// Orders names as a file manager does.
void sortNamesNaturally(QStringList &names);

} // namespace tonelark
