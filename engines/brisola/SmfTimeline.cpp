#include "SmfTimeline.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <utility>

namespace brisola {

namespace {

constexpr std::uint32_t kDefaultTempo = 500000;
constexpr std::uint64_t kMaxTick = std::numeric_limits<std::int32_t>::max();

std::uint32_t readBe32(const std::uint8_t *p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

std::uint16_t readBe16(const std::uint8_t *p) { return std::uint16_t((p[0] << 8) | p[1]); }

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
    // Variable-length quantity of at most four bytes (28 bits), as the file format allows.
    bool varLen(std::uint32_t &out)
    {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint8_t b;
            if (!byte(b))
                return false;
            out = (out << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return true;
        }
        return false;
    }
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

struct TrackRange {
    std::size_t begin;
    std::size_t end;
};

// A large song fills tens of MB of fresh memory; with 4 KiB pages each first touch is a page
// fault, which cost more than the reading itself. Transparent huge pages take 1/512 of them.
void adviseHugePages(const void *begin, std::size_t bytes)
{
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    if (bytes < 4 * kHuge)
        return;
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(begin) + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(begin) + bytes) & ~(kHuge - 1);
    if (to > from)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
}

// The events as they are read, before the tracks are merged: room for as many as a file of
// this size can hold, so appending never reallocates (and stays an inline store).
class EventBuffer {
public:
    explicit EventBuffer(std::size_t capacity)
        : m_data(static_cast<TimelineEvent *>(::operator new(capacity * sizeof(TimelineEvent)))), m_capacity(capacity)
    {
        adviseHugePages(m_data, capacity * sizeof(TimelineEvent));
    }
    ~EventBuffer() { ::operator delete(m_data); }
    EventBuffer(const EventBuffer &) = delete;
    EventBuffer &operator=(const EventBuffer &) = delete;

    // False when full, which a well-formed count of the file's bytes rules out.
    bool push(const TimelineEvent &event)
    {
        if (m_size == m_capacity)
            return false;
        m_data[m_size++] = event;
        return true;
    }
    std::size_t size() const { return m_size; }
    TimelineEvent *data() { return m_data; }
    const TimelineEvent *begin() const { return m_data; }
    const TimelineEvent *end() const { return m_data + m_size; }

private:
    TimelineEvent *m_data;
    std::size_t m_capacity;
    std::size_t m_size = 0;
};

// The tracks merged: a stable sort by tick of the tracks laid end to end, so that equal ticks
// keep track order and then file order. Least-significant-digit radix sort, 8 bits a pass,
// skipping the digits every tick shares: a few sequential passes instead of a heap step per
// event, which a densely interleaved multi-track song would otherwise pay millions of times.
std::vector<TimelineEvent> sortedByTick(EventBuffer &events)
{
    const std::size_t n = events.size();
    std::array<std::array<std::size_t, 256>, 4> counts{}; // per byte of the tick
    for (const TimelineEvent &e : events)
        for (int d = 0; d < 4; ++d)
            ++counts[d][(e.tick >> (8 * d)) & 0xFF];
    std::vector<TimelineEvent> out;
    out.reserve(n);
    adviseHugePages(out.data(), n * sizeof(TimelineEvent));
    out.resize(n);
    // Passes go back and forth between the read buffer and `out`; after an even number of them
    // the result is copied over.
    TimelineEvent *from = events.data();
    TimelineEvent *to = out.data();
    for (int d = 0; d < 4; ++d) {
        auto &count = counts[d];
        if (std::find(count.begin(), count.end(), n) != count.end())
            continue; // every event has the same digit here
        std::size_t offset = 0;
        for (std::size_t &c : count)
            offset += std::exchange(c, offset);
        for (std::size_t i = 0; i < n; ++i) {
            const TimelineEvent &e = from[i];
            to[count[(e.tick >> (8 * d)) & 0xFF]++] = e;
        }
        std::swap(from, to);
    }
    if (from != out.data())
        std::copy(from, from + n, out.data());
    return out;
}

} // namespace

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
    if (format > 2 || division == 0 || trackCount == 0) {
        error = BRSERROR_BADSMF;
        return nullptr;
    }

    auto timeline = std::make_shared<SmfTimeline>();
    SongFacts &facts = timeline->m_facts;
    facts.timeBase = division;
    // Every event takes at least two bytes of the file (delta and one data byte); pages not
    // written are never mapped.
    EventBuffer raw(size / 2 + 1);
    std::vector<TrackRange> ranges;
    std::uint64_t totalTick = 0;
    bool anyNote = false;
    std::uint64_t firstNote = kMaxTick;
    std::uint64_t lastNote = 0;
    std::uint64_t loopTick = kMaxTick;

    std::size_t pos = 8 + headerLength;
    while (ranges.size() < trackCount && pos < size) {
        if (size - pos < 8) {
            error = BRSERROR_BADSMF;
            return nullptr;
        }
        const std::uint8_t *chunk = data + pos;
        const std::uint32_t chunkLength = readBe32(chunk + 4);
        if (chunkLength > size - pos - 8) {
            error = BRSERROR_BADSMF;
            return nullptr;
        }
        pos += 8 + std::size_t(chunkLength);
        if (!std::equal(chunk, chunk + 4, "MTrk"))
            continue; // unknown chunks are skipped, as the file format asks

        TrackReader track(chunk + 8, chunkLength);
        const std::size_t begin = raw.size();
        std::uint64_t tick = 0;
        std::uint8_t running = 0;
        while (!track.atEnd()) {
            std::uint32_t delta;
            std::uint8_t first;
            if (!track.varLen(delta) || !track.byte(first)) {
                error = BRSERROR_BADSMF;
                return nullptr;
            }
            tick += delta;
            if (tick > kMaxTick) {
                error = BRSERROR_BADSMF;
                return nullptr;
            }
            if (first == 0xFF) {
                std::uint8_t type;
                std::uint32_t length;
                const std::uint8_t *body;
                if (!track.byte(type) || !track.varLen(length) || !track.span(length, body)) {
                    error = BRSERROR_BADSMF;
                    return nullptr;
                }
                if (type == 0x2F)
                    break; // End of Track: anything after it in the chunk is not part of the song
                // A tempo of 0 would stop time; such an event is ignored.
                if (type == 0x51 && length >= 3) {
                    const std::uint32_t tempo = (std::uint32_t(body[0]) << 16) | (body[1] << 8) | body[2];
                    if (tempo > 0) {
                        TimelineEvent event;
                        event.tick = std::uint32_t(tick);
                        event.kind = TimelineEvent::Tempo;
                        event.value = tempo;
                        if (!raw.push(event)) {
                            error = BRSERROR_BADSMF;
                            return nullptr;
                        }
                    }
                }
                continue;
            }
            if (first == 0xF0 || first == 0xF7) {
                std::uint32_t length;
                const std::uint8_t *body;
                if (!track.varLen(length) || !track.span(length, body)) {
                    error = BRSERROR_BADSMF;
                    return nullptr;
                }
                TimelineEvent event;
                event.tick = std::uint32_t(tick);
                event.kind = TimelineEvent::SysEx;
                event.value = std::uint32_t(timeline->m_pool.size());
                // F0 packets are stored with their status so the pool holds what goes on the wire;
                // F7 escapes carry raw bytes.
                if (first == 0xF0)
                    timeline->m_pool.push_back(0xF0);
                timeline->m_pool.insert(timeline->m_pool.end(), body, body + length);
                event.length = std::uint32_t(timeline->m_pool.size() - event.value);
                if (event.length > 0 && !raw.push(event)) {
                    error = BRSERROR_BADSMF;
                    return nullptr;
                }
                continue;
            }
            std::uint8_t status = first;
            std::uint8_t bytes[2] = {0, 0};
            int have = 0;
            if (first < 0x80) {
                // Running status; kept across meta and SysEx events, which many files rely on.
                if (!running) {
                    error = BRSERROR_BADSMF;
                    return nullptr;
                }
                status = running;
                bytes[have++] = first;
            } else if (first >= 0xF0) {
                error = BRSERROR_BADSMF; // system common and real-time bytes have no place in a file
                return nullptr;
            }
            running = status;
            const int need = dataBytesOf(status);
            while (have < need) {
                if (!track.byte(bytes[have]) || bytes[have] >= 0x80) {
                    error = BRSERROR_BADSMF;
                    return nullptr;
                }
                ++have;
            }
            TimelineEvent event;
            event.tick = std::uint32_t(tick);
            event.kind = TimelineEvent::Channel;
            event.bytes[0] = status;
            event.bytes[1] = bytes[0];
            event.bytes[2] = bytes[1];
            event.length = std::uint32_t(1 + need);
            if (!raw.push(event)) {
                error = BRSERROR_BADSMF;
                return nullptr;
            }

            facts.usedChannels |= std::uint16_t(1u << (status & 0x0F));
            const std::uint8_t type = status & 0xF0;
            if (type == 0x90 && bytes[1] > 0) {
                anyNote = true;
                firstNote = std::min(firstNote, tick);
                lastNote = std::max(lastNote, tick);
            } else if (type == 0x80 || type == 0x90) {
                lastNote = std::max(lastNote, tick);
            } else if (type == 0xB0 && bytes[0] == 111) {
                loopTick = std::min(loopTick, tick);
            } else if (type == 0xB0 && bytes[0] == 7) {
                facts.largestVolume = std::max(facts.largestVolume, bytes[1]);
            }
        }
        totalTick = std::max(totalTick, tick);
        ranges.push_back({begin, raw.size()});
    }
    if (ranges.empty()) {
        error = BRSERROR_BADSMF;
        return nullptr;
    }

    // Merge the tracks (each already in tick order): smallest tick first, then lower track.
    if (ranges.size() == 1)
        timeline->m_events.assign(raw.begin(), raw.end());
    else
        timeline->m_events = sortedByTick(raw);

    // Tempo map: a change at the same tick as an earlier one replaces it.
    auto &tempo = timeline->m_tempo;
    tempo.push_back({0, kDefaultTempo, 0});
    for (std::size_t i = 0; i < timeline->m_events.size(); ++i) {
        const TimelineEvent &event = timeline->m_events[i];
        if (event.kind == TimelineEvent::SysEx)
            timeline->m_sysEx.push_back(std::uint32_t(i));
        if (event.kind != TimelineEvent::Tempo)
            continue;
        TempoSegment &last = tempo.back();
        if (event.tick == last.tick) {
            last.usPerQuarter = event.value;
            continue;
        }
        const std::uint64_t start = last.startTime + std::uint64_t(event.tick - last.tick) * last.usPerQuarter;
        tempo.push_back({event.tick, event.value, start});
    }

    facts.totalTick = std::int32_t(totalTick);
    facts.firstNoteTick = anyNote ? std::int32_t(firstNote) : 0;
    facts.lastNoteTick = anyNote ? std::int32_t(lastNote) : 0;
    facts.loopTick = loopTick == kMaxTick ? -1 : std::int32_t(loopTick);
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
