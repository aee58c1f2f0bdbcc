// The renderer against the fluidsynth command line: one song, the same SoundFont and rate, two
// independent sequencers. Onsets must agree to within one 64-frame synthesis block and the
// loudness envelopes must match.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FluidSynthSink.h"
#include "Sequencer.h"
#include "SmfTimeline.h"
#include "SmfBuilder.h"

using namespace brisola;
using namespace brisola::test;
namespace fs = std::filesystem;

namespace {

struct Wav {
    std::vector<float> mono; // (left + right) / 2, -1 … 1
};

bool readWav(const fs::path &path, Wav &wav)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4))
        return false;
    auto le = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | b[at + std::size_t(i)];
        return v;
    };
    std::size_t pos = 12;
    int channels = 0, bits = 0;
    while (pos + 8 <= b.size()) {
        const std::uint32_t size = le(pos + 4, 4);
        if (!std::memcmp(b.data() + pos, "fmt ", 4)) {
            channels = int(le(pos + 10, 2));
            bits = int(le(pos + 22, 2));
        } else if (!std::memcmp(b.data() + pos, "data", 4)) {
            if (channels != 2 || bits != 16)
                return false;
            const std::size_t end = std::min<std::size_t>(b.size(), pos + 8 + size);
            for (std::size_t at = pos + 8; at + 4 <= end; at += 4)
                wav.mono.push_back((std::int16_t(le(at, 2)) + std::int16_t(le(at + 2, 2))) / 65536.0f);
            return true;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

// A note starts where the level first rises well above the level of 12-24 ms earlier (the
// reverb tail of the previous note included); the gap leaves room for the attack's ramp.
std::vector<std::int64_t> onsets(const std::vector<float> &x)
{
    constexpr int kWindow = 16;
    std::vector<float> envelope;
    for (std::size_t i = 0; i + kWindow <= x.size(); i += kWindow) {
        float peak = 0;
        for (int k = 0; k < kWindow; ++k)
            peak = std::max(peak, std::fabs(x[i + std::size_t(k)]));
        envelope.push_back(peak);
    }
    std::vector<std::int64_t> found;
    for (std::size_t w = 64; w < envelope.size(); ++w) {
        float before = 0;
        for (std::size_t k = w - 64; k < w - 32; ++k)
            before = std::max(before, envelope[k]);
        if (envelope[w] > 0.003f && envelope[w] > 4 * before)
            if (found.empty() || std::int64_t(w * kWindow) - found.back() > 4410)
                found.push_back(std::int64_t(w * kWindow));
    }
    return found;
}

// RMS in decibels per 50 ms.
std::vector<double> loudness(const std::vector<float> &x)
{
    constexpr std::size_t kWindow = 2205;
    std::vector<double> out;
    for (std::size_t i = 0; i + kWindow <= x.size(); i += kWindow) {
        double sum = 0;
        for (std::size_t k = 0; k < kWindow; ++k)
            sum += double(x[i + k]) * x[i + k];
        out.push_back(10 * std::log10(sum / kWindow + 1e-12));
    }
    return out;
}

// The song played from its start through the real synthesizer in 64-frame blocks, as the
// audio callback does: `seconds` of mono samples.
std::vector<float> renderHere(const std::string &soundFont, const std::vector<std::uint8_t> &song, int option,
                              double seconds)
{
    constexpr std::uint32_t kRate = 44100;
    BrsError error;
    std::string message;
    auto synth = FluidSynthInstance::create(soundFont, kRate, false, message);
    EXPECT_TRUE(synth) << message;
    if (!synth)
        return {};
    FluidSynthSink sink(synth->synth());
    Sequencer sequencer(kRate);
    sequencer.setTimeline(SmfTimeline::read(song.data(), song.size(), error));
    sequencer.setSink(&sink, kRate);
    sequencer.play(option, 0);
    std::vector<float> mono, left(64), right(64);
    while (mono.size() < std::size_t(seconds * kRate)) {
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        float *buffers[2] = {left.data(), right.data()};
        sink.beginBlock(sequencer.clock(), 64, 2, buffers);
        sequencer.advance(64);
        sink.finishBlock();
        for (int i = 0; i < 64; ++i)
            mono.push_back((left[std::size_t(i)] + right[std::size_t(i)]) / 2);
    }
    return mono;
}

std::int64_t firstSound(const std::vector<float> &x)
{
    for (std::size_t i = 0; i < x.size(); ++i)
        if (std::fabs(x[i]) > 1e-4f)
            return std::int64_t(i);
    return -1;
}

} // namespace

TEST(RenderCompare, MatchesTheFluidsynthCommandLine)
{
    const std::string soundFont = defaultSoundFont();
    if (soundFont.empty() || std::system("command -v fluidsynth > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs the fluidsynth command line and a General MIDI SoundFont";

    // Two tempi, drum hits, a chord, volume and pan: short notes with sharp
    // attacks and room between them so that each onset stands out.
    TrackBuilder conductor;
    conductor.tempo(0, 500000).tempo(1920, 375000).end(5760);
    TrackBuilder piano;
    piano.program(0, 0, 0).cc(0, 0, 7, 110).cc(0, 0, 10, 40);
    int n = 0;
    for (std::uint32_t tick = 240; tick < 5400; tick += 960, ++n)
        piano.note(tick, 60, 0, 60 + (n % 5) * 3, 110);
    TrackBuilder drums;
    drums.note(720, 30, 9, 38, 120).note(2640, 30, 9, 36, 120).note(4560, 30, 9, 38, 120);
    TrackBuilder chord;
    chord.program(0, 1, 0).cc(0, 1, 10, 90).note(1680, 60, 1, 48).note(1680, 60, 1, 55).note(1680, 60, 1, 64)
        .note(3600, 60, 1, 50);
    const Bytes song = smf({conductor, piano, drums, chord});

    const fs::path dir = fs::temp_directory_path() / ("tonelark-render-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path mid = dir / "song with space.mid", ours = dir / "ours.wav", theirs = dir / "theirs.wav";
    std::ofstream(mid, std::ios::binary).write(reinterpret_cast<const char *>(song.data()), std::streamsize(song.size()));

    const std::string render = std::string("\"") + TONELARK_RENDER_PATH + "\" --soundfont \"" + soundFont + "\" \""
                               + mid.string() + "\" \"" + ours.string() + "\"";
    ASSERT_EQ(std::system(render.c_str()), 0) << render;
    const std::string reference = "fluidsynth -ni -q -F \"" + theirs.string() + "\" -r 44100 \"" + soundFont + "\" \""
                                  + mid.string() + "\" > /dev/null 2>&1";
    ASSERT_EQ(std::system(reference.c_str()), 0) << reference;

    Wav a, b;
    ASSERT_TRUE(readWav(ours, a));
    ASSERT_TRUE(readWav(theirs, b));
    fs::remove_all(dir);
    // The song lasts 2 s + 3840 ticks at 80 bpm... 2 s + 3 s = 5 s; both renders go on while the
    // sound dies away.
    EXPECT_GE(double(a.mono.size()) / 44100, 5.0);
    const std::size_t length = std::min(a.mono.size(), b.mono.size());
    a.mono.resize(length);
    b.mono.resize(length);

    const auto ourOnsets = onsets(a.mono), theirOnsets = onsets(b.mono);
    auto list = [](const std::vector<std::int64_t> &v) {
        std::string s;
        for (auto x : v)
            s += std::to_string(x) + " ";
        return s;
    };
    SCOPED_TRACE("ours: " + list(ourOnsets) + "\ntheirs: " + list(theirOnsets));
    ASSERT_GE(ourOnsets.size(), 8u);
    ASSERT_EQ(ourOnsets.size(), theirOnsets.size());
    // Each note's lag between the renders, to the sample: the best-matching shift of the 30 ms
    // around its onset.
    std::vector<std::int64_t> lags;
    for (std::int64_t onset : ourOnsets) {
        double best = -1;
        std::int64_t bestLag = 0;
        for (std::int64_t lag = -400; lag <= 400; ++lag) {
            double dot = 0, energy = 0;
            for (std::int64_t k = onset - 256; k < onset + 1024; ++k) {
                const std::int64_t j = k + lag;
                if (k < 0 || j < 0 || std::size_t(std::max(k, j)) >= length)
                    continue;
                dot += double(a.mono[std::size_t(k)]) * b.mono[std::size_t(j)];
                energy += double(b.mono[std::size_t(j)]) * b.mono[std::size_t(j)];
            }
            const double score = energy > 0 ? dot / std::sqrt(energy) : 0;
            if (score > best) {
                best = score;
                bestLag = lag;
            }
        }
        lags.push_back(bestLag);
    }
    // The command line plays one 64-frame block late and times its events in whole milliseconds,
    // so it trails by one block, at times two. Take away that fixed delay (the median lag); what
    // remains must stay within one block.
    std::vector<std::int64_t> sorted = lags;
    std::sort(sorted.begin(), sorted.end());
    const std::int64_t delay = sorted[sorted.size() / 2];
    EXPECT_LE(std::llabs(delay), 128) << "the two renders are not even near each other";
    for (std::size_t i = 0; i < lags.size(); ++i)
        EXPECT_LE(std::llabs(lags[i] - delay), 64) << "onset " << i << " at " << ourOnsets[i] << " lag " << lags[i];

    const auto la = loudness(a.mono), lb = loudness(b.mono);
    int compared = 0;
    for (std::size_t i = 0; i < la.size(); ++i) {
        if (std::max(la[i], lb[i]) < -50)
            continue; // near silence says nothing
        ++compared;
        EXPECT_NEAR(la[i], lb[i], 3.0) << "50 ms window " << i;
    }
    EXPECT_GE(compared, 40);
}

TEST(RenderCompare, EndsOnlyWhenTheSoundHasDiedAway)
{
    const std::string soundFont = defaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    // A string chord held to the song's last tick (1 s), released only by the end.
    TrackBuilder strings;
    strings.program(0, 0, 48).note(0, 960, 0, 48).note(0, 960, 0, 55).note(0, 960, 0, 64);
    const Bytes song = smf({strings});
    const fs::path dir = fs::temp_directory_path() / ("tonelark-tail-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path mid = dir / "held.mid", wav = dir / "held.wav";
    std::ofstream(mid, std::ios::binary).write(reinterpret_cast<const char *>(song.data()), std::streamsize(song.size()));
    const std::string render = std::string("\"") + TONELARK_RENDER_PATH + "\" \"" + mid.string() + "\" \"" + wav.string() + "\"";
    ASSERT_EQ(std::system(render.c_str()), 0) << render;
    Wav w;
    ASSERT_TRUE(readWav(wav, w));
    fs::remove_all(dir);
    const double seconds = double(w.mono.size()) / 44100;
    EXPECT_GT(seconds, 1.05) << "the release of the chord is heard";
    EXPECT_LT(seconds, 16.1);
    float lastPeak = 0;
    for (std::size_t i = w.mono.size() - std::min<std::size_t>(w.mono.size(), 441); i < w.mono.size(); ++i)
        lastPeak = std::max(lastPeak, std::fabs(w.mono[i]));
    EXPECT_LT(lastPeak, 3.2e-5f) << "the last 10 ms are below -90 dBFS";
}

TEST(RenderCompare, KeyShiftOfTwelveSoundsAsTheSongWrittenAnOctaveHigher)
{
    const std::string soundFont = defaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    // A melody, a chord, drums on channel 10 and on channel 11 made a drum part by GS SysEx. By
    // hand: every melodic key 12 higher, the drums as they are.
    const auto song = [](int up) {
        TrackBuilder t;
        t.sysEx(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x01, 0x10, 0xF7}).program(0, 0, 0).program(0, 1, 48);
        for (int i = 0; i < 6; ++i) {
            t.note(std::uint32_t(480 * i), 100, 0, 60 + (i % 4) * 3 + up, 110);
            t.note(std::uint32_t(480 * i + 240), 30, i % 2 ? 9 : 10, 36 + i % 3, 120);
        }
        t.note(2880, 480, 1, 48 + up).note(2880, 480, 1, 55 + up).end(3600);
        return smf({t});
    };
    const fs::path dir = fs::temp_directory_path() / ("tonelark-key-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const auto render = [&](const Bytes &bytes, const std::string &name, const std::string &options) {
        const fs::path mid = dir / (name + ".mid"), wav = dir / (name + ".wav");
        std::ofstream(mid, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        const std::string command = std::string("\"") + TONELARK_RENDER_PATH + "\" --option 32 " + options + " \""
                                    + mid.string() + "\" \"" + wav.string() + "\"";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(wav, std::ios::binary);
        return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    // Equal to the transposed song sample for sample: the same onsets, the melody an octave up,
    // the drums as they were.
    const auto shifted = render(song(0), "shifted", "--key 12 --tempo 137");
    EXPECT_TRUE(shifted == render(song(12), "byhand", "--tempo 137"));
    EXPECT_FALSE(shifted == render(song(0), "written", "--tempo 137"));
    EXPECT_FALSE(shifted == render(song(12), "byhand100", "")) << "the tempo option is taken";
    fs::remove_all(dir);
    ASSERT_GT(shifted.size(), 44u + 4 * 44100);
}

TEST(RenderCompare, AChordHeldThroughAKeyChangeSoundsOnAtTheNewKey)
{
    const std::string soundFont = defaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    // An organ chord, then a string pad, held for 4 s (120 bpm); the key goes up two semitones at
    // 1.5 s while the chord sounds. Before, the chord fell silent 0.3 s after the change.
    constexpr std::uint32_t kRate = 44100;
    struct Case {
        const char *name;
        int program;
    };
    for (const Case c : {Case{"organ", 16}, Case{"strings", 48}}) {
        TrackBuilder t;
        t.program(0, 0, c.program).note(0, 3840, 0, 48).note(0, 3840, 0, 55).note(0, 3840, 0, 64).end(3840);
        const Bytes song = smf({t});
        BrsError error;
        std::string message;
        auto synth = FluidSynthInstance::create(soundFont, kRate, false, message);
        ASSERT_TRUE(synth) << message;
        FluidSynthSink sink(synth->synth());
        Sequencer sequencer(kRate);
        sequencer.setTimeline(SmfTimeline::read(song.data(), song.size(), error));
        sequencer.setSink(&sink, kRate);
        sequencer.play(0, 0);
        std::vector<float> mono;
        std::vector<float> left(64), right(64);
        while (mono.size() < std::size_t(3 * kRate)) {
            if (mono.size() == std::size_t(1.5 * kRate))
                sequencer.setKeyShift(2);
            std::fill(left.begin(), left.end(), 0.0f);
            std::fill(right.begin(), right.end(), 0.0f);
            float *buffers[2] = {left.data(), right.data()};
            sink.beginBlock(sequencer.clock(), 64, 2, buffers);
            sequencer.advance(64);
            sink.finishBlock();
            for (int i = 0; i < 64; ++i)
                mono.push_back((left[std::size_t(i)] + right[std::size_t(i)]) / 2);
        }
        const std::vector<double> level = loudness(mono); // 50 ms windows
        // Before the change: 1.0-1.5 s; after it, every window from the change on.
        double before = 0;
        for (std::size_t w = 20; w < 30; ++w)
            before += level[w] / 10;
        EXPECT_GT(before, -40.0) << c.name << ": the chord is heard at all";
        for (std::size_t w = 30; w < level.size(); ++w)
            EXPECT_NEAR(level[w], before, 6.0) << c.name << ": 50 ms window at " << double(w) / 20 << " s";
        EXPECT_EQ(sequencer.soundingNotes(), 3) << c.name;
    }
}

TEST(RenderCompare, GuideMelodyOffMuteAndSoloSoundAsTheSongWithoutItsMelody)
{
    const std::string soundFont = defaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    // A piano chord part on channel 1 and a flute track named "Melody" on channel 4.
    const auto song = [](bool melodyNotes, bool accompaniment = true) {
        TrackBuilder piano, melody;
        piano.text(0, 3, "Piano").program(0, 0, 0);
        if (accompaniment)
            for (int i = 0; i < 4; ++i)
                piano.note(std::uint32_t(480 * i), 400, 0, 48 + i).note(std::uint32_t(480 * i), 400, 0, 55 + i);
        melody.text(0, 3, "Melody").program(0, 3, 73).cc(0, 3, 7, 110).end(1920);
        if (melodyNotes)
            for (int i = 0; i < 8; ++i)
                melody.note(std::uint32_t(240 * i), 200, 3, 72 + i % 5, 110);
        return smf({piano, melody});
    };
    const fs::path dir = fs::temp_directory_path() / ("tonelark-melody-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string printed;
    const auto render = [&](const Bytes &bytes, const std::string &name, const std::string &options) {
        const fs::path mid = dir / (name + ".mid"), wav = dir / (name + ".wav");
        std::ofstream(mid, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
        const std::string command = std::string("\"") + TONELARK_RENDER_PATH + "\" --seconds 3 " + options + " \""
                                    + mid.string() + "\" \"" + wav.string() + "\"";
        printed.clear();
        if (FILE *p = ::popen(command.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, p))
                printed += buffer;
            EXPECT_EQ(::pclose(p), 0) << command;
        }
        std::ifstream in(wav, std::ios::binary);
        return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const fs::path events = dir / "off.tsv";
    const auto off = render(song(true), "off", "--melody off --events \"" + events.string() + "\"");
    EXPECT_EQ(printed, "メロディ: ch 4\n");
    std::ifstream list(events);
    std::string line;
    int programs = 0, melodyOns = 0, pianoOns = 0;
    while (std::getline(list, line)) {
        const std::string bytes = line.substr(line.find('\t') + 1);
        programs += bytes == "c3 49";
        melodyOns += bytes.rfind("93 ", 0) == 0 && bytes.substr(bytes.size() - 2) != "00";
        pianoOns += bytes.rfind("90 ", 0) == 0 && bytes.substr(bytes.size() - 2) != "00";
    }
    EXPECT_EQ(melodyOns, 0) << "no note-on on the melody channel";
    EXPECT_EQ(pianoOns, 8);
    EXPECT_GE(programs, 1) << "its instrument is still chosen";
    EXPECT_TRUE(off == render(song(false), "written", "")) << "sample for sample the song without its melody";
    EXPECT_TRUE(off == render(song(true), "muted", "--mute 4"));
    EXPECT_TRUE(off == render(song(true), "solo", "--solo 1,16"));
    EXPECT_FALSE(off == render(song(true), "normal", "--melody normal"));

    // Soft is about -12 dB, the master volume at 50 % is -12 dB.
    Wav loud, soft, half;
    const auto rms = [](const Wav &w) {
        double sum = 0;
        for (float x : w.mono)
            sum += double(x) * x;
        return 10 * std::log10(sum / double(std::max<std::size_t>(w.mono.size(), 1)));
    };
    render(song(true, false), "loud", "");
    ASSERT_TRUE(readWav(dir / "loud.wav", loud));
    render(song(true, false), "soft", "--melody soft");
    ASSERT_TRUE(readWav(dir / "soft.wav", soft));
    render(song(true, false), "half", "--volume 50");
    ASSERT_TRUE(readWav(dir / "half.wav", half));
    EXPECT_NEAR(rms(soft) - rms(loud), -12.0, 2.0);
    EXPECT_NEAR(rms(half) - rms(loud), -12.0, 0.3);
    fs::remove_all(dir);
}

// Songs send a reset in a later track at the tick where an earlier one sets up its instrument.
// Played with the SysEx option in file order, the reset wiped the program, the volume and the
// first note: the song began a phrase late, on the piano. The reset goes first, so it sounds
// as the song with the reset written first, and at once.
TEST(RenderCompare, AResetAfterTheSetupOfItsTickKeepsTheFirstNoteAndItsProgram)
{
    const std::string soundFont = defaultSoundFont();
    if (soundFont.empty())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    const Bytes gmOn{0x7E, 0x7F, 0x09, 0x01, 0xF7};
    const auto song = [&](bool resetFirst) {
        TrackBuilder conductor, koto, strings;
        if (resetFirst)
            conductor.sysEx(0, gmOn);
        conductor.tempo(0, 600000).end(1920);
        koto.program(0, 0, 107).cc(0, 0, 7, 110).note(0, 400, 0, 69).note(480, 400, 0, 71).note(960, 400, 0, 72);
        strings.program(0, 1, 48).cc(0, 1, 7, 72).note(0, 1440, 1, 45, 64);
        if (!resetFirst)
            strings.sysEx(0, gmOn);
        return smf({conductor, koto, strings});
    };
    constexpr int kLoopAndSysEx = 1 | 32;
    const std::vector<float> late = renderHere(soundFont, song(false), kLoopAndSysEx, 1.5);
    const std::vector<float> first = renderHere(soundFont, song(true), kLoopAndSysEx, 1.5);
    ASSERT_FALSE(late.empty());
    EXPECT_TRUE(late == first) << "the same instruments, notes and volumes, sample for sample";
    EXPECT_GE(firstSound(late), 0);
    EXPECT_LT(firstSound(late), 128) << "the first note sounds in the first blocks";

    // The demo song with the default options sounds as without its SysEx: koto and strings
    // from the first note.
    std::ifstream in(TONELARK_EXAMPLES_DIR "/sakura.mid", std::ios::binary);
    const Bytes demo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(demo.empty());
    const std::vector<float> withSysEx = renderHere(soundFont, demo, kLoopAndSysEx, 2.0);
    EXPECT_TRUE(withSysEx == renderHere(soundFont, demo, 1, 2.0));
    EXPECT_GE(firstSound(withSysEx), 0);
    EXPECT_LT(firstSound(withSysEx), 128);
}
