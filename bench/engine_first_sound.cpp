// Time to first sound of device -1100: BRS4OpenDevice(-1100) + register + play until the audio
// callback hands the first non-silent block to the audio server, against a bare libfluidsynth
// program with synth.dynamic-sample-loading on that loads the same SoundFont and plays one note
// through the same driver. Both run in this process in back-to-back pairs; the median of the
// pairs' ratios, and the CPU time each side spent until its first sound (the work, whatever the
// machine's load).
// Then the longest audio callback while whole songs play (the demo song, and a song changing
// to a new program on 15 channels every 200 ms, also after a GM reset with SysEx on), with the
// most CPU time one callback took (wall time beyond it is waiting for a core). With the
// argument "memory": the resident memory while the demo song plays, in a fresh process.
//
// Needs an audio server: bench/engine_first_sound.sh starts the JACK test server (dummy
// backend, 256-frame periods). The PulseAudio null sink is no use here: it renders in blocks of
// up to 2 s, so a new stream waits that long before its first callbacks, whatever the client.
//
// The render path is observed without touching the engine: this program defines
// new_fluid_audio_driver2 and new_fluid_synth itself (the engine, linked statically, calls these)
// and forwards to libfluidsynth's, wrapping the audio callback to time it and look at its output.

#include <dlfcn.h>
#include <sys/resource.h>
#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "SmfBytes.h"
#include "Brisola.h"
#include "FluidSynthSink.h"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::atomic<int> g_dynamic{-1};                 // forced synth.dynamic-sample-loading, -1: as asked
std::atomic<Clock::rep> g_firstSound{0};        // when the first non-silent block was rendered
std::atomic<Clock::rep> g_longestCallback{0};   // ns, since the last reset
std::atomic<Clock::rep> g_longestAt{0};         // when that callback began
std::atomic<std::int64_t> g_longestCpu{0};      // ns of the callback thread's own CPU time
std::atomic<int> g_blockFrames{0};

struct Wrapped {
    fluid_audio_func_t func;
    void *data;
};

std::int64_t threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// One audio thread at a time writes the figures (one driver runs at a time).
int observingCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[])
{
    auto *w = static_cast<Wrapped *>(data);
    const auto begin = Clock::now();
    const std::int64_t cpuBegin = threadCpuNs();
    const int result = w->func(w->data, len, nfx, fx, nout, out);
    const std::int64_t cpu = threadCpuNs() - cpuBegin;
    const auto end = Clock::now();
    g_blockFrames = len;
    const Clock::rep took = (end - begin).count();
    if (took > g_longestCallback.load()) {
        g_longestCallback = took;
        g_longestAt = begin.time_since_epoch().count();
    }
    if (cpu > g_longestCpu.load())
        g_longestCpu = cpu;
    if (g_firstSound.load(std::memory_order_relaxed) == 0) {
        float peak = 0;
        for (int c = 0; c < nout; ++c)
            for (int i = 0; i < len; ++i)
                peak = std::max(peak, std::fabs(out[c][i]));
        if (peak > 1e-3f) // -60 dBFS
            g_firstSound = end.time_since_epoch().count();
    }
    return result;
}

} // namespace

extern "C" fluid_synth_t *new_fluid_synth(fluid_settings_t *settings)
{
    static auto real = reinterpret_cast<fluid_synth_t *(*)(fluid_settings_t *)>(dlsym(RTLD_NEXT, "new_fluid_synth"));
    if (g_dynamic >= 0)
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", g_dynamic);
    return real(settings);
}

extern "C" fluid_audio_driver_t *new_fluid_audio_driver2(fluid_settings_t *settings, fluid_audio_func_t func,
                                                          void *data)
{
    static auto real = reinterpret_cast<fluid_audio_driver_t *(*)(fluid_settings_t *, fluid_audio_func_t, void *)>(
        dlsym(RTLD_NEXT, "new_fluid_audio_driver2"));
    // Kept for the life of the process: a handful of drivers per run.
    auto *w = new Wrapped{func, data};
    return real(settings, observingCallback, w);
}

namespace {

using Bytes = std::vector<std::uint8_t>;
using bench::putVarLen;

// One track of (delta, bytes) events as a format-0 file, 480 ticks per quarter, 120 bpm.
Bytes smf(const std::vector<std::pair<std::uint32_t, Bytes>> &events)
{
    Bytes track;
    for (const auto &[delta, bytes] : events) {
        putVarLen(track, delta);
        track.insert(track.end(), bytes.begin(), bytes.end());
    }
    track.insert(track.end(), {0, 0xFF, 0x2F, 0});
    Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    for (int s = 24; s >= 0; s -= 8)
        out.push_back(std::uint8_t(track.size() >> s));
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

// CPU time of the whole process (every thread: the loader, the audio thread), in ms.
double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double g_cpuAtStart = 0;   // processCpuMs() when the round began
double g_cpuToSound = NAN; // CPU time the process spent until the first sound

double waitForSound(Clock::time_point start)
{
    const auto limit = start + 10s;
    // The time is taken in the callback; this loop only waits for it, and wakes rarely: while
    // it woke every 100 µs, the engine's loader thread (the bare program loads on this very
    // thread) took about twice the CPU time for the same load on this virtual machine.
    while (g_firstSound.load() == 0 && Clock::now() < limit)
        std::this_thread::sleep_for(5ms);
    const Clock::rep at = g_firstSound.load();
    g_cpuToSound = processCpuMs() - g_cpuAtStart;
    return at ? std::chrono::duration<double, std::milli>(Clock::duration(at) - start.time_since_epoch()).count() : NAN;
}

double engineFirstSound(const Bytes &song)
{
    g_firstSound = 0;
    g_cpuAtStart = processCpuMs();
    const auto start = Clock::now();
    if (BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr) != BRSERROR_NOERROR)
        return NAN;
    BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0);
    BRS4Play(0, 0, 0, 0, 0);
    const double ms = waitForSound(start);
    BRS4CloseDevice();
    return ms;
}

int bareCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[])
{
    return fluid_synth_process(static_cast<fluid_synth_t *>(data), len, nfx, fx, nout, out);
}

double bareFirstSound(const std::string &soundFont, const std::string &driver)
{
    g_firstSound = 0;
    g_cpuAtStart = processCpuMs();
    const auto start = Clock::now();
    fluid_settings_t *settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", 44100.0);
    fluid_settings_setstr(settings, "audio.driver", driver.c_str());
    if (driver == "jack") // as the engine does, so that the note reaches the server's outputs
        fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
    fluid_synth_t *synth = new_fluid_synth(settings);
    double ms = NAN;
    if (fluid_synth_sfload(synth, soundFont.c_str(), 1) != FLUID_FAILED) {
        fluid_audio_driver_t *audio = new_fluid_audio_driver2(settings, bareCallback, synth);
        if (audio) {
            fluid_synth_noteon(synth, 0, 60, 100);
            ms = waitForSound(start);
            delete_fluid_audio_driver(audio);
        }
    }
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v[v.size() / 2];
}

// Sixteen channels, each changing to a program not heard before every 200 ms, with a note;
// optionally after a GM System On (which, with SysEx on, resets every channel).
Bytes programChangeSong(bool gmReset)
{
    std::vector<std::pair<std::uint32_t, Bytes>> events;
    if (gmReset)
        events.push_back({0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}});
    int program = 0;
    for (int step = 0; step < 12; ++step)
        for (int ch = 0; ch < 16; ++ch) {
            if (ch == 9)
                continue;
            events.push_back({ch == 0 && step ? 192u : 0u, {std::uint8_t(0xC0 | ch), std::uint8_t(program++ % 128)}});
            events.push_back({0, {std::uint8_t(0x90 | ch), std::uint8_t(48 + ch), 90}});
        }
    return smf(events);
}

long residentKb()
{
    FILE *status = std::fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (status && std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmRSS: %ld", &kb) == 1)
            break;
    if (status)
        std::fclose(status);
    return kb;
}

// The process's memory by /proc/self/smaps_rollup, in kB: resident, proportional (shared pages
// divided among the processes mapping them), private (only this process's: USS), shared
// (mapped by other processes too: libraries, and the JACK server's shared memory segments),
// and the proportional part of that shared memory (Pss_Shmem).
struct Memory {
    long rss = 0, pss = 0, uss = 0, shared = 0, pssShmem = 0;
};
Memory g_peakMemory; // the sample with the largest Pss while playing

Memory memoryNow()
{
    Memory m;
    FILE *f = std::fopen("/proc/self/smaps_rollup", "r");
    char line[256];
    long kb, privateClean = 0, privateDirty = 0, sharedClean = 0, sharedDirty = 0;
    while (f && std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "Rss: %ld", &kb) == 1)
            m.rss = kb;
        else if (std::sscanf(line, "Pss: %ld", &kb) == 1)
            m.pss = kb;
        else if (std::sscanf(line, "Pss_Shmem: %ld", &kb) == 1)
            m.pssShmem = kb;
        else if (std::sscanf(line, "Private_Clean: %ld", &kb) == 1)
            privateClean = kb;
        else if (std::sscanf(line, "Private_Dirty: %ld", &kb) == 1)
            privateDirty = kb;
        else if (std::sscanf(line, "Shared_Clean: %ld", &kb) == 1)
            sharedClean = kb;
        else if (std::sscanf(line, "Shared_Dirty: %ld", &kb) == 1)
            sharedDirty = kb;
    }
    if (f)
        std::fclose(f);
    m.uss = privateClean + privateDirty;
    m.shared = sharedClean + sharedDirty;
    return m;
}

// The device is opened and given time to load its SoundFont; the song is registered and played
// at once, as the player does, so its instruments load while the clock measures.
// `atMs`: when the longest callback began, in ms after the song was registered; `cpuMs`: the
// most CPU time one callback took (what the wall time holds beyond it is waiting for a core:
// the test server's threads are not real-time).
double longestCallbackWhilePlaying(const Bytes &song, std::int32_t option, double &blockMs, long &rssKb,
                                   double &atMs, double &cpuMs)
{
    if (BRS4OpenDevice(BRSDEVICE_BUILTIN_SYNTH, nullptr) != BRSERROR_NOERROR)
        return NAN;
    std::this_thread::sleep_for(1s);
    g_longestCallback = 0;
    g_longestCpu = 0;
    const auto registered = Clock::now();
    BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0);
    BRS4Play(option, 0, 0, 0, 0);
    TBrs4PlayerStatus status{};
    rssKb = 0;
    const auto limit = Clock::now() + 120s;
    do {
        std::this_thread::sleep_for(20ms);
        BRS4GetPlayerStatus(&status, sizeof status);
        rssKb = std::max(rssKb, residentKb());
        if (const Memory m = memoryNow(); m.pss > g_peakMemory.pss)
            g_peakMemory = m;
    } while (status.State == BRSSTATE_PLAY && Clock::now() < limit);
    const double ms = double(g_longestCallback.load()) / 1e6;
    atMs = std::chrono::duration<double, std::milli>(Clock::duration(g_longestAt.load()) - registered.time_since_epoch())
               .count();
    cpuMs = double(g_longestCpu.load()) / 1e6;
    blockMs = 1000.0 * g_blockFrames / 44100.0;
    BRS4CloseDevice();
    return ms;
}

Bytes fileBytes(const char *path)
{
    Bytes bytes;
    if (FILE *f = std::fopen(path, "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF)
            bytes.push_back(std::uint8_t(c));
        std::fclose(f);
    }
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    // "memory [whole]": only the demo song, in a fresh process, for its resident memory (with
    // "whole" the SoundFont is loaded whole, as the engine did before dynamic loading).
    if (argc > 1 && std::string(argv[1]) == "memory") {
        g_dynamic = argc > 2 ? 0 : -1;
        double blockMs = 0;
        long rssKb = 0;
        double atMs = 0, cpuMs = 0;
        longestCallbackWhilePlaying(fileBytes(TONELARK_EXAMPLES_DIR "/sakura.mid"), 0, blockMs, rssKb, atMs, cpuMs);
        const Memory &m = g_peakMemory;
        std::printf("demo song, SoundFont %s: resident memory while playing %.1f MB; at the largest Pss: "
                    "Rss %.1f MB, Pss %.1f MB, private (USS) %.1f MB, shared with other processes %.1f MB "
                    "(of which this process's share of shared memory segments, Pss_Shmem, %.1f MB)\n",
                    argc > 2 ? "loaded whole" : "as the engine loads it", double(rssKb) / 1024, m.rss / 1024.0,
                    m.pss / 1024.0, m.uss / 1024.0, m.shared / 1024.0, m.pssShmem / 1024.0);
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string soundFont = brisola::defaultSoundFont();
    const std::string driver = brisola::availableAudioDriver();
    if (soundFont.empty() || driver.empty()) {
        std::fprintf(stderr, "needs a GM SoundFont and an audio server (bench/engine_first_sound.sh starts one)\n");
        return 1;
    }
    std::printf("SoundFont %s, driver %s, %d rounds after one warm-up (page cache warm)\n", soundFont.c_str(),
                driver.c_str(), rounds);
    const Bytes oneNote = smf({{0, {0xC0, 0}}, {0, {0x90, 60, 100}}, {480, {0x80, 60, 0}}});
    // The bare program with dynamic loading, the engine as it is built (dynamic loading, the
    // song's instruments held by a second synthesizer).
    g_dynamic = -1;
    std::vector<double> ours, bare, ratios, oursCpu, bareCpu;
    engineFirstSound(oneNote);
    g_dynamic = 1;
    bareFirstSound(soundFont, driver);
    // Pairs run back to back, the order swapped every round (a load that rises or falls during a
    // round favours neither side); the ratio of each pair meets one moment of the machine, so
    // their median holds where the two medians, taken over minutes of changing load, swing.
    for (int r = 0; r < rounds; ++r) {
        double o = 0, b = 0;
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == (r % 2 == 0)) {
                g_dynamic = -1;
                o = engineFirstSound(oneNote);
                oursCpu.push_back(g_cpuToSound);
            } else {
                g_dynamic = 1;
                b = bareFirstSound(soundFont, driver);
                bareCpu.push_back(g_cpuToSound);
            }
        }
        ours.push_back(o);
        bare.push_back(b);
        ratios.push_back(o / b);
    }
    g_dynamic = -1;
    const double o = median(ours), b = median(bare);
    std::printf("first sound: engine %.1f ms (min %.1f), bare libfluidsynth with dynamic loading %.1f ms (min %.1f), "
                "ratio of the medians %.2f\n",
                o, *std::min_element(ours.begin(), ours.end()), b, *std::min_element(bare.begin(), bare.end()), o / b);
    std::sort(ratios.begin(), ratios.end());
    std::printf("first sound: median ratio of %d back-to-back pairs %.2f (quartiles %.2f, %.2f)\n", rounds,
                median(ratios), ratios[ratios.size() / 4], ratios[(3 * ratios.size()) / 4]);
    // The work done, whatever the load: CPU time of all threads until the first sound (the
    // waiting loop's polls count on both sides alike).
    std::printf("first sound: CPU time until then, engine %.1f ms, bare libfluidsynth %.1f ms (medians), ratio %.2f\n",
                median(oursCpu), median(bareCpu), median(oursCpu) / median(bareCpu));

    if (argc > 2 && std::string(argv[2]) == "first") // only the first-sound rounds
        return 0;
    const Bytes changes = programChangeSong(false), resetFirst = programChangeSong(true);
    const Bytes demo = fileBytes(TONELARK_EXAMPLES_DIR "/sakura.mid");
    const struct {
        const char *name;
        const Bytes &song;
        std::int32_t option;
    } songs[] = {{"demo song (sakura.mid)", demo, 0},
                 {"165 program changes", changes, 0},
                 {"GM reset, then 165 program changes, SysEx on", resetFirst, BRSPLAY_SYSEX}};
    for (const auto &song : songs) {
        double blockMs = 0;
        long rssKb = 0;
        double atMs = 0, cpuMs = 0;
        const double longest = longestCallbackWhilePlaying(song.song, song.option, blockMs, rssKb, atMs, cpuMs);
        std::printf("%s: longest audio callback %.2f ms wall, %.0f ms after registering; most CPU time in one "
                    "callback %.2f ms (one block lasts %.2f ms)\n",
                    song.name, longest, atMs, cpuMs, blockMs);
    }
    return 0;
}
