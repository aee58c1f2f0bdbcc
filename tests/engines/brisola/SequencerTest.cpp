#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>

#include "RecordingSink.h"
#include "Sequencer.h"
#include "SmfBuilder.h"

using namespace brisola;
using namespace brisola::test;

namespace {

constexpr std::uint32_t kRate = 44100;

// A sequencer on an offline clock: the test decides how many samples pass.
struct Rig {
    explicit Rig(const Bytes &song, std::uint32_t rate = kRate)
    {
        BrsError error;
        timeline = SmfTimeline::read(song.data(), song.size(), error);
        EXPECT_TRUE(timeline);
        sequencer = std::make_unique<Sequencer>(rate);
        sequencer->setTimeline(timeline);
        sequencer->setSink(&sink, rate);
    }
    void run(std::int64_t frames, std::int64_t block = 777)
    {
        while (frames > 0) {
            const std::int64_t n = std::min(block, frames);
            sequencer->advance(n);
            frames -= n;
        }
    }
    std::vector<RecordingSink::Entry> matching(std::uint8_t status, int data1 = -1) const
    {
        std::vector<RecordingSink::Entry> out;
        for (const auto &e : sink.entries())
            if (!e.bytes.empty() && e.bytes[0] == status && (data1 < 0 || (e.bytes.size() > 1 && e.bytes[1] == data1)))
                out.push_back(e);
        return out;
    }
    std::vector<std::int64_t> noteOnFrames(int channel = 0) const
    {
        std::vector<std::int64_t> frames;
        for (const auto &e : matching(std::uint8_t(0x90 | channel)))
            if (e.bytes[2] > 0)
                frames.push_back(e.frame);
        return frames;
    }

    std::shared_ptr<const SmfTimeline> timeline;
    RecordingSink sink;
    std::unique_ptr<Sequencer> sequencer;
};

// Replays what a device received and says which notes still sound (a note-off releases the key,
// all-notes-off or all-sound-off the channel). Sustain held also keeps notes sounding.
std::vector<std::string> hangingNotes(const std::vector<RecordingSink::Entry> &entries)
{
    std::map<std::pair<int, int>, bool> on;
    std::map<int, bool> pedal;
    for (const auto &e : entries) {
        if (e.bytes.size() < 3)
            continue;
        const int type = e.bytes[0] & 0xF0, ch = e.bytes[0] & 0x0F;
        if (type == 0x90 && e.bytes[2] > 0)
            on[{ch, e.bytes[1]}] = true;
        else if (type == 0x80 || type == 0x90)
            on[{ch, e.bytes[1]}] = false;
        else if (type == 0xB0 && (e.bytes[1] == 123 || e.bytes[1] == 120)) {
            for (auto &[key, sounding] : on)
                if (key.first == ch)
                    sounding = false;
        } else if (type == 0xB0 && e.bytes[1] == 64)
            pedal[ch] = e.bytes[2] >= 64;
    }
    std::vector<std::string> out;
    for (const auto &[key, sounding] : on)
        if (sounding)
            out.push_back("ch" + std::to_string(key.first) + " note " + std::to_string(key.second));
    for (const auto &[ch, held] : pedal)
        if (held)
            out.push_back("ch" + std::to_string(ch) + " sustain");
    return out;
}

// 480 ticks per quarter, 120 bpm, 240 bpm from tick 960.
Bytes tempoSong()
{
    return smf({TrackBuilder().tempo(0, 500000).tempo(960, 250000).end(2400),
                TrackBuilder().note(0, 100, 0, 60).note(480, 100, 0, 62).note(960, 100, 0, 64).note(1440, 100, 0, 65)
                    .note(1921, 100, 0, 67)});
}

} // namespace

TEST(Sequencer, SendsEachEventAtItsExactSampleAcrossTempoChanges)
{
    // ceil(time × 44100): 0 s, 0.5 s, 1 s, 1.25 s, 1.5005208 s (66172.97 samples).
    const std::vector<std::int64_t> expected = {0, 22050, 44100, 55125, 66173};
    for (std::int64_t block : {1, 64, 777, 4096, 1 << 20}) {
        Rig rig(tempoSong());
        rig.sequencer->play(0, 0);
        rig.sink.clear();
        rig.run(100000, block);
        EXPECT_EQ(rig.noteOnFrames(), expected) << "block " << block;
        EXPECT_EQ(rig.sequencer->state(), BRSSTATE_STOP);
    }
}

TEST(Sequencer, EventsAfterASeekKeepTheirDistanceToTheSeekPoint)
{
    Rig rig(tempoSong());
    rig.run(5000); // the clock has moved on before the play
    rig.sequencer->play(0, 1000);
    rig.sink.clear();
    rig.run(40000);
    // The notes at 1440 and 1921 keep their distance in samples to the seek point at tick 1000.
    const std::int64_t at = 5000;
    const std::int64_t seekFrame = 45019; // ceil(1.0208333 s × 44100)
    EXPECT_EQ(rig.noteOnFrames(), (std::vector<std::int64_t>{at + 55125 - seekFrame, at + 66173 - seekFrame}));
}

TEST(Sequencer, ChaseBringsEveryChannelToTheSeekPointWithoutOldNotes)
{
    Rig rig(smf({TrackBuilder()
                     .program(0, 0, 5)
                     .cc(0, 0, 7, 80)
                     .cc(0, 0, 101, 0)
                     .cc(0, 0, 100, 0)
                     .cc(0, 0, 6, 12)
                     .cc(0, 0, 101, 127)
                     .cc(0, 0, 100, 127)
                     .bend(100, 0, 9000)
                     .cc(200, 0, 1, 64)
                     .note(300, 600, 0, 60)
                     .raw(310, {0xD0, 55})
                     .program(700, 0, 9)
                     .note(960, 100, 0, 72),
                 TrackBuilder().program(0, 9, 16).note(100, 1000, 9, 36)}));
    rig.sequencer->play(0, 600);
    const auto chase = rig.sink.entries();
    auto sent = [&](Bytes bytes) {
        return std::any_of(chase.begin(), chase.end(), [&](const auto &e) { return e.bytes == bytes; });
    };
    EXPECT_TRUE(sent({0xC0, 5}));
    EXPECT_FALSE(sent({0xC0, 9}));
    EXPECT_TRUE(sent({0xB0, 7, 80}));
    EXPECT_TRUE(sent({0xB0, 1, 64}));
    EXPECT_TRUE(sent({0xE0, 9000 & 0x7F, 9000 >> 7}));
    EXPECT_TRUE(sent({0xD0, 55}));
    EXPECT_TRUE(sent({0xC9, 16}));
    EXPECT_TRUE(sent({0xB9, 7, 100})) << "a channel without volume gets the default";
    // The parameter value is rewritten, then the selection is left as the song left it.
    const Bytes rpn[] = {{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 6, 12}, {0xB0, 101, 127}, {0xB0, 100, 127}};
    auto first = std::find_if(chase.begin(), chase.end(), [&](const auto &e) { return e.bytes == rpn[0]; });
    ASSERT_NE(first, chase.end());
    for (const Bytes &b : rpn) {
        ASSERT_NE(first, chase.end());
        EXPECT_EQ(first->bytes, b);
        ++first;
    }
    // Reset-all-controllers comes before the state on each channel.
    EXPECT_EQ(chase.front().bytes, (Bytes{0xB0, 121, 0}));

    rig.run(44100);
    EXPECT_EQ(rig.noteOnFrames(0).size(), 1u) << "only the note at tick 960 sounds";
    EXPECT_TRUE(rig.noteOnFrames(9).empty());

    // Seeking back undoes what came later: the modulation set at 200 is not sent at 150.
    rig.sink.clear();
    rig.sequencer->play(0, 150);
    EXPECT_FALSE(std::any_of(rig.sink.entries().begin(), rig.sink.entries().end(),
                             [](const auto &e) { return e.bytes.size() == 3 && e.bytes[0] == 0xB0 && e.bytes[1] == 1; }));
    EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty());
}

TEST(Sequencer, LoopsFromTheLoopPointCountingAndLeavingNoNoteHanging)
{
    // A loop point at 480, a note hanging over the end, and the sustain pedal held at the end.
    Rig rig(smf({TrackBuilder()
                     .note(0, 240, 0, 60)
                     .cc(480, 0, 111, 0)
                     .note(480, 240, 0, 62)
                     .cc(1000, 0, 64, 127)
                     .noteOn(1800, 0, 64)
                     .end(1920)}));
    rig.sequencer->play(BRSPLAY_LOOP, 0);
    rig.run(88200 * 3);
    EXPECT_EQ(rig.sequencer->state(), BRSSTATE_PLAY);
    EXPECT_EQ(rig.sequencer->status().LoopCount, 3);
    // Loop span 1440 ticks = 66150 samples; the end at 88200.
    std::vector<std::int64_t> note62;
    for (const auto &e : rig.matching(0x90, 62))
        note62.push_back(e.frame);
    EXPECT_EQ(note62, (std::vector<std::int64_t>{22050, 88200, 154350, 220500}));
    EXPECT_EQ(rig.matching(0x90, 60).size(), 1u);
    // At each pass the hanging note and the pedal are released before the loop point plays.
    for (std::int64_t loopFrame : {88200, 154350, 220500}) {
        std::vector<RecordingSink::Entry> upTo;
        for (const auto &e : rig.sink.entries())
            if (e.frame < loopFrame || (e.frame == loopFrame && !(e.bytes[0] == 0x90 && e.bytes[1] == 62)))
                upTo.push_back(e);
        EXPECT_TRUE(hangingNotes(upTo).empty()) << "at " << loopFrame;
    }
    rig.sequencer->stop();
    EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty());
}

TEST(Sequencer, EndOfSongWithAndWithoutLoop)
{
    struct Case {
        const char *name;
        Bytes song;
        std::int32_t option;
        TBrsPlayerState state;
        std::int32_t loopCount;
    };
    const std::vector<Case> cases = {
        {"no loop bit stops at the end", smf({TrackBuilder().cc(480, 0, 111, 0).note(0, 960, 0, 60).end(1920)}), 0,
         BRSSTATE_STOP, 0},
        {"loop without loop point restarts at 0", smf({TrackBuilder().note(0, 960, 0, 60).end(1920)}), BRSPLAY_LOOP,
         BRSSTATE_PLAY, 1},
        {"a loop point at the very end cannot loop", smf({TrackBuilder().note(0, 960, 0, 60).cc(1920, 0, 111, 0)}),
         BRSPLAY_LOOP, BRSSTATE_STOP, 0},
        {"a song of no length cannot loop", smf({TrackBuilder()}), BRSPLAY_LOOP, BRSSTATE_STOP, 0},
        {"a loop of 5 ms cannot loop", smf({TrackBuilder().note(0, 960, 0, 60).cc(1915, 0, 111, 0).end(1920)}),
         BRSPLAY_LOOP, BRSSTATE_STOP, 0},
    };
    for (const Case &c : cases) {
        Rig rig(c.song);
        rig.sequencer->play(c.option, 0);
        rig.run(88200 + 4410, 4096);
        const TBrs4PlayerStatus s = rig.sequencer->status();
        EXPECT_EQ(s.State, c.state) << c.name;
        EXPECT_EQ(s.LoopCount, c.loopCount) << c.name;
        if (c.state == BRSSTATE_STOP) {
            EXPECT_EQ(s.Tick, rig.timeline->facts().totalTick) << c.name;
            EXPECT_EQ(s.Time, rig.timeline->information().TotalTime) << c.name;
        } else {
            EXPECT_EQ(s.Tick, 96) << c.name; // 4410 samples = 0.1 s into the second pass
        }
        EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty() || c.state == BRSSTATE_PLAY) << c.name;
    }
}

TEST(Sequencer, StartTickOutsideTheSong)
{
    const Bytes song = smf({TrackBuilder().cc(480, 0, 111, 0).note(0, 960, 0, 60).noteOn(1900, 0, 70).end(1920)});
    {
        Rig rig(song);
        rig.sequencer->play(0, 5000); // past the end: reaching the end at once
        EXPECT_EQ(rig.sequencer->state(), BRSSTATE_STOP);
        EXPECT_EQ(rig.sequencer->status().Tick, 1920);
        EXPECT_TRUE(rig.noteOnFrames().empty());
    }
    {
        Rig rig(song);
        rig.sequencer->play(BRSPLAY_LOOP, 1920);
        EXPECT_EQ(rig.sequencer->state(), BRSSTATE_PLAY);
        EXPECT_EQ(rig.sequencer->status().Tick, 480);
        EXPECT_EQ(rig.sequencer->status().LoopCount, 1);
    }
    {
        Rig rig(song);
        rig.sequencer->play(0, -300);
        EXPECT_EQ(rig.sequencer->status().Tick, 0);
        rig.run(1);
        EXPECT_EQ(rig.noteOnFrames(), (std::vector<std::int64_t>{0}));
    }
}

TEST(Sequencer, SkipBlankStartsAtTheFirstNoteOnlyFromTheBeginning)
{
    const Bytes song = smf({TrackBuilder().program(0, 0, 7).cc(100, 0, 10, 20).note(960, 100, 0, 60).end(1920)});
    Rig rig(song);
    rig.sequencer->play(BRSPLAY_SKIPBLANK, 0);
    EXPECT_EQ(rig.sequencer->status().Tick, 960);
    EXPECT_EQ(rig.sequencer->status().Time, 1000);
    rig.run(10);
    EXPECT_EQ(rig.noteOnFrames(), (std::vector<std::int64_t>{0}));
    EXPECT_FALSE(rig.matching(0xB0, 10).empty()) << "the silence skipped is still chased";
    EXPECT_FALSE(rig.matching(0xC0).empty());

    rig.sequencer->play(BRSPLAY_SKIPBLANK, 100);
    EXPECT_EQ(rig.sequencer->status().Tick, 100);
}

TEST(Sequencer, SysExOnlyWithItsOptionBitInPlayAndChase)
{
    const Bytes song = smf({TrackBuilder()
                                .sysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                .note(0, 100, 0, 60)
                                .sysEx(960, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7})
                                .end(1920)});
    for (std::int32_t option : {0, std::int32_t(BRSPLAY_SYSEX)}) {
        for (std::int32_t start : {0, 480}) {
            Rig rig(song);
            rig.sequencer->play(option, start);
            rig.run(100000);
            const auto sysEx = rig.matching(0xF0);
            const std::size_t expected = option ? 2 : 0;
            ASSERT_EQ(sysEx.size(), expected) << "option " << option << " start " << start;
            if (option) {
                EXPECT_EQ(sysEx[0].bytes, (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
                EXPECT_EQ(sysEx[1].frame, 44100 - (start ? 22050 : 0));
            }
        }
    }
}

TEST(Sequencer, NormaliseScalesVolumesSoTheLargestBecomes127)
{
    const Bytes song = smf({TrackBuilder().cc(0, 0, 7, 100).cc(0, 1, 7, 50).cc(480, 0, 7, 1).note(0, 960, 0, 60)});
    struct Case {
        std::int32_t option;
        std::int32_t start;
        std::vector<int> volumes; // channel 0 and 1 in the order sent
    };
    // A start at 0 first sends the default volume 100, which is the device's and stays as it is.
    for (const Case &c : std::vector<Case>{{0, 0, {100, 100, 100, 50, 1}},
                                           {BRSPLAY_NORMALIZE, 0, {100, 100, 127, 64, 1}},
                                           {BRSPLAY_NORMALIZE, 600, {1, 64}}}) {
        Rig rig(song);
        rig.sequencer->play(c.option, c.start);
        rig.run(50000);
        std::vector<int> volumes;
        for (const auto &e : rig.sink.entries())
            if (e.bytes.size() == 3 && (e.bytes[0] & 0xF0) == 0xB0 && e.bytes[1] == 7)
                volumes.push_back(e.bytes[2]);
        EXPECT_EQ(volumes, c.volumes) << "option " << c.option << " start " << c.start;
    }
}

TEST(Sequencer, TransportFromEveryState)
{
    const Bytes song = smf({TrackBuilder().note(0, 1920, 0, 60).cc(10, 0, 64, 127).note(480, 2000, 1, 64).end(3840)});
    enum Command { Play, Pause, Stop };
    struct Case {
        TBrsPlayerState from;
        Command command;
        TBrsPlayerState to;
    };
    const std::vector<Case> cases = {
        {BRSSTATE_STOP, Play, BRSSTATE_PLAY},   {BRSSTATE_STOP, Pause, BRSSTATE_STOP},
        {BRSSTATE_STOP, Stop, BRSSTATE_STOP},   {BRSSTATE_PLAY, Play, BRSSTATE_PLAY},
        {BRSSTATE_PLAY, Pause, BRSSTATE_PAUSE}, {BRSSTATE_PLAY, Stop, BRSSTATE_STOP},
        {BRSSTATE_PAUSE, Play, BRSSTATE_PLAY},  {BRSSTATE_PAUSE, Pause, BRSSTATE_PAUSE},
        {BRSSTATE_PAUSE, Stop, BRSSTATE_STOP},
    };
    for (const Case &c : cases) {
        Rig rig(song);
        if (c.from != BRSSTATE_STOP) {
            rig.sequencer->play(0, 0);
            rig.run(30000); // both notes sounding, pedal down
        }
        if (c.from == BRSSTATE_PAUSE)
            rig.sequencer->pause();
        ASSERT_EQ(rig.sequencer->state(), c.from);
        const TBrs4PlayerStatus before = rig.sequencer->status();
        switch (c.command) {
        case Play:
            rig.sequencer->play(0, before.Tick);
            break;
        case Pause:
            rig.sequencer->pause();
            break;
        case Stop:
            rig.sequencer->stop();
            break;
        }
        const std::string name = std::to_string(c.from) + " command " + std::to_string(c.command);
        EXPECT_EQ(rig.sequencer->state(), c.to) << name;
        EXPECT_EQ(rig.sequencer->status().Tick, before.Tick) << name;
        if (c.to != BRSSTATE_PLAY) {
            EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty()) << name;
            EXPECT_EQ(rig.sequencer->soundingNotes(), 0) << name;
            // Time does not move while paused or stopped.
            rig.run(10000);
            EXPECT_EQ(rig.sequencer->status().Tick, before.Tick) << name;
        }
    }
}

TEST(Sequencer, StatusFollowsPositionAndTempo)
{
    Rig rig(tempoSong());
    rig.sequencer->play(0, 0);
    struct Point {
        std::int64_t frames;
        std::int32_t tick, time, tempo;
    };
    // At 0.25 s steps: 120 bpm gives 240 ticks per 0.25 s, 240 bpm 480.
    for (const Point &p : std::vector<Point>{{11025, 240, 250, 500000},
                                             {33075, 960, 1000, 250000},
                                             {22050, 1920, 1500, 250000},
                                             {22050, 2400, 1750, 250000}}) {
        rig.run(p.frames);
        const TBrs4PlayerStatus s = rig.sequencer->status();
        EXPECT_EQ(s.Tick, p.tick);
        EXPECT_EQ(s.Time, p.time);
        EXPECT_EQ(s.Tempo, p.tempo);
    }
    EXPECT_EQ(rig.sequencer->state(), BRSSTATE_STOP);
    // Paused at a seek point, the tick reads back exactly (no rounding drift on resume).
    for (std::int32_t tick : {1, 479, 961, 2399}) {
        rig.sequencer->play(0, tick);
        rig.sequencer->pause();
        EXPECT_EQ(rig.sequencer->status().Tick, tick);
    }
}

TEST(Sequencer, ChangingTheSinkSilencesTheOldOneAndChasesTheNewOne)
{
    Rig rig(smf({TrackBuilder().program(0, 0, 30).note(0, 1920, 0, 60).note(960, 960, 0, 67).end(1920)}));
    rig.sequencer->play(0, 0);
    rig.run(22050);
    RecordingSink second;
    rig.sequencer->setSink(&second, 1000000); // a real-time clock counts microseconds
    EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty());
    EXPECT_EQ(second.entries().front().bytes, (Bytes{0xB0, 121, 0}));
    EXPECT_EQ(rig.sequencer->status().Tick, 480);
    rig.sequencer->advance(500001); // half a second later the note at 960 comes
    std::vector<std::int64_t> on;
    for (const auto &e : second.entries())
        if (e.bytes[0] == 0x90)
            on.push_back(e.frame);
    EXPECT_EQ(on, (std::vector<std::int64_t>{500000}));
    EXPECT_TRUE(std::any_of(second.entries().begin(), second.entries().end(),
                            [](const auto &e) { return e.bytes == Bytes{0xC0, 30}; }));
}

TEST(Sequencer, TempoRatioPlaysEachEventAtItsExactSampleAndReportsSongPosition)
{
    // tempoSong()'s note-ons at 0, 0.5, 1, 1.25 and 1.50052 s (ticks 0 … 1921), its end at 1.75 s;
    // at p % each sounds at ceil(time × 44100 × 100 / p).
    const std::int32_t ticks[] = {0, 480, 960, 1440, 1921}, times[] = {0, 500, 1000, 1250, 1500};
    const struct {
        int percent;
        std::vector<std::int64_t> frames;
        std::int64_t end;
    } cases[] = {{50, {0, 44100, 88200, 110250, 132346}, 154350},
                 {100, {0, 22050, 44100, 55125, 66173}, 77175},
                 {137, {0, 16095, 32190, 40238, 48302}, 56333},
                 {200, {0, 11025, 22050, 27563, 33087}, 38588}};
    for (const auto &c : cases) {
        Rig rig(tempoSong());
        rig.sequencer->setTempoRatio(c.percent);
        rig.sequencer->play(0, 0);
        EXPECT_EQ(rig.sequencer->status().Tempo, 500000 * 100 / c.percent) << "the tempo as played";
        rig.sink.clear();
        std::int64_t at = 0;
        for (std::size_t i = 0; i < c.frames.size(); ++i) {
            rig.run(c.frames[i] - at);
            at = c.frames[i];
            // The status is the song's: at the frame a note sounds, its own tick and time.
            EXPECT_EQ(rig.sequencer->status().Tick, ticks[i]) << c.percent << " % note " << i;
            EXPECT_EQ(rig.sequencer->status().Time, times[i]) << c.percent << " % note " << i;
        }
        rig.run(c.end - 1 - at);
        EXPECT_EQ(rig.sequencer->state(), BRSSTATE_PLAY) << c.percent;
        rig.run(1);
        EXPECT_EQ(rig.sequencer->state(), BRSSTATE_STOP) << c.percent;
        EXPECT_EQ(rig.noteOnFrames(), c.frames) << c.percent;
    }
}

TEST(Sequencer, TempoRatioChangedMidSongRescalesWhatIsStillToCome)
{
    Rig rig(tempoSong());
    rig.sequencer->play(0, 0);
    rig.sink.clear();
    const auto changeAt = [&](std::int64_t clock, int percent) {
        rig.run(clock - rig.sequencer->clock());
        const TBrs4PlayerStatus before = rig.sequencer->status();
        rig.sequencer->setTempoRatio(percent);
        const TBrs4PlayerStatus after = rig.sequencer->status();
        EXPECT_EQ(after.Tick, before.Tick) << "no jump at " << clock;
        EXPECT_EQ(after.Time, before.Time) << "no jump at " << clock;
    };
    // At 30000 (song frame 30000) to 50 %: 1 s (song frame 44100) is 14100 × 2 frames away. At
    // 60000 (song frame 45000) to 137 %: the rest shrinks by 100/137 from there.
    changeAt(30000, 50);
    changeAt(60000, 137);
    rig.run(83485 - 60000);
    EXPECT_EQ(rig.sequencer->state(), BRSSTATE_PLAY);
    rig.run(1);
    EXPECT_EQ(rig.sequencer->state(), BRSSTATE_STOP);
    EXPECT_EQ(rig.noteOnFrames(), (std::vector<std::int64_t>{0, 22050, 58200, 67391, 75455}));

    // Many changes at random moments: every event exactly once and in order, the position never
    // going back.
    TrackBuilder track;
    for (int i = 0; i < 300; ++i)
        track.note(std::uint32_t(i * 7), 5, i % 16, 20 + i % 90);
    Rig busy(smf({track.tempo(0, 400000).tempo(1000, 700000)}));
    busy.sequencer->play(0, 0);
    std::mt19937 random(17);
    std::int32_t lastTick = 0;
    while (busy.sequencer->state() == BRSSTATE_PLAY) {
        busy.run(std::uniform_int_distribution<std::int64_t>(1, 3000)(random), 64);
        busy.sequencer->setTempoRatio(std::uniform_int_distribution<int>(50, 200)(random));
        ASSERT_GE(busy.sequencer->status().Tick, lastTick);
        lastTick = busy.sequencer->status().Tick;
    }
    std::vector<int> played;
    std::int64_t lastFrame = 0;
    for (const auto &e : busy.sink.entries())
        if ((e.bytes[0] & 0xF0) == 0x90 && e.bytes[2] > 0) {
            EXPECT_GE(e.frame, lastFrame);
            lastFrame = e.frame;
            played.push_back((e.bytes[0] & 0x0F) * 1000 + e.bytes[1]);
        }
    ASSERT_EQ(played.size(), 300u);
    for (int i = 0; i < 300; ++i)
        EXPECT_EQ(played[std::size_t(i)], (i % 16) * 1000 + 20 + i % 90) << i;
}

namespace {

// Note messages as "on 0:62" / "off 9:36" (channel 0-based), other messages left out.
std::vector<std::string> noteMessages(const std::vector<RecordingSink::Entry> &entries)
{
    std::vector<std::string> out;
    for (const auto &e : entries) {
        const int type = e.bytes[0] & 0xF0;
        if (type != 0x80 && type != 0x90)
            continue;
        out.push_back(std::string(type == 0x90 && e.bytes[2] > 0 ? "on " : "off ") + std::to_string(e.bytes[0] & 0x0F)
                      + ":" + std::to_string(e.bytes[1]));
    }
    return out;
}

} // namespace

TEST(Sequencer, KeyChangeWhileNotesSoundStrikesThemAgainAtTheNewKey)
{
    // 120 bpm, 480 ticks = 22050 frames. Melody held across both changes, a drum held too.
    Rig rig(smf({TrackBuilder().note(0, 960, 0, 60, 90).note(480, 960, 0, 64, 70).raw(600, {0xA0, 64, 50}).end(1920),
                 TrackBuilder().note(0, 1200, 9, 36)}));
    rig.sequencer->play(0, 0);
    rig.run(11025); // tick 240
    rig.sequencer->setKeyShift(2);
    rig.run(11025 + 5000); // past the second note (tick 480)
    rig.sequencer->setKeyShift(-12);
    rig.run(100000);
    EXPECT_EQ(noteMessages(rig.sink.entries()),
              (std::vector<std::string>{"on 0:60", "on 9:36", "off 0:60", "on 0:62", "on 0:66", "off 0:62", "off 0:66",
                                        "on 0:48", "on 0:52", "off 0:48", "off 9:36", "off 0:52"}))
        << "every held melodic note ends and sounds on at the new key; the drum is left alone";
    // Struck again with the velocity each was struck with.
    EXPECT_EQ(rig.matching(0x90, 62).at(0).bytes[2], 90);
    EXPECT_EQ(rig.matching(0x90, 48).at(0).bytes[2], 90);
    EXPECT_EQ(rig.matching(0x90, 52).at(0).bytes[2], 70);
    const auto pressure = rig.matching(0xA0);
    ASSERT_EQ(pressure.size(), 1u);
    EXPECT_EQ(pressure[0].bytes[1], 52) << "pressure follows the note to its new key";

    // The shift stays for the next song and at a seek; pressure follows the struck key.
    rig.sequencer->setTimeline(rig.timeline);
    rig.sink.clear();
    rig.sequencer->play(0, 470);
    rig.run(50000);
    EXPECT_EQ(noteMessages(rig.sink.entries()), (std::vector<std::string>{"on 0:52", "off 0:52"}));
    ASSERT_EQ(rig.matching(0xA0).size(), 1u);
    EXPECT_EQ(rig.matching(0xA0)[0].bytes[1], 52);
}

TEST(Sequencer, AHeldNoteAKeyChangePushesOutOfRangeComesBackWhenTheKeyReturns)
{
    Rig rig(smf({TrackBuilder().note(0, 1440, 0, 120).end(1920)}));
    rig.sequencer->play(0, 0);
    rig.run(11025);
    rig.sequencer->setKeyShift(12); // 132: no such key
    rig.run(11025);
    rig.sequencer->setKeyShift(-1);
    rig.run(100000);
    EXPECT_EQ(noteMessages(rig.sink.entries()), (std::vector<std::string>{"on 0:120", "off 0:120", "on 0:119", "off 0:119"}));
}

TEST(Sequencer, KeyChangesSeeksAndLoopsNeverLeaveANoteHanging)
{
    // Overlapping melody and drums up to tick 1700, silence until the end at 1920, loop at 480.
    TrackBuilder melody, drums;
    const int keys[] = {60, 64, 67, 72, 55};
    for (int i = 0; i < 24; ++i) {
        melody.note(std::uint32_t(i * 60), std::uint32_t(80 + (i % 5) * 70), 0, keys[i % 5]);
        melody.note(std::uint32_t(i * 60 + 30), 100, 1, keys[(i + 2) % 5] - 12);
        drums.note(std::uint32_t(i * 60), 30, 9, 36 + i % 3);
    }
    melody.cc(0, 0, 64, 0).cc(480, 0, 111, 0).end(1920);
    Rig rig(smf({melody, drums}));
    rig.sequencer->play(BRSPLAY_LOOP, 0);
    std::mt19937 random(5);
    int shift = 0, loops = 0;
    std::map<std::pair<int, int>, int> sounding;
    std::size_t replayed = 0;
    const auto replay = [&] {
        const auto &entries = rig.sink.entries();
        for (; replayed < entries.size(); ++replayed) {
            const auto &b = entries[replayed].bytes;
            const int type = b[0] & 0xF0, ch = b[0] & 0x0F;
            if (type == 0x90 && b[2] > 0) {
                ++sounding[{ch, b[1]}];
                if (ch < 9) {
                    const int songKey = b[1] - shift + (ch == 1 ? 12 : 0);
                    EXPECT_TRUE(std::find(std::begin(keys), std::end(keys), songKey) != std::end(keys))
                        << "ch" << ch << " key " << int(b[1]) << " at shift " << shift;
                } else {
                    EXPECT_TRUE(b[1] >= 36 && b[1] <= 38) << "drums keep their keys";
                }
            } else if (type == 0x80 || type == 0x90) {
                EXPECT_GT(sounding[std::make_pair(ch, int(b[1]))], 0) << "a note-off for a key not struck: ch" << ch << " " << int(b[1]);
                --sounding[std::make_pair(ch, int(b[1]))];
            } else if (type == 0xB0 && b[1] == 123) {
                for (auto &[key, count] : sounding)
                    if (key.first == ch)
                        count = 0;
            }
        }
    };
    const auto melodicSounding = [&] {
        int n = 0;
        for (const auto &[key, count] : sounding)
            n += key.first < 9 ? count : 0;
        return n;
    };
    for (int step = 0; step < 600; ++step) {
        const int action = std::uniform_int_distribution<int>(0, 9)(random);
        if (action < 6) {
            rig.run(std::uniform_int_distribution<std::int64_t>(1, 6000)(random), 64);
            replay();
            const std::int32_t tick = rig.sequencer->status().Tick;
            if (tick >= 1700 && tick < 1920) {
                ASSERT_EQ(melodicSounding(), 0) << "in the song's rest at tick " << tick << ", step " << step;
            }
        } else if (action < 9) {
            const int before = melodicSounding();
            shift = std::uniform_int_distribution<int>(-12, 12)(random);
            rig.sequencer->setKeyShift(shift);
            replay();
            ASSERT_EQ(melodicSounding(), before) << "a held note lost at the change to " << shift << ", step " << step;
        } else {
            loops += rig.sequencer->status().LoopCount;
            rig.sequencer->play(BRSPLAY_LOOP, std::uniform_int_distribution<std::int32_t>(0, 1919)(random));
            replay();
        }
    }
    EXPECT_GE(loops + rig.sequencer->status().LoopCount, 5);
    rig.sequencer->stop();
    replay();
    for (const auto &[key, count] : sounding)
        EXPECT_EQ(count, 0) << "ch" << key.first << " note " << key.second;
}

TEST(Sequencer, DrumPartsAndKeysOutsideTheRangeAreNotShifted)
{
    // GS "use for rhythm part" for block 2 (channel 2 → index 1) and its checksum; XG part mode
    // for part 2; a GS reset.
    const auto gsRhythm = [](TrackBuilder &t, std::uint32_t tick, int value) {
        const std::uint8_t sum = std::uint8_t((128 - ((0x40 + 0x12 + 0x15 + value) & 0x7F)) & 0x7F);
        t.sysEx(tick, {0x41, 0x10, 0x42, 0x12, 0x40, 0x12, 0x15, std::uint8_t(value), sum, 0xF7});
    };
    struct Case {
        const char *name;
        TrackBuilder track;
        std::int32_t option, start;
        int channel, key, shift;
        int expected; // the key sent, -1 for nothing at all
    };
    TrackBuilder gs, gsOff, xg, reset;
    gsRhythm(gs, 0, 2);
    gsRhythm(gsOff, 0, 1);
    gsRhythm(gsOff, 100, 0);
    xg.sysEx(0, {0x43, 0x10, 0x4C, 0x08, 0x02, 0x07, 0x01, 0xF7});
    reset.cc(0, 4, 0, 120).program(0, 4, 0).sysEx(100, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    const std::vector<Case> cases = {
        {"channel 10", TrackBuilder(), 0, 0, 9, 60, 5, 60},
        {"a melodic channel", TrackBuilder(), 0, 0, 0, 60, 5, 65},
        {"GS rhythm part", gs, BRSPLAY_SYSEX, 0, 1, 60, 5, 60},
        {"GS rhythm part chased", gs, BRSPLAY_SYSEX, 300, 1, 60, 5, 60},
        {"GS rhythm part not sent", gs, 0, 0, 1, 60, 5, 65},
        {"GS rhythm part switched off again", gsOff, BRSPLAY_SYSEX, 0, 1, 60, 5, 65},
        {"XG part mode drum", xg, BRSPLAY_SYSEX, 0, 2, 60, -7, 60},
        {"XG drum bank and program", TrackBuilder().cc(0, 3, 0, 127).program(0, 3, 0), 0, 0, 3, 60, 5, 60},
        {"XG drum bank chased", TrackBuilder().cc(0, 3, 0, 127).program(0, 3, 0), 0, 300, 3, 60, 5, 60},
        {"a bank select waits for its program change", TrackBuilder().cc(0, 3, 0, 127), 0, 0, 3, 60, 5, 65},
        {"GM2 rhythm bank undone by a GS reset", reset, BRSPLAY_SYSEX, 0, 4, 60, 5, 65},
        {"pushed above 127", TrackBuilder(), 0, 0, 0, 120, 12, -1},
        {"pushed below 0", TrackBuilder(), 0, 0, 0, 5, -12, -1},
        {"127 exactly", TrackBuilder(), 0, 0, 0, 115, 12, 127},
    };
    for (Case c : cases) {
        c.track.note(480, 240, c.channel, c.key).end(960);
        Rig rig(smf({c.track}));
        rig.sequencer->setKeyShift(c.shift);
        rig.sequencer->play(c.option, c.start);
        rig.run(60000);
        const std::vector<std::string> expected =
            c.expected < 0 ? std::vector<std::string>{}
                           : std::vector<std::string>{"on " + std::to_string(c.channel) + ":" + std::to_string(c.expected),
                                                      "off " + std::to_string(c.channel) + ":" + std::to_string(c.expected)};
        EXPECT_EQ(noteMessages(rig.sink.entries()), expected) << c.name;
    }
}

namespace {

// Melody on channel 0 (program 40, then 73 from tick 960, volume 90), a chord on channel 1 and
// drums, 120 bpm: 480 ticks = 22050 frames; ends at tick 1920.
Bytes mixerSong()
{
    TrackBuilder melody, chord, drums;
    melody.program(0, 0, 40).cc(0, 0, 7, 90).program(960, 0, 73).end(1920);
    for (int i = 0; i < 8; ++i)
        melody.note(std::uint32_t(i * 240), 200, 0, 60 + i);
    chord.note(0, 900, 1, 48).note(0, 900, 1, 52).note(960, 900, 1, 55);
    for (int i = 0; i < 16; ++i)
        drums.note(std::uint32_t(i * 120), 30, 9, 36 + i % 2);
    return smf({melody, chord, drums});
}

std::vector<std::string> onChannel(const std::vector<RecordingSink::Entry> &entries, int channel, bool keep)
{
    std::vector<std::string> out;
    for (const auto &e : entries)
        if (e.bytes[0] < 0xF0 && ((e.bytes[0] & 0x0F) == channel) == keep) {
            std::string line = std::to_string(e.frame);
            for (std::uint8_t b : e.bytes)
                line += " " + std::to_string(b);
            out.push_back(line);
        }
    return out;
}

} // namespace

TEST(Sequencer, MutedOrNotSoloedChannelsSendNoNotesAndTheOthersAreUntouched)
{
    Rig plain(mixerSong());
    plain.sequencer->play(0, 0);
    plain.run(200000);
    const struct {
        const char *name;
        std::function<void(Sequencer &)> set;
        std::vector<int> silent, heard;
    } cases[] = {
        {"mute 1", [](Sequencer &s) { s.setChannelMute(0, true); }, {0}, {1, 9}},
        {"solo 2 and 10", [](Sequencer &s) { s.setChannelSolo(1, true); s.setChannelSolo(9, true); }, {0}, {1, 9}},
        {"solo 2, mute 2", [](Sequencer &s) { s.setChannelSolo(1, true); s.setChannelMute(1, true); }, {0, 1, 9}, {}},
    };
    for (const auto &c : cases) {
        Rig rig(mixerSong());
        c.set(*rig.sequencer);
        rig.sequencer->play(0, 0);
        rig.run(200000);
        for (int ch : c.heard)
            EXPECT_EQ(onChannel(rig.sink.entries(), ch, true), onChannel(plain.sink.entries(), ch, true)) << c.name;
        for (int ch : c.silent) {
            const std::string on = "on " + std::to_string(ch) + ":", off = "off " + std::to_string(ch) + ":";
            for (const std::string &n : noteMessages(rig.sink.entries()))
                EXPECT_TRUE(n.rfind(on, 0) != 0 && n.rfind(off, 0) != 0) << c.name << ": " << n;
            EXPECT_EQ(rig.matching(std::uint8_t(0xC0 | ch)).size(), plain.matching(std::uint8_t(0xC0 | ch)).size())
                << "its programs still go out: " << c.name;
        }
    }
}

TEST(Sequencer, ChannelUnmutedMidSongStrikesHeldNotesAndPlaysOnWithTheChasedProgram)
{
    Rig rig(mixerSong());
    rig.sequencer->setChannelMute(0, true);
    rig.sequencer->setChannelMute(9, true);
    rig.sequencer->play(0, 1000); // chased past the change to program 73
    rig.run(22050 / 480 * 250);    // tick ~1250: ch 0's note at 1200 is held, a drum too
    const std::size_t before = rig.sink.entries().size();
    EXPECT_TRUE(noteMessages(rig.sink.entries()).empty() || noteMessages(rig.sink.entries()).front().find("on 1:") == 0);
    rig.sequencer->setChannelMute(0, false);
    rig.sequencer->setChannelMute(9, false);
    const std::vector<RecordingSink::Entry> atUnmute(rig.sink.entries().begin() + std::ptrdiff_t(before), rig.sink.entries().end());
    EXPECT_EQ(noteMessages(atUnmute), (std::vector<std::string>{"on 0:65"})) << "the held melody note, not the drum";
    rig.run(200000);
    const auto programs = rig.matching(0xC0);
    ASSERT_FALSE(programs.empty());
    EXPECT_EQ(programs.back().bytes[1], 73);
    const auto ons = rig.noteOnFrames(0);
    ASSERT_EQ(ons.size(), 3u) << "the held note, then the notes at ticks 1440 and 1680";
    EXPECT_NEAR(double(ons[1]), (1440 - 1000) * 22050.0 / 480, 1.0) << "the note at tick 1440 on time";
    EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty());

    // Muting while notes sound ends them at once; their note-offs are not sent again.
    Rig cut(mixerSong());
    cut.sequencer->play(0, 0);
    cut.run(1000);
    cut.sequencer->setChannelSolo(0, true);
    EXPECT_EQ(noteMessages(cut.sink.entries()),
              (std::vector<std::string>{"on 0:60", "on 1:48", "on 1:52", "on 9:36", "off 1:48", "off 1:52", "off 9:36"}));
    cut.run(300000);
    EXPECT_TRUE(hangingNotes(cut.sink.entries()).empty());
    cut.sequencer->setChannelSolo(0, false);
}

TEST(Sequencer, ChannelLevelScalesEveryVolumeSentAndAppliesAtOnce)
{
    Rig rig(smf({TrackBuilder().cc(0, 0, 7, 90).note(0, 100, 0, 60).sysEx(480, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
                     .note(480, 100, 1, 60).end(1920)}));
    rig.sequencer->setChannelLevel(0, 50);
    rig.sequencer->setChannelLevel(1, 0);
    rig.sequencer->play(BRSPLAY_SYSEX, 0);
    rig.run(11025);
    rig.sequencer->setChannelLevel(0, 100);
    rig.run(100000);
    std::vector<int> ch0, ch1;
    for (const auto &e : rig.matching(0xB0, 7))
        ch0.push_back(e.bytes[2]);
    for (const auto &e : rig.matching(0xB1, 7))
        ch1.push_back(e.bytes[2]);
    EXPECT_EQ(ch0, (std::vector<int>{50, 45, 90})) << "chase default, the song's 90, at once at 100 % (the reset needs none)";
    EXPECT_EQ(ch1, (std::vector<int>{0, 0})) << "the chase's default, then again after the GM reset";
    rig.sequencer->setChannelLevel(1, 100);
}

TEST(Sequencer, MuteAndSoloTogglesSeeksAndLoopsNeverLeaveANoteHanging)
{
    // Overlapping notes with a sustain pedal on channel 0, drums; silence from 1700 to 1920.
    TrackBuilder melody, drums;
    for (int i = 0; i < 24; ++i) {
        melody.note(std::uint32_t(i * 60), std::uint32_t(80 + (i % 5) * 70), 0, 60 + i % 7);
        melody.note(std::uint32_t(i * 60 + 30), 100, 1, 48 + i % 5);
        drums.note(std::uint32_t(i * 60), 30, 9, 36 + i % 3);
    }
    melody.cc(0, 0, 64, 127).cc(1000, 0, 64, 0).cc(480, 0, 111, 0).end(1920);
    Rig rig(smf({melody, drums}));
    rig.sequencer->play(BRSPLAY_LOOP, 0);
    std::mt19937 random(11);
    std::map<std::pair<int, int>, int> sounding;
    std::size_t replayed = 0;
    int loops = 0;
    const auto replay = [&] {
        const auto &entries = rig.sink.entries();
        for (; replayed < entries.size(); ++replayed) {
            const auto &b = entries[replayed].bytes;
            const int type = b[0] & 0xF0, ch = b[0] & 0x0F;
            if (type == 0x90 && b[2] > 0) {
                ++sounding[{ch, b[1]}];
                EXPECT_FALSE(rig.sequencer->silencedChannels() >> ch & 1) << "a note-on on silenced ch" << ch;
            } else if (type == 0x80 || type == 0x90) {
                EXPECT_GT(sounding[std::make_pair(ch, int(b[1]))], 0) << "a note-off for a key not struck: ch" << ch << " " << int(b[1]);
                --sounding[std::make_pair(ch, int(b[1]))];
            } else if (type == 0xB0 && b[1] == 123) {
                for (auto &[key, count] : sounding)
                    if (key.first == ch)
                        count = 0;
            }
        }
    };
    const auto soundingOn = [&](std::uint16_t channels) {
        int n = 0;
        for (const auto &[key, count] : sounding)
            n += (channels >> key.first & 1) ? count : 0;
        return n;
    };
    for (int step = 0; step < 500; ++step) {
        const int action = std::uniform_int_distribution<int>(0, 9)(random);
        if (action < 5) {
            rig.run(std::uniform_int_distribution<std::int64_t>(1, 6000)(random), 64);
            replay();
            const std::int32_t tick = rig.sequencer->status().Tick;
            if (tick >= 1700 && tick < 1920) {
                ASSERT_EQ(soundingOn(0xFFFF), 0) << "in the song's rest at tick " << tick << ", step " << step;
            }
        } else if (action < 9) {
            const int ch = std::array{0, 1, 9}[std::size_t(random() % 3)];
            if (random() % 3 == 0)
                rig.sequencer->setChannelSolo(ch, !rig.sequencer->channelSoloed(ch));
            else
                rig.sequencer->setChannelMute(ch, !rig.sequencer->channelMuted(ch));
            replay();
            ASSERT_EQ(soundingOn(rig.sequencer->silencedChannels()), 0) << "step " << step;
        } else {
            loops += rig.sequencer->status().LoopCount;
            rig.sequencer->play(BRSPLAY_LOOP, std::uniform_int_distribution<std::int32_t>(0, 1919)(random));
            replay();
        }
    }
    EXPECT_GE(loops + rig.sequencer->status().LoopCount, 5);
    rig.sequencer->stop();
    replay();
    for (const auto &[key, count] : sounding)
        EXPECT_EQ(count, 0) << "ch" << key.first << " note " << key.second;
    EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty());
}

namespace {

// A = 480 (0.5 s), B = 1200 (1.125 s: 120 bpm, then 240 bpm from 960). Program 5 and volume 80
// at A; inside the range program 9, volume 60, a note held across B with the pedal down; notes
// at B and after it that a repeating play must never reach.
Bytes repeatSong()
{
    return smf({TrackBuilder().tempo(0, 500000).tempo(960, 250000).end(2400),
                TrackBuilder()
                    .program(0, 0, 5)
                    .cc(0, 0, 7, 80)
                    .note(0, 240, 0, 60)
                    .note(480, 240, 0, 62)
                    .program(600, 0, 9)
                    .cc(700, 0, 7, 60)
                    .note(900, 500, 0, 64)
                    .cc(1000, 0, 64, 127)
                    .note(1200, 100, 0, 67)
                    .note(1440, 100, 0, 69)});
}

} // namespace

TEST(Sequencer, RepeatWrapsFromBToAAtItsExactSampleWithTheLoopsChase)
{
    for (int ratio : {100, 137, 200}) {
        Rig rig(repeatSong());
        rig.sequencer->setTempoRatio(ratio);
        ASSERT_TRUE(rig.sequencer->setRepeat(480, 1200));
        rig.sequencer->play(0, 0);
        rig.run(200000, 1000);
        // B at 49612.5 samples of song time, the range 27562.5 long: ceil(× 100 / ratio).
        const auto ceilDiv = [](std::int64_t a, std::int64_t b) { return (a + b - 1) / b; };
        const std::int64_t first = ceilDiv(4961250, ratio), span = ceilDiv(2756250, ratio);
        std::vector<std::int64_t> note62;
        for (const auto &e : rig.matching(0x90, 62))
            note62.push_back(e.frame);
        ASSERT_GE(note62.size(), 4u) << ratio;
        EXPECT_EQ(note62[1], first) << ratio;
        for (std::size_t i = 2; i < note62.size(); ++i)
            EXPECT_EQ(note62[i] - note62[i - 1], span) << ratio << " pass " << i;
        EXPECT_TRUE(rig.matching(0x90, 67).empty() && rig.matching(0x90, 69).empty()) << ratio;
        const TBrs4PlayerStatus s = rig.sequencer->status();
        EXPECT_EQ(s.State, BRSSTATE_PLAY);
        EXPECT_EQ(s.LoopCount, 0) << "the queue counts loop passes, not repeats";
        EXPECT_TRUE(s.Tick >= 480 && s.Tick < 1200) << s.Tick;

        // At the wrap: the held note and the pedal released, then A's program and volume.
        std::vector<RecordingSink::Entry> upTo, atWrap;
        for (const auto &e : rig.sink.entries()) {
            if (e.frame < first || (e.frame == first && !(e.bytes[0] == 0x90 && e.bytes[2] > 0)))
                upTo.push_back(e);
            if (e.frame == first)
                atWrap.push_back(e);
        }
        EXPECT_TRUE(hangingNotes(upTo).empty()) << ratio;
        const auto sentAtWrap = [&](Bytes bytes) {
            return std::any_of(atWrap.begin(), atWrap.end(), [&](const auto &e) { return e.bytes == bytes; });
        };
        EXPECT_TRUE(sentAtWrap({0xC0, 5}) && sentAtWrap({0xB0, 7, 80})) << ratio;
        EXPECT_FALSE(sentAtWrap({0xC0, 9})) << ratio;
        rig.sequencer->stop();
        EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty()) << ratio;
    }
}

TEST(Sequencer, RepeatKeepsItsRangeAcrossKeyChangesPlaysAndSetsAndRefusesBadRanges)
{
    Rig rig(repeatSong());
    ASSERT_TRUE(rig.sequencer->setRepeat(480, 1200));
    // A key change inside the range: the held note goes on at the new key, and the wrap
    // releases it there; A's note comes back transposed.
    rig.sequencer->play(0, 0);
    rig.run(45000);
    rig.sequencer->setKeyShift(2);
    rig.run(60000);
    const auto after = rig.matching(0x90, 64);
    EXPECT_TRUE(std::any_of(after.begin(), after.end(), [](const auto &e) { return e.frame >= 49613; }))
        << "A's note 62, two up, after the wrap";
    EXPECT_EQ(rig.matching(0x90, 62).size(), 1u) << "struck at 22050 only, before the change";
    rig.sequencer->stop();
    EXPECT_TRUE(hangingNotes(rig.sink.entries()).empty());
    rig.sequencer->setKeyShift(0);

    // A play from B or later starts at A; a range set behind a playing position goes to A now.
    rig.sequencer->play(0, 1300);
    EXPECT_EQ(rig.sequencer->status().Tick, 480);
    rig.sequencer->clearRepeat();
    rig.sequencer->play(0, 1300);
    EXPECT_EQ(rig.sequencer->status().Tick, 1300);
    rig.sink.clear();
    ASSERT_TRUE(rig.sequencer->setRepeat(480, 1200));
    EXPECT_EQ(rig.sequencer->status().Tick, 480);
    EXPECT_TRUE(std::any_of(rig.sink.entries().begin(), rig.sink.entries().end(),
                            [](const auto &e) { return e.bytes == Bytes{0xC0, 5}; }));

    // B at the song's end repeats without the loop bit instead of stopping.
    ASSERT_TRUE(rig.sequencer->setRepeat(1440, 2400));
    rig.sequencer->play(0, 1440);
    rig.run(88200);
    EXPECT_EQ(rig.sequencer->state(), BRSSTATE_PLAY);

    // Refused ranges change nothing: the one set before stays.
    const std::vector<std::pair<std::int64_t, std::int64_t>> refused = {
        {-1, 100}, {500, 500}, {600, 500}, {0, 2401}, {1000, 1003} /* 1.6 ms */};
    for (const auto &[a, b] : refused) {
        EXPECT_FALSE(rig.sequencer->setRepeat(a, b)) << a << "-" << b;
        EXPECT_EQ(rig.sequencer->repeatStartTick(), 1440);
        EXPECT_EQ(rig.sequencer->repeatEndTick(), 2400);
    }
    // A new song clears it.
    rig.sequencer->setTimeline(rig.timeline);
    EXPECT_FALSE(rig.sequencer->repeating());
}
