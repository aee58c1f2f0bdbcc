#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <tuple>

#include "SmfBuilder.h"
#include "SmfTimeline.h"

using namespace brisola;
using namespace brisola::test;

namespace {

std::shared_ptr<const SmfTimeline> readOk(const Bytes &bytes)
{
    BrsError error = BRSERROR_FAILED;
    auto timeline = SmfTimeline::read(bytes.data(), bytes.size(), error);
    EXPECT_EQ(error, BRSERROR_NOERROR);
    return timeline;
}

BrsError readError(const Bytes &bytes)
{
    BrsError error = BRSERROR_NOERROR;
    auto timeline = SmfTimeline::read(bytes.data(), bytes.size(), error);
    EXPECT_EQ(timeline == nullptr, error != BRSERROR_NOERROR);
    return error;
}

Bytes withTrackBody(const Bytes &body, int format = 0, int division = 96)
{
    Bytes out = header(format, 1, division);
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBe32(out, std::uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

struct BadCase {
    const char *name;
    Bytes bytes;
    BrsError expected;
};

} // namespace

TEST(SmfTimeline, RefusesWhatIsNotAPlayableSong)
{
    const Bytes good = smf({TrackBuilder().note(0, 10, 0, 60)});
    Bytes longChunk = good;
    longChunk[21] += 1; // track length one past the end of the file
    Bytes shortHeaderLength = good;
    shortHeaderLength[7] = 5;
    const std::vector<BadCase> cases = {
        {"empty", {}, BRSERROR_NOSMF},
        {"text file", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'}, BRSERROR_NOSMF},
        {"RIFF wrapper", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 0, 0}, BRSERROR_NOSMF},
        {"header cut", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, BRSERROR_BADSMF},
        {"header length 5", shortHeaderLength, BRSERROR_BADSMF},
        {"format 2", smf({TrackBuilder().note(0, 10, 0, 60)}, 480, 2), BRSERROR_UNMATCHED_SMF},
        {"time-code division", smf({TrackBuilder().note(0, 10, 0, 60)}, 0xE728), BRSERROR_UNMATCHED_SMF},
        {"division 0", smf({TrackBuilder().note(0, 10, 0, 60)}, 0), BRSERROR_BADSMF},
        {"format 3", smf({TrackBuilder().note(0, 10, 0, 60)}, 480, 3), BRSERROR_BADSMF},
        {"a track announced, none there", header(0, 1, 480), BRSERROR_BADSMF},
        {"chunk header cut", [&] { Bytes b = header(1, 2, 480); b.insert(b.end(), {'M', 'T', 'r'}); return b; }(),
         BRSERROR_BADSMF},
    };
    for (const BadCase &c : cases)
        EXPECT_EQ(readError(c.bytes), c.expected) << c.name;
    // Every prefix of a good file is refused cleanly or read, never read past its end.
    for (std::size_t n = 0; n < good.size(); ++n) {
        const Bytes prefix(good.begin(), good.begin() + std::ptrdiff_t(n));
        BrsError error;
        (void)SmfTimeline::read(prefix.data(), prefix.size(), error);
    }
}

TEST(SmfTimeline, PlaysWhatCanBePlayedOfADamagedFile)
{
    const Bytes good = smf({TrackBuilder().note(0, 10, 0, 60)});
    Bytes longChunk = good;
    longChunk[21] += 100; // track length past the end of the file
    Bytes strayBytes = header(0, 1, 96);
    strayBytes.insert(strayBytes.end(), {0, 0, 0xFF});
    strayBytes.insert(strayBytes.end(), good.begin() + 14, good.end());
    struct Case {
        const char *name;
        Bytes bytes;
        std::vector<std::uint32_t> ticks; // of the events read
    };
    const std::vector<Case> cases = {
        {"zero tracks in the header", header(1, 0, 480), {}},
        {"track longer than the file", longChunk, {0, 10}},
        {"stray bytes before a track", strayBytes, {0, 10}},
        {"event cut by the end", withTrackBody({0x00, 0x90, 0x3C, 0x40, 0x00, 0x90, 0x3C}), {0}},
        {"delta of five bytes", withTrackBody({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 60, 100}), {270549121}},
        {"data byte with no running status", withTrackBody({0x00, 0x3C, 0x00, 0x90, 60, 100}), {60}},
        {"status byte among the data", withTrackBody({0x00, 0x90, 0x3C, 0x90, 0x05, 0x3C, 0x40}), {5}},
        {"meta longer than the track", withTrackBody({0x00, 0xC0, 0x05, 0x00, 0xFF, 0x01, 0x10, 'a'}), {0}},
        {"SysEx longer than the track", withTrackBody({0x00, 0xC0, 0x05, 0x00, 0xF0, 0x05, 0x7E, 0xF7}), {0}},
        {"system common status", withTrackBody({0x00, 0xF2, 0x01, 0x05, 0x03, 0x90, 60, 100}), {3}},
        {"tick past 2^31 - 1", [] {
             Bytes body;
             for (int i = 0; i < 9; ++i) // nine deltas of 2^28 - 1 ticks: the ninth is past
                 body.insert(body.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0xB0, 0x01, 0x00});
             return withTrackBody(body);
         }(),
         {268435455, 536870910, 805306365, 1073741820, 1342177275, 1610612730, 1879048185, 2147483640}},
    };
    for (const Case &c : cases) {
        auto t = readOk(c.bytes);
        ASSERT_TRUE(t) << c.name;
        std::vector<std::uint32_t> ticks;
        for (const TimelineEvent &e : t->events())
            ticks.push_back(e.tick);
        EXPECT_EQ(ticks, c.ticks) << c.name;
        EXPECT_EQ(t->facts().totalTick, ticks.empty() ? 0 : std::int32_t(ticks.back())) << c.name;
    }
}

TEST(SmfTimeline, MergesTracksInTickThenFileOrder)
{
    auto t = readOk(smf({TrackBuilder().tempo(0, 600000).cc(10, 0, 1, 1).cc(20, 0, 1, 3),
                         TrackBuilder().cc(10, 1, 1, 2).cc(10, 1, 1, 22).cc(30, 1, 1, 4),
                         TrackBuilder().cc(0, 2, 1, 0).cc(20, 2, 1, 33)}));
    std::vector<int> order;
    for (const TimelineEvent &e : t->events())
        if (e.kind == TimelineEvent::Channel)
            order.push_back(e.bytes[2]);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 22, 3, 33, 4}));
    EXPECT_EQ(t->facts().usedChannels, 0b111);
}

// Ticks that differ in every byte and collide across tracks: the merge must still order by
// tick, then track, then position in the track. Checked against a comparison sort.
TEST(SmfTimeline, MergesLargeAndCollidingTicksInOrder)
{
    std::mt19937 random(3);
    // At most 120 steps of at most 2^24: every tick stays below 2^31.
    const std::uint32_t steps[] = {0, 1, 256, 768, 65536, 65536 + 256, 16777216};
    struct Expected {
        std::uint32_t tick;
        int track;
        int index;
    };
    std::vector<Expected> expected;
    std::vector<TrackBuilder> tracks(6);
    for (int t = 0; t < 6; ++t) {
        std::uint32_t tick = 0;
        for (int i = 0; i < 120; ++i) {
            tick += steps[random() % std::size(steps)];
            // Channel and controller name the track, the value and controller the index.
            tracks[t].cc(tick, t, 16 + i / 128, i % 128);
            expected.push_back({tick, t, i});
        }
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const Expected &a, const Expected &b) { return a.tick < b.tick; });
    auto timeline = readOk(smf(tracks));
    ASSERT_TRUE(timeline);
    ASSERT_EQ(timeline->events().size(), expected.size());
    for (std::size_t n = 0; n < expected.size(); ++n) {
        const TimelineEvent &e = timeline->events()[n];
        const Expected &x = expected[n];
        ASSERT_EQ(e.tick, x.tick) << n;
        ASSERT_EQ(e.bytes[0] & 0x0F, x.track) << n;
        ASSERT_EQ((e.bytes[1] - 16) * 128 + e.bytes[2], x.index) << n;
    }
}

namespace {

// One controller event per (track, index): controller = track, channel and value = index, so
// the merged list can be compared with a comparison sort of what was written.
struct Written {
    std::uint32_t tick;
    int track;
    int index;
};

void expectMergedLikeStableSort(std::vector<Written> written, const Bytes &song)
{
    std::stable_sort(written.begin(), written.end(), [](const Written &a, const Written &b) {
        return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
    });
    auto timeline = readOk(song);
    ASSERT_TRUE(timeline);
    ASSERT_EQ(timeline->events().size(), written.size());
    for (std::size_t n = 0; n < written.size(); ++n) {
        const TimelineEvent &e = timeline->events()[n];
        const Written &x = written[n];
        ASSERT_EQ(e.tick, x.tick) << n;
        ASSERT_EQ(e.bytes[1], x.track) << n;
        ASSERT_EQ((e.bytes[0] & 0x0F) * 128 + e.bytes[2], x.index) << n;
    }
}

} // namespace

// Many tracks, some empty, with ticks on both sides of 4096-tick and 2^24 boundaries, far
// beyond 2^24 (28 bits), and many tracks sharing a tick.
TEST(SmfTimeline, MergesManyTracksAcrossWideTickRanges)
{
    std::mt19937 random(5);
    const std::uint32_t marks[] = {0, 1, 4095, 4096, 4097, 8191, 8192, 65535, 65536, (1u << 24) - 1,
                                   1u << 24, (1u << 24) + 4095, (1u << 24) + 4096, 1u << 27,
                                   0x0FFFFE00}; // deltas stay below 2^28, the largest a file can hold
    const int trackCount = 120;
    std::vector<TrackBuilder> tracks(trackCount);
    std::vector<Written> written;
    for (int t = 0; t < trackCount; ++t) {
        if (t % 7 == 3)
            continue; // an empty track: End of Track only
        std::vector<std::uint32_t> ticks;
        const int count = 1 + int(random() % 200);
        for (int i = 0; i < count; ++i) {
            const std::uint32_t mark = marks[random() % std::size(marks)];
            ticks.push_back(random() % 3 == 0 ? mark : mark + std::uint32_t(random() % 300));
        }
        std::sort(ticks.begin(), ticks.end());
        for (int i = 0; i < count; ++i) {
            tracks[t].cc(ticks[i], i / 128, t, i % 128);
            written.push_back({ticks[i], t, i});
        }
    }
    expectMergedLikeStableSort(written, smf(tracks));
}

TEST(SmfTimeline, MergesTracksWhoseEventsAreAllAtTickZero)
{
    std::vector<TrackBuilder> tracks(5);
    std::vector<Written> written;
    for (int t = 0; t < 5; ++t) {
        for (int i = 0; i < 300; ++i) {
            tracks[t].cc(0, i / 128, t, i % 128);
            written.push_back({0, t, i});
        }
    }
    expectMergedLikeStableSort(written, smf(tracks));
}

// Tracks that take turns within the same stretch of ticks, and one far denser than the rest.
TEST(SmfTimeline, MergesTracksTakingTurnsAndOneDenseTrack)
{
    std::vector<TrackBuilder> tracks(4);
    std::vector<Written> written;
    for (int t = 0; t < 3; ++t) {
        for (int i = 0; i < 50; ++i) {
            const std::uint32_t tick = std::uint32_t(t * 1000 + i * 10);
            tracks[t].cc(tick, 0, t, i);
            written.push_back({tick, t, i});
        }
    }
    for (int i = 0; i < 1500; ++i) {
        const std::uint32_t tick = std::uint32_t(i * 3);
        tracks[3].cc(tick, i / 128, 3, i % 128);
        written.push_back({tick, 3, i});
    }
    expectMergedLikeStableSort(written, smf(tracks));
}

// A list above 8 MB lives in storage of whole huge pages: every event is there, in order.
TEST(SmfTimeline, MergesASongOfMoreThanHalfAMillionEvents)
{
    constexpr int kTracks = 3, kPerTrack = 200000; // 600 000 events of 16 bytes
    std::vector<TrackBuilder> tracks(kTracks);
    for (int t = 0; t < kTracks; ++t)
        for (int i = 0; i < kPerTrack; ++i) // the index in channel, number and value: 18 bits
            tracks[t].cc(std::uint32_t(i * 2 + (t == 2)), i >> 14, (i >> 7) & 0x7F, i & 0x7F);
    auto timeline = readOk(smf(tracks));
    ASSERT_TRUE(timeline);
    const EventList &events = timeline->events();
    ASSERT_EQ(events.size(), std::size_t(kTracks * kPerTrack));
    for (std::size_t n = 0; n < events.size(); ++n) {
        // Ticks 2i: track 0's event i, then track 1's; tick 2i + 1: track 2's.
        const int i = int(n / 3), t = int(n % 3);
        const TimelineEvent &e = events[n];
        ASSERT_EQ(e.tick, std::uint32_t(i * 2 + (t == 2))) << n;
        ASSERT_EQ((e.bytes[0] & 0x0F) << 14 | e.bytes[1] << 7 | e.bytes[2], i) << n;
    }
}

// SysEx indices and the tempo map follow the merged order, not the order the tracks were read.
TEST(SmfTimeline, SysExIndicesAndTempoMapFollowTheMergedOrder)
{
    std::vector<TrackBuilder> tracks(3);
    tracks[0].tempo(5000, 400000).sysEx(9000, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).cc(9000, 0, 1, 0);
    tracks[1].sysEx(100, {0x41, 0xF7}).tempo(5000, 300000).tempo(20000, 250000);
    tracks[2].tempo(100, 600000).sysEx(9000, {0x43, 0xF7});
    auto t = readOk(smf(tracks));
    ASSERT_TRUE(t);
    std::vector<std::uint32_t> sysExTicks;
    std::vector<std::uint8_t> firstDataBytes;
    for (std::uint32_t index : t->sysExIndices()) {
        const TimelineEvent &e = t->events()[index];
        ASSERT_EQ(e.kind, TimelineEvent::SysEx);
        sysExTicks.push_back(e.tick);
        firstDataBytes.push_back(t->pool()[e.value + 1]);
    }
    EXPECT_EQ(sysExTicks, (std::vector<std::uint32_t>{100, 9000, 9000}));
    EXPECT_EQ(firstDataBytes, (std::vector<std::uint8_t>{0x41, 0x7E, 0x43}));
    // 100: 600000 (track 2), 5000: 300000 (track 1 replaces track 0's change), 20000: 250000.
    ASSERT_EQ(t->tempoMap().size(), 4u);
    EXPECT_EQ(t->tempoAtTick(99), 500000u);
    EXPECT_EQ(t->tempoAtTick(100), 600000u);
    EXPECT_EQ(t->tempoAtTick(5000), 300000u);
    EXPECT_EQ(t->tempoAtTick(20000), 250000u);
    EXPECT_EQ(t->timeOfTick(5000), 100ull * 500000 + 4900ull * 600000);
}

TEST(SmfTimeline, RunningStatusAcrossMetaAndUnknownChunksAreRead)
{
    // Note on, running-status note off (velocity 0), a text meta event, then running status again.
    Bytes body = {0x00, 0x90, 60, 100, 0x60, 60, 0, 0x00, 0xFF, 0x01, 0x01, 'x', 0x00, 62, 90, 0x60, 62, 0,
                  0x00, 0xFF, 0x2F, 0x00, 0x10, 0x90, 70, 100};
    Bytes file = header(0, 1, 96);
    file.insert(file.end(), {'X', 'Y', 'Z', 'W', 0, 0, 0, 2, 1, 2}); // a chunk nobody knows
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    putBe32(file, std::uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    auto t = readOk(file);
    ASSERT_EQ(t->events().size(), 4u); // the note after End of Track is not part of the song
    EXPECT_EQ(t->events()[2].bytes[0], 0x90);
    EXPECT_EQ(t->events()[2].bytes[1], 62);
    EXPECT_EQ(t->facts().totalTick, 192);
    EXPECT_EQ(t->facts().lastNoteTick, 192);
}

TEST(SmfTimeline, TempoMapMergesTracksAndConvertsExactly)
{
    // 480 ticks per quarter; 120 bpm, then 240 bpm from tick 960 (set in another track), and two
    // changes at one tick of which the later wins.
    auto t = readOk(smf({TrackBuilder().tempo(0, 500000).tempo(1920, 1000000).tempo(1920, 400000).end(2400),
                         TrackBuilder().tempo(960, 250000).note(0, 10, 0, 60)}));
    ASSERT_EQ(t->tempoMap().size(), 3u);
    EXPECT_EQ(t->tempoMap()[2].usPerQuarter, 400000u);
    EXPECT_EQ(t->millisecondsOfTick(480), 500);
    EXPECT_EQ(t->millisecondsOfTick(960), 1000);
    EXPECT_EQ(t->millisecondsOfTick(1440), 1250);
    EXPECT_EQ(t->millisecondsOfTick(1920), 1500);
    EXPECT_EQ(t->millisecondsOfTick(2400), 1900);
    EXPECT_EQ(t->tickOfTime(t->timeOfTick(1441)), 1441);
    EXPECT_EQ(t->tempoAtTick(1000), 250000u);
    EXPECT_EQ(t->information().TotalTime, 1900);
}

TEST(SmfTimeline, SongInformation)
{
    struct Case {
        const char *name;
        Bytes song;
        TBrs4SmfInformation expected;
    };
    const std::vector<Case> cases = {
        {"notes and a loop point",
         smf({TrackBuilder().tempo(0, 1000000).end(4000),
              TrackBuilder().noteOn(200, 0, 60, 0).note(480, 480, 0, 60).cc(1000, 1, 111, 0).note(1920, 960, 1, 64),
              TrackBuilder().cc(960, 2, 111, 0)}),
         {480, 4000, 8333, 480, 1000, 2880, 6000, 960, 2000}},
        {"no notes", smf({TrackBuilder().cc(100, 0, 7, 100).end(960)}), {480, 960, 1000, 0, 0, 0, 0, -1, -1}},
        {"a note never released", smf({TrackBuilder().noteOn(240, 0, 60)}), {480, 240, 250, 240, 250, 240, 250, -1, -1}},
        {"empty track", smf({TrackBuilder()}, 96), {96, 0, 0, 0, 0, 0, 0, -1, -1}},
    };
    for (const Case &c : cases) {
        auto t = readOk(c.song);
        ASSERT_TRUE(t) << c.name;
        const TBrs4SmfInformation i = t->information();
        const TBrs4SmfInformation &e = c.expected;
        EXPECT_EQ(std::vector<int>({i.TimeBase, i.TotalTick, i.TotalTime, i.FirstNoteTick, i.FirstNoteTime,
                                    i.LastNoteTick, i.LastNoteTime, i.LoopTick, i.LoopTime}),
                  std::vector<int>({e.TimeBase, e.TotalTick, e.TotalTime, e.FirstNoteTick, e.FirstNoteTime,
                                    e.LastNoteTick, e.LastNoteTime, e.LoopTick, e.LoopTime}))
            << c.name;
    }
}

TEST(SmfTimeline, KeepsSysExBytesAndLargestVolume)
{
    auto t = readOk(smf({TrackBuilder().sysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).cc(10, 3, 7, 90).cc(20, 4, 7, 110)}));
    ASSERT_EQ(t->sysExIndices().size(), 1u);
    const TimelineEvent &e = t->events()[t->sysExIndices()[0]];
    EXPECT_EQ(Bytes(t->pool() + e.value, t->pool() + e.value + e.length), (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(t->facts().largestVolume, 110);
}

TEST(SmfTimeline, ListsTheInstrumentsASongUsesInTheOrderItNeedsThem)
{
    auto t = readOk(smf({TrackBuilder().note(100, 10, 0, 60).cc(200, 0, 0, 8).program(300, 0, 4).program(400, 0, 4),
                         TrackBuilder().cc(0, 9, 32, 1).program(50, 9, 16).note(60, 10, 9, 36).cc(0, 1, 7, 90)}));
    std::vector<std::tuple<int, int, int, int, std::uint32_t>> uses;
    for (const ProgramUse &u : t->programUses())
        uses.emplace_back(u.channel, u.bankMsb, u.bankLsb, u.program, u.firstTick);
    const std::vector<std::tuple<int, int, int, int, std::uint32_t>> expected = {
        {9, 0, 1, 16, 50}, {0, 0, 0, 0, 100}, {0, 8, 0, 4, 300}};
    EXPECT_EQ(uses, expected) << "channel 1 plays no note and selects nothing";
}

// Once every channel has started, the reader folds only the stretches of the song that hold a
// tempo change, SysEx, bank select or program change: those far into the song are all found.
TEST(SmfTimeline, FindsLateTemposSysExAndInstrumentsAcrossQuietStretches)
{
    TrackBuilder notes, changes;
    for (std::uint32_t tick = 0; tick < 500000; tick += 1000)
        notes.note(tick, 500, 0, 60).note(tick, 500, 2, 64);
    changes.cc(100000, 0, 0, 5).program(200000, 0, 7).tempo(300000, 400000).sysEx(400000, {0x43, 0xF7});
    auto t = readOk(smf({notes, changes}));
    ASSERT_TRUE(t);
    std::vector<std::tuple<int, int, int, int, std::uint32_t>> uses;
    for (const ProgramUse &u : t->programUses())
        uses.emplace_back(u.channel, u.bankMsb, u.bankLsb, u.program, u.firstTick);
    const std::vector<std::tuple<int, int, int, int, std::uint32_t>> expected = {
        {0, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, {0, 5, 0, 7, 200000}};
    EXPECT_EQ(uses, expected);
    EXPECT_EQ(t->tempoAtTick(299999), 500000u);
    EXPECT_EQ(t->tempoAtTick(300000), 400000u);
    ASSERT_EQ(t->sysExIndices().size(), 1u);
    EXPECT_EQ(t->events()[t->sysExIndices()[0]].tick, 400000u);
}

// A reset in a later track at the tick where an earlier track set up its instrument goes before
// every other event of its tick; other SysEx, and everything else, keep file order.
TEST(SmfTimeline, ResetsGoBeforeTheOtherEventsOfTheirTick)
{
    struct Case {
        const char *name;
        Bytes body;
        bool reset;
    };
    const Case cases[] = {
        {"GM System On", {0x7E, 0x7F, 0x09, 0x01, 0xF7}, true},
        {"GM2 System On", {0x7E, 0x10, 0x09, 0x03, 0xF7}, true},
        {"GS Reset", {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, true},
        {"GS System Mode Set", {0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x01, 0x00, 0xF7}, true},
        {"XG System On", {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, true},
        {"GS rhythm part", {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x01, 0x10, 0xF7}, false},
        {"master volume", {0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7}, false},
        {"GS Reset cut short", {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0xF7}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TrackBuilder koto, strings;
        koto.program(0, 0, 107).note(0, 480, 0, 69).cc(0, 0, 7, 110);
        koto.sysEx(480, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}); // after its note-off
        strings.cc(0, 1, 7, 72).sysEx(0, c.body).cc(0, 1, 10, 80).noteOn(480, 1, 70);
        auto t = readOk(smf({koto, strings}));
        ASSERT_TRUE(t);
        std::vector<std::string> order, sysEx;
        const auto label = [&](const TimelineEvent &e) {
            char text[16];
            if (e.kind == TimelineEvent::SysEx)
                std::snprintf(text, sizeof text, "F0 %02X", t->pool()[e.value + 1]);
            else
                std::snprintf(text, sizeof text, "%02X %02X", e.bytes[0], e.bytes[1]);
            return std::string(text) + "@" + std::to_string(e.tick);
        };
        for (const TimelineEvent &e : t->events())
            order.push_back(label(e));
        for (std::uint32_t index : t->sysExIndices())
            sysEx.push_back(label(t->events()[index]));
        char own[16];
        std::snprintf(own, sizeof own, "F0 %02X@0", c.body[0]);
        std::vector<std::string> expected{"C0 6B@0", "90 45@0", "B0 07@0", "B1 07@0", "B1 0A@0",
                                          "F0 43@480", "80 45@480", "91 46@480"};
        expected.insert(c.reset ? expected.begin() : expected.begin() + 4, own);
        EXPECT_EQ(order, expected);
        EXPECT_EQ(sysEx, (std::vector<std::string>{own, "F0 43@480"}));
    }
}
