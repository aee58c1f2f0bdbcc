// What a listener hears from the real synthesizer after stops, loop wraps and seeks: the
// sequencer drives FluidSynth with the General MIDI SoundFont, offline.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <tuple>

#include "FluidSynthSink.h"
#include "RecordingSink.h"
#include "Sequencer.h"
#include "SmfBuilder.h"

using namespace brisola;
using namespace brisola::test;

namespace {

constexpr std::uint32_t kRate = 44100;

std::unique_ptr<FluidSynthInstance> makeSynth()
{
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr); // substituted instruments are expected
    std::string message;
    auto synth = FluidSynthInstance::create(defaultSoundFont(), kRate, true, message);
    EXPECT_TRUE(synth) << message;
    return synth;
}

// The song played into a synthesizer rendered block by block, as the audio callback does.
struct SynthRig {
    explicit SynthRig(const Bytes &song) : synth(makeSynth()), sink(synth->synth()), sequencer(kRate)
    {
        BrsError error;
        timeline = SmfTimeline::read(song.data(), song.size(), error);
        EXPECT_TRUE(timeline);
        sequencer.setTimeline(timeline);
        sequencer.setSink(&sink, kRate);
    }
    // Peak of the next `frames` frames, in dBFS.
    double renderPeak(std::int64_t frames)
    {
        constexpr int kBlock = 256;
        float left[kBlock], right[kBlock];
        float peak = 0;
        while (frames > 0) {
            const int n = int(std::min<std::int64_t>(kBlock, frames));
            std::fill(left, left + n, 0.0f);
            std::fill(right, right + n, 0.0f);
            float *out[2] = {left, right};
            sink.beginBlock(sequencer.clock(), n, 2, out);
            sequencer.advance(n);
            sink.finishBlock();
            for (int i = 0; i < n; ++i)
                peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
            frames -= n;
        }
        return peak > 0 ? 20 * std::log10(peak) : -200.0;
    }

    std::unique_ptr<FluidSynthInstance> synth;
    FluidSynthSink sink;
    Sequencer sequencer;
    std::shared_ptr<const SmfTimeline> timeline;
};

#define SKIP_WITHOUT_SOUNDFONT()                                                                                     \
    if (defaultSoundFont().empty())                                                                                  \
    GTEST_SKIP() << "no General MIDI SoundFont installed"

} // namespace

TEST(ChaseFidelity, StopPauseEndAndClearLeaveNoNoteHeldBySostenuto)
{
    SKIP_WITHOUT_SOUNDFONT();
    // An organ chord caught by the sostenuto pedal; the song ends (tick 1920) with it held.
    const Bytes song = smf({TrackBuilder()
                                .program(0, 0, 19)
                                .noteOn(0, 0, 60)
                                .noteOn(0, 0, 64)
                                .cc(240, 0, 66, 127)
                                .noteOff(480, 0, 60)
                                .noteOff(480, 0, 64)
                                .end(1920)});
    const std::vector<std::pair<const char *, std::function<void(SynthRig &)>>> ends = {
        {"stop", [](SynthRig &r) { r.sequencer.stop(); }},
        {"pause", [](SynthRig &r) { r.sequencer.pause(); }},
        {"clear", [](SynthRig &r) { r.sequencer.setTimeline(nullptr); }},
        {"end of song", [](SynthRig &r) { r.renderPeak(kRate * 2); }},
    };
    for (const auto &[name, end] : ends) {
        SynthRig rig(song);
        rig.sequencer.play(0, 0);
        EXPECT_GT(rig.renderPeak(kRate), -40) << name << ": the held chord sounds";
        end(rig);
        rig.renderPeak(kRate * 2); // release and reverb die away
        EXPECT_LT(rig.renderPeak(kRate / 2), -90) << name;
    }
}

TEST(ChaseFidelity, AChordFadedBeforeTheLoopEndStaysSilentAcrossTheWrap)
{
    SKIP_WITHOUT_SOUNDFONT();
    // Strings from tick 0 to the end, faded out by expression (or volume) by tick 1500; the loop
    // point at 480 is after the chord began, so nothing starts again after the wrap.
    for (int controller : {11, 7}) {
        TrackBuilder track;
        track.program(0, 0, 48).cc(0, 0, controller, 127).noteOn(0, 0, 60).noteOn(0, 0, 67).cc(480, 0, 111, 0);
        for (int i = 0; i <= 10; ++i)
            track.cc(std::uint32_t(1000 + 50 * i), 0, controller, 127 - 127 * i / 10);
        track.end(1920);
        SynthRig rig(smf({track}));
        rig.sequencer.play(BRSPLAY_LOOP, 0);
        rig.renderPeak(kRate * 2 - kRate / 10); // to 0.1 s before the wrap at 2 s
        // Faded to the last trace of reverb; the wrap must not bring the chord back (it came
        // back about 50 dB louder for its release).
        EXPECT_LT(rig.renderPeak(kRate / 10), -75) << "CC " << controller << ": faded before the end";
        EXPECT_LT(rig.renderPeak(kRate / 2), -75) << "CC " << controller << ": after the wrap";
        EXPECT_EQ(rig.sequencer.status().LoopCount, 1);
    }
}

namespace {

// What a General MIDI device keeps per channel, folded from the messages it receives: the
// bank a program was chosen from, controllers, bend, pressure and every RPN/NRPN value. A
// reset SysEx forgets all of it, reset-all-controllers what it resets.
struct DeviceModel {
    struct Channel {
        std::map<int, int> cc;
        std::tuple<int, int, int> program{0, 0, 0}; // bank MSB, bank LSB, program
        int bend = 8192, pressure = 0;
        std::map<std::pair<bool, int>, std::pair<int, int>> parameters;
        bool nrpn = false;
        bool operator==(const Channel &) const = default;
    };
    std::array<Channel, 16> channels;

    void apply(const std::vector<std::uint8_t> &m)
    {
        if (m[0] == 0xF0) {
            if (isResetSysEx(m.data(), std::uint32_t(m.size())))
                for (Channel &c : channels) {
                    c = Channel{};
                    c.cc = {{0, 0}, {1, 0}, {7, 100}, {10, 64}, {11, 127}, {32, 0}, {64, 0}, {65, 0}, {66, 0}, {67, 0},
                            {98, 127}, {99, 127}, {100, 127}, {101, 127}};
                }
            return;
        }
        Channel &c = channels[m[0] & 0x0F];
        switch (m[0] & 0xF0) {
        case 0xB0:
            if (m[1] == 121) {
                for (auto [n, value] : {std::pair{1, 0}, {11, 127}, {64, 0}, {65, 0}, {66, 0}, {67, 0}, {98, 127},
                                        {99, 127}, {100, 127}, {101, 127}})
                    c.cc[n] = value;
                c.bend = 8192;
                c.pressure = 0;
                return;
            }
            if (m[1] >= 120)
                return;
            c.cc[m[1]] = m[2];
            if (m[1] == 98 || m[1] == 99)
                c.nrpn = true;
            if (m[1] == 100 || m[1] == 101)
                c.nrpn = false;
            if (m[1] == 6 || m[1] == 38) {
                const int msb = c.cc.count(c.nrpn ? 99 : 101) ? c.cc[c.nrpn ? 99 : 101] : -1;
                const int lsb = c.cc.count(c.nrpn ? 98 : 100) ? c.cc[c.nrpn ? 98 : 100] : -1;
                if (msb < 0 || lsb < 0 || (msb == 127 && lsb == 127))
                    return;
                auto &value = c.parameters.try_emplace({c.nrpn, msb << 7 | lsb}, -1, -1).first->second;
                (m[1] == 6 ? value.first : value.second) = m[2];
            }
            return;
        case 0xC0:
            c.program = {c.cc.count(0) ? c.cc[0] : 0, c.cc.count(32) ? c.cc[32] : 0, m[1]};
            return;
        case 0xD0:
            c.pressure = m[1];
            return;
        case 0xE0:
            c.bend = m[1] | m[2] << 7;
            return;
        default:
            return;
        }
    }
};

// The synthesizer's own view of every channel: controllers, program, bend and the generators
// that RPN/NRPN data entry sets (fine and coarse tune, SoundFont NRPNs).
std::vector<double> synthState(fluid_synth_t *synth)
{
    std::vector<double> state;
    for (int ch = 0; ch < 16; ++ch) {
        for (int n = 0; n < 120; ++n) {
            int value = 0;
            fluid_synth_get_cc(synth, ch, n, &value);
            state.push_back(value);
        }
        int sfont = 0, bank = 0, program = 0, bend = 0, range = 0;
        fluid_synth_get_program(synth, ch, &sfont, &bank, &program);
        fluid_synth_get_pitch_bend(synth, ch, &bend);
        fluid_synth_get_pitch_wheel_sens(synth, ch, &range);
        state.insert(state.end(), {double(bank), double(program), double(bend), double(range)});
        for (int g = 0; g < GEN_LAST; ++g)
            state.push_back(fluid_synth_get_gen(synth, ch, g));
    }
    return state;
}

Bytes fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST(ChaseFidelity, ChasedStateEqualsPlayingFromTheStart)
{
    SKIP_WITHOUT_SOUNDFONT();
    TrackBuilder drums; // a GS drum kit voiced note by note: far more NRPNs than any fixed table
    drums.program(0, 9, 16);
    for (int note = 27; note < 88; ++note)
        for (int kind : {0x18, 0x1A, 0x1C})
            drums.cc(std::uint32_t(note), 9, 99, kind).cc(std::uint32_t(note), 9, 98, note).cc(std::uint32_t(note), 9, 6, note % 50 + 30);
    drums.note(100, 10, 9, 36).end(480);
    const std::vector<std::pair<const char *, Bytes>> songs = {
        {"bank select after the program change",
         smf({TrackBuilder().cc(0, 0, 0, 8).program(0, 0, 4).cc(100, 0, 0, 0).cc(100, 0, 32, 1).note(200, 100, 0, 60)
                  .cc(300, 1, 0, 8).program(310, 1, 4).cc(320, 1, 0, 16).program(330, 1, 5).end(480)})},
        {"GS reset after a program change",
         smf({TrackBuilder().program(0, 0, 40).cc(0, 0, 7, 50).bend(10, 0, 100)
                  .sysEx(100, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}).cc(150, 0, 10, 20).note(200, 100, 0, 60).end(480)})},
        {"14-bit RPNs with the LSB first and last",
         smf({TrackBuilder().cc(0, 0, 101, 0).cc(0, 0, 100, 1).cc(0, 0, 38, 77).cc(0, 0, 6, 70)
                  .cc(0, 0, 101, 0).cc(0, 0, 100, 2).cc(0, 0, 6, 66).cc(0, 0, 38, 5)
                  .cc(0, 0, 101, 0).cc(0, 0, 100, 0).cc(0, 0, 6, 7).note(100, 100, 0, 60).end(480)})},
        {"GS drum parameters", smf({drums})},
        {"demo song", fileBytes(TONELARK_EXAMPLES_DIR "/sakura.mid")},
    };
    // A device left in another song's state: both plays below start from it.
    const Bytes other = smf({TrackBuilder().cc(0, 0, 0, 1).cc(0, 0, 32, 3).program(0, 0, 70).cc(0, 0, 91, 90)
                                 .cc(0, 0, 11, 20).bend(0, 0, 2000).cc(0, 0, 101, 0).cc(0, 0, 100, 0).cc(0, 0, 6, 12)
                                 .cc(0, 9, 99, 0x18).cc(0, 9, 98, 40).cc(0, 9, 6, 1).note(0, 10, 0, 60).end(20)});
    const std::unique_ptr<FluidSynthInstance> synthPlayed = makeSynth(), synthChased = makeSynth();
    constexpr std::uint32_t kClockRate = 1000000; // every tick of these songs falls on its own frame
    for (const auto &[name, song] : songs) {
        ASSERT_FALSE(song.empty()) << name;
        BrsError error;
        const auto timeline = SmfTimeline::read(song.data(), song.size(), error);
        ASSERT_TRUE(timeline) << name;
        const auto otherTimeline = SmfTimeline::read(other.data(), other.size(), error);
        const std::int32_t total = timeline->facts().totalTick;
        for (std::int32_t option : {0, std::int32_t(BRSPLAY_SYSEX)}) {
            for (std::int32_t tick : {1, 50, 101, 150, 201, 331, total / 2, total - 1}) {
                const auto messagesOf = [&](bool fromStart) {
                    RecordingSink sink;
                    Sequencer sequencer(kClockRate);
                    sequencer.setSink(&sink, kClockRate);
                    sequencer.setTimeline(otherTimeline);
                    sequencer.play(option, 0);
                    sequencer.advance(kClockRate);
                    sequencer.setTimeline(timeline);
                    sequencer.play(option, fromStart ? 0 : tick);
                    if (fromStart) {
                        const std::uint64_t d = std::uint64_t(timeline->facts().timeBase) * 1000000;
                        sequencer.advance(std::int64_t((timeline->timeOfTick(tick) * kClockRate + d - 1) / d));
                    }
                    return sink.entries();
                };
                const auto played = messagesOf(true), chased = messagesOf(false);
                DeviceModel modelPlayed, modelChased;
                fluid_synth_system_reset(synthPlayed->synth());
                fluid_synth_system_reset(synthChased->synth());
                FluidSynthSink sinkPlayed(synthPlayed->synth()), sinkChased(synthChased->synth());
                const auto applyAll = [](const auto &entries, DeviceModel &model, FluidSynthSink &synth) {
                    for (const auto &e : entries) {
                        if ((e.bytes[0] & 0xE0) == 0x80)
                            continue; // notes leave the channel state alone
                        model.apply(e.bytes);
                        synth.send(MidiMessage{e.bytes.data(), std::uint32_t(e.bytes.size())}, 0);
                    }
                };
                applyAll(played, modelPlayed, sinkPlayed);
                applyAll(chased, modelChased, sinkChased);
                const std::string where = std::string(name) + ", option " + std::to_string(option) + ", tick " +
                                          std::to_string(tick);
                for (int ch = 0; ch < 16; ++ch)
                    EXPECT_TRUE(modelPlayed.channels[ch] == modelChased.channels[ch]) << where << ", channel " << ch;
                EXPECT_EQ(synthState(synthPlayed->synth()), synthState(synthChased->synth())) << where;
            }
        }
    }
}

TEST(ChaseFidelity, PlayingFromASeekSoundsBitForBitAsPlayingThere)
{
    SKIP_WITHOUT_SOUNDFONT();
    // Every setting before tick 1024 (frame 47 040, a whole number of the synthesizer's 64-frame
    // blocks, so both renders meet its block grid alike), the notes from there on. Reverb and
    // chorus are off: they run on through silence and would differ without being state.
    TrackBuilder track;
    track.cc(0, 0, 0, 8).program(10, 0, 4).cc(20, 0, 0, 0) // bank select after the program
        .cc(30, 0, 101, 0).cc(30, 0, 100, 1).cc(30, 0, 38, 90).cc(30, 0, 6, 70) // fine tune, LSB first
        .cc(40, 0, 101, 0).cc(40, 0, 100, 0).cc(40, 0, 6, 7)                     // bend range 7
        .bend(50, 0, 12000).cc(60, 0, 11, 90).cc(70, 0, 10, 30).cc(80, 0, 1, 50)
        .program(90, 1, 40).cc(100, 1, 7, 70).bend(110, 1, 3000)
        .note(1024, 400, 0, 60).note(1024, 400, 1, 67).note(1200, 300, 0, 64).end(1920);
    const Bytes song = smf({track});
    const auto render = [&](std::int32_t startTick, std::int64_t skipFrames) {
        SynthRig rig(song);
        fluid_synth_reverb_on(rig.synth->synth(), -1, 0);
        fluid_synth_chorus_on(rig.synth->synth(), -1, 0);
        rig.sequencer.play(0, startTick);
        std::vector<float> out;
        float left[64], right[64];
        for (std::int64_t frame = 0; frame < skipFrames + kRate; frame += 64) {
            std::fill(left, left + 64, 0.0f);
            std::fill(right, right + 64, 0.0f);
            float *buffers[2] = {left, right};
            rig.sink.beginBlock(rig.sequencer.clock(), 64, 2, buffers);
            rig.sequencer.advance(64);
            rig.sink.finishBlock();
            if (frame >= skipFrames)
                for (int i = 0; i < 64; ++i)
                    out.insert(out.end(), {left[i], right[i]});
        }
        return out;
    };
    const std::vector<float> fromStart = render(0, 47040), fromSeek = render(1024, 0);
    ASSERT_EQ(fromStart.size(), fromSeek.size());
    EXPECT_GT(*std::max_element(fromStart.begin(), fromStart.end()), 0.01f) << "the notes sound";
    std::size_t firstDifference = 0;
    while (firstDifference < fromStart.size() && fromStart[firstDifference] == fromSeek[firstDifference])
        ++firstDifference;
    EXPECT_EQ(firstDifference, fromStart.size()) << "the renders part at frame " << firstDifference / 2;
}

TEST(ChaseFidelity, AResetSysExLeavesTheSongChannelsAsFluidSynthsOwnReset)
{
    SKIP_WITHOUT_SOUNDFONT();
    // The sink resets only the 16 song channels (the spare ones hold instruments); those must
    // end as FluidSynth's own system reset leaves them.
    const auto afterJunk = [](void (*reset)(fluid_synth_t *)) {
        auto synth = makeSynth();
        fluid_synth_t *s = synth->synth();
        for (int ch = 0; ch < 16; ++ch) {
            for (int cc = 0; cc < 120; ++cc)
                if (cc != 6 && cc != 38 && cc != 84 && !(cc >= 96 && cc <= 101))
                    fluid_synth_cc(s, ch, cc, (ch * 7 + cc) % 128);
            fluid_synth_program_change(s, ch, ch + 3);
            fluid_synth_pitch_bend(s, ch, 1000 + ch);
            fluid_synth_pitch_wheel_sens(s, ch, 12);
            fluid_synth_channel_pressure(s, ch, 30);
            fluid_synth_set_gen(s, ch, GEN_FILTERFC, 500.0f);
        }
        reset(s);
        return synthState(s);
    };
    const auto own = afterJunk([](fluid_synth_t *s) { fluid_synth_system_reset(s); });
    const auto ours = afterJunk([](fluid_synth_t *s) { FluidSynthSink::resetSongChannels(s); });
    ASSERT_EQ(own.size(), ours.size());
    for (std::size_t i = 0; i < own.size(); ++i)
        EXPECT_EQ(own[i], ours[i]) << "channel " << i / (own.size() / 16) << ", value " << i % (own.size() / 16);
}
