#include <gtest/gtest.h>

#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <random>
#include <thread>

#include "Brisola.h"
#include "Engine.h"
#include "FluidSynthSink.h"
#include "SmfBuilder.h"

using namespace brisola::test;
using namespace std::chrono_literals;

namespace {

TBrs4PlayerStatus status()
{
    TBrs4PlayerStatus s{};
    EXPECT_EQ(BRS4GetPlayerStatus(&s, sizeof s), BRSERROR_NOERROR);
    return s;
}

TBrs4SmfInformation information()
{
    TBrs4SmfInformation i{};
    EXPECT_EQ(BRS4GetSmfInformation(&i, sizeof i, 0), BRSERROR_NOERROR);
    return i;
}

// About 0.6 s: 120 bpm, 480 ticks per quarter, notes to tick 1152.
Bytes shortSong()
{
    return smf({TrackBuilder().note(0, 240, 0, 60).note(480, 240, 0, 64).cc(240, 0, 111, 0).note(960, 192, 0, 67)});
}

template <typename Predicate>
bool waitFor(Predicate predicate, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (predicate())
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return predicate();
}

// Each test starts from an engine with no song and the silent output; the device probe must
// not find the audio or JACK server a test script may have started.
class EngineApi : public testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("PULSE_SERVER");
        unsetenv("JACK_DEFAULT_SERVER");
        setenv("XDG_RUNTIME_DIR", "/nonexistent-tonelark-runtime", 1);
        BRS4Stop(0);
        BRS4ClearList();
    }
    void TearDown() override
    {
        BRS4Stop(0);
        BRS4ClearList();
        BRS4CloseDevice();
    }
    void load(const Bytes &song) { ASSERT_EQ(BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0), BRSERROR_NOERROR); }
};

} // namespace

TEST_F(EngineApi, WithoutSongEverythingAnswersAndNothingPlays)
{
    const TBrs4SmfInformation i = information();
    EXPECT_EQ(std::vector<int>({i.TimeBase, i.TotalTick, i.TotalTime, i.FirstNoteTick, i.FirstNoteTime, i.LastNoteTick,
                                i.LastNoteTime, i.LoopTick, i.LoopTime}),
              std::vector<int>({0, 0, 0, 0, 0, 0, 0, -1, -1}));
    EXPECT_EQ(BRS4Play(BRSPLAY_LOOP, 0, 0, 0, 0), BRSERROR_NOTREADY);
    EXPECT_EQ(BRS4Pause(), BRSERROR_NOERROR);
    EXPECT_EQ(BRS4SetMasterVolume(-127), BRSERROR_NOERROR);
    EXPECT_EQ(BRS4SetMasterVolume(5000), BRSERROR_NOERROR);
    EXPECT_EQ(status().State, BRSSTATE_STOP);
    EXPECT_EQ(status().Tick, 0);
    EXPECT_EQ(BRS4CloseDevice(), BRSERROR_NOERROR);
    EXPECT_EQ(BRS4CloseDevice(), BRSERROR_NOERROR);
}

TEST_F(EngineApi, RecordCallsWriteNoMoreThanTheSizeGiven)
{
    load(shortSong());
    for (std::int32_t size : {0, 1, 4, 19, 20, 64}) {
        unsigned char buffer[64];
        std::memset(buffer, 0xAA, sizeof buffer);
        BRS4GetPlayerStatus(reinterpret_cast<TBrs4PlayerStatus *>(buffer), size);
        const int written = std::min(size, 20);
        for (int n = written; n < 64; ++n)
            ASSERT_EQ(buffer[n], 0xAA) << "status size " << size << " byte " << n;
        std::memset(buffer, 0xAA, sizeof buffer);
        BRS4GetSmfInformation(reinterpret_cast<TBrs4SmfInformation *>(buffer), size, 0);
        for (int n = std::min(size, 36); n < 64; ++n)
            ASSERT_EQ(buffer[n], 0xAA) << "information size " << size << " byte " << n;
        if (size >= 4) {
            std::int32_t timeBase;
            std::memcpy(&timeBase, buffer, 4);
            EXPECT_EQ(timeBase, 480);
        }
    }
    EXPECT_EQ(BRS4GetPlayerStatus(nullptr, 20), BRSERROR_ILLEGAL_POINTER);
    EXPECT_EQ(BRS4GetSmfInformation(nullptr, 36, 0), BRSERROR_ILLEGAL_POINTER);
}

TEST_F(EngineApi, ARefusedSongRegistersNothing)
{
    load(shortSong());
    const Bytes garbage = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0, 0, 'M', 'T', 'r', 'k', 0, 0, 0, 1, 0}; // division 0
    const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'n', 'g'};
    EXPECT_EQ(BRS4AddListFromMemory(text.data(), std::int32_t(text.size()), 0, 0), BRSERROR_NOSMF);
    EXPECT_EQ(BRS4AddListFromMemory(garbage.data(), std::int32_t(garbage.size()), 0, 0), BRSERROR_BADSMF);
    EXPECT_EQ(BRS4AddListFromMemory(nullptr, 100, 0, 0), BRSERROR_ILLEGAL_POINTER);
    EXPECT_EQ(BRS4AddListFromMemory(text.data(), 0, 0, 0), BRSERROR_BADFILESIZE);
    EXPECT_EQ(BRS4AddListFromMemory(text.data(), -5, 0, 0), BRSERROR_BADFILESIZE);
    EXPECT_EQ(information().TotalTick, 1152);
    EXPECT_EQ(information().LoopTick, 240);
    EXPECT_EQ(information().LoopTime, 250);
    EXPECT_EQ(BRS4ClearList(), BRSERROR_NOERROR);
    EXPECT_EQ(information().TimeBase, 0);
    EXPECT_EQ(information().LoopTick, -1);
    EXPECT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOTREADY);
}

TEST_F(EngineApi, PlaysToTheEndWithoutAnyAudioDevice)
{
    struct Device {
        std::int32_t id;
        std::int32_t expected;
    };
    for (const Device &d : std::vector<Device>{{BRSDEVICE_BUILTIN_SYNTH, BRSERROR_CANNOT_OPENDEVICE},
                                               {4096, BRSERROR_CANNOT_OPENDEVICE},
                                               {-7, BRSERROR_UNDEFINED_ID}}) {
        EXPECT_EQ(BRS4OpenDevice(d.id, nullptr), d.expected) << d.id;
        load(shortSong());
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
        EXPECT_EQ(status().State, BRSSTATE_PLAY);
        EXPECT_TRUE(waitFor([] { return status().Tick > 100; }, 1000ms)) << "the position advances";
        EXPECT_TRUE(waitFor([] { return status().State == BRSSTATE_STOP; }, 3000ms)) << "and the song ends";
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_GT(seconds, 1.1) << "the silent output keeps real time";
        EXPECT_EQ(status().Tick, 1152);
        EXPECT_EQ(status().Time, 1200);
    }
}

TEST_F(EngineApi, TempoRatioChangedWhilePlayingOnTheTimingThread)
{
    // The song runs 960 ticks a second. Lateness only slows the position, so the bounds are
    // upper bounds on the song's pace.
    load(shortSong());
    ASSERT_EQ(BRS4SetTempoRatio(50), BRSERROR_NOERROR);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
    std::this_thread::sleep_for(400ms);
    const TBrs4PlayerStatus slow = status();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LE(slow.Tick, int(seconds * 480) + 1) << "at most half the song's pace";
    ASSERT_EQ(BRS4SetTempoRatio(200), BRSERROR_NOERROR);
    EXPECT_GE(status().Tick, slow.Tick) << "no jump back at the change";
    EXPECT_TRUE(waitFor([] { return status().State == BRSSTATE_STOP; }, 5000ms));
    EXPECT_EQ(status().Tick, 1152);
    EXPECT_EQ(status().Time, 1200) << "song time, not time played";
    BRS4SetTempoRatio(100);
}

TEST_F(EngineApi, RepeatHoldsThePlayInItsRangeUntilClearedOrANewSong)
{
    EXPECT_EQ(BRS4SetRepeat(0, 480), BRSERROR_FAILED) << "no song";
    load(shortSong());
    EXPECT_EQ(BRS4SetRepeat(0, 1153), BRSERROR_FAILED) << "past the end";
    ASSERT_EQ(BRS4SetRepeat(240, 720), BRSERROR_NOERROR); // 0.25 s to 0.75 s
    ASSERT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
    // Longer than the whole song: it never ends, never passes B, and comes back to A.
    int wraps = 0, last = 0;
    const auto until = std::chrono::steady_clock::now() + 1600ms;
    while (std::chrono::steady_clock::now() < until) {
        const TBrs4PlayerStatus s = status();
        ASSERT_EQ(s.State, BRSSTATE_PLAY);
        EXPECT_LT(s.Tick, 720);
        if (s.Tick < last) {
            ++wraps;
            EXPECT_GE(s.Tick, 240);
        }
        last = s.Tick;
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(wraps, 2);
    EXPECT_EQ(status().LoopCount, 0);
    ASSERT_EQ(BRS4SetRepeat(-1, -1), BRSERROR_NOERROR);
    EXPECT_TRUE(waitFor([] { return status().State == BRSSTATE_STOP; }, 3000ms)) << "cleared: on to the end";
    ASSERT_EQ(BRS4SetRepeat(240, 720), BRSERROR_NOERROR);
    load(shortSong());
    ASSERT_EQ(BRS4Play(0, 0, 600, 0, 0), BRSERROR_NOERROR);
    EXPECT_TRUE(waitFor([] { return status().State == BRSSTATE_STOP; }, 3000ms)) << "a new song has no range";
}

TEST_F(EngineApi, PauseKeepsThePositionAndPlayResumesFromIt)
{
    BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr);
    load(shortSong());
    // The clock runs on its own thread, and a loaded machine may hold this one back for a
    // while: a status read after a play may be ahead of the start by the time that passed (0.96
    // ticks per ms), and past the end it has gone round to the loop point (LoopCount says so).
    auto playAndCheckStart = [](std::int32_t tick) {
        const auto before = std::chrono::steady_clock::now();
        BRS4Play(BRSPLAY_LOOP, 0, tick, 0, 0);
        const TBrs4PlayerStatus s = status();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
        EXPECT_EQ(s.State, BRSSTATE_PLAY);
        if (s.LoopCount == 0) {
            EXPECT_GE(s.Tick, tick);
            EXPECT_LE(s.Tick, tick + 20 + int(ms * 0.96)) << "read " << ms << " ms after the play";
        }
    };
    playAndCheckStart(480);
    std::this_thread::sleep_for(100ms);
    BRS4Pause();
    const TBrs4PlayerStatus paused = status();
    EXPECT_EQ(paused.State, BRSSTATE_PAUSE);
    if (paused.LoopCount == 0) {
        EXPECT_GT(paused.Tick, 480);
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(status().Tick, paused.Tick);
    EXPECT_EQ(status().Time, paused.Time);
    playAndCheckStart(paused.Tick);
    // The loop bit: the song goes round (0.95 s per pass from the loop point) and counts.
    EXPECT_TRUE(waitFor([] { return status().LoopCount >= 1; }, 4000ms));
    EXPECT_EQ(status().State, BRSSTATE_PLAY);
    BRS4Stop(0);
    EXPECT_EQ(status().State, BRSSTATE_STOP);
}

TEST_F(EngineApi, AnyCallFromAnyThreadInAnyOrder)
{
    const Bytes song = shortSong();
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            while (!done) {
                switch (random() % 10) {
                case 0: BRS4Play(int(random() % 64), 0, int(random() % 2000) - 100, 0, 0); break;
                case 1: BRS4Pause(); break;
                case 2: BRS4Stop(0); break;
                case 3: BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0); break;
                case 4: BRS4ClearList(); break;
                case 5: BRS4SetMasterVolume(-int(random() % 128)); break;
                case 6: if (random() % 8 == 0) BRS4OpenDevice(int(random() % 3) - 1, nullptr); break;
                case 7:
                    switch (random() % 4) {
                    case 0: BRS4SetChannelMute(int(random() % 16), int(random() % 2)); break;
                    case 1: BRS4SetChannelSolo(int(random() % 16), int(random() % 2)); break;
                    case 2: BRS4SetChannelLevel(int(random() % 16), int(random() % 101)); break;
                    default: {
                        TBrs4ChannelStatus channels[16];
                        EXPECT_EQ(BRS4GetChannelStatus(channels, 16), 16);
                        for (const auto &c : channels)
                            EXPECT_LE(c.Level, 100);
                    }
                    }
                    break;
                default: {
                    const TBrs4PlayerStatus s = status();
                    EXPECT_LE(s.State, BRSSTATE_PAUSE);
                    EXPECT_GE(s.Tick, 0);
                    EXPECT_LE(s.Tick, 1152);
                    information();
                }
                }
            }
        });
    }
    std::this_thread::sleep_for(400ms);
    done = true;
    for (auto &thread : threads)
        thread.join();
    BRS4Stop(0);
    EXPECT_EQ(status().State, BRSSTATE_STOP);
    for (int ch = 0; ch < 16; ++ch) {
        BRS4SetChannelMute(ch, 0);
        BRS4SetChannelSolo(ch, 0);
        BRS4SetChannelLevel(ch, 100);
    }
}

TEST(EngineLibrary, ExportsTheTenFunctions)
{
    void *library = dlopen(BRISOLA_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_TRUE(library) << dlerror();
    for (const char *name : {"BRS4OpenDevice", "BRS4CloseDevice", "BRS4ClearList", "BRS4AddListFromMemory", "BRS4Play",
                             "BRS4Pause", "BRS4Stop", "BRS4SetMasterVolume", "BRS4GetPlayerStatus", "BRS4GetSmfInformation",
                             "BRS4SetSoundFont", "BRS4SetKeyShift", "BRS4SetTempoRatio", "BRS4SetChannelMute",
                             "BRS4SetChannelSolo", "BRS4SetChannelLevel", "BRS4GetChannelStatus", "BRS4SetRepeat"})
        EXPECT_TRUE(dlsym(library, name)) << name;
    EXPECT_FALSE(dlsym(library, "_ZN7brisola9Sequencer4playEii")) << "internals stay hidden";
    auto getInformation = reinterpret_cast<decltype(&BRS4GetSmfInformation)>(dlsym(library, "BRS4GetSmfInformation"));
    TBrs4SmfInformation info{};
    ASSERT_EQ(getInformation(&info, sizeof info, 0), BRSERROR_NOERROR);
    EXPECT_EQ(info.LoopTick, -1);
    dlclose(library);
}

TEST(EngineLibrary, AChosenSoundFontThatDoesNotLoadKeepsThePreviousOne)
{
    const std::string system = brisola::defaultSoundFont();
    if (system.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tonelark-sf-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path copy = dir / "ピアノ sound.sf2", cut = dir / "cut.sf2", text = dir / "text.sf2";
    fs::copy_file(system, copy);
    {
        // The RIFF header and the start of the samples: it looks like a SoundFont, but is cut.
        std::ifstream in(system, std::ios::binary);
        std::vector<char> head(65536);
        in.read(head.data(), std::streamsize(head.size()));
        std::ofstream(cut, std::ios::binary).write(head.data(), std::streamsize(head.size()));
        std::ofstream(text) << "not a SoundFont";
    }
    auto &engine = brisola::Engine::instance();
    EXPECT_EQ(BRS4SetSoundFont(copy.c_str()), BRSERROR_NOERROR);
    EXPECT_EQ(engine.soundFont(), copy.string());
    const fs::path missing = dir / "missing.sf2";
    const struct {
        const char *path;
        std::int32_t result;
    } refused[] = {{missing.c_str(), BRSERROR_FILENOTFOUND},
                   {cut.c_str(), BRSERROR_CANNOT_OPENFILE},
                   {text.c_str(), BRSERROR_CANNOT_OPENFILE},
                   {dir.c_str(), BRSERROR_CANNOT_OPENFILE},
                   {nullptr, BRSERROR_ILLEGAL_POINTER}};
    for (const auto &c : refused) {
        EXPECT_EQ(BRS4SetSoundFont(c.path), c.result) << (c.path ? c.path : "null");
        EXPECT_EQ(engine.soundFont(), copy.string()) << "the previous choice stays";
    }
    EXPECT_EQ(BRS4SetSoundFont(""), BRSERROR_NOERROR);
    EXPECT_EQ(engine.soundFont(), system);
    fs::remove_all(dir);
}

TEST(EngineLibrary, KeyShiftAndTempoRatioRefuseValuesOutOfRangeAndKeepTheSetting)
{
    auto &engine = brisola::Engine::instance();
    for (std::int32_t key : {-12, 12, -3})
        EXPECT_EQ(BRS4SetKeyShift(key), BRSERROR_NOERROR) << key;
    for (std::int32_t percent : {50, 200, 137})
        EXPECT_EQ(BRS4SetTempoRatio(percent), BRSERROR_NOERROR) << percent;
    for (std::int32_t key : {-13, 13, INT32_MIN, INT32_MAX})
        EXPECT_EQ(BRS4SetKeyShift(key), BRSERROR_FAILED) << key;
    for (std::int32_t percent : {49, 201, 0, -100, INT32_MAX})
        EXPECT_EQ(BRS4SetTempoRatio(percent), BRSERROR_FAILED) << percent;
    EXPECT_EQ(engine.keyShift(), -3);
    EXPECT_EQ(engine.tempoRatio(), 137);
    BRS4SetKeyShift(0);
    BRS4SetTempoRatio(100);
}

TEST(EngineLibrary, ChannelMixerRefusesChannelsOutOfRangeAndReportsItsSettings)
{
    for (std::int32_t ch : {-1, 16, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(BRS4SetChannelMute(ch, 1), BRSERROR_FAILED) << ch;
        EXPECT_EQ(BRS4SetChannelSolo(ch, 1), BRSERROR_FAILED) << ch;
        EXPECT_EQ(BRS4SetChannelLevel(ch, 50), BRSERROR_FAILED) << ch;
    }
    EXPECT_EQ(BRS4SetChannelMute(3, 1), BRSERROR_NOERROR);
    EXPECT_EQ(BRS4SetChannelSolo(5, 1), BRSERROR_NOERROR);
    EXPECT_EQ(BRS4SetChannelLevel(5, 250), BRSERROR_NOERROR) << "clamped";
    TBrs4ChannelStatus channels[16];
    EXPECT_EQ(BRS4GetChannelStatus(channels, 6), 6) << "only what the caller asked for";
    EXPECT_EQ(BRS4GetChannelStatus(channels, 99), 16);
    EXPECT_EQ(BRS4GetChannelStatus(nullptr, 16), -BRSERROR_ILLEGAL_POINTER);
    EXPECT_EQ(BRS4GetChannelStatus(nullptr, 0), 0);
    EXPECT_EQ(channels[3].Flags & (BRSCHANNEL_MUTED | BRSCHANNEL_SILENCED), BRSCHANNEL_MUTED | BRSCHANNEL_SILENCED);
    EXPECT_EQ(channels[5].Flags & (BRSCHANNEL_SOLOED | BRSCHANNEL_SILENCED), BRSCHANNEL_SOLOED);
    EXPECT_EQ(channels[5].Level, 100);
    EXPECT_TRUE(channels[0].Flags & BRSCHANNEL_SILENCED) << "not soloed while another is";
    EXPECT_TRUE(channels[9].Flags & BRSCHANNEL_DRUM);
    BRS4SetChannelMute(3, 0);
    BRS4SetChannelSolo(5, 0);
    EXPECT_EQ(BRS4GetChannelStatus(channels, 16), 16);
    for (const auto &c : channels)
        EXPECT_FALSE(c.Flags & BRSCHANNEL_SILENCED);
}
