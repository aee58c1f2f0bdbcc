// The engine against real servers that scripts/test.sh starts (scripts/servers/engine.sh).
// Without them these tests skip.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include "Brisola.h"
#include "FluidSynthSink.h"
#include "MidiPortSink.h"
#include "RecordingSink.h"
#include "Sequencer.h"
#include "ServerTestSupport.h"
#include "SmfBuilder.h"

#if __has_include(<RtMidi.h>)
#include <RtMidi.h>
#define BRISOLA_TEST_HAS_RTMIDI 1
#endif

using namespace brisola::test;
using namespace std::chrono_literals;

namespace {

// Whether the server holds a paused (corked) playback stream, as `pactl` reports it.
bool serverHasPausedStream()
{
    FILE *pipe = popen("pactl list sink-inputs 2>/dev/null", "r");
    if (!pipe)
        return false;
    std::string text;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        text.append(buffer, n);
    pclose(pipe);
    return text.find("Corked: yes") != std::string::npos;
}

// Plays the registered song to its end on the audio clock; the state and tick at the end.
TBrs4PlayerStatus playToTheEnd()
{
    EXPECT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
    TBrs4PlayerStatus status{};
    // Generous: the song lasts seconds, but a loaded machine may starve the sound server.
    const auto end = std::chrono::steady_clock::now() + 30s;
    do {
        std::this_thread::sleep_for(20ms);
        BRS4GetPlayerStatus(&status, sizeof status);
    } while (status.State == BRSSTATE_PLAY && std::chrono::steady_clock::now() < end);
    return status;
}

} // namespace

// The synthesizer sounds on the server; while the player is quiet its stream pauses (an idle
// player costs no CPU), and Play resumes it with sound and a running clock.
TEST(RealOutput, BuiltInSynthesizerSoundsOnThePulseAudioNullSinkAndPausesWhenQuiet)
{
    const char *runtime = std::getenv("TONELARK_PULSE_RUNTIME");
    const char *sinkName = std::getenv("TONELARK_PULSE_SINK");
    if (!runtime || !sinkName)
        GTEST_SKIP() << "TONELARK_PULSE_RUNTIME is not set: no PulseAudio test server (scripts/test.sh starts one)";
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    unsetenv("PULSE_SERVER");

    const std::string raw = std::string(runtime) + "/monitor-" + std::to_string(getpid()) + ".raw";
    const pid_t recorder = fork();
    ASSERT_GE(recorder, 0);
    if (recorder == 0) {
        const std::string device = std::string("--device=") + sinkName + ".monitor";
        execlp("parecord", "parecord", device.c_str(), "--raw", "--format=s16le", "--rate=44100", "--channels=2",
               raw.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(300ms);

    ASSERT_EQ(BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr), BRSERROR_NOERROR);
    BRS4SetMasterVolume(0); // the volume outlives devices; an earlier test may have lowered it
    // Two notes 2.6 s apart: the rest is longer than the quiet that pauses a stopped player,
    // and the clock must run through it.
    const Bytes song = smf({TrackBuilder().program(0, 0, 0).note(0, 400, 0, 60, 120).note(2880, 400, 0, 67, 120)});
    ASSERT_EQ(BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0), BRSERROR_NOERROR);
    TBrs4PlayerStatus status = playToTheEnd();
    EXPECT_EQ(status.State, BRSSTATE_STOP) << "the song ends on the audio clock";
    EXPECT_EQ(status.Tick, 3280);

    bool paused = false;
    for (const auto end = std::chrono::steady_clock::now() + 15s; !paused && std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(100ms);
        paused = serverHasPausedStream();
    }
    EXPECT_TRUE(paused) << "the stream of a stopped, silent player keeps running";
    status = playToTheEnd();
    EXPECT_EQ(status.State, BRSSTATE_STOP) << "after the pause, the song ends on the audio clock";
    EXPECT_EQ(status.Tick, 3280);
    std::this_thread::sleep_for(300ms);
    BRS4CloseDevice();
    kill(recorder, SIGINT);
    int wstatus = 0;
    waitpid(recorder, &wstatus, 0);

    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    ASSERT_GT(bytes.size(), 44100u * 4 * 2) << "parecord recorded too little";
    // Count the notes heard: runs of loud 10 ms windows, apart by at least half a second.
    constexpr std::size_t kWindowBytes = 441 * 4;
    int notes = 0;
    std::size_t quietWindows = 1000;
    for (std::size_t at = 0; at + kWindowBytes <= bytes.size(); at += kWindowBytes) {
        int peak = 0;
        for (std::size_t i = at; i < at + kWindowBytes; i += 2)
            peak = std::max(peak, std::abs(int(std::int16_t((std::uint8_t(bytes[i + 1]) << 8) | std::uint8_t(bytes[i])))));
        if (peak > 1000) {
            if (quietWindows >= 50)
                ++notes;
            quietWindows = 0;
        } else {
            ++quietWindows;
        }
    }
    EXPECT_EQ(notes, 4) << "each play sounds both notes on the monitor of the null sink";
}

namespace {

TBrs4OutputStatus outputStatus()
{
    TBrs4OutputStatus status{};
    BRS4GetOutputStatus(&status, sizeof status);
    return status;
}

TBrs4PlayerStatus playerStatus()
{
    TBrs4PlayerStatus status{};
    BRS4GetPlayerStatus(&status, sizeof status);
    return status;
}


} // namespace

// The sound server goes away while a song plays and comes back: the song keeps its place and
// plays on in real time without sound meanwhile, the output says it waits, and within 5 s of
// the server's return the song is heard again with nothing left sounding after a stop. The same
// for a first server that appears only after the synthesizer was opened without one.
TEST(RealOutput, SoundServerKilledAndStartedAgainIsUsedAgainFromThePositionReached)
{
    if (!onPath("pulseaudio") || !onPath("parecord"))
        GTEST_SKIP() << "pulseaudio or parecord is not installed";
    if (brisola::defaultSoundFont().empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    PrivatePulse server;
    ASSERT_TRUE(server.start()) << "the private PulseAudio server did not start";
    setenv("XDG_RUNTIME_DIR", server.dir().c_str(), 1);
    unsetenv("PULSE_SERVER");

    // A note every 250 ms for a minute.
    TrackBuilder track;
    track.program(0, 0, 0);
    for (std::uint32_t i = 0; i < 240; ++i)
        track.note(i * 240, 120, 0, 60 + int(i % 12), 110);
    const Bytes song = smf({track});
    BRS4SetSoundFont("");
    const std::int32_t refusals = outputStatus().SoundFontRefusals;
    ASSERT_EQ(BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr), BRSERROR_NOERROR);
    EXPECT_EQ(outputStatus().Server, BRSSERVER_CONNECTED);
    BRS4SetMasterVolume(0);
    ASSERT_EQ(BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0), BRSERROR_NOERROR);
    ASSERT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
    ASSERT_TRUE(waitUntil([] { return playerStatus().Tick > 480; }, 20s)) << "the song does not start";

    const std::int32_t changes = outputStatus().ServerChanges;
    server.kill9();
    ASSERT_TRUE(waitUntil([] { return outputStatus().Server == BRSSERVER_WAITING; }, 3s))
        << "the output does not notice that the server is gone";
    EXPECT_EQ(outputStatus().ServerChanges, changes + 1);
    const std::int32_t tickAtLoss = playerStatus().Tick;
    EXPECT_TRUE(waitUntil([&] { return playerStatus().Tick > tickAtLoss + 480; }, 3s))
        << "without the server the song stands still";
    EXPECT_EQ(playerStatus().State, BRSSTATE_PLAY);

    ASSERT_TRUE(server.start());
    const auto restarted = std::chrono::steady_clock::now();
    {
        MonitorRecording recording(server.dir());
        EXPECT_TRUE(waitUntil([] { return outputStatus().Server == BRSSERVER_CONNECTED; }, 5s))
            << "the output does not connect to the server that came back";
        const std::int32_t tickAtReturn = playerStatus().Tick;
        EXPECT_GT(tickAtReturn, tickAtLoss + 480) << "the song went on from where the clock had got to";
        std::this_thread::sleep_until(restarted + 5s);
        const std::vector<bool> heard = recording.windows();
        EXPECT_GT(countLoud(heard), 50) << "within 5 s of the server's return the song is not heard ("
                                        << heard.size() << " windows recorded)";
    }
    EXPECT_GT(playerStatus().Tick, tickAtLoss + 960);
    EXPECT_EQ(playerStatus().State, BRSSTATE_PLAY);
    {
        // After a stop nothing keeps sounding: no note was left hanging by the loss.
        BRS4Stop(0);
        std::this_thread::sleep_for(1500ms);
        MonitorRecording recording(server.dir());
        std::this_thread::sleep_for(2500ms);
        const std::vector<bool> heard = recording.windows();
        EXPECT_GT(heard.size(), 100u) << "parecord recorded too little";
        EXPECT_EQ(countLoud(heard), 0) << "a note sounds on after the stop";
    }

    // No server at the open: a silent output that keeps time, and sound once a server starts.
    BRS4CloseDevice();
    server.kill9();
    EXPECT_EQ(BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr), BRSERROR_CANNOT_OPENDEVICE);
    EXPECT_EQ(outputStatus().Server, BRSSERVER_WAITING);
    ASSERT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
    EXPECT_TRUE(waitUntil([] { return playerStatus().Tick > 480; }, 3s)) << "the silent output keeps time";
    ASSERT_TRUE(server.start());
    const auto started = std::chrono::steady_clock::now();
    {
        MonitorRecording recording(server.dir());
        EXPECT_TRUE(waitUntil([] { return outputStatus().Server == BRSSERVER_CONNECTED; }, 5s))
            << "the output does not connect to a server that appears after the open";
        std::this_thread::sleep_until(started + 5s);
        EXPECT_GT(countLoud(recording.windows()), 50) << "within 5 s of the server's start the song is not heard";
    }
    BRS4CloseDevice();
    EXPECT_EQ(outputStatus().Server, BRSSERVER_NOTUSED);
    EXPECT_EQ(outputStatus().SoundFontRefusals, refusals) << "the system's SoundFont was taken for damaged";
}

// A SoundFont whose sample headers point past its sample data (made from the system's own by
// cutting the data short) loads in FluidSynth and plays nothing. Where none of its presets can
// sound, it is refused when chosen; where some can but none of the song's instruments, the open
// synthesizer refuses it for that song and plays on with the system's SoundFont: the song is
// heard.
TEST(RealOutput, DamagedSoundFontIsRefusedAndTheSystemOneSoundsInstead)
{
    if (!onPath("pulseaudio") || !onPath("parecord"))
        GTEST_SKIP() << "pulseaudio or parecord is not installed";
    const std::string system = brisola::defaultSoundFont();
    if (system.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    PrivatePulse server;
    const std::string none = server.dir() + "/samples-cut-to-4k.sf2";
    const std::string some = server.dir() + "/samples-cut-to-1m.sf2";
    ASSERT_TRUE(writeSoundFontWithSamplesCut(system, none, 4096));
    ASSERT_TRUE(writeSoundFontWithSamplesCut(system, some, 1 << 20));
    const auto text = [](std::int32_t (*call)(char *, std::int32_t)) {
        std::vector<char> buffer(8192, '\0');
        call(buffer.data(), std::int32_t(buffer.size()));
        return std::string(buffer.data());
    };

    BRS4SetSoundFont("");
    EXPECT_EQ(BRS4SetSoundFont(none.c_str()), BRSERROR_DAMAGED_SOUNDFONT);
    EXPECT_EQ(text(BRS4GetSoundFont), system) << "the previous choice stays";
    ASSERT_EQ(BRS4SetSoundFont(some.c_str()), BRSERROR_NOERROR) << "some of its presets sound";
    {
        std::string message;
        auto probe = brisola::FluidSynthInstance::create(some, 44100.0, true, message);
        ASSERT_TRUE(probe) << message;
        fluid_synth_program_select(probe->synth(), 0, fluid_sfont_get_id(fluid_synth_get_sfont(probe->synth(), 0)), 0, 0);
        if (brisola::channelSounds(probe->synth(), 0))
            GTEST_SKIP() << "the piano of the cut SoundFont still sounds: this SoundFont keeps it in its first MB";
    }

    ASSERT_TRUE(server.start());
    setenv("XDG_RUNTIME_DIR", server.dir().c_str(), 1);
    unsetenv("PULSE_SERVER");
    const std::int32_t refusals = outputStatus().SoundFontRefusals;
    ASSERT_EQ(BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr), BRSERROR_NOERROR);
    BRS4SetMasterVolume(0);
    TrackBuilder track;
    track.program(0, 0, 0);
    for (std::uint32_t i = 0; i < 40; ++i)
        track.note(i * 240, 120, 0, 60 + int(i % 12), 110);
    const Bytes song = smf({track});
    ASSERT_EQ(BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0), BRSERROR_NOERROR);
    ASSERT_EQ(BRS4Play(0, 0, 0, 0, 0), BRSERROR_NOERROR);
    EXPECT_TRUE(waitUntil([&] { return outputStatus().SoundFontRefusals == refusals + 1; }, 10s))
        << "a SoundFont that cannot sound the song's piano is not refused";
    EXPECT_EQ(text(BRS4GetRefusedSoundFont), some + "\n" + system);
    EXPECT_EQ(text(BRS4GetSoundFont), system) << "the settings dialog names the SoundFont that plays";
    {
        MonitorRecording recording(server.dir());
        std::this_thread::sleep_for(4s);
        EXPECT_GT(countLoud(recording.windows()), 50) << "the song is not heard with the system's SoundFont";
    }
    BRS4CloseDevice();
    BRS4SetSoundFont("");
}

// A chosen SoundFont is read once: the open takes the synthesizer its check loaded it into. With
// the file gone after the check, that open still has the SoundFont; a fresh one cannot load it.
TEST(RealOutput, TheOpenTakesTheSynthesizerThatCheckedTheSoundFont)
{
    const std::string system = brisola::defaultSoundFont();
    if (system.empty())
        GTEST_SKIP() << "no General MIDI SoundFont installed";
    char folder[] = "/tmp/brisola-checked-XXXXXX";
    ASSERT_TRUE(mkdtemp(folder));
    const std::filesystem::path chosen = std::filesystem::path(folder) / "chosen.sf2";
    std::error_code ec;
    std::filesystem::create_hard_link(system, chosen, ec);
    if (ec) {
        ASSERT_TRUE(std::filesystem::copy_file(system, chosen, ec)) << ec.message();
    }
    std::string message;
    std::unique_ptr<brisola::FluidSynthInstance> checked;
    ASSERT_EQ(brisola::checkSoundFont(chosen, message, &checked), BRSERROR_NOERROR) << message;
    ASSERT_TRUE(checked);
    int font = 0, bank = -1, program = -1;
    fluid_synth_get_program(checked->synth(), 0, &font, &bank, &program);
    EXPECT_EQ(bank * 1000 + program, 0) << "the check's instrument left on channel 0";
    std::filesystem::remove_all(folder);

    bool waiting = false;
    brisola::EngineCore takingCore, freshCore;
    const auto taking = brisola::FluidSynthOutput::open(takingCore, chosen, message, waiting, std::move(checked));
    ASSERT_TRUE(taking) << message;
    EXPECT_TRUE(taking->waitUntilLoaded(message)) << message;
    const auto fresh = brisola::FluidSynthOutput::open(freshCore, chosen, message, waiting);
    ASSERT_TRUE(fresh) << message;
    EXPECT_FALSE(fresh->waitUntilLoaded(message)) << "the file was read again";
}

#ifdef BRISOLA_TEST_HAS_RTMIDI

namespace {

std::string hex(const std::vector<std::uint8_t> &bytes)
{
    std::ostringstream out;
    out << std::hex;
    for (std::uint8_t b : bytes)
        out << (b < 16 ? "0" : "") << int(b) << ' ';
    return out.str();
}

// A JACK client of the test's own that notes the frame of every note-on reaching its port.
struct FrameRecorder {
    jack_client_t *client = nullptr;
    jack_port_t *port = nullptr;
    std::vector<jack_nframes_t> frames = std::vector<jack_nframes_t>(4096);
    std::atomic<std::size_t> count{0};

    static int process(jack_nframes_t n, void *arg)
    {
        auto *self = static_cast<FrameRecorder *>(arg);
        void *buffer = jack_port_get_buffer(self->port, n);
        std::size_t at = self->count.load(std::memory_order_relaxed);
        for (std::uint32_t i = 0; i < jack_midi_get_event_count(buffer) && at < self->frames.size(); ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) == 0 && e.size == 3 && (e.buffer[0] & 0xF0) == 0x90 && e.buffer[2])
                self->frames[at++] = jack_last_frame_time(self->client) + e.time;
        }
        self->count.store(at, std::memory_order_release);
        return 0;
    }
};

struct Capture {
    std::mutex mutex;
    std::vector<std::vector<std::uint8_t>> messages;
    std::vector<double> stamps; // seconds since the capture port opened, by the JACK clock
    double elapsed = 0;
};

} // namespace

TEST(RealOutput, PortSinkPlaysIntoAJackMidiPortInOrder)
{
    const char *server = std::getenv("TONELARK_JACK_SERVER");
    if (!server)
        GTEST_SKIP() << "TONELARK_JACK_SERVER is not set: no JACK test server (scripts/test.sh starts one)";
    // Both RtMidi's clients and the engine's server probe connect to the server this names.
    setenv("JACK_DEFAULT_SERVER", server, 1);

    Capture capture;
    // The other side: an input port of our own on the same server, as a synthesizer would have.
    // A client name of this process's own, so that the port found below is this one.
    const std::string client = "TonelarkCapture" + std::to_string(getpid());
    RtMidiIn input(RtMidi::UNIX_JACK, client, 4096);
    input.ignoreTypes(false, true, true);
    input.setCallback(
        [](double delta, std::vector<unsigned char> *message, void *data) {
            auto *c = static_cast<Capture *>(data);
            std::lock_guard lock(c->mutex);
            c->elapsed += delta;
            c->messages.emplace_back(message->begin(), message->end());
            c->stamps.push_back(c->elapsed);
        },
        &capture);
    input.openVirtualPort("in");

    const std::vector<std::string> ports = brisola::midiOutputPorts();
    int index = -1;
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (ports[i].rfind(client + ":", 0) == 0)
            index = int(i);
    ASSERT_GE(index, 0) << "the engine does not list the capture port among " << ports.size() << " ports";

    // 120 bpm: notes every 240 ticks (250 ms), a drum hit, a bend between notes, a SysEx at the
    // start; the song ends at tick 840 (875 ms).
    const Bytes song = smf({TrackBuilder()
                                .sysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                .program(0, 0, 5)
                                .cc(0, 0, 7, 90)
                                .note(0, 120, 0, 60, 100)
                                .note(240, 120, 9, 38, 110)
                                .bend(300, 0, 0x3000)
                                .note(480, 120, 0, 64, 90)
                                .note(720, 120, 0, 67, 80)});
    BRS4SetMasterVolume(0); // the volume outlives devices; an earlier test may have lowered it
    // Two semitones up at 150 %, set before the device opens: the melody moves, the drum stays.
    BRS4SetKeyShift(2);
    BRS4SetTempoRatio(150);
    ASSERT_EQ(BRS4OpenDevice(index, nullptr), BRSERROR_NOERROR);
    ASSERT_EQ(BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0), BRSERROR_NOERROR);
    ASSERT_EQ(BRS4Play(BRSPLAY_SYSEX, 0, 0, 0, 0), BRSERROR_NOERROR);
    TBrs4PlayerStatus status{};
    const auto end = std::chrono::steady_clock::now() + 20s;
    do {
        std::this_thread::sleep_for(20ms);
        BRS4GetPlayerStatus(&status, sizeof status);
    } while (status.State == BRSSTATE_PLAY && std::chrono::steady_clock::now() < end);
    EXPECT_EQ(status.State, BRSSTATE_STOP);
    EXPECT_EQ(status.Tick, 840);
    BRS4CloseDevice();
    BRS4SetKeyShift(0);
    BRS4SetTempoRatio(100);
    // JACK hands messages over once per period; give the last ones time to cross.
    std::this_thread::sleep_for(300ms);

    // What should arrive: the master volume the device was opened with, then exactly what the
    // sequencer sends for this song offline (chase, song, end), then what closing sends.
    std::vector<std::vector<std::uint8_t>> expected{{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x7F, 0x7F, 0xF7}};
    {
        BrsError error;
        brisola::RecordingSink reference;
        brisola::Sequencer sequencer;
        sequencer.setKeyShift(2);
        sequencer.setTempoRatio(150);
        sequencer.setTimeline(brisola::SmfTimeline::read(song.data(), song.size(), error));
        sequencer.setSink(&reference, 1000000);
        sequencer.play(BRSPLAY_SYSEX, 0);
        sequencer.advance(2000000);
        sequencer.stop();
        for (const auto &e : reference.entries())
            expected.push_back(e.bytes);
    }
    std::unique_lock lock(capture.mutex);
    ASSERT_EQ(capture.messages.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(hex(capture.messages[i]), hex(expected[i])) << "message " << i;

    // The song's own messages, in this order, the melody two semitones up.
    const std::vector<std::vector<std::uint8_t>> notes{{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                                                       {0x90, 62, 100}, {0x80, 62, 0}, {0x99, 38, 110},
                                                       {0xE0, 0x00, 0x60}, {0x89, 38, 0}, {0x90, 66, 90},
                                                       {0x80, 66, 0}, {0x90, 69, 80}, {0x80, 69, 0}};
    std::vector<std::vector<std::uint8_t>> heard;
    double firstOn = -1, lastOn = -1;
    for (std::size_t i = 0; i < capture.messages.size(); ++i) {
        const auto &m = capture.messages[i];
        if (std::find(notes.begin(), notes.end(), m) != notes.end())
            heard.push_back(m);
        if (m.size() == 3 && (m[0] & 0xF0) == 0x90 && m[2] > 0) {
            if (firstOn < 0)
                firstOn = capture.stamps[i];
            lastOn = capture.stamps[i];
        }
    }
    EXPECT_EQ(heard, notes);
    // Dispatched in real time, not all at once: the notes span 750 ms of song time, 500 ms at
    // 150 %. Only a lower
    // bound, and a loose one: a loaded machine may delay the first note or stall the server.
    EXPECT_GT(lastOn - firstOn, 0.25) << "notes arrived " << (lastOn - firstOn) << " s apart";
    capture.messages.clear();
    lock.unlock();

    // A burst sent the moment the port opens (as the master volume and a chase are) arrives
    // whole and in order, however large. Before, its first messages vanished now and then (the
    // port was emptied before its connection took effect), and a burst beyond one cycle's port
    // buffer or RtMidi's 16 KB queue lost its end. (Here, in the same test: a second capture port
    // on the server would shift the port indices under a test running alongside.)
    constexpr int kRounds = 4, kBurst = 6000; // 6000 events: more than one cycle's port buffer
    std::vector<std::vector<std::uint8_t>> sent;
    for (int round = 0; round < kRounds; ++round) {
        std::string message;
        auto sink = brisola::MidiPortSink::open(index, message);
        ASSERT_TRUE(sink) << message;
        for (int i = 0; i < kBurst; ++i) {
            const std::uint8_t bytes[] = {std::uint8_t(0xB0 | (i % 16)), std::uint8_t(i % 120), std::uint8_t(i / 120 % 128)};
            sink->send(brisola::MidiMessage{bytes, 3}, 0);
            sent.emplace_back(bytes, bytes + 3);
        }
    } // closing waits until the queue has left
    std::this_thread::sleep_for(300ms);
    input.cancelCallback();
    input.closePort();
    lock.lock();
    ASSERT_EQ(capture.messages.size(), sent.size());
    EXPECT_TRUE(capture.messages == sent);
    lock.unlock();

    // Each note at the frame it falls due at, however far into a cycle that is: the frames
    // between the notes are the song's to the frame. Before, every message went to the start
    // of the cycle after it was sent, up to a period (256 frames here) off.
    FrameRecorder recorder;
    recorder.client = jack_client_open((client + "Frames").c_str(), JackNoStartServer, nullptr);
    ASSERT_TRUE(recorder.client);
    recorder.port = jack_port_register(recorder.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(recorder.client, &FrameRecorder::process, &recorder);
    ASSERT_EQ(jack_activate(recorder.client), 0);
    const std::vector<std::string> framePorts = brisola::midiOutputPorts();
    const auto found = std::find(framePorts.begin(), framePorts.end(), client + "Frames:in");
    ASSERT_NE(found, framePorts.end());
    // 1000 ticks per quarter at 500 000 µs: a tick is 0.5 ms; gaps of 3 to 43 ms.
    TrackBuilder timed;
    std::vector<std::int64_t> due; // frames at 44.1 kHz: ceil(time × rate)
    std::uint32_t tick = 10;
    for (int i = 0; i < 40; ++i, tick += 6 + std::uint32_t(i * 37 % 81)) {
        timed.note(tick, 2, 0, 60 + i % 12, 100);
        due.push_back((std::int64_t(tick) * 500 * 44100 + 999999) / 1000000);
    }
    const Bytes timedSong = smf({timed}, 1000);
    ASSERT_EQ(BRS4OpenDevice(int(found - framePorts.begin()), nullptr), BRSERROR_NOERROR);
    ASSERT_EQ(BRS4AddListFromMemory(timedSong.data(), std::int32_t(timedSong.size()), 0, 0), BRSERROR_NOERROR);
    const TBrs4PlayerStatus last = playToTheEnd();
    BRS4CloseDevice();
    std::this_thread::sleep_for(100ms);
    jack_deactivate(recorder.client);
    jack_client_close(recorder.client);
    unsetenv("JACK_DEFAULT_SERVER");
    EXPECT_EQ(last.State, BRSSTATE_STOP);
    ASSERT_EQ(recorder.count.load(), due.size());
    for (std::size_t i = 1; i < due.size(); ++i)
        EXPECT_EQ(std::int64_t(recorder.frames[i] - recorder.frames[0]), due[i] - due[0]) << "note " << i;
}

#endif

