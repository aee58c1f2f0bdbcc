#pragma once

#include <QString>

#include <optional>

// The audio formats a song is saved in, by name and by file suffix.
namespace tonelark {

enum class AudioFormat { Wav, Flac, Ogg };

// "wav", "flac", "ogg" (any case).
std::optional<AudioFormat> audioFormatOfName(const QString &name);
// By the file's suffix: .wav, .flac, .ogg or .oga (any case).
std::optional<AudioFormat> audioFormatOfPath(const QString &path);
// "wav", "flac", "ogg": the suffix without the dot.
QString audioSuffix(AudioFormat format);

// Texts stored in the file where the format has a place for them (all three do).
struct AudioTags {
    QString title;
    QString artist;
};

} // namespace tonelark
