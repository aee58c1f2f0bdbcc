// Registration of a 10 MB SMF: BRS4AddListFromMemory reads the whole file into the engine's
// merged event list and tempo map (and computes the song information). Google Benchmark. When
// the song parser is built, the same file through TSmfParser::Execute in the same run, for the
// ratio between the two (the window runs both on every load), and the cost of the fresh memory
// that holding the song's events takes, whatever reads them.

#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "SmfBytes.h"
#include "Brisola.h"
#include "SmfTimeline.h"
#ifdef TONELARK_WITH_PARSER
#include "SmfParser.h"
#endif

namespace {

using bench::putVarLen;

// 16 tracks of notes, controllers, pitch bends, lyrics and tempo changes, running status as
// sequencers write it, until the file reaches `bytes`.
std::vector<std::uint8_t> bigSong(std::size_t bytes)
{
    std::mt19937 random(11);
    const int tracks = 16;
    std::vector<std::vector<std::uint8_t>> bodies(tracks);
    std::size_t total = 14;
    for (int step = 0; total < bytes; ++step) {
        for (int t = 0; t < tracks && total < bytes; ++t) {
            auto &b = bodies[t];
            const std::size_t before = b.size();
            const std::uint8_t ch = std::uint8_t(t);
            const std::uint8_t note = std::uint8_t(36 + random() % 60);
            putVarLen(b, random() % 120);
            b.insert(b.end(), {std::uint8_t(0x90 | ch), note, std::uint8_t(40 + random() % 80)});
            putVarLen(b, 60 + random() % 60);
            b.insert(b.end(), {note, 0}); // running status: note-on velocity 0
            if (step % 8 == 0) {
                putVarLen(b, 0);
                b.insert(b.end(), {std::uint8_t(0xB0 | ch), std::uint8_t(random() % 2 ? 7 : 11), std::uint8_t(random() % 128)});
                putVarLen(b, 0);
                b.insert(b.end(), {std::uint8_t(0xE0 | ch), 0, std::uint8_t(random() % 128)});
            }
            if (t == 0 && step % 64 == 0) {
                putVarLen(b, 0);
                b.insert(b.end(), {0xFF, 0x51, 0x03, 0x07, std::uint8_t(random() % 256), 0x20});
                putVarLen(b, 0);
                b.insert(b.end(), {0xFF, 0x05, 0x04, 'l', 'a', ' ', 'a'});
            }
            total += b.size() - before;
        }
    }
    std::vector<std::uint8_t> out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, std::uint8_t(tracks), 0x01, 0xE0};
    for (auto &b : bodies) {
        b.insert(b.end(), {0, 0xFF, 0x2F, 0});
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(std::uint8_t(b.size() >> s));
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

void BM_RegisterSmf10MB(benchmark::State &state)
{
    const std::vector<std::uint8_t> song = bigSong(10u << 20);
    for (auto _ : state) {
        const std::int32_t result = BRS4AddListFromMemory(song.data(), std::int32_t(song.size()), 0, 0);
        if (result != BRSERROR_NOERROR) {
            state.SkipWithError("the song was refused");
            break;
        }
    }
    TBrs4SmfInformation info{};
    BRS4GetSmfInformation(&info, sizeof info, 0);
    state.counters["MB"] = double(song.size()) / 1e6;
    state.counters["total_tick"] = info.TotalTick;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(song.size()));
    BRS4ClearList();
}
BENCHMARK(BM_RegisterSmf10MB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor for any reader that keeps the song's events: fresh memory for them (as the event
// list takes it: aligned huge pages), zeroed by the kernel and written once, nothing read.
void BM_FreshEventStorage(benchmark::State &state)
{
    const std::vector<std::uint8_t> song = bigSong(10u << 20);
    BrsError error;
    const std::size_t bytes = brisola::SmfTimeline::read(song.data(), song.size(), error)->events().size()
                              * sizeof(brisola::TimelineEvent);
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    const std::size_t whole = (bytes + kHuge - 1) & ~(kHuge - 1);
    for (auto _ : state) {
        void *storage = ::operator new(whole, std::align_val_t(kHuge));
        madvise(storage, whole, MADV_HUGEPAGE);
        std::memset(storage, 1, bytes);
        benchmark::DoNotOptimize(storage);
        ::operator delete(storage, std::align_val_t(kHuge));
    }
    state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_FreshEventStorage)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef TONELARK_WITH_PARSER
void BM_ParseSmf10MB(benchmark::State &state)
{
    const std::vector<std::uint8_t> song = bigSong(10u << 20);
    for (auto _ : state) {
        tonelark::TSmfParser parser;
        parser.Execute(song.data(), quint32(song.size()));
        benchmark::DoNotOptimize(parser.Lyric().Count());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(song.size()));
}
BENCHMARK(BM_ParseSmf10MB)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

} // namespace

BENCHMARK_MAIN();
