// CPU cost of the playback monitor's tick with the real main window on the offscreen
// platform: the engine poll, the button states, the time panel and the seek bar; then the
// same with the event loop's work after each tick (repaints), and at the timer's own pace.
#include "Engine.h"
#include "Convex.h"
#include "Gauges.h"
#include "uMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

using namespace tonelark;

namespace {

// An engine that plays a 3-minute song: every status poll advances 16 ms.
class SteppingEngine final : public Engine {
public:
    std::int32_t openDevice(std::int32_t) override { return 0; }
    std::int32_t closeDevice() override { return 0; }
    std::int32_t clearList() override { return 0; }
    std::int32_t addListFromMemory(const QByteArray &) override { return 0; }
    std::int32_t play(std::int32_t, std::int32_t) override { m_timeMs = 0; return 0; }
    std::int32_t pause() override { return 0; }
    std::int32_t stop() override { return 0; }
    std::int32_t setMasterVolume(std::int32_t) override { return 0; }
    TBrs4PlayerStatus status() override
    {
        m_timeMs = (m_timeMs + 16) % kTotalMs;
        TBrs4PlayerStatus status{};
        status.State = BRSSTATE_PLAY;
        status.Time = m_timeMs;
        status.Tick = m_timeMs * 960 / 1000;
        return status;
    }
    TBrs4SmfInformation info() override
    {
        return {480, kTotalMs * 960 / 1000, kTotalMs, 0, 0, kTotalMs * 960 / 1000, kTotalMs, 1920, 2000};
    }

private:
    static constexpr std::int32_t kTotalMs = 180000;
    std::int32_t m_timeMs = 0;
};

struct Fixture {
    SteppingEngine engine;
    Convex ini = Convex::fromBytes("[Tonelark]\nShowInfo=1\n");
    std::unique_ptr<TfrmTonelark2Main> window;

    Fixture()
    {
        window = std::make_unique<TfrmTonelark2Main>(engine, ini, QStringList{});
        window->show();
        window->timerUpdating->stop(); // the benchmark drives the ticks itself
        QCoreApplication::processEvents();
    }
};

void BM_MonitorTick(benchmark::State &state)
{
    Fixture fixture;
    for (auto _ : state)
        fixture.window->timerUpdatingTimer();
}
BENCHMARK(BM_MonitorTick)->MinTime(2.0);

void BM_MonitorTickWithRepaint(benchmark::State &state)
{
    Fixture fixture;
    for (auto _ : state) {
        fixture.window->timerUpdatingTimer();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_MonitorTickWithRepaint)->MinTime(2.0);

// The real 16 ms timer in a running event loop: each iteration waits for one tick, so the
// CPU time includes the tick, the repaints Qt schedules after it and the loop itself.
void BM_MonitorTickInEventLoop(benchmark::State &state)
{
    Fixture fixture;
    QEventLoop loop;
    // Connected after the window's own handler, so the loop ends once the tick has run.
    QObject::connect(fixture.window->timerUpdating, &QTimer::timeout, &loop, &QEventLoop::quit);
    fixture.window->timerUpdating->start();
    for (auto _ : state)
        loop.exec();
}
BENCHMARK(BM_MonitorTickInEventLoop)->Iterations(600);

// The baseline of the one above: the same window and loop, woken by a bare 16 ms timer that
// runs no tick. The difference is what the monitor costs at its own pace.
void BM_IdleEventLoop(benchmark::State &state)
{
    Fixture fixture;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(16);
    QEventLoop loop;
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start();
    for (auto _ : state)
        loop.exec();
}
BENCHMARK(BM_IdleEventLoop)->Iterations(600);

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
