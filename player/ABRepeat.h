#pragma once

#include "Brisola.h"

#include <QString>
#include <QtGlobal>

#include <optional>
#include <utility>

namespace tonelark {

class Engine;
class TSmfEventTempoList;
class TSmfMetaEventString;

// The A–B repeat of the loaded song as the user sets it. A alone waits for B; A and B make the
// range, which the engine holds and wraps at (with its loop's chase, so nothing hangs). This
// class keeps the points the seek bar marks, refuses a B not after A, and clears the range
// where the rules say: a new song, a seek from outside the window that leaves it.
class ABRepeat {
public:
    explicit ABRepeat(Engine &engine) : m_engine(engine) {}

    // The loaded song's tempo map (not owned; may be absent): refusals name the times.
    void setTempoList(const TSmfEventTempoList *tempoList) { m_tempoList = tempoList; }

    // Each returns empty when done, else the refusal for the info area (nothing changed).
    // A at `tick`; with B set, A must lie before it.
    QString setStart(qint32 tick);
    // B at `tick`; without A, the range begins at the song's start.
    QString setEnd(qint32 tick);
    // Both at once.
    QString setRange(qint32 startTick, qint32 endTick);
    void clear();
    // A new song: the engine dropped the range with the old one.
    void forget() { m_start.reset(), m_end.reset(); }
    // A seek from outside the window to `tick`: leaving the range clears it. True when cleared.
    bool seekedTo(qint32 tick);

    std::optional<qint32> start() const { return m_start; }
    std::optional<qint32> end() const { return m_end; }
    bool isSet() const { return m_end.has_value(); }
    // The time panel's mark: "A-B" while repeating, "A" while A waits for B.
    QString mark() const;

private:
    QString timeOf(qint32 tick) const;

    Engine &m_engine;
    const TSmfEventTempoList *m_tempoList = nullptr;
    std::optional<qint32> m_start;
    std::optional<qint32> m_end;
};

// A lyric line's range: its start, and the start of the next line that begins later (the
// song's end after the last). Empty for a row without a line.
std::optional<std::pair<qint32, qint32>> lyricLineRange(const TSmfMetaEventString &lyrics, int row,
                                                        qint32 totalTick);

// The tick at x on a seek bar `width` wide with `maxValue` in its unit (base 0 ticks, 1
// milliseconds through the tempo map), by the drag's arithmetic; the song's end from where the
// drag would reach it. Empty for another base, a bar without width, or a time without a map.
std::optional<qint32> seekBarTick(int x, int width, int maxValue, int playbackBaseMode,
                                  const TBrs4SmfInformation &info, const TSmfEventTempoList *tempoList);

} // namespace tonelark
