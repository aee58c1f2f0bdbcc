#include "ChannelMixer.h"

#include <QList>

#include <algorithm>
#include <cmath>

namespace tonelark {

void ChannelMixer::applyAll()
{
    for (int ch = 0; ch < 16; ++ch)
        applyChannel(ch, true);
    m_output.setMasterVolume(m_volume);
}

void ChannelMixer::setMuted(int ch, bool muted)
{
    if (ch < 0 || ch > 15)
        return;
    m_channels[std::size_t(ch)].muted = muted;
    applyChannel(ch, false);
}

void ChannelMixer::setSoloed(int ch, bool soloed)
{
    if (ch < 0 || ch > 15)
        return;
    m_channels[std::size_t(ch)].soloed = soloed;
    applyChannel(ch, false);
}

void ChannelMixer::setLevel(int ch, int percent)
{
    if (ch < 0 || ch > 15)
        return;
    m_channels[std::size_t(ch)].level = std::clamp(percent, 0, kFullLevel);
    applyChannel(ch, false);
}

void ChannelMixer::setChannels(const Channels &channels)
{
    m_channels = channels;
    for (auto &c : m_channels)
        c.level = std::clamp(c.level, 0, kFullLevel);
    for (int ch = 0; ch < 16; ++ch)
        applyChannel(ch, false);
}

void ChannelMixer::setMelodyChannels(quint16 channels)
{
    m_melody = channels;
    for (int ch = 0; ch < 16; ++ch)
        applyChannel(ch, false);
}

void ChannelMixer::setGuideMelody(GuideMelody mode)
{
    m_guide = mode;
    for (int ch = 0; ch < 16; ++ch)
        applyChannel(ch, false);
}

void ChannelMixer::cycleGuideMelody()
{
    setGuideMelody(m_guide == GuideMelody::Normal ? GuideMelody::Soft
                   : m_guide == GuideMelody::Soft ? GuideMelody::Off
                                                  : GuideMelody::Normal);
}

QString ChannelMixer::guideMark() const
{
    if (!m_melody)
        return {};
    switch (m_guide) {
    case GuideMelody::Soft: return QStringLiteral("メロ小");
    case GuideMelody::Off: return QStringLiteral("メロ消");
    case GuideMelody::Normal: break;
    }
    return {};
}

bool ChannelMixer::setMasterVolume(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (percent == m_volume)
        return false;
    m_volume = percent;
    m_output.setMasterVolume(m_volume);
    return true;
}

bool ChannelMixer::effectiveMute(int ch) const
{
    const bool melody = (m_melody >> ch) & 1;
    return m_channels[std::size_t(ch)].muted || (melody && m_guide == GuideMelody::Off);
}

int ChannelMixer::effectiveLevel(int ch) const
{
    const bool melody = (m_melody >> ch) & 1;
    const int level = m_channels[std::size_t(ch)].level;
    return melody && m_guide == GuideMelody::Soft ? (level * kSoftLevel + 50) / 100 : level;
}

void ChannelMixer::applyChannel(int ch, bool force)
{
    Sent &sent = m_sent[std::size_t(ch)];
    const bool muted = effectiveMute(ch);
    const bool soloed = m_channels[std::size_t(ch)].soloed;
    const int level = effectiveLevel(ch);
    if (force || sent.muted != muted)
        m_output.setChannelMute(ch, muted);
    if (force || sent.soloed != soloed)
        m_output.setChannelSolo(ch, soloed);
    if (force || sent.level != level)
        m_output.setChannelLevel(ch, level);
    sent = {muted, soloed, level};
}

int ChannelMixer::engineVolumeOfPercent(int percent)
{
    return (std::clamp(percent, 0, 100) * 127 + 50) / 100 - 127;
}

QByteArray ChannelMixer::serialize(const Channels &channels)
{
    // One line per channel that differs from the default: "4=mute solo 80".
    QByteArray out;
    for (int ch = 0; ch < 16; ++ch) {
        const Channel &c = channels[std::size_t(ch)];
        if (c == Channel{})
            continue;
        out += QByteArray::number(ch + 1) + '=' + (c.muted ? "mute " : "") + (c.soloed ? "solo " : "")
               + QByteArray::number(c.level) + '\n';
    }
    return out;
}

std::optional<ChannelMixer::Channels> ChannelMixer::deserialize(const QByteArray &text)
{
    Channels channels{};
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype eq = line.indexOf('=');
        bool ok = false;
        const int ch = line.left(eq).toInt(&ok) - 1;
        if (eq < 0 || !ok || ch < 0 || ch > 15)
            return std::nullopt;
        Channel c;
        const QList<QByteArray> words = line.mid(eq + 1).simplified().split(' ');
        for (const QByteArray &w : words) {
            if (w == "mute")
                c.muted = true;
            else if (w == "solo")
                c.soloed = true;
            else {
                const int level = w.toInt(&ok);
                if (!ok || level < 0 || level > kFullLevel)
                    return std::nullopt;
                c.level = level;
            }
        }
        channels[std::size_t(ch)] = c;
    }
    return channels;
}

bool ChannelMeters::update(const TBrs4ChannelStatus (&channels)[16], bool playing, qint64 nowMs)
{
    const double elapsed = m_seen ? double(std::max<qint64>(0, nowMs - m_lastMs)) : 0.0;
    const double decay = std::pow(0.5, elapsed / 150.0);
    bool changed = false;
    for (int ch = 0; ch < 16; ++ch) {
        const std::size_t c = std::size_t(ch);
        double &level = m_level[c];
        if (!playing)
            level = 0;
        else if (m_seen && channels[ch].NoteOns != m_noteOns[c])
            level = std::max(level * decay, channels[ch].Velocity / 127.0);
        else
            level *= decay;
        // A held note keeps its channel lit at part of its strike.
        if (playing && channels[ch].Sounding > 0)
            level = std::max(level, 0.4 * channels[ch].Velocity / 127.0);
        m_noteOns[c] = channels[ch].NoteOns;
        const int height = int(std::lround(level * kSteps));
        if (height != m_height[c]) {
            m_height[c] = height;
            changed = true;
        }
    }
    m_seen = true;
    m_lastMs = nowMs;
    return changed;
}

} // namespace tonelark
