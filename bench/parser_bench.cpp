// Throughput of TSmfParser on a generated 50 MB Standard MIDI File, next to libsmf's
// smf_load_from_memory on the same bytes. Prints both rates (MB = 10^6 bytes) and the ratio.
#include "SmfParser.h"

#include <benchmark/benchmark.h>
#include <glib.h>
#include <smf.h>

#include <QByteArray>

#include <chrono>
#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

using namespace tonelark;

namespace {

constexpr qsizetype kTargetSize = 50 * 1000 * 1000;
constexpr int kTrackCount = 16;

void appendVarLen(QByteArray &out, quint32 value)
{
    char bytes[5];
    int count = 0;
    bytes[count++] = static_cast<char>(value & 0x7F);
    while (value >>= 7)
        bytes[count++] = static_cast<char>(0x80 | (value & 0x7F));
    while (count > 0)
        out.append(bytes[--count]);
}

void appendBigEndian(QByteArray &out, quint32 value, int byteCount)
{
    for (int i = byteCount - 1; i >= 0; --i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void appendMeta(QByteArray &out, quint32 delta, int type, const QByteArray &data)
{
    appendVarLen(out, delta);
    out.append(static_cast<char>(0xFF));
    out.append(static_cast<char>(type));
    appendVarLen(out, static_cast<quint32>(data.size()));
    out.append(data);
}

// A dense format-1 song: each track plays notes with running status, some controllers,
// program changes and pitch bends; the first track also holds lyrics and tempo changes.
QByteArray makeSong()
{
    quint32 seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    const QByteArray lyric = QByteArray("\x82\xb3\x82\xad\x82\xe7\r\nsakura");
    QByteArray song;
    song.reserve(kTargetSize + 1024 * 1024);
    song.append("MThd");
    appendBigEndian(song, 6, 4);
    appendBigEndian(song, 1, 2);
    appendBigEndian(song, kTrackCount, 2);
    appendBigEndian(song, 480, 2);

    const qsizetype perTrack = kTargetSize / kTrackCount;
    for (int track = 0; track < kTrackCount; ++track) {
        QByteArray body;
        body.reserve(perTrack + 64);
        const char channel = static_cast<char>(track & 0x0F);
        appendMeta(body, 0, 0x03, "Track " + QByteArray::number(track));
        int event = 0;
        while (body.size() < perTrack) {
            const quint32 delta = next() % 4 == 0 ? next() % 240 : 0;
            if (track == 0 && event % 2000 == 0) {
                appendMeta(body, delta, 0x05, lyric);
            } else if (track == 0 && event % 5000 == 1) {
                QByteArray tempo;
                appendBigEndian(tempo, 300000 + next() * 10, 3);
                appendMeta(body, delta, 0x51, tempo);
            } else if (event % 97 == 0) {
                appendVarLen(body, delta);
                body.append(static_cast<char>(0xB0 | channel));
                body.append(static_cast<char>(next() % 120));
                body.append(static_cast<char>(next() & 0x7F));
            } else if (event % 211 == 0) {
                appendVarLen(body, delta);
                body.append(static_cast<char>(0xC0 | channel));
                body.append(static_cast<char>(next() & 0x7F));
            } else if (event % 53 == 0) {
                appendVarLen(body, delta);
                body.append(static_cast<char>(0xE0 | channel));
                body.append(static_cast<char>(next() & 0x7F));
                body.append(static_cast<char>(next() & 0x7F));
            } else {
                // Note on, then its note off by running status (velocity 0).
                const char key = static_cast<char>(36 + next() % 60);
                appendVarLen(body, delta);
                body.append(static_cast<char>(0x90 | channel));
                body.append(key);
                body.append(static_cast<char>(1 + next() % 126));
                appendVarLen(body, next() % 120);
                body.append(key);
                body.append('\0');
            }
            ++event;
        }
        appendMeta(body, 0, 0x2F, {});
        song.append("MTrk");
        appendBigEndian(song, static_cast<quint32>(body.size()), 4);
        song.append(body);
    }
    return song;
}

const QByteArray &song()
{
    static const QByteArray bytes = makeSong();
    return bytes;
}

struct Rate {
    double seconds = 0;
    double bytes = 0;
    double megabytesPerSecond() const { return seconds > 0 ? bytes / seconds / 1e6 : 0; }
};
Rate g_ours;
Rate g_libsmf;

template <typename Parse>
void measure(benchmark::State &state, Rate &rate, Parse parse)
{
    const QByteArray &data = song();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        parse(data);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        rate.seconds += elapsed.count();
        rate.bytes += static_cast<double>(data.size());
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}

void BM_TSmfParser(benchmark::State &state)
{
    int lyricLines = 0;
    measure(state, g_ours, [&](const QByteArray &data) {
        TSmfParser parser;
        parser.SetLyricLoadOptions({lloTrimAnySpace, lloNoEmptyLines});
        parser.Execute(data.constData(), static_cast<quint32>(data.size()));
        lyricLines = parser.Lyric().Count();
        benchmark::DoNotOptimize(lyricLines);
    });
    state.counters["lyric_lines"] = lyricLines;
}

// libsmf frees a track by removing its events one by one from the front of an array, which
// takes hours for a song this size; each load therefore runs in a child process that reports
// the load time and exits without freeing.
void BM_libsmf(benchmark::State &state)
{
    const QByteArray &data = song();
    int events = 0;
    for (auto _ : state) {
        int channel[2];
        if (pipe(channel) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            const auto start = std::chrono::steady_clock::now();
            smf_t *smf = smf_load_from_memory(data.constData(), static_cast<int>(data.size()));
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            const double report[2] = {smf ? elapsed.count() : -1.0,
                                      smf && smf->number_of_tracks > 0
                                          ? double(smf_get_track_by_number(smf, 1)->number_of_events)
                                          : 0.0};
            const ssize_t written = write(channel[1], report, sizeof report);
            _exit(written == ssize_t(sizeof report) ? 0 : 1);
        }
        close(channel[1]);
        double report[2] = {-1.0, 0.0};
        const ssize_t got = child > 0 ? read(channel[0], report, sizeof report) : -1;
        close(channel[0]);
        if (child > 0)
            waitpid(child, nullptr, 0);
        if (got != ssize_t(sizeof report) || report[0] < 0) {
            state.SkipWithError("libsmf did not load the song");
            return;
        }
        state.SetIterationTime(report[0]);
        g_libsmf.seconds += report[0];
        g_libsmf.bytes += static_cast<double>(data.size());
        events = static_cast<int>(report[1]);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
    state.counters["track1_events"] = events;
}

void silenceGlib(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

} // namespace

BENCHMARK(BM_TSmfParser)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
// libsmf keeps every event in memory; a few rounds are enough for a stable rate.
BENCHMARK(BM_libsmf)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();

int main(int argc, char **argv)
{
    g_log_set_default_handler(silenceGlib, nullptr);
    std::printf("song: %lld bytes, %d tracks\n", static_cast<long long>(song().size()), kTrackCount);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_ours.seconds > 0 && g_libsmf.seconds > 0) {
        std::printf("TSmfParser: %.1f MB/s\nlibsmf:     %.1f MB/s\nratio:      %.1fx\n",
                    g_ours.megabytesPerSecond(), g_libsmf.megabytesPerSecond(),
                    g_ours.megabytesPerSecond() / g_libsmf.megabytesPerSecond());
    }
    return 0;
}
