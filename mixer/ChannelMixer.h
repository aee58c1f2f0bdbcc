#pragma once

#include "Brisola.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

// The channel mixer as the user sets it: mute, solo and level per channel for the song playing,
// the guide melody's mode and the master volume as player settings. It works out what each
// channel gets and tells the engine only what changed.
namespace tonelark {

// Where the mixer's decisions go (the engine, or a recorder in tests).
class MixerOutput {
public:
    virtual ~MixerOutput() = default;
    virtual void setChannelMute(int channel, bool muted) = 0;
    virtual void setChannelSolo(int channel, bool soloed) = 0;
    virtual void setChannelLevel(int channel, int percent) = 0;
    // 0 … 100 per cent.
    virtual void setMasterVolume(int percent) = 0;
};

enum class GuideMelody { Normal = 0, Soft = 1, Off = 2 };

class ChannelMixer {
public:
    static constexpr int kFullLevel = 100;
    static constexpr int kSoftLevel = 50; // the guide melody's "小さく": −12 dB by the GM curve
    static constexpr int kVolumeStep = 5;

    struct Channel {
        bool muted = false;
        bool soloed = false;
        int level = kFullLevel;
        friend bool operator==(const Channel &, const Channel &) = default;
    };
    using Channels = std::array<Channel, 16>;

    explicit ChannelMixer(MixerOutput &output) : m_output(output) {}

    // Sends every channel and the master volume (at start and after a device change).
    void applyAll();

    const Channel &channel(int ch) const { return m_channels[std::size_t(ch)]; }
    const Channels &channels() const { return m_channels; }
    void setMuted(int ch, bool muted);
    void setSoloed(int ch, bool soloed);
    void setLevel(int ch, int percent);
    // Every channel back to heard at full level (a new song), or to a remembered state.
    void setChannels(const Channels &channels);
    bool isDefault() const { return m_channels == Channels{}; }

    quint16 melodyChannels() const { return m_melody; }
    void setMelodyChannels(quint16 channels);
    GuideMelody guideMelody() const { return m_guide; }
    void setGuideMelody(GuideMelody mode);
    // 通常 → 小さく → 消す → 通常.
    void cycleGuideMelody();
    // The time panel's mark: "メロ小", "メロ消", or empty in 通常 and when the song has no melody.
    QString guideMark() const;

    int masterVolume() const { return m_volume; }
    // 0 … 100 (clamped); returns whether it changed.
    bool setMasterVolume(int percent);

    // What the channel gets once the guide melody is taken into account.
    bool effectiveMute(int ch) const;
    int effectiveLevel(int ch) const;

    // The engine's master volume (-127 … 0, a squared ramp) for a percentage: the amplitude is
    // (percent / 100)², so the slider's middle is −12 dB.
    static int engineVolumeOfPercent(int percent);

    // Mute, solo and levels as text for the per-song memory, and back (nullopt for text that is
    // no such state).
    static QByteArray serialize(const Channels &channels);
    static std::optional<Channels> deserialize(const QByteArray &text);

private:
    void applyChannel(int ch, bool force);

    MixerOutput &m_output;
    Channels m_channels{};
    quint16 m_melody = 0;
    GuideMelody m_guide = GuideMelody::Normal;
    int m_volume = 100;
    struct Sent {
        bool muted = false;
        bool soloed = false;
        int level = kFullLevel;
    };
    std::array<Sent, 16> m_sent{};
};

// Turns the engine's channel records into meter heights: a new note-on sets its channel's meter
// to the note's velocity, which then decays (halving every 150 ms) down to 40 % of it while
// notes still sound there; while not playing every meter is 0. Heights are in 0 … kSteps, so a change smaller than one step repaints nothing.
class ChannelMeters {
public:
    static constexpr int kSteps = 32;
    // Returns whether any height changed.
    bool update(const TBrs4ChannelStatus (&channels)[16], bool playing, qint64 nowMs);
    int height(int ch) const { return m_height[std::size_t(ch)]; }

private:
    std::array<double, 16> m_level{};
    std::array<int, 16> m_height{};
    std::array<quint32, 16> m_noteOns{};
    bool m_seen = false;
    qint64 m_lastMs = 0;
};

} // namespace tonelark
