#pragma once

#include "ChannelMixer.h"
#include "MelodyChannels.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// The mixer across songs: at each new song the melody is found again and the channels start
// fresh (or as remembered for that file when "曲ごとに記憶" is on); the guide melody and the
// master volume stay as the user set them.
namespace tonelark {

class MixerSession {
public:
    explicit MixerSession(MixerOutput &output) : m_mixer(output) {}

    ChannelMixer &mixer() { return m_mixer; }
    const ChannelMixer &mixer() const { return m_mixer; }

    // A song is about to play: `smf` its bytes, `path` its file (empty when none), the channels
    // its XF lyrics name and its sung syllables' ticks (sorted, see sungFactsOf). Returns the
    // melody found.
    MelodyChoice songLoaded(QByteArrayView smf, const QString &path, quint16 xfChannels,
                            const std::vector<quint32> &syllableTicks);
    const ChannelSurvey &survey() const { return m_survey; }
    const MelodyChoice &melody() const { return m_melody; }
    const QString &songPath() const { return m_path; }

    bool rememberPerSong() const { return m_remember; }
    // Switching it on keeps the present song's channels at once.
    std::optional<QString> setRememberPerSong(bool remember);
    // The user changed a channel: kept for the song when remembering. A message on failure.
    std::optional<QString> channelsChanged();

private:
    ChannelMixer m_mixer;
    ChannelSurvey m_survey;
    MelodyChoice m_melody;
    QString m_path;
    bool m_remember = false;
};

} // namespace tonelark
