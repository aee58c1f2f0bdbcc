#pragma once

#include <QString>
#include <QtGlobal>

#include <utility>
#include <vector>

// What the karaoke window sings from: lines of timed syllables with their readings, in song
// ticks. It knows no widget and no tempo; StageTimeline puts it on the clock.
namespace tonelark {

class TSmfMetaEventString;
class SungLines;

// The vocal part a line belongs to (XF part marks); it chooses the line's colour.
enum class VocalPart : quint8 { None = 0, Male = 1, Female = 2, Chorus = 3 };

// A piece of text sung from `tick` until the next piece of its line starts.
struct StageSyllable {
    qint32 tick = 0;
    QString text;
};

// A reading (furigana) drawn small above the base text StageLine::text().mid(column, length),
// its kana wiped at their own ticks.
struct StageRuby {
    int column = 0;
    int length = 1;
    std::vector<StageSyllable> kana;
    QString text() const;
};

struct StageLine {
    std::vector<StageSyllable> syllables; // in tick order; a line without any is not shown
    std::vector<StageRuby> rubies;        // in base order, not overlapping
    // Where the singing of the last syllable ends, in ticks; -1 when the song does not say.
    qint32 endTick = -1;
    // The song starts a new page (screen) with this line (XF page mark, paragraph break).
    bool pageStart = false;
    VocalPart part = VocalPart::None;

    qint32 tick() const { return syllables.empty() ? 0 : syllables.front().tick; }
    QString text() const;
    // The syllables [first, last) whose text holds part of the columns [column, column + length).
    std::pair<int, int> syllablesCovering(int column, int length) const;
};

struct StageSong {
    QString title;
    std::vector<StageLine> lines; // in tick order
    // How long before they are due coming lines appear, in ticks (the song's own display
    // offset); -1: one beat, at least half a second.
    qint32 displayLeadTicks = -1;
    bool hasRuby() const;
};

// The song's lyric lines as the list shows them, one syllable per line. An empty line (a
// paragraph break) is not shown: the line after it starts a new page.
StageSong stageSongFromLyricLines(const TSmfMetaEventString &lines, const QString &title);

// The song's sung lines: their syllables, readings with their kana timing, pages (a page
// mark or a paragraph starts one), vocal parts and the display offset.
StageSong stageSongFromSungLines(const SungLines &sung, const QString &title);

} // namespace tonelark
