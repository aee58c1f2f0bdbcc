#include "MixerSession.h"

#include "MixerMemory.h"

namespace tonelark {

MelodyChoice MixerSession::songLoaded(QByteArrayView smf, const QString &path, quint16 xfChannels,
                                      const std::vector<quint32> &syllableTicks)
{
    m_path = path;
    m_survey = surveyChannels(smf);
    m_melody = detectMelody(m_survey, xfChannels, syllableTicks);
    std::optional<ChannelMixer::Channels> kept;
    if (m_remember)
        kept = loadSongMixer(path);
    m_mixer.setMelodyChannels(m_melody.channels);
    m_mixer.setChannels(kept.value_or(ChannelMixer::Channels{}));
    return m_melody;
}

std::optional<QString> MixerSession::setRememberPerSong(bool remember)
{
    m_remember = remember;
    return remember ? channelsChanged() : std::nullopt;
}

std::optional<QString> MixerSession::channelsChanged()
{
    if (!m_remember || m_path.isEmpty())
        return std::nullopt;
    return saveSongMixer(m_path, m_mixer.channels());
}

} // namespace tonelark
