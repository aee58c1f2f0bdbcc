// tonelark-render [--option N] [--start TICK] [--seconds S] [--key N] [--tempo P] [--soundfont SF2]
//                 [--mute CH[,CH…]] [--solo CH[,CH…]] [--melody normal|soft|off] [--volume P]
//                 [--events OUT.tsv] IN.mid OUT.wav
// Renders a Standard MIDI File the way device -1100 plays it: the same sequencer and synthesizer
// sink, driven by a sample clock instead of the audio callback. 44.1 kHz, stereo, 16-bit PCM.
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

#include "ChannelMixer.h"
#include "Engine.h"
#include "FluidSynthSink.h"
#include "MelodyChannels.h"
#include "SmfParser.h"
#include "RecordingSink.h"
#include "Sequencer.h"
#include "SmfTimeline.h"

using namespace brisola;

namespace {

constexpr std::uint32_t kRate = 44100;
constexpr int kBlock = 512;
constexpr float kSilence = 3.1623e-5f;             // -90 dBFS
constexpr std::int64_t kSilentTail = kRate / 20;    // this long below it ends the render
constexpr std::int64_t kLongestTail = 15 * kRate;

const char *errorName(BrsError error)
{
    switch (error) {
    case BRSERROR_NOSMF: return "BRSERROR_NOSMF: not a Standard MIDI File";
    case BRSERROR_BADSMF: return "BRSERROR_BADSMF: the file is damaged";
    case BRSERROR_UNMATCHED_SMF: return "BRSERROR_UNMATCHED_SMF: format 2 or time-code division is not supported";
    default: return "BRSERROR_FAILED";
    }
}

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
                 "[--soundfont SF2] [--events OUT.tsv] IN.mid OUT.wav\n"
                 "  --seconds S  render exactly S seconds; without it the render lasts the song and then\n"
                 "               until the sound has died away (below -90 dBFS for 50 ms, at most 15 s)\n"
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

// The player's mixer decisions go straight to the sequencer, as the engine's calls do.
struct SequencerMixer final : tonelark::MixerOutput {
    Sequencer &sequencer;
    MidiSink *sink = nullptr;
    explicit SequencerMixer(Sequencer &s) : sequencer(s) {}
    void setChannelMute(int ch, bool muted) override { sequencer.setChannelMute(ch, muted); }
    void setChannelSolo(int ch, bool soloed) override { sequencer.setChannelSolo(ch, soloed); }
    void setChannelLevel(int ch, int percent) override { sequencer.setChannelLevel(ch, percent); }
    void setMasterVolume(int percent) override
    {
        if (sink)
            sink->setMasterGain(Engine::gainOfVolume(tonelark::ChannelMixer::engineVolumeOfPercent(percent)));
    }
};

void putLe(std::ofstream &out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.put(char((value >> (8 * i)) & 0xFF));
}

void writeWavHeader(std::ofstream &out, std::uint32_t dataBytes)
{
    out.write("RIFF", 4);
    putLe(out, 36 + dataBytes, 4);
    out.write("WAVEfmt ", 8);
    putLe(out, 16, 4);
    putLe(out, 1, 2); // PCM
    putLe(out, 2, 2);
    putLe(out, kRate, 4);
    putLe(out, kRate * 4, 4);
    putLe(out, 4, 2);
    putLe(out, 16, 2);
    out.write("data", 4);
    putLe(out, dataBytes, 4);
}

} // namespace

int main(int argc, char **argv)
{
    long long option = 0, start = 0, key = 0, tempo = 100, volume = 100;
    std::uint16_t muted = 0, soloed = 0;
    std::string melody;
    double seconds = -1;
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
        } else if (arg == "--mute" || arg == "--solo") {
            const char *v = value();
            if (!v || !parseChannels(v, arg == "--mute" ? muted : soloed))
                return usage((arg + " takes channels 1 ... 16, separated by commas").c_str());
        } else if (arg == "--melody") {
            const char *v = value();
            melody = v ? v : "";
            if (melody != "normal" && melody != "soft" && melody != "off")
                return usage("--melody takes normal, soft or off");
        } else if (arg == "--volume") {
            const char *v = value();
            if (!v || !parseInt(v, volume) || volume < 0 || volume > 100)
                return usage("--volume takes 0 ... 100");
        } else if (arg == "--seconds") {
            const char *v = value();
            char *end = nullptr;
            seconds = v ? std::strtod(v, &end) : -1;
            if (!v || end == v || *end || !(seconds > 0))
                return usage("--seconds needs a positive number");
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
    if ((option & BRSPLAY_LOOP) && seconds <= 0)
        return usage("with the loop bit the song never ends: give --seconds");
    if (start < INT32_MIN || start > INT32_MAX || option < INT32_MIN || option > INT32_MAX)
        return usage("--start and --option take 32-bit values");

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
    BrsError error;
    auto timeline = SmfTimeline::read(bytes.data(), bytes.size(), error);
    if (!timeline) {
        std::cerr << "tonelark-render: \"" << files[0] << "\": " << errorName(error) << "\n";
        return 1;
    }
    if (soundFont.empty())
        soundFont = defaultSoundFont();
    std::string message;
    auto synth = FluidSynthInstance::create(soundFont, kRate, false, message);
    if (!synth) {
        std::cerr << "tonelark-render: " << message << "\n";
        return 1;
    }
    std::ofstream out(files[1], std::ios::binary | std::ios::trunc);
    if (!out) {
        std::cerr << "tonelark-render: cannot write \"" << files[1] << "\"\n";
        return 1;
    }
    writeWavHeader(out, 0);

    FluidSynthSink sink(synth->synth());
    RecordingSink recorder;
    TeeSink tee(sink, recorder);
    Sequencer sequencer(kRate);
    sequencer.setKeyShift(int(key));
    sequencer.setTempoRatio(int(tempo));
    sequencer.setTimeline(timeline);
    SequencerMixer output(sequencer);
    output.sink = &sink;
    tonelark::ChannelMixer mixer(output);
    for (int ch = 0; ch < 16; ++ch) {
        mixer.setMuted(ch, muted >> ch & 1);
        mixer.setSoloed(ch, soloed >> ch & 1);
    }
    mixer.setMasterVolume(int(volume));
    if (!melody.empty()) {
        const auto survey = tonelark::surveyChannels(
            QByteArrayView(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
        const QByteArrayView smf(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
        const tonelark::SungFacts sung = tonelark::sungFactsOf(smf, tonelark::isKaraokeFileName(QString::fromStdString(files[0])));
        const tonelark::MelodyChoice choice = tonelark::detectMelody(survey, sung.xfChannels, sung.syllableTicks);
        mixer.setMelodyChannels(choice.channels);
        mixer.setGuideMelody(melody == "soft" ? tonelark::GuideMelody::Soft
                             : melody == "off" ? tonelark::GuideMelody::Off
                                               : tonelark::GuideMelody::Normal);
        std::cout << tonelark::melodyInfoText(choice.channels).toStdString() << "\n";
    }
    sequencer.setSink(eventsPath.empty() ? static_cast<MidiSink *>(&sink) : &tee, kRate);
    sequencer.play(std::int32_t(option), std::int32_t(start));

    const std::int64_t limit = seconds > 0 ? std::int64_t(std::llround(seconds * kRate)) : INT64_MAX;
    std::vector<float> left(kBlock), right(kBlock);
    std::vector<std::int16_t> pcm(2 * kBlock);
    std::int64_t rendered = 0;
    std::int64_t tail = 0, silentFor = 0;
    while (rendered < limit) {
        if (seconds <= 0 && sequencer.state() != BRSSTATE_PLAY
            && (silentFor >= kSilentTail || tail >= kLongestTail))
            break;
        const int frames = int(std::min<std::int64_t>(kBlock, limit - rendered));
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        float *buffers[2] = {left.data(), right.data()};
        sink.beginBlock(sequencer.clock(), frames, 2, buffers);
        sequencer.advance(frames);
        sink.finishBlock();
        for (int i = 0; i < frames; ++i) {
            pcm[2 * i] = std::int16_t(std::lrint(std::clamp(left[i], -1.0f, 1.0f) * 32767.0f));
            pcm[2 * i + 1] = std::int16_t(std::lrint(std::clamp(right[i], -1.0f, 1.0f) * 32767.0f));
        }
        out.write(reinterpret_cast<const char *>(pcm.data()), std::streamsize(frames * 4));
        rendered += frames;
        if (sequencer.state() != BRSSTATE_PLAY) {
            tail += frames;
            float peak = 0;
            for (int i = 0; i < frames; ++i)
                peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
            silentFor = peak < kSilence ? silentFor + frames : 0;
        }
    }
    sequencer.stop();
    const std::uint64_t dataBytes = std::uint64_t(rendered) * 4;
    if (dataBytes > 0xFFFFFFFFull - 36) {
        std::cerr << "tonelark-render: the render is too long for a WAV file\n";
        return 1;
    }
    out.seekp(0);
    writeWavHeader(out, std::uint32_t(dataBytes));
    out.close();
    if (!out) {
        std::cerr << "tonelark-render: writing \"" << files[1] << "\" failed\n";
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
