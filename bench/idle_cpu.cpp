// CPU of each thread of the player while a song plays and after it was stopped: the real
// window (lyrics tab in front) and the real engine on the device the settings name.
//   idle_cpu_bench SONG.mid [seconds per phase] [device id]
// Device 9999 (the default) does not exist, so the engine keeps time on its silent clock;
// -1100 is the built-in synthesizer on the desktop's audio server. Runs on the platform
// QT_QPA_PLATFORM names (offscreen when unset).
#include "BrisolaEngine.h"
#include "Convex.h"
#include "uMain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTabWidget>
#include <QEventLoop>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <unistd.h>

using namespace tonelark;

namespace {

// Thread id to its name and CPU ticks (user + system) so far.
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
        // Fields after the name: state is 0, utime 11, stime 12.
        ticks.insert(tid.toInt(), {line.mid(open + 1, close - open - 1), fields.value(11).toLongLong() + fields.value(12).toLongLong()});
    }
    return ticks;
}

// A real event loop, as the program runs; QTest::qWait would poll every 10 ms itself.
void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void measure(const char *phase, int seconds)
{
    const auto before = threadTicks();
    QElapsedTimer clock;
    clock.start();
    runFor(seconds * 1000);
    const double elapsed = clock.nsecsElapsed() / 1e9;
    const auto after = threadTicks();
    const double hz = double(::sysconf(_SC_CLK_TCK));
    double total = 0;
    QByteArray parts;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        const qint64 used = it.value().second - before.value(it.key()).second;
        const double percent = 100.0 * used / hz / elapsed;
        total += percent;
        if (used > 0)
            parts += QByteArray(" ") + (it.key() == ::getpid() ? QByteArray("window") : it.value().first)
                     + QByteArray("=") + QByteArray::number(percent, 'f', 2) + "%";
    }
    std::printf("%-8s %5.2f %% of one core in %.0f s:%s\n", phase, total, elapsed, parts.constData());
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
        std::fprintf(stderr, "usage: idle_cpu_bench SONG.mid [seconds per phase] [device id]\n");
        return 2;
    }
    const int seconds = args.size() > 2 ? args[2].toInt() : 20;
    const int device = args.size() > 3 ? args[3].toInt() : 9999;
    BrisolaEngine engine;
    Convex ini = Convex::fromBytes(QStringLiteral("[Tonelark]\nShowInfo=1\nMidiOutDeviceId=%1\n[Lyric]\nAutoLyricTab=1\n")
                                       .arg(device).toUtf8());
    TfrmTonelark2Main window(engine, ini, QStringList{args[1]});
    window.show();
    runFor(1000);   // start-up out of the figures
    std::printf("device %d, lyrics tab in front: %s\n", device,
                window.pagesInfo->currentWidget() == window.tabLyrics ? "yes" : "no");
    measure("playing", seconds);
    window.toolButtonOfStop->click();
    runFor(5000);   // past the effects' tail
    measure("stopped", seconds);
    return 0;
}
