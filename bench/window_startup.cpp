// Where the time from start to a playing window goes: the application object, the window's
// creation with the real engine (device open, command-line load, play) and the first
// showing. Runs on the platform QT_QPA_PLATFORM names (offscreen when unset).
//   window_startup_bench SONG.mid [runs]
#include "BrisolaEngine.h"
#include "Convex.h"
#include "uMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace tonelark;

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tonelark"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: window_startup_bench SONG.mid [runs]\n");
        return 2;
    }
    const int runs = args.size() > 2 ? args[2].toInt() : 1;
    const double appMs = clock.nsecsElapsed() / 1e6;

    for (int run = 0; run < runs; ++run) {
        clock.restart();
        BrisolaEngine engine;
        Convex ini;
        // How long the window's thread went without handling an event while the song loaded:
        // a 5 ms timer's longest gap.
        QElapsedTimer gap;
        gap.start();
        double longestGapMs = 0;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestGapMs = std::max(longestGapMs, gap.nsecsElapsed() / 1e6);
            gap.restart();
        });
        ticker.start();
        auto window = std::make_unique<TfrmTonelark2Main>(engine, ini, QStringList{args[1]});
        const double createdMs = clock.nsecsElapsed() / 1e6;
        ticker.stop();
        window->show();
        QCoreApplication::processEvents();
        const double shownMs = clock.nsecsElapsed() / 1e6;
        const bool playing = engine.status().State == BRSSTATE_PLAY;
        std::printf("run %d: application %.1f ms (first run only), window created, song loaded and "
                    "playing %.1f ms, shown %.1f ms, engine state %s; longest the window's thread went "
                    "without an event meanwhile: %.1f ms\n",
                    run + 1, run == 0 ? appMs : 0.0, createdMs, shownMs, playing ? "PLAY" : "not playing",
                    longestGapMs);
        window.reset();
    }
    return 0;
}
