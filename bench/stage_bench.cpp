// The karaoke window full screen while a song is sung: CPU of each thread per second of
// singing, how often and how much of the window it repaints, and its repaints while
// paused. The real window and engine (on its silent clock, device 9999), on the platform
// QT_QPA_PLATFORM names; bench/stage_bench.sh runs it on a 1920x1080 Xvfb.
//   stage_bench SONG.mid [seconds]
#include "BrisolaEngine.h"
#include "Convex.h"
#include "StageWindow.h"
#include "uMain.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <unistd.h>

using namespace tonelark;

namespace {

QMap<int, QPair<QByteArray, qint64>> threadTicks()
{
    QMap<int, QPair<QByteArray, qint64>> ticks;
    for (const QString &tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        ticks.insert(tid.toInt(), {line.mid(open + 1, close - open - 1), fields.value(11).toLongLong() + fields.value(12).toLongLong()});
    }
    return ticks;
}

void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("?");
}

void measure(const char *phase, int seconds, const StageWidget &stage)
{
    const auto before = threadTicks();
    const qint64 paints = stage.paintCount(), pixels = stage.paintedPixels();
    QElapsedTimer clock;
    clock.start();
    runFor(seconds * 1000);
    const double elapsed = clock.nsecsElapsed() / 1e9;
    const auto after = threadTicks();
    const double hz = double(::sysconf(_SC_CLK_TCK));
    double total = 0, window = 0;
    QByteArray parts;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const qint64 used = it.value().second - before.value(it.key()).second;
        const double percent = 100.0 * used / hz / elapsed;
        total += percent;
        if (it.key() == ::getpid())
            window = percent;
        if (used > 0)
            parts += QByteArray(" ") + (it.key() == ::getpid() ? QByteArray("window") : it.value().first)
                     + QByteArray("=") + QByteArray::number(percent, 'f', 2) + "%";
    }
    const qint64 paintCount = stage.paintCount() - paints;
    const double windowPixels = double(stage.width()) * stage.height();
    const double share = paintCount ? 100.0 * double(stage.paintedPixels() - pixels) / paintCount / windowPixels : 0;
    std::printf("%-8s window thread %.2f %% of one core (all threads %.2f %%) in %.0f s:%s\n", phase, window, total,
                elapsed, parts.constData());
    std::printf("%-8s %lld repaints (%.1f per second), each %.2f %% of the window on average; load %s\n", phase,
                static_cast<long long>(paintCount), paintCount / elapsed, share, loadAverage().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tonelark"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: stage_bench SONG.mid [seconds]\n");
        return 2;
    }
    const int seconds = args.size() > 2 ? args[2].toInt() : 20;
    BrisolaEngine engine;
    Convex ini = Convex::fromBytes("[Tonelark]\nMidiOutDeviceId=9999\n[Stage]\nFullScreen=1\n");
    TfrmTonelark2Main window(engine, ini, QStringList{args[1]});
    window.show();
    window.actionStage->trigger();
    StageWindow &stage = *window.stageWindow();
    runFor(4000); // start-up and the intro out of the figures: the first line is being sung
    std::printf("stage %dx%d full screen: %s, screen %dx%d at %.0f Hz, %zu lines\n", stage.width(), stage.height(),
                stage.isFullScreen() ? "yes" : "no", stage.screen()->size().width(), stage.screen()->size().height(),
                stage.screen()->refreshRate(), stage.stage->scene().timeline().lines().size());
    measure("singing", seconds, *stage.stage);
    window.toolButtonOfPause->click();
    runFor(1000);
    measure("paused", std::max(3, seconds / 4), *stage.stage);
    return 0;
}
