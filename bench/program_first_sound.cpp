// Time to first sound from a program's start: the player started on a one-note song, against
// a bare libfluidsynth program started to play the same note, each run ROUNDS times in
// alternation in fresh processes. The first sound is what bench/first_sound_probe.cpp sees
// leave the synthesizer for the audio server; the time counts from just before the spawn.
//   program_first_sound_bench ROUNDS PROBE.so SOUNDFONT -- PROGRAM [ARG...]
//   program_first_sound_bench bare SOUNDFONT        (the reference program itself)
// (bench/program_first_sound.sh runs it on the JACK test server, under Xvfb and openbox.)

#include "BenchFigures.h"

#include <fluidsynth.h>

#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

int bareCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[])
{
    return fluid_synth_process(static_cast<fluid_synth_t *>(data), len, nfx, fx, nout, out);
}

// The reference: what a program needs at least to sound a note of the SoundFont, with the
// dynamic sample loading the engine uses, through the same driver and the same server.
int bare(const char *soundFont)
{
    // Ended by the bench's SIGTERM, it leaves the JACK server cleanly as the player does (a
    // client that just dies holds a synchronous server up for seconds).
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    fluid_settings_t *settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", 44100.0);
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setstr(settings, "audio.driver", "jack");
    fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
    fluid_synth_t *synth = new_fluid_synth(settings);
    if (fluid_synth_sfload(synth, soundFont, 1) == FLUID_FAILED)
        return 1;
    fluid_audio_driver_t *audio = new_fluid_audio_driver2(settings, bareCallback, synth);
    if (!audio)
        return 1;
    fluid_synth_noteon(synth, 0, 60, 100);
    int signal = 0;
    sigwait(&term, &signal); // until the bench ends it
    delete_fluid_audio_driver(audio);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return 0;
}

// Milliseconds from the spawn to the first sound the probe reports; -1 after 20 s without.
double timeToSound(const std::vector<std::string> &args, const std::string &probe, const std::string &stamp)
{
    std::remove(stamp.c_str());
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    char runtime[] = "/tmp/tonelark-sound-XXXXXX";
    char config[] = "/tmp/tonelark-sound-config-XXXXXX";
    if (!mkdtemp(runtime) || !mkdtemp(config))
        return -1;
    // A runtime folder without a PulseAudio socket: the synthesizer takes the JACK server.
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    setenv("XDG_CONFIG_HOME", config, 1);
    setenv("XDG_STATE_HOME", config, 1);
    setenv("XDG_CACHE_HOME", config, 1);
    setenv("LD_PRELOAD", probe.c_str(), 1);
    setenv("TONELARK_FIRST_SOUND_FILE", stamp.c_str(), 1);
    const long long start = monotonicNs();
    pid_t pid;
    const bool spawned = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
    unsetenv("LD_PRELOAD");
    if (!spawned)
        return -1;
    double ms = -1;
    while (monotonicNs() - start < 20000000000LL) {
        std::ifstream in(stamp);
        long long at = 0;
        if (in >> at) {
            ms = double(at - start) / 1e6;
            break;
        }
        usleep(1000);
    }
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    std::system((std::string("rm -rf ") + runtime + " " + config).c_str());
    usleep(300000); // the server settles before the next start
    return ms;
}

} // namespace

using bench::loadAverage;
using bench::median;

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "bare") == 0)
        return bare(argv[2]);
    if (argc < 6 || std::strcmp(argv[4], "--") != 0) {
        std::fprintf(stderr, "usage: program_first_sound_bench ROUNDS PROBE.so SOUNDFONT -- PROGRAM [ARG...]\n");
        return 2;
    }
    const int rounds = std::max(1, std::atoi(argv[1]));
    const std::string probe = argv[2];
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    std::vector<std::string> bareArgs{self, "bare", argv[3]};
    std::vector<std::string> program(argv + 5, argv + argc);
    const std::string stamp = "/tmp/tonelark-first-sound-" + std::to_string(getpid());
    const double loadBefore = loadAverage();
    std::vector<double> ours, theirs, ratios;
    for (int round = 0; round < rounds; ++round) {
        const double b = timeToSound(bareArgs, probe, stamp);
        const double p = timeToSound(program, probe, stamp);
        if (b > 0)
            theirs.push_back(b);
        if (p > 0)
            ours.push_back(p);
        if (b > 0 && p > 0)
            ratios.push_back(p / b);
    }
    std::remove(stamp.c_str());
    std::printf("from the start to the first sound: %s median %.1f ms (%zu of %d sounded), bare libfluidsynth "
                "%.1f ms (%zu of %d); median ratio of the pairs %.2f\n",
                program[0].substr(program[0].rfind('/') + 1).c_str(), median(ours), ours.size(), rounds,
                median(theirs), theirs.size(), rounds, median(ratios));
    std::printf("load %.2f -> %.2f\n", loadBefore, loadAverage());
    return ours.size() == std::size_t(rounds) && theirs.size() == std::size_t(rounds) ? 0 : 1;
}
