#include "SmfTimeline.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <unordered_set>
#include <utility>

namespace brisola {

namespace {

constexpr std::uint32_t kDefaultTempo = 500000;
constexpr std::uint64_t kMaxTick = std::numeric_limits<std::int32_t>::max();
constexpr std::size_t kMaxProgramUses = 1024;

std::uint32_t readBe32(const std::uint8_t *p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

std::uint16_t readBe16(const std::uint8_t *p) { return std::uint16_t((p[0] << 8) | p[1]); }

bool isReset(const TimelineEvent &event, const std::uint8_t *pool)
{
    return event.kind == TimelineEvent::SysEx && isResetSysEx(pool + event.value, event.length);
}

// Puts the resets of each tick before its other events, keeping every other order. Songs set
// up their instruments at tick 0 in one track and send the reset at tick 0 in a later one; in
// file order the reset would wipe the programs, volumes and first notes just sent, and no song
// means "set up, then wipe it" in the same instant. Stable, and linear in the events.
void hoistResets(TimelineEvent *first, std::size_t count, const std::uint8_t *pool)
{
    for (std::size_t group = 0; group < count;) {
        std::size_t end = group;
        bool other = false, late = false;
        for (; end < count && first[end].tick == first[group].tick; ++end) {
            const bool reset = isReset(first[end], pool);
            late |= reset && other;
            other |= !reset;
        }
        if (late)
            std::stable_partition(first + group, first + end,
                                  [pool](const TimelineEvent &e) { return isReset(e, pool); });
        group = end;
    }
}

// Walks one track chunk. Every read checks the remaining length first.
class TrackReader {
public:
    TrackReader(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_pos >= m_size; }
    bool byte(std::uint8_t &out)
    {
        if (m_pos >= m_size)
            return false;
        out = m_data[m_pos++];
        return true;
    }
    // Variable-length quantity. The file format allows four bytes; longer ones are read on to
    // their last byte as the song parser reads them, keeping the low 32 bits.
    bool varLen(std::uint32_t &out)
    {
        out = 0;
        std::uint8_t b;
        do {
            if (!byte(b))
                return false;
            out = (out << 7) | (b & 0x7F);
        } while (b & 0x80);
        return true;
    }
    void back() { --m_pos; }
    bool span(std::uint32_t length, const std::uint8_t *&out)
    {
        if (length > m_size - m_pos)
            return false;
        out = m_data + m_pos;
        m_pos += length;
        return true;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

int dataBytesOf(std::uint8_t status)
{
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
        return 1;
    default:
        return 2;
    }
}

} // namespace

// A large song fills tens of MB of fresh memory; with 4 KiB pages each first touch is a page
// fault, which cost more than the reading itself (on this project's build machine a fill took
// 330 ms with 4 KiB pages, 50 ms with huge pages). So a large list asks for transparent huge
// pages, and is aligned to them and sized in whole ones: an unaligned list keeps up to 2 MiB at
// each end in 4 KiB pages, up to a thousand faults more.
EventList::EventList(std::size_t size) : m_size(size)
{
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    const std::size_t bytes = std::max<std::size_t>(size, 1) * sizeof(TimelineEvent);
    if (bytes < 4 * kHuge) {
        m_data = {static_cast<TimelineEvent *>(::operator new(bytes)), Release{}};
        return;
    }
    const std::size_t whole = (bytes + kHuge - 1) & ~(kHuge - 1);
    void *storage = ::operator new(whole, std::align_val_t(kHuge));
    madvise(storage, whole, MADV_HUGEPAGE);
    m_data = {static_cast<TimelineEvent *>(storage), Release{kHuge}};
}

namespace {

// The merge works on spans of 2^12 ticks: the tracks are scattered by span straight into the
// event list, then each span is sorted on its own while it sits in the cache.
constexpr int kSpanBits = 12;

// Walks every track chunk and hands each event that goes into the song to `sink`, track after
// track and in file order. It is called twice on the same bytes (a survey, then the fill), so
// both calls see exactly the same events.
//
// Damage is passed over the way the program's song parser passes over it, so that every file the
// window shows also plays: stray bytes between chunks are skipped up to the next "MTrk"; a chunk
// longer than the file ends with the file; a channel message with a status byte among its data
// bytes is consumed and dropped; a data byte with no running status to apply is read again as a
// delta time; system common and real-time statuses are skipped with their length; an event cut
// by the end of its chunk, or a tick past 2^31 - 1, ends the track there.
template <class Sink>
BrsError walkTracks(const std::uint8_t *data, std::size_t size, std::size_t pos, std::uint16_t trackCount,
                    Sink &sink)
{
    static constexpr std::uint8_t kTrackId[] = {'M', 'T', 'r', 'k'};
    std::size_t tracks = 0;
    while (tracks < trackCount && pos < size) {
        const std::uint8_t *found = std::search(data + pos, data + size, kTrackId, kTrackId + 4);
        if (size - std::size_t(found - data) < 8)
            break;
        pos = std::size_t(found - data);
        const std::uint8_t *chunk = data + pos;
        const std::uint32_t chunkLength = std::uint32_t(std::min<std::size_t>(readBe32(chunk + 4), size - pos - 8));
        pos += 8 + std::size_t(chunkLength);

        TrackReader track(chunk + 8, chunkLength);
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        while (!track.atEnd()) {
            std::uint32_t delta;
            std::uint8_t first;
            if (!track.varLen(delta) || !track.byte(first) || tick + delta > kMaxTick)
                break;
            tick += delta;
            if (first == 0xFF) {
                std::uint8_t type;
                std::uint32_t length;
                const std::uint8_t *body;
                if (!track.byte(type) || !track.varLen(length) || !track.span(length, body))
                    break;
                if (type == 0x2F)
                    break; // End of Track: anything after it in the chunk is not part of the song
                // A tempo of 0 would stop time; such an event is ignored.
                if (type == 0x51 && length >= 3) {
                    const std::uint32_t tempo = (std::uint32_t(body[0]) << 16) | (body[1] << 8) | body[2];
                    if (tempo > 0)
                        sink.tempo(std::uint32_t(tick), tempo);
                }
                continue;
            }
            if (first >= 0xF0) {
                std::uint32_t length;
                const std::uint8_t *body;
                if (!track.varLen(length) || !track.span(length, body))
                    break;
                // F0 packets are stored with their status so the pool holds what goes on the
                // wire; F7 escapes carry raw bytes, and an empty one sends nothing. Other system
                // statuses have no place in a file and are not sent.
                if (first == 0xF0 || (first == 0xF7 && length > 0))
                    sink.sysEx(std::uint32_t(tick), first == 0xF0, body, length);
                continue;
            }
            // Channel message. Named bytes rather than an indexed array keep them in registers.
            std::uint8_t status = first;
            std::uint8_t data1 = 0;
            std::uint8_t data2 = 0;
            if (first < 0x80) {
                // Running status; kept across meta and SysEx events, which many files rely on.
                if (!running) {
                    track.back();
                    continue;
                }
                status = running;
                data1 = first;
            } else if (!track.byte(data1)) {
                break;
            }
            running = status;
            const int need = dataBytesOf(status);
            if (need == 2 && !track.byte(data2))
                break;
            if ((data1 | data2) & 0x80)
                continue;
            sink.channel(std::uint32_t(tick), status, data1, data2, need);
        }
        ++tracks;
        sink.endTrack(tick);
    }
    return tracks == 0 && trackCount > 0 ? BRSERROR_BADSMF : BRSERROR_NOERROR;
}

// First walk: how many events fall in each tick span (so the fill puts every event at its
// final span at once and the event list is allocated exactly once), the SysEx bytes, and the
// song information, which does not depend on the merged order.
struct Survey {
    std::vector<std::size_t> spans; // events per span of 2^kSpanBits ticks
    // Per span: whether it holds an event the fold over the merged order needs (tempo, SysEx,
    // bank select, program change); and the channels that play notes or change program.
    std::vector<std::uint8_t> folded;
    std::uint16_t noteChannels = 0;
    std::size_t events = 0;
    std::size_t sysExCount = 0;
    std::size_t poolBytes = 0;
    SongFacts facts;
    std::uint64_t totalTick = 0;
    bool anyNote = false;
    std::uint64_t firstNote = kMaxTick;
    std::uint64_t lastNote = 0;
    std::uint64_t loopTick = kMaxTick;

    // Ticks rise within a track, so its events come in runs of one span: a run is counted in a
    // register and added to the table when the span changes (the table grows only then).
    std::size_t runSpan = 0;
    std::size_t runLength = 0;
    bool runFolded = false;

    void count(std::uint32_t tick)
    {
        const std::size_t span = tick >> kSpanBits;
        if (span != runSpan)
            endRun(span);
        ++runLength;
    }
    void endRun(std::size_t nextSpan)
    {
        if (runLength > 0) {
            if (runSpan >= spans.size()) {
                spans.resize(runSpan + 1);
                folded.resize(runSpan + 1);
            }
            spans[runSpan] += runLength;
            folded[runSpan] |= std::uint8_t(runFolded);
            events += runLength;
        }
        runSpan = nextSpan;
        runLength = 0;
        runFolded = false;
    }
    void tempo(std::uint32_t tick, std::uint32_t)
    {
        count(tick);
        runFolded = true;
    }
    void sysEx(std::uint32_t tick, bool withStatus, const std::uint8_t *, std::uint32_t length)
    {
        count(tick);
        runFolded = true;
        ++sysExCount;
        poolBytes += std::size_t(withStatus) + length;
    }
    void channel(std::uint32_t tick, std::uint8_t status, std::uint8_t data1, std::uint8_t data2, int)
    {
        count(tick);
        facts.usedChannels |= std::uint16_t(1u << (status & 0x0F));
        const std::uint8_t type = status & 0xF0;
        if (type == 0x90 || type == 0xC0)
            noteChannels |= std::uint16_t(1u << (status & 0x0F));
        if (type == 0xC0 || (type == 0xB0 && (data1 == 0 || data1 == 32)))
            runFolded = true;
        if (type == 0x90 && data2 > 0) {
            anyNote = true;
            firstNote = std::min<std::uint64_t>(firstNote, tick);
            lastNote = std::max<std::uint64_t>(lastNote, tick);
        } else if (type == 0x80 || type == 0x90) {
            lastNote = std::max<std::uint64_t>(lastNote, tick);
        } else if (type == 0xB0 && data1 == 111) {
            loopTick = std::min<std::uint64_t>(loopTick, tick);
        } else if (type == 0xB0 && data1 == 7) {
            facts.largestVolume = std::max(facts.largestVolume, data2);
        }
    }
    void endTrack(std::uint64_t tick)
    {
        endRun(0);
        totalTick = std::max(totalTick, tick);
    }
};

// Second walk: each event goes to the next free place of its span. The walk goes track by
// track, so within a span the events stand in file order: earlier track first, then their
// order in the track, which is the order equal ticks keep.
struct Fill {
    TimelineEvent *events;
    std::size_t *next; // per span: where its next event goes
    std::uint8_t *pool;
    std::uint32_t poolUsed = 0;
    std::size_t resets = 0;
    // The span the track is in and its cursor, kept out of the table while the span lasts (a
    // store and reload per event would chain every event to the last). The table always has
    // a span 0.
    std::size_t runSpan = 0;
    std::size_t runNext = next[0];

    void put(const TimelineEvent &event)
    {
        const std::size_t span = event.tick >> kSpanBits;
        if (span != runSpan) {
            next[runSpan] = runNext;
            runSpan = span;
            runNext = next[span];
        }
        events[runNext++] = event;
    }
    void tempo(std::uint32_t tick, std::uint32_t usPerQuarter)
    {
        TimelineEvent event;
        event.tick = tick;
        event.kind = TimelineEvent::Tempo;
        event.value = usPerQuarter;
        put(event);
    }
    void sysEx(std::uint32_t tick, bool withStatus, const std::uint8_t *body, std::uint32_t length)
    {
        TimelineEvent event;
        event.tick = tick;
        event.kind = TimelineEvent::SysEx;
        event.value = poolUsed;
        if (withStatus)
            pool[poolUsed++] = 0xF0;
        std::copy(body, body + length, pool + poolUsed);
        poolUsed += length;
        event.length = poolUsed - event.value;
        resets += isReset(event, pool);
        put(event);
    }
    void channel(std::uint32_t tick, std::uint8_t status, std::uint8_t data1, std::uint8_t data2, int need)
    {
        TimelineEvent event;
        event.tick = tick;
        event.kind = TimelineEvent::Channel;
        event.bytes[0] = status;
        event.bytes[1] = data1;
        event.bytes[2] = data2;
        event.length = std::uint32_t(1 + need);
        put(event);
    }
    void endTrack(std::uint64_t) { next[runSpan] = runNext; }
};

// Stable sort by tick of one span (its ticks differ only in the low kSpanBits bits): two
// counting passes of 6 bits through `scratch`, all within the cache. A span that is already
// in order (one track, or tracks that do not interleave) is left as it is.
void sortSpan(TimelineEvent *first, std::size_t count, TimelineEvent *scratch)
{
    const auto byTick = [](const TimelineEvent &a, const TimelineEvent &b) { return a.tick < b.tick; };
    if (std::is_sorted(first, first + count, byTick))
        return;
    constexpr int kDigitBits = kSpanBits / 2;
    constexpr std::uint32_t kDigitMask = (1u << kDigitBits) - 1;
    std::array<std::array<std::uint32_t, 1u << kDigitBits>, 2> counts{};
    for (std::size_t i = 0; i < count; ++i) {
        ++counts[0][first[i].tick & kDigitMask];
        ++counts[1][(first[i].tick >> kDigitBits) & kDigitMask];
    }
    TimelineEvent *from = first;
    TimelineEvent *to = scratch;
    for (int d = 0; d < 2; ++d) {
        auto &digit = counts[d];
        if (std::find(digit.begin(), digit.end(), count) != digit.end())
            continue; // every event has the same digit here
        std::uint32_t offset = 0;
        for (std::uint32_t &c : digit)
            offset += std::exchange(c, offset);
        const int shift = d * kDigitBits;
        for (std::size_t i = 0; i < count; ++i)
            to[digit[(from[i].tick >> shift) & kDigitMask]++] = from[i];
        std::swap(from, to);
    }
    if (from != first)
        std::copy(from, from + count, first);
}

// The instruments a song selects, folded from its events in merged order.
struct ProgramUseCollector {
    explicit ProgramUseCollector(std::vector<ProgramUse> &out) : uses(out) {}

    std::vector<ProgramUse> &uses;
    std::array<std::uint8_t, 16> bankMsb{};
    std::array<std::uint8_t, 16> bankLsb{};
    std::uint16_t started = 0;              // channels whose start-up program is counted
    std::unordered_set<std::uint32_t> seen; // (channel, bank, program) keys

    void add(const TimelineEvent &e)
    {
        const int channel = e.bytes[0] & 0x0F;
        const int type = e.bytes[0] & 0xF0;
        if (type == 0xB0 && e.bytes[1] == 0)
            bankMsb[channel] = e.bytes[2];
        else if (type == 0xB0 && e.bytes[1] == 32)
            bankLsb[channel] = e.bytes[2];
        else if (type == 0xC0)
            use(channel, bankMsb[channel], bankLsb[channel], e.bytes[1], e.tick);
        else if (type == 0x90 && e.bytes[2] > 0 && !(started & (1u << channel)))
            use(channel, 0, 0, 0, e.tick); // a note before any program change plays the default
        if (type == 0xC0 || type == 0x90)
            started |= std::uint16_t(1u << channel);
    }
    bool allStarted(std::uint16_t channels) const { return (started & channels) == channels; }
    void use(int channel, int msb, int lsb, int program, std::uint32_t tick)
    {
        const std::uint32_t key = std::uint32_t(channel) << 21 | std::uint32_t(msb) << 14 | std::uint32_t(lsb) << 7
                                  | std::uint32_t(program);
        // A real song uses some dozens; a hostile file could name millions.
        if (uses.size() >= kMaxProgramUses || !seen.insert(key).second)
            return;
        uses.push_back({std::uint8_t(channel), std::uint8_t(msb), std::uint8_t(lsb), std::uint8_t(program), tick});
    }
};

struct ReleaseScratch {
    void operator()(TimelineEvent *events) const { ::operator delete(events); }
};

} // namespace

bool isResetSysEx(const std::uint8_t *d, std::uint32_t size)
{
    if (size < 6 || d[0] != 0xF0 || d[size - 1] != 0xF7)
        return false;
    // Universal non-real-time, any device: GM System On (09 01), Off (09 02), GM2 On (09 03).
    if (size == 6 && d[1] == 0x7E && d[3] == 0x09 && d[4] >= 1 && d[4] <= 3)
        return true;
    // GS Reset: 41 dev 42 12 40 00 7F 00 41; GS System Mode Set: 41 dev 42 12 00 00 7F 0m sum
    // (mode 1 or 2), which resets the device as well.
    static constexpr std::uint8_t gs[] = {0x42, 0x12, 0x40, 0x00, 0x7F, 0x00};
    static constexpr std::uint8_t gsMode[] = {0x42, 0x12, 0x00, 0x00, 0x7F};
    if (size == 11 && d[1] == 0x41
        && (std::equal(gs, gs + 6, d + 3) || (std::equal(gsMode, gsMode + 5, d + 3) && d[8] <= 1)))
        return true;
    // XG System On: 43 1n 4C 00 00 7E 00.
    static constexpr std::uint8_t xg[] = {0x4C, 0x00, 0x00, 0x7E, 0x00};
    return size == 9 && d[1] == 0x43 && (d[2] & 0xF0) == 0x10 && std::equal(xg, xg + 5, d + 3);
}

std::shared_ptr<const SmfTimeline> SmfTimeline::read(const std::uint8_t *data, std::size_t size,
                                                     BrsError &error)
{
    error = BRSERROR_NOERROR;
    if (!data || size < 4 || std::equal(data, data + 4, "MThd") == false) {
        error = BRSERROR_NOSMF;
        return nullptr;
    }
    if (size < 14) {
        error = BRSERROR_BADSMF;
        return nullptr;
    }
    const std::uint32_t headerLength = readBe32(data + 4);
    if (headerLength < 6 || headerLength > size - 8) {
        error = BRSERROR_BADSMF;
        return nullptr;
    }
    const std::uint16_t format = readBe16(data + 8);
    const std::uint16_t trackCount = readBe16(data + 10);
    const std::uint16_t division = readBe16(data + 12);
    if (format == 2 || (division & 0x8000)) {
        error = BRSERROR_UNMATCHED_SMF;
        return nullptr;
    }
    if (format > 2 || division == 0) {
        error = BRSERROR_BADSMF;
        return nullptr;
    }
    const std::size_t tracksAt = 8 + std::size_t(headerLength);

    // The file is walked twice rather than read into a buffer and then merged: every page of
    // fresh memory costs the kernel's zeroing (the largest single cost of a big song), and a
    // walk without stores over the file, a fraction of the events' size, costs less than
    // filling and copying a second array of events.
    Survey survey;
    error = walkTracks(data, size, tracksAt, trackCount, survey);
    if (error != BRSERROR_NOERROR)
        return nullptr;

    auto timeline = std::make_shared<SmfTimeline>();
    timeline->m_events = EventList(survey.events);
    TimelineEvent *events = timeline->m_events.m_data.get();
    timeline->m_pool.resize(survey.poolBytes);

    // Where each span starts; the fill advances these to where each span ends.
    std::vector<std::size_t> &spanEnd = survey.spans;
    if (spanEnd.empty()) {
        spanEnd.push_back(0); // a song without events still has one (empty) span
        survey.folded.push_back(0);
    }
    std::size_t largestSpan = 0;
    std::size_t offset = 0;
    for (std::size_t &c : spanEnd) {
        largestSpan = std::max(largestSpan, c);
        offset += std::exchange(c, offset);
    }
    Fill fill{events, spanEnd.data(), timeline->m_pool.data()};
    walkTracks(data, size, tracksAt, trackCount, fill); // same bytes: accepted again

    // Each span sorted while it is in the cache, and read there for the tempo map and the
    // SysEx list, which need the merged order.
    std::unique_ptr<TimelineEvent[], ReleaseScratch> scratch(
        static_cast<TimelineEvent *>(::operator new(std::max<std::size_t>(largestSpan, 1) * sizeof(TimelineEvent))));
    auto &tempo = timeline->m_tempo;
    tempo.push_back({0, kDefaultTempo, 0});
    timeline->m_sysEx.reserve(survey.sysExCount);
    ProgramUseCollector programs(timeline->m_programUses);
    std::size_t begin = 0;
    for (std::size_t span = 0; span < spanEnd.size(); ++span) {
        const std::size_t end = spanEnd[span];
        sortSpan(events + begin, end - begin, scratch.get());
        if (fill.resets && survey.folded[span]) // a span with SysEx is always folded
            hoistResets(events + begin, end - begin, timeline->m_pool.data());
        // The fold needs tempo changes, SysEx, bank selects and program changes, and note-ons
        // until every channel that plays has started: a span with none of these is passed over
        // (most of a large song).
        if (!survey.folded[span] && programs.allStarted(survey.noteChannels)) {
            begin = end;
            continue;
        }
        for (std::size_t i = begin; i < end; ++i) {
            const TimelineEvent &event = events[i];
            if (event.kind == TimelineEvent::Channel) {
                programs.add(event);
                continue;
            }
            if (event.kind == TimelineEvent::SysEx) {
                timeline->m_sysEx.push_back(std::uint32_t(i));
                continue;
            }
            // Tempo map: a change at the same tick as an earlier one replaces it.
            TempoSegment &last = tempo.back();
            if (event.tick == last.tick) {
                last.usPerQuarter = event.value;
                continue;
            }
            const std::uint64_t start = last.startTime + std::uint64_t(event.tick - last.tick) * last.usPerQuarter;
            tempo.push_back({event.tick, event.value, start});
        }
        begin = end;
    }

    SongFacts &facts = timeline->m_facts;
    facts = survey.facts;
    facts.timeBase = division;
    facts.totalTick = std::int32_t(survey.totalTick);
    facts.firstNoteTick = survey.anyNote ? std::int32_t(survey.firstNote) : 0;
    facts.lastNoteTick = survey.anyNote ? std::int32_t(survey.lastNote) : 0;
    facts.loopTick = survey.loopTick == kMaxTick ? -1 : std::int32_t(survey.loopTick);
    return timeline;
}

std::size_t SmfTimeline::segmentOfTick(std::int64_t tick) const
{
    auto it = std::upper_bound(m_tempo.begin(), m_tempo.end(), tick,
                               [](std::int64_t t, const TempoSegment &s) { return t < std::int64_t(s.tick); });
    return it == m_tempo.begin() ? 0 : std::size_t(it - m_tempo.begin()) - 1;
}

std::uint64_t SmfTimeline::timeOfTick(std::int64_t tick) const
{
    if (tick <= 0)
        return 0;
    const TempoSegment &s = m_tempo[segmentOfTick(tick)];
    return s.startTime + std::uint64_t(tick - s.tick) * s.usPerQuarter;
}

std::int64_t SmfTimeline::tickOfTime(std::uint64_t time) const
{
    auto it = std::upper_bound(m_tempo.begin(), m_tempo.end(), time,
                               [](std::uint64_t t, const TempoSegment &s) { return t < s.startTime; });
    const TempoSegment &s = it == m_tempo.begin() ? m_tempo.front() : *(it - 1);
    return std::int64_t(s.tick) + std::int64_t((time - s.startTime) / s.usPerQuarter);
}

std::int32_t SmfTimeline::millisecondsOfTick(std::int32_t tick) const
{
    if (tick < 0)
        return -1;
    const std::uint64_t ms = timeOfTick(tick) / (std::uint64_t(m_facts.timeBase) * 1000);
    return std::int32_t(std::min<std::uint64_t>(ms, std::numeric_limits<std::int32_t>::max()));
}

std::size_t SmfTimeline::firstEventAtOrAfter(std::int64_t tick) const
{
    auto it = std::lower_bound(m_events.begin(), m_events.end(), tick,
                               [](const TimelineEvent &e, std::int64_t t) { return std::int64_t(e.tick) < t; });
    return std::size_t(it - m_events.begin());
}

TBrs4SmfInformation SmfTimeline::information() const
{
    TBrs4SmfInformation info{};
    info.TimeBase = m_facts.timeBase;
    info.TotalTick = m_facts.totalTick;
    info.TotalTime = millisecondsOfTick(m_facts.totalTick);
    info.FirstNoteTick = m_facts.firstNoteTick;
    info.FirstNoteTime = millisecondsOfTick(m_facts.firstNoteTick);
    info.LastNoteTick = m_facts.lastNoteTick;
    info.LastNoteTime = millisecondsOfTick(m_facts.lastNoteTick);
    info.LoopTick = m_facts.loopTick;
    info.LoopTime = millisecondsOfTick(m_facts.loopTick);
    return info;
}

} // namespace brisola
