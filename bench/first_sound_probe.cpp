// Preloaded into a program (LD_PRELOAD) to see when it first sounds: wraps the audio callback
// of every FluidSynth audio driver the process starts, whichever library starts it (the player
// opens the engine with dlopen; the symbol still resolves here first), and writes the
// CLOCK_MONOTONIC time of the end of the first block above -60 dBFS, in nanoseconds, into the
// file $TONELARK_FIRST_SOUND_FILE. Used by bench/program_first_sound.sh.

#include <dlfcn.h>
#include <fluidsynth.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

struct Wrapped {
    fluid_audio_func_t func;
    void *data;
};

std::atomic<bool> g_heard{false};

int probeCallback(void *data, int len, int nfx, float *fx[], int nout, float *out[])
{
    auto *w = static_cast<Wrapped *>(data);
    const int result = w->func(w->data, len, nfx, fx, nout, out);
    if (!g_heard.load(std::memory_order_relaxed)) {
        float peak = 0;
        for (int c = 0; c < nout; ++c)
            for (int i = 0; i < len; ++i)
                peak = std::fmax(peak, std::fabs(out[c][i]));
        if (peak > 1e-3f && !g_heard.exchange(true)) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            if (const char *path = std::getenv("TONELARK_FIRST_SOUND_FILE")) {
                if (FILE *f = std::fopen(path, "w")) {
                    std::fprintf(f, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
                    std::fclose(f);
                }
            }
        }
    }
    return result;
}

} // namespace

extern "C" fluid_audio_driver_t *new_fluid_audio_driver2(fluid_settings_t *settings, fluid_audio_func_t func,
                                                          void *data)
{
    using Real = fluid_audio_driver_t *(*)(fluid_settings_t *, fluid_audio_func_t, void *);
    // libfluidsynth may be loaded with RTLD_LOCAL (a dependency of the dlopen'ed engine), out of
    // RTLD_NEXT's reach: asked for by name, it is the copy already loaded.
    static Real real = [] {
        void *library = dlopen("libfluidsynth.so.3", RTLD_NOLOAD | RTLD_NOW);
        return reinterpret_cast<Real>(library ? dlsym(library, "new_fluid_audio_driver2") : nullptr);
    }();
    if (!real)
        return nullptr;
    return real(settings, probeCallback, new Wrapped{func, data});
}
