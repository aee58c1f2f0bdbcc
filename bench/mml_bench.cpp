// Compiles a 10 000-line MML source through the library's C entry, file write included,
// as the player does on opening an .mml file. The goal is well under 100 ms per compile.

#include "dSakura.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A realistic song body: four tracks, lyrics, loops, chords, controllers and tempo changes,
// repeated to the requested number of lines.
std::string makeSource(int lines)
{
    static const char *const kLines[] = {
        "TR=1 CH=1 @1 V100 P64 q90 o5 l8",
        // 歌詞{"さくら"} in CP932, as sources arrive.
        "\x89\xCC\x8E\x8C" "{\"\x82\xB3\x82\xAD\x82\xE7\"} c d e f g4 a4 b4 > c4 < // comment",
        "[2 c16 d16 e16 f16 : g8 a8] b4. a8 g4^16 r16",
        "TR=2 CH=2 @49 v90 q100 'ceg'2 'dfa'2 '<b>dg'1",
        "TR=3 CH=10 [4 c%24 r%24 e%24 r%24] y111,0 EP100",
        // ドレミファソラシ in CP932.
        "TR=1 t120 l16 cdefgab>c<bagfedc "
        "\x83\x68\x83\x8C\x83\x7E\x83\x74\x83\x40\x83\x5C\x83\x89\x83\x56",
        "TR=4 CH=4 @33 o3 l4 c c g g a a g2 PitchBend=100 f f e e d d c2 PitchBend=0",
        "Tempo=132 TR=2 'c+e+g+'4 'd-f a-'4 r2 Volume=90 Reverb=40 Chorus=10",
    };
    std::string source = "TimeBase=96\n";
    for (int i = 0; i < lines - 1; ++i) {
        source += kLines[i % (sizeof kLines / sizeof *kLines)];
        source += '\n';
    }
    return source;
}

void compileTenThousandLines(benchmark::State &state)
{
    const std::string source = makeSource(static_cast<int>(state.range(0)));
    const std::string path = "/tmp/tonelark-mml-bench-" + std::to_string(::getpid()) + ".mid";
    std::vector<char> message(1024);
    SetErrMsgLen(static_cast<int32_t>(message.size()));
    for (auto _ : state) {
        const uint8_t ok = MMLtoMIDI(source.c_str(), path.c_str(), message.data());
        if (!ok) {
            state.SkipWithError(message.data());
            break;
        }
    }
    state.counters["lines"] = static_cast<double>(state.range(0));
    state.counters["bytes"] = static_cast<double>(source.size());
    std::remove(path.c_str());
}

} // namespace

BENCHMARK(compileTenThousandLines)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
