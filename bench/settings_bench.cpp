// Loads a settings file of N sections and reads the last key, as the start does. A hand-edited
// or generated file with tens of thousands of sections must not make the start slow.

#include "Convex.h"

#include <benchmark/benchmark.h>

namespace {

QByteArray sections(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "[Section" + QByteArray::number(i) + "]\nKey=" + QByteArray::number(i) + "\n";
    return bytes;
}

void loadManySections(benchmark::State &state)
{
    const QByteArray bytes = sections(int(state.range(0)));
    for (auto _ : state) {
        const tonelark::Convex ini = tonelark::Convex::fromBytes(bytes);
        benchmark::DoNotOptimize(ini.ReadInteger(u"Tonelark", u"Left", 0));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(loadManySections)->Arg(1000)->Arg(40000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
