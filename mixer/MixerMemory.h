#pragma once

#include "ChannelMixer.h"

#include <QString>

#include <optional>

// "曲ごとに記憶": each song file's mute, solo and levels, one small file per song in the user's
// state folder ($XDG_STATE_HOME/Tonelark/mixer, by default ~/.local/state/Tonelark/mixer), named
// by a hash of the song's absolute path.
namespace tonelark {

QString mixerMemoryFolder();
QString mixerMemoryFile(const QString &songPath);
// The remembered state, or nothing when none is kept (or the file is unreadable or damaged).
std::optional<ChannelMixer::Channels> loadSongMixer(const QString &songPath);
// Keeps the state (a default state removes the file). Returns a Japanese message on failure.
std::optional<QString> saveSongMixer(const QString &songPath, const ChannelMixer::Channels &channels);

} // namespace tonelark
