// CPU cost per monitor tick of the lyric list with 5 000 lines, in the real window on the
// offscreen platform: the following step (current-row search, scroll, update request) and
// the repaint of the visible rows, at the start, middle and end of the list, with the row
// changing on every tick (the worst case: a scroll each time).
#include "Convex.h"
#include "Engine.h"
#include "LyricsModel.h"
#include "uMain.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QImage>
#include <QTimer>
#include <QTabWidget>
#include <QFile>

#include <benchmark/benchmark.h>

using namespace tonelark;

namespace {

constexpr int kLines = 5000;
constexpr std::int32_t kTicksPerLine = 480; // one line per beat at 120 bpm: 500 ms

// Plays at a position the benchmark sets; every line lasts 500 ms.
class PositionEngine final : public Engine {
public:
    std::int32_t row = 0;
    std::int32_t openDevice(std::int32_t) override { return 0; }
    std::int32_t closeDevice() override { return 0; }
    std::int32_t clearList() override { return 0; }
    std::int32_t addListFromMemory(const QByteArray &) override { return 0; }
    std::int32_t play(std::int32_t, std::int32_t) override { return 0; }
    std::int32_t pause() override { return 0; }
    std::int32_t stop() override { return 0; }
    std::int32_t setMasterVolume(std::int32_t) override { return 0; }
    TBrs4PlayerStatus status() override
    {
        TBrs4PlayerStatus status{};
        status.State = BRSSTATE_PLAY;
        status.Tick = row * kTicksPerLine;
        status.Time = row * 500;
        return status;
    }
    TBrs4SmfInformation info() override
    {
        TBrs4SmfInformation info{};
        info.TotalTick = kLines * kTicksPerLine;
        info.TotalTime = kLines * 500;
        info.LastNoteTime = kLines * 500;
        info.LoopTick = -1;
        info.LoopTime = -1;
        return info;
    }
};

// A format-0 song with kLines lyric events, one per beat.
QByteArray songBytes()
{
    QByteArray track;
    const auto delta = [&track](quint32 value) {
        QByteArray out;
        out.prepend(char(value & 0x7F));
        while ((value >>= 7) != 0)
            out.prepend(char((value & 0x7F) | 0x80));
        track += out;
    };
    for (int i = 0; i < kLines; ++i) {
        delta(i == 0 ? 0 : kTicksPerLine);
        const QByteArray text = QByteArray("lyric line ") + QByteArray::number(i);
        track += char(0xFF);
        track += char(0x05);
        track += char(text.size());
        track += text;
    }
    track += QByteArray("\x00\x90\x3C\x64\x83\x60\x80\x3C\x00\x00\xFF\x2F\x00", 13);
    QByteArray smf("MThd\x00\x00\x00\x06\x00\x00\x00\x01\x01\xE0MTrk", 18);
    const quint32 size = quint32(track.size());
    smf += char(size >> 24);
    smf += char(size >> 16);
    smf += char(size >> 8);
    smf += char(size);
    return smf + track;
}

struct Fixture {
    PositionEngine engine;
    Convex ini = Convex::fromBytes("[Tonelark]\nShowInfo=1\n");
    QTemporaryDir dir;
    std::unique_ptr<TfrmTonelark2Main> window;

    Fixture()
    {
        window = std::make_unique<TfrmTonelark2Main>(engine, ini, QStringList{});
        QFile file(dir.filePath(QStringLiteral("long.mid")));
        if (!file.open(QIODevice::WriteOnly) || file.write(songBytes()) < 0)
            qFatal("cannot write the song");
        file.close();
        if (window->BRSLoad(file.fileName()) != LoadOutcome::Success ||
            window->lvLyrics->model()->rowCount() != kLines)
            qFatal("the song did not load with %d lines", kLines);
        window->show();
        window->pagesInfo->setCurrentWidget(window->tabLyrics);
        window->timerUpdating->stop(); // the benchmark drives the ticks
        QCoreApplication::processEvents();
        if (!window->lvLyrics->isVisible())
            qFatal("the lyric list is not visible");
    }
};

// The monitor's poll with the lyric step it emits (current row, scroll, update request),
// then the paint event of the list's viewport, rendered into an image so that the offscreen
// platform's flush of the whole window (a multi-threaded image copy that xcb does not make)
// stays out of the figure; the other controls of the tick are left out.
void followAndRepaint(Fixture &fixture)
{
    MonitorInputs inputs;
    inputs.lyricsVisible = true;
    fixture.window->monitor().tick(inputs);
    QWidget *viewport = fixture.window->lvLyrics->viewport();
    static QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    viewport->render(&image);
}

// One tick with the list's repaint, the current row moving by one line each tick from
// `first`, so every tick scrolls.
void BM_LyricsTickWithRepaint(benchmark::State &state)
{
    Fixture fixture;
    const int first = static_cast<int>(state.range(0));
    int row = first;
    for (auto _ : state) {
        fixture.engine.row = row;
        followAndRepaint(fixture);
        row = row + 1 < kLines ? row + 1 : first;
    }
    if (fixture.window->lastLyricIndex() < first)
        state.SkipWithError("the list did not follow");
}
BENCHMARK(BM_LyricsTickWithRepaint)->Arg(0)->Arg(kLines / 2)->Arg(kLines - 200)->MinTime(1.0);

// A seek from the start to the end and back on every tick: the search and the scroll
// must not depend on the distance.
void BM_LyricsTickJumping(benchmark::State &state)
{
    Fixture fixture;
    bool atEnd = false;
    for (auto _ : state) {
        fixture.engine.row = atEnd ? 0 : kLines - 1;
        atEnd = !atEnd;
        followAndRepaint(fixture);
    }
}
BENCHMARK(BM_LyricsTickJumping)->MinTime(1.0);

// The current-row search alone.
void BM_CurrentRowSearch(benchmark::State &state)
{
    Fixture fixture;
    const TSmfMetaEventString &lyrics = fixture.window->song().SmfLyrics;
    qint32 tick = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetCurrentPlayingLyricIndex(lyrics, tick));
        tick = (tick + 7919) % (kLines * kTicksPerLine);
    }
}
BENCHMARK(BM_CurrentRowSearch);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tonelark"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
