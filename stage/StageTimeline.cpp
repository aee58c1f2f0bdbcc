#include "StageTimeline.h"

#include "SmfTempo.h"

#include <algorithm>
#include <numeric>

namespace tonelark {

namespace {

// A line's last syllable is sung until the next line starts, but no longer than this many
// beats: a phrase given as one event fills its bars, a syllable of a timed line does not
// hold through the rest after it.
constexpr int kPhraseBeats = 8;
constexpr int kLastSyllableBeats = 2;
// A rest longer than this many beats before a line gets a count-in of as many dots.
constexpr int kCountInBeats = 4;
constexpr qint64 kMinimumLeadMs = 500;

class Clock {
public:
    explicit Clock(const TSmfEventTempoList *tempo) : m_tempo(tempo) {}
    int timeBase() const { return m_tempo && m_tempo->TimeBase() > 0 ? m_tempo->TimeBase() : 480; }
    qint64 ms(qint64 tick) const
    {
        tick = std::clamp<qint64>(tick, 0, std::numeric_limits<qint32>::max());
        if (!m_tempo || m_tempo->isEmpty() || m_tempo->TimeBase() == 0)
            return tick * 500 / 480;
        return m_tempo->TickToSecond(static_cast<qint32>(tick), tuMilliseconds);
    }

private:
    const TSmfEventTempoList *m_tempo;
};

} // namespace

int stageLinesPerPage(int heightPx)
{
    return std::clamp(heightPx / 180, 2, 4);
}

double StageSpan::wipe(double nowMs) const
{
    if (nowMs < double(startMs))
        return 0.0;
    if (endMs <= startMs || nowMs >= double(endMs))
        return 1.0;
    return (nowMs - double(startMs)) / double(endMs - startMs);
}

bool StageFrame::empty() const
{
    return std::all_of(slotLines.begin(), slotLines.end(), [](int line) { return line < 0; });
}

StageTimeline::StageTimeline(const StageSong &song, const TSmfEventTempoList *tempo, int linesPerPage)
    : m_slots(std::max(1, linesPerPage))
{
    const Clock clock(tempo);
    const qint64 beat = clock.timeBase();

    std::vector<int> order;
    for (int index = 0; index < int(song.lines.size()); ++index) {
        if (!song.lines[size_t(index)].syllables.empty())
            order.push_back(index);
    }
    // Lyrics from several tracks come track after track; the stage sings them in time order.
    std::stable_sort(order.begin(), order.end(), [&song](int a, int b) {
        return song.lines[size_t(a)].tick() < song.lines[size_t(b)].tick();
    });

    // Pages: a page mark starts one, and a page holds at most as many lines as the slotCount.
    int page = -1;
    int inPage = m_slots;
    qint64 previousEndTick = 0;
    for (size_t n = 0; n < order.size(); ++n) {
        const StageLine &line = song.lines[size_t(order[n])];
        StageTimedLine timed;
        timed.source = order[n];
        if ((line.pageStart && inPage > 0) || inPage >= m_slots) {
            ++page;
            inPage = 0;
        }
        timed.page = page;
        timed.slot = inPage++;

        // Syllable ticks never run backwards within a line.
        std::vector<qint64> ticks;
        for (const StageSyllable &syllable : line.syllables)
            ticks.push_back(std::max<qint64>(syllable.tick, ticks.empty() ? syllable.tick : ticks.back()));
        const qint64 lastTick = ticks.back();
        const qint64 nextLineTick = n + 1 < order.size()
                                        ? qint64(song.lines[size_t(order[n + 1])].tick())
                                        : std::numeric_limits<qint64>::max();
        qint64 endTick;
        if (line.endTick > lastTick)
            endTick = line.endTick;
        else
            endTick = lastTick + beat * (ticks.size() == 1 ? kPhraseBeats : kLastSyllableBeats);
        endTick = std::max(lastTick, std::min(endTick, nextLineTick));
        ticks.push_back(endTick);

        timed.tick = static_cast<qint32>(ticks.front());
        for (size_t s = 0; s + 1 < ticks.size(); ++s)
            timed.syllables.push_back({clock.ms(ticks[s]), clock.ms(ticks[s + 1])});
        timed.span = {timed.syllables.front().startMs, timed.syllables.back().endMs};

        for (const StageRuby &ruby : line.rubies) {
            std::vector<StageSpan> pieces;
            const auto [first, last] = line.syllablesCovering(ruby.column, ruby.length);
            const qint64 groupStart = ticks[size_t(first)];
            const qint64 groupEnd = ticks[size_t(last)];
            // Kana without timing of their own share the base text's time evenly; a timed
            // kana lasts until the next kana or the next syllable of the line, so the last
            // kana of a reading that runs into the next syllable's event is sung with it.
            const bool timedKana = std::any_of(ruby.kana.begin(), ruby.kana.end(),
                                               [&](const StageSyllable &k) { return k.tick != ruby.kana.front().tick; });
            const qint64 count = qint64(ruby.kana.size());
            for (qint64 k = 0; k < count; ++k) {
                qint64 from, to;
                if (timedKana) {
                    from = std::clamp<qint64>(ruby.kana[size_t(k)].tick, groupStart, endTick);
                    if (k + 1 < count) {
                        to = std::clamp<qint64>(ruby.kana[size_t(k + 1)].tick, from, endTick);
                    } else {
                        const auto next = std::upper_bound(ticks.begin(), ticks.end(), from);
                        to = next == ticks.end() ? endTick : *next;
                    }
                } else {
                    from = groupStart + (groupEnd - groupStart) * k / count;
                    to = groupStart + (groupEnd - groupStart) * (k + 1) / count;
                }
                pieces.push_back({clock.ms(from), clock.ms(to)});
            }
            timed.kana.push_back(std::move(pieces));
        }

        if (qint64(timed.tick) - previousEndTick > beat * kCountInBeats) {
            timed.countInFromMs = clock.ms(timed.tick - beat * kCountInBeats);
            for (int k = kCountInBeats - 1; k >= 0; --k)
                timed.countInOutMs.push_back(clock.ms(timed.tick - beat * k));
        }
        previousEndTick = endTick;

        // Lead: the song's display offset, else one beat (at the tempo before the line), at
        // least half a second.
        const qint64 lead = song.displayLeadTicks >= 0
                                ? timed.span.startMs - clock.ms(qint64(timed.tick) - song.displayLeadTicks)
                                : std::max(kMinimumLeadMs, timed.span.startMs - clock.ms(timed.tick - beat));
        timed.showMs = std::min(timed.span.startMs - lead, timed.countInFromMs);
        m_lines.push_back(std::move(timed));
    }

    // A page comes on screen when its first line is due (less the lead) or its count-in
    // starts; a slot whose old line is still being sung takes the new one when that ends.
    m_slotOccupants.assign(size_t(m_slots), {});
    std::vector<qint64> pageShow;
    for (StageTimedLine &line : m_lines) {
        if (line.page >= int(pageShow.size()))
            pageShow.push_back(line.showMs);
        line.showMs = std::min(line.showMs, pageShow[size_t(line.page)]);
        std::vector<int> &occupants = m_slotOccupants[size_t(line.slot)];
        if (!occupants.empty())
            line.showMs = std::max(line.showMs, m_lines[size_t(occupants.back())].span.endMs);
        occupants.push_back(int(&line - m_lines.data()));
    }
    for (size_t slot = 0; slot < m_slotOccupants.size(); ++slot) {
        const std::vector<int> &occupants = m_slotOccupants[slot];
        for (size_t k = 0; k < occupants.size(); ++k) {
            StageTimedLine &line = m_lines[size_t(occupants[k])];
            const int nextPage = line.page + 1;
            if (nextPage >= int(pageShow.size()))
                continue;
            // Replaced by the next page's line in this slot; a slot the next page leaves
            // empty is cleared when that page comes.
            line.hideMs = std::max(pageShow[size_t(nextPage)], line.span.endMs);
            if (k + 1 < occupants.size() && m_lines[size_t(occupants[k + 1])].page == nextPage)
                line.hideMs = m_lines[size_t(occupants[k + 1])].showMs;
        }
    }
}

StageLineRole StageTimeline::roleAt(int line, double nowMs) const
{
    const StageSpan &span = m_lines[size_t(line)].span;
    if (nowMs < double(span.startMs))
        return StageLineRole::Waiting;
    if (nowMs >= double(span.endMs) && span.endMs > span.startMs)
        return StageLineRole::Sung;
    if (span.endMs <= span.startMs)
        return StageLineRole::Sung;
    return StageLineRole::Current;
}

StageFrame StageTimeline::frameAt(qint64 nowMs) const
{
    StageFrame frame;
    frame.slotLines.assign(size_t(m_slots), -1);
    for (size_t slot = 0; slot < m_slotOccupants.size(); ++slot) {
        const std::vector<int> &occupants = m_slotOccupants[slot];
        // The last occupant shown by now; it holds the slot unless it has given it up.
        auto it = std::upper_bound(occupants.begin(), occupants.end(), nowMs,
                                   [this](qint64 t, int line) { return t < m_lines[size_t(line)].showMs; });
        if (it == occupants.begin())
            continue;
        const int line = *(it - 1);
        if (nowMs < m_lines[size_t(line)].hideMs)
            frame.slotLines[slot] = line;
    }
    for (int line : frame.slotLines) {
        if (line < 0)
            continue;
        const StageTimedLine &timed = m_lines[size_t(line)];
        if (roleAt(line, double(nowMs)) == StageLineRole::Current &&
            (frame.currentLine < 0 || timed.span.startMs >= m_lines[size_t(frame.currentLine)].span.startMs))
            frame.currentLine = line;
        if (nowMs >= timed.countInFromMs && nowMs < timed.span.startMs) {
            frame.countInLine = line;
            frame.countInDots = int(std::count_if(timed.countInOutMs.begin(), timed.countInOutMs.end(),
                                                  [nowMs](qint64 out) { return out > nowMs; }));
        }
    }
    return frame;
}

} // namespace tonelark
