// tonelark-render [--option N] [--start TICK] [--seconds S] [--key N] [--tempo P] [--soundfont SF2]
//                 [--mute CH[,CH…]] [--solo CH[,CH…]] [--melody normal|soft|off] [--volume P]
//                 [--loops N] [--fade S] [--format wav|flac|ogg] [--cpu-cores N]
//                 [--events OUT.tsv] IN.mid OUT.wav
// Renders a Standard MIDI File the way device -1100 plays it: the same sequencer and synthesizer
// sink, driven by a sample clock instead of the audio callback. 44.1 kHz stereo, 16-bit PCM
// (WAV, FLAC) or Ogg Vorbis, written to a new file that replaces OUT only once complete.
// Without --seconds the render goes on after the song's end until the notes and the reverb
// have died away (below -90 dBFS for 50 ms, at most 15 s more), so it never ends in a click.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AudioFileWriter.h"
#include "ChannelMixer.h"
#include "FluidSynthSink.h"
#include "MelodyChannels.h"
#include "OfflineRender.h"
#include "RecordingSink.h"
#include "SmfParser.h"
#include "SmfTexts.h"

using namespace brisola;

namespace {

// The largest song read, as the player's limit.
constexpr std::int64_t kMaxSongFileBytes = 64 * 1024 * 1024;

// Why `path` cannot be used as an input file, or empty: a FIFO or a device (a FIFO would block
// the open, /dev/zero never ends), a folder, or a song file over the limit. Checked by the
// name before anything opens it.
std::string unusableInput(const std::string &path, std::int64_t maxBytes)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return "is a folder, not a file";
    if (!S_ISREG(status.st_mode))
        return "is not a regular file (a device or a named pipe)";
    if (maxBytes > 0 && status.st_size > maxBytes)
        return "is larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB";
    return {};
}

// The whole content of a regular file; never blocks on a FIFO put there after the check.
bool readSong(const std::string &path, std::vector<std::uint8_t> &bytes, std::string &reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kMaxSongFileBytes) {
        ::close(fd);
        reason = unusableInput(path, kMaxSongFileBytes);
        if (reason.empty())
            reason = "changed while it was read";
        return false;
    }
    bytes.resize(std::size_t(status.st_size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            reason = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0)
            break;
        filled += std::size_t(got);
    }
    bytes.resize(filled);
    ::close(fd);
    return true;
}

int usage(const char *message)
{
    if (message)
        std::cerr << "tonelark-render: " << message << "\n";
    std::cerr << "usage: tonelark-render [--option N] [--start TICK] [--seconds S] [--key N] [--tempo P] "
                 "[--soundfont SF2] [--loops N] [--fade S] [--format wav|flac|ogg] [--events OUT.tsv] IN.mid OUT.wav\n"
                 "  --seconds S  render exactly S seconds; without it the render lasts the song and then\n"
                 "               until the sound has died away (below -90 dBFS for 50 ms, at most 15 s)\n"
                 "  --loops N    a song with a loop point (CC 111) goes back to it N times (1 ... 99), then\n"
                 "               fades out over --fade S seconds (0 ... 60, default 5; 0: the notes ring out)\n"
                 "  --format F   wav, flac or ogg (Ogg Vorbis); without it by OUT's suffix, else wav\n"
                 "  --cpu-cores N  synthesis threads (1 ... 16; default: the machine's cores, at most 4)\n"
                 "  --key N      shift the melodic channels by N semitones (-12 ... 12; drums keep their keys)\n"
                 "  --tempo P    play at P percent of the song's tempo (50 ... 200)\n"
                 "  --mute CH[,CH...]  silence channels 1 ... 16 (as the mixer numbers them)\n"
                 "  --solo CH[,CH...]  hear only these channels (and no muted one)\n"
                 "  --melody normal|soft|off  the guide melody as the player's Alt+M sets it (soft: -12 dB);\n"
                 "               prints the melody channels it found\n"
                 "  --volume P   master volume, 0 ... 100 percent\n";
    return 2;
}

bool parseInt(const char *text, long long &out)
{
    char *end = nullptr;
    out = std::strtoll(text, &end, 10);
    return end && end != text && *end == 0;
}

// "4,10" → bits 3 and 9; false for anything but channels 1 … 16.
bool parseChannels(const char *text, std::uint16_t &mask)
{
    std::string list = text;
    std::size_t from = 0;
    do {
        const std::size_t comma = list.find(',', from);
        const std::string item = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        long long ch;
        if (!parseInt(item.c_str(), ch) || ch < 1 || ch > 16)
            return false;
        mask = std::uint16_t(mask | (1u << (ch - 1)));
        from = comma == std::string::npos ? std::string::npos : comma + 1;
    } while (from != std::string::npos);
    return true;
}

// The title and author texts as the window's boxes show them, for the file's tags; none for a
// song the player's parser refuses (the engine may still play it).
tonelark::AudioTags songTags(QByteArrayView smf, const std::string &fileName)
{
    tonelark::TSmfParser parser;
    parser.SetKaraokeFile(tonelark::isKaraokeFileName(QString::fromStdString(fileName)));
    try {
        parser.Execute(smf.data(), quint32(smf.size()));
    } catch (...) {
        return {};
    }
    return {tonelark::songTitleText(parser), tonelark::songAuthorText(parser)};
}

} // namespace

int main(int argc, char **argv)
{
    long long option = 0, start = 0, key = 0, tempo = 100, volume = 100, loops = 0, cpuCores = 0;
    std::uint16_t muted = 0, soloed = 0;
    std::string melody, formatName;
    double seconds = -1, fade = 5;
    std::string soundFont, eventsPath;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--option" || arg == "--start") {
            const char *v = value();
            long long n;
            if (!v || !parseInt(v, n))
                return usage((arg + " needs a whole number").c_str());
            (arg == "--option" ? option : start) = n;
        } else if (arg == "--key" || arg == "--tempo") {
            const char *v = value();
            long long n;
            if (!v || !parseInt(v, n))
                return usage((arg + " needs a whole number").c_str());
            if (arg == "--key" ? (n < -12 || n > 12) : (n < 50 || n > 200))
                return usage(arg == "--key" ? "--key takes -12 ... 12" : "--tempo takes 50 ... 200");
            (arg == "--key" ? key : tempo) = n;
        } else if (arg == "--loops" || arg == "--cpu-cores") {
            const char *v = value();
            long long n;
            const bool isLoops = arg == "--loops";
            if (!v || !parseInt(v, n) || n < 1 || n > (isLoops ? 99 : 16))
                return usage(isLoops ? "--loops takes 1 ... 99" : "--cpu-cores takes 1 ... 16");
            (isLoops ? loops : cpuCores) = n;
        } else if (arg == "--mute" || arg == "--solo") {
            const char *v = value();
            if (!v || !parseChannels(v, arg == "--mute" ? muted : soloed))
                return usage((arg + " takes channels 1 ... 16, separated by commas").c_str());
        } else if (arg == "--melody") {
            const char *v = value();
            melody = v ? v : "";
            if (melody != "normal" && melody != "soft" && melody != "off")
                return usage("--melody takes normal, soft or off");
        } else if (arg == "--format") {
            const char *v = value();
            formatName = v ? v : "";
            if (!tonelark::audioFormatOfName(QString::fromStdString(formatName)))
                return usage("--format takes wav, flac or ogg");
        } else if (arg == "--volume") {
            const char *v = value();
            if (!v || !parseInt(v, volume) || volume < 0 || volume > 100)
                return usage("--volume takes 0 ... 100");
        } else if (arg == "--seconds" || arg == "--fade") {
            const char *v = value();
            char *end = nullptr;
            const double n = v ? std::strtod(v, &end) : -1;
            if (arg == "--seconds") {
                if (!v || end == v || *end || !(n > 0))
                    return usage("--seconds needs a positive number");
                seconds = n;
            } else {
                if (!v || end == v || *end || !(n >= 0 && n <= 60))
                    return usage("--fade takes 0 ... 60 seconds");
                fade = n;
            }
        } else if (arg == "--soundfont") {
            const char *v = value();
            if (!v)
                return usage("--soundfont needs a file");
            soundFont = v;
        } else if (arg == "--events") {
            const char *v = value();
            if (!v)
                return usage("--events needs a file");
            eventsPath = v;
        } else if (arg == "-h" || arg == "--help") {
            usage(nullptr);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage(("unknown option " + arg).c_str());
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2)
        return usage("give one input song and one output file");
    if ((option & BRSPLAY_LOOP) && seconds <= 0 && loops == 0)
        return usage("with the loop bit the song never ends: give --seconds or --loops");
    if (start < INT32_MIN || start > INT32_MAX || option < INT32_MIN || option > INT32_MAX)
        return usage("--start and --option take 32-bit values");
    const QString outPath = QString::fromLocal8Bit(files[1].c_str());
    const tonelark::AudioFormat format = !formatName.empty()
        ? *tonelark::audioFormatOfName(QString::fromStdString(formatName))
        : tonelark::audioFormatOfPath(outPath).value_or(tonelark::AudioFormat::Wav);

    std::vector<std::uint8_t> bytes;
    std::string reason;
    if (!readSong(files[0], bytes, reason)) {
        std::cerr << "tonelark-render: cannot read \"" << files[0] << "\": " << reason << "\n";
        return 1;
    }
    if (!soundFont.empty()) {
        // FluidSynth would open a FIFO and wait on it for ever.
        const std::string unusable = unusableInput(soundFont, 0);
        if (!unusable.empty()) {
            std::cerr << "tonelark-render: cannot use the SoundFont \"" << soundFont << "\": " << unusable << "\n";
            return 1;
        }
    }

    RecordingSink recorder;
    tonelark::RenderSettings settings;
    settings.soundFont = soundFont;
    settings.keyShift = int(key);
    settings.tempoPercent = int(tempo);
    settings.playOption = std::int32_t(option);
    settings.startTick = std::int32_t(start);
    settings.seconds = seconds;
    settings.loops = int(loops);
    settings.fadeSeconds = fade;
    settings.cpuCores = int(cpuCores);
    settings.masterVolume = int(volume);
    settings.observer = eventsPath.empty() ? nullptr : &recorder;
    for (int ch = 0; ch < 16; ++ch) {
        settings.channels[std::size_t(ch)].muted = muted >> ch & 1;
        settings.channels[std::size_t(ch)].soloed = soloed >> ch & 1;
    }
    const QByteArrayView smf(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    if (!melody.empty()) {
        const auto survey = tonelark::surveyChannels(smf);
        const tonelark::SungFacts sung = tonelark::sungFactsOf(smf, tonelark::isKaraokeFileName(QString::fromStdString(files[0])));
        const tonelark::MelodyChoice choice = tonelark::detectMelody(survey, sung.xfChannels, sung.syllableTicks);
        settings.melodyChannels = choice.channels;
        settings.guideMelody = melody == "soft" ? tonelark::GuideMelody::Soft
                               : melody == "off" ? tonelark::GuideMelody::Off
                                                 : tonelark::GuideMelody::Normal;
        std::cout << tonelark::melodyInfoText(choice.channels).toStdString() << "\n";
    }
    std::string message;
    const auto render = tonelark::OfflineRender::create(bytes.data(), bytes.size(), settings, message);
    if (!render) {
        std::cerr << "tonelark-render: " << (message.rfind("BRSERROR", 0) == 0 ? "\"" + files[0] + "\": " : "")
                  << message << "\n";
        return 1;
    }
    tonelark::AudioFileWriter writer(outPath, format, songTags(smf, files[0]), int(tonelark::OfflineRender::kRate),
                                     tonelark::OfflineRender::kChannels);
    std::vector<std::int16_t> pcm(std::size_t(tonelark::OfflineRender::kBlockFrames * tonelark::OfflineRender::kChannels));
    while (const int frames = render->next(pcm.data())) {
        if (!writer.write(pcm.data(), frames))
            break;
    }
    // 16-bit WAV counts its data in 32 bits: longer renders need FLAC or Ogg.
    if (format == tonelark::AudioFormat::Wav && render->renderedFrames() * 4 > 0xFFFFFFFFll - 36) {
        writer.discard();
        std::cerr << "tonelark-render: the render is too long for a WAV file\n";
        return 1;
    }
    if (writer.failed() || !writer.commit()) {
        std::cerr << "tonelark-render: writing \"" << files[1] << "\" failed: " << writer.errorDetail() << "\n";
        return 1;
    }

    if (!eventsPath.empty()) {
        std::ofstream events(eventsPath, std::ios::trunc);
        if (!events) {
            std::cerr << "tonelark-render: cannot write \"" << eventsPath << "\"\n";
            return 1;
        }
        for (const auto &e : recorder.entries()) {
            events << e.frame << '\t';
            char hex[4];
            for (std::size_t i = 0; i < e.bytes.size(); ++i) {
                std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", e.bytes[i]);
                events << hex;
            }
            events << '\n';
        }
        // The buffered bytes reach the file only at the close: a full disk shows there.
        events.close();
        if (!events) {
            std::cerr << "tonelark-render: writing \"" << eventsPath << "\" failed\n";
            std::remove(eventsPath.c_str());
            return 1;
        }
    }
    return 0;
}
