// Songs rendered by the real synthesizer with the system's General MIDI SoundFont, written in
// each format and read back with libsndfile.
#include "ExportJob.h"
#include "FluidSynthSink.h"
#include "OfflineRender.h"
#include "SmfBuilder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <sched.h>
#include <cmath>
#include <vector>

using namespace tonelark;
using namespace tonelark::test;

namespace {

constexpr int kRate = int(OfflineRender::kRate);

// 120 bpm, 480 ticks a beat: four beats of a held chord and a tune, a loop point (CC 111) after
// two beats when `loopPoint`, the end of the track at two seconds.
QByteArray song(bool loopPoint)
{
    TrackBuilder track;
    track.text(0, 0x03, QStringLiteral("練習曲")).text(0, 0x02, QStringLiteral("作者名")).tempo(0, 500000);
    track.event(0, {0xC0, 0}).event(0, {0x90, 48, 90}).event(0, {0x90, 55, 90});
    for (int beat = 0; beat < 4; ++beat) {
        quint32 delta = beat == 0 ? 0 : 10;
        if (loopPoint && beat == 2) {
            track.event(delta, {0xB0, 111, 0});
            delta = 0;
        }
        track.event(delta, {0x90, 64 + beat * 2, 100}).event(470, {0x80, 64 + beat * 2, 0});
    }
    track.event(10, {0x80, 48, 0}).event(0, {0x80, 55, 0});
    return header(0, 1, 480) + chunk("MTrk", track.endOfTrack().bytes());
}

bool haveSoundFont() { return !brisola::defaultSoundFont().empty(); }

// Every sample of a render, interleaved.
std::vector<std::int16_t> renderAll(const QByteArray &smf, const RenderSettings &settings)
{
    std::string message;
    const auto render = OfflineRender::create(reinterpret_cast<const std::uint8_t *>(smf.constData()),
                                              std::size_t(smf.size()), settings, message);
    EXPECT_TRUE(render) << message;
    std::vector<std::int16_t> all, block(OfflineRender::kBlockFrames * 2);
    while (const int frames = render ? render->next(block.data()) : 0)
        all.insert(all.end(), block.begin(), block.begin() + 2 * frames);
    return all;
}

struct Decoded {
    SF_INFO info{};
    std::vector<std::int16_t> samples;
    std::string title, artist;
};

Decoded decode(const QString &path)
{
    Decoded d;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &d.info);
    if (!file)
        return d;
    d.samples.resize(std::size_t(d.info.frames * d.info.channels));
    d.samples.resize(std::size_t(sf_readf_short(file, d.samples.data(), d.info.frames) * d.info.channels));
    for (auto [type, out] : {std::pair{SF_STR_TITLE, &d.title}, std::pair{SF_STR_ARTIST, &d.artist}}) {
        if (const char *text = sf_get_string(file, type))
            *out = text;
    }
    sf_close(file);
    return d;
}

double rms(const std::vector<std::int16_t> &s, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    to = std::min(to, s.size());
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(s[i]) * s[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

ExportRequest requestFor(const QString &path, AudioFormat format, double seconds = -1)
{
    ExportRequest request;
    request.smf = song(false);
    request.render.seconds = seconds;
    request.path = path;
    request.format = format;
    request.tags = {QStringLiteral("練習曲"), QStringLiteral("作者名")};
    return request;
}

} // namespace

TEST(AudioExport, EachFormatReadsBackAsTheRenderWithItsTags)
{
    if (!haveSoundFont())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    QTemporaryDir dir;
    const std::atomic<bool> notCancelled{false};
    std::vector<double> shares;
    const ExportOutcome wavOutcome = exportSong(requestFor(dir.filePath("a.wav"), AudioFormat::Wav), notCancelled,
                                                [&](double share) { shares.push_back(share); });
    ASSERT_EQ(wavOutcome.kind, ExportOutcome::Saved) << wavOutcome.message.toStdString();
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_GT(shares.size(), 10u);
    const Decoded wav = decode(dir.filePath("a.wav"));
    ASSERT_EQ(wav.info.channels, 2);
    EXPECT_EQ(wav.info.samplerate, kRate);
    EXPECT_EQ(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    // The song's two seconds and a ringing tail that ends before the longest one.
    EXPECT_GT(wav.info.frames, 2 * kRate);
    EXPECT_LT(wav.info.frames, 17 * kRate);
    EXPECT_GT(rms(wav.samples), 300.0);
    // What the render gives, sample for sample: the file holds the synthesizer's output.
    EXPECT_EQ(wav.samples, renderAll(song(false), RenderSettings{}));

    for (const AudioFormat format : {AudioFormat::Wav, AudioFormat::Flac, AudioFormat::Ogg}) {
        const QString path = dir.filePath(QStringLiteral("b.") + audioSuffix(format));
        SCOPED_TRACE(path.toStdString());
        ASSERT_EQ(exportSong(requestFor(path, format), notCancelled, {}).kind, ExportOutcome::Saved);
        const Decoded back = decode(path);
        EXPECT_EQ(back.title, "練習曲");
        EXPECT_EQ(back.artist, "作者名");
        if (format == AudioFormat::Ogg) {
            EXPECT_EQ(back.info.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
            EXPECT_NEAR(double(back.info.frames), double(wav.info.frames), 1024.0);
            EXPECT_NEAR(20 * std::log10(rms(back.samples) / rms(wav.samples)), 0.0, 1.0);
        } else {
            EXPECT_EQ(back.samples, wav.samples) << "lossless";
        }
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4) << "no temporary file is left";
}

// A loop point: back to it N times, then the fade; without loops the end and its tail.
TEST(AudioExport, LoopsAreCountedAndTheFadeEndsInSilence)
{
    if (!haveSoundFont())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    const struct {
        int loops;
        double fade;
        int tempo;
        double seconds; // expected length; 0: to the end and the tail
    } cases[] = {
        {1, 1.0, 100, 2 + 1},
        {2, 1.0, 100, 2 + 1 + 1},
        {3, 0.5, 100, 2 + 1 + 1 + 0.5},
        {2, 1.0, 200, 1 + 0.5 + 1},
        {0, 1.0, 100, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("loops " + std::to_string(c.loops) + ", tempo " + std::to_string(c.tempo));
        RenderSettings settings;
        settings.loops = c.loops;
        settings.fadeSeconds = c.fade;
        settings.tempoPercent = c.tempo;
        const std::vector<std::int16_t> pcm = renderAll(song(true), settings);
        const double length = double(pcm.size() / 2) / kRate;
        if (c.seconds == 0) {
            EXPECT_GT(length, 2.0);
            EXPECT_LT(length, 17.0);
            continue;
        }
        // Within a block of where the last return to the loop point falls.
        EXPECT_NEAR(length, c.seconds, 0.02);
        // The same song looping for as long, unfaded: the same samples up to the fade, and
        // from there the fade's falling share of them.
        RenderSettings unfaded = settings;
        unfaded.seconds = length;
        unfaded.playOption = BRSPLAY_LOOP;
        const std::vector<std::int16_t> full = renderAll(song(true), unfaded);
        ASSERT_EQ(full.size(), pcm.size());
        const std::size_t fadeFrom = std::size_t(std::mismatch(pcm.begin(), pcm.end(), full.begin()).first - pcm.begin());
        EXPECT_NEAR(double(fadeFrom / 2) / kRate, c.seconds - c.fade, 0.02);
        const std::size_t quarter = (pcm.size() - fadeFrom) / 4;
        double last = 1.0;
        for (std::size_t q = 0; q < 4; ++q) {
            const double share = rms(pcm, fadeFrom + q * quarter, fadeFrom + (q + 1) * quarter)
                / rms(full, fadeFrom + q * quarter, fadeFrom + (q + 1) * quarter);
            EXPECT_LT(share, last) << "quarter " << q << " of the fade";
            last = share;
        }
        EXPECT_LT(last, 0.05) << "the last quarter is 26 dB down";
        EXPECT_LT(rms(pcm, pcm.size() - 441 * 2), rms(full, full.size() - 441 * 2) / 1000) << "the last 10 ms";
    }
}

// The offline render on several threads gives the one-thread render's bytes, on a real song.
TEST(AudioExport, TwoCoresRenderTheSameSamplesAsOne)
{
    if (!haveSoundFont())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    QFile file(QStringLiteral(TONELARK_EXAMPLES_DIR "/haru.mid"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray haru = file.readAll();
    RenderSettings one, two;
    one.cpuCores = 1;
    two.cpuCores = 2;
    two.keyShift = one.keyShift = -2;
    const std::vector<std::int16_t> single = renderAll(haru, one);
    EXPECT_GT(single.size(), std::size_t(20 * kRate));
    EXPECT_TRUE(single == renderAll(haru, two));

    // Its threads run at normal priority: FluidSynth's default real-time one would take a core
    // from the desktop and the live synthesizer for the whole render.
    std::string message;
    const auto render = OfflineRender::create(reinterpret_cast<const std::uint8_t *>(haru.constData()),
                                              std::size_t(haru.size()), two, message);
    ASSERT_TRUE(render) << message;
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_GT(tasks.size(), 1);
    for (const QString &task : tasks)
        EXPECT_EQ(sched_getscheduler(task.toInt()), SCHED_OTHER) << "thread " << task.toStdString();
}

TEST(AudioExport, CancelLeavesNoFile)
{
    if (!haveSoundFont())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.flac"));
    ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly)) << "an older file of the same name";
    std::atomic<bool> cancelled{false};
    int blocks = 0;
    const ExportOutcome outcome = exportSong(requestFor(path, AudioFormat::Flac, 30), cancelled, [&](double) {
        if (++blocks == 20)
            cancelled = true;
    });
    EXPECT_EQ(outcome.kind, ExportOutcome::Cancelled);
    EXPECT_EQ(blocks, 20);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("song.flac")});
    EXPECT_EQ(QFileInfo(path).size(), 0) << "the older file stays as it was";
}

#ifdef TONELARK_RENDER
TEST(AudioExport, ToolTakesTheFormatFromTheSuffixOrTheOption)
{
    if (!haveSoundFont())
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("loop.mid"));
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(song(true)) > 0);
    file.close();
    const struct {
        QStringList arguments;
        QString output;
        int format;
        double seconds;
    } runs[] = {
        {{"--loops", "2", "--fade", "1"}, "a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 4},
        {{"--format", "ogg", "--loops", "1", "--fade", "0.5"}, "b.audio", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2.5},
        {{"--seconds", "1.5"}, "c.WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.5},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.output.toStdString());
        QProcess process;
        process.start(QStringLiteral(TONELARK_RENDER), run.arguments + QStringList{input, dir.filePath(run.output)});
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const Decoded back = decode(dir.filePath(run.output));
        EXPECT_EQ(back.info.format, run.format);
        EXPECT_NEAR(double(back.info.frames) / kRate, run.seconds, 0.03);
        EXPECT_EQ(back.title, "練習曲");
    }
    QProcess refused;
    refused.start(QStringLiteral(TONELARK_RENDER), {QStringLiteral("--format"), QStringLiteral("mp3"), input,
                                                    dir.filePath(QStringLiteral("d.mp3"))});
    ASSERT_TRUE(refused.waitForFinished(60000));
    EXPECT_EQ(refused.exitCode(), 2);
}
#endif
