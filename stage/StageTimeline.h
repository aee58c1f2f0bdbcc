#pragma once

#include "StageSong.h"

#include <limits>
#include <vector>

// The stage's clock: every line and syllable of a StageSong in song milliseconds (by the
// song's tempo map, so tempo changes are where the song has them; the engine reports song
// time, so the singer's tempo ratio needs no conversion), the slots of the screen the lines
// take, when each line appears and goes, and the count-in before lines after a long rest.
// Everything here is a pure function of the song, the tempo map, the number of slots and
// a time.
namespace tonelark {

class TSmfEventTempoList;

inline constexpr qint64 kStageNever = std::numeric_limits<qint64>::max();

// Lines of the page the window shows at once, by its height in pixels: two to four.
int stageLinesPerPage(int heightPx);

// A sung span in song milliseconds: from start to end (end >= start).
struct StageSpan {
    qint64 startMs = 0;
    qint64 endMs = 0;
    // How much of the span is sung at nowMs: 0 before it, 1 from its end on, linear in time
    // between. A span of no length is sung at once.
    double wipe(double nowMs) const;
};

struct StageTimedLine {
    int source = 0;                  // index into StageSong::lines
    qint32 tick = 0;                 // where a click on the line plays from
    StageSpan span;                  // first syllable's start to last syllable's end
    std::vector<StageSpan> syllables;
    std::vector<std::vector<StageSpan>> kana; // per ruby of the line, per kana piece
    int page = 0;
    int slot = 0;                    // row of the screen, 0 at the top
    qint64 showMs = 0;               // appears in its slot
    qint64 hideMs = kStageNever;     // gives the slot up
    // Count-in before the line: dots shown from countInFromMs, one going out at each time
    // in countInOutMs (ascending, the last at the line's start). Empty without a long rest.
    qint64 countInFromMs = kStageNever;
    std::vector<qint64> countInOutMs;
};

enum class StageLineRole : quint8 { Waiting, Current, Sung };

// What the screen shows at one time.
struct StageFrame {
    std::vector<int> slotLines; // per slot: index into StageTimeline::lines(), or -1
    int currentLine = -1;       // the line being sung, or -1
    int countInLine = -1;       // the line a count-in runs before, or -1
    int countInDots = 0;        // dots still to go out
    bool operator==(const StageFrame &) const = default;
    bool empty() const;
};

class StageTimeline {
public:
    StageTimeline() = default;
    // `tempo` may be null (the default 120 bpm at 480 ticks per quarter). Lines are taken in
    // tick order; lines without syllables are left out.
    StageTimeline(const StageSong &song, const TSmfEventTempoList *tempo, int linesPerPage);

    int slotCount() const { return m_slots; }
    const std::vector<StageTimedLine> &lines() const { return m_lines; }
    bool isEmpty() const { return m_lines.empty(); }

    StageFrame frameAt(qint64 nowMs) const;
    StageLineRole roleAt(int line, double nowMs) const;

private:
    int m_slots = 2;
    std::vector<StageTimedLine> m_lines;
    std::vector<std::vector<int>> m_slotOccupants; // per slot: lines in showing order
};

} // namespace tonelark
