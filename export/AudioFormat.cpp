#include "AudioFormat.h"

#include <QFileInfo>

namespace tonelark {

std::optional<AudioFormat> audioFormatOfName(const QString &name)
{
    const QString lower = name.toLower();
    if (lower == u"wav")
        return AudioFormat::Wav;
    if (lower == u"flac")
        return AudioFormat::Flac;
    if (lower == u"ogg" || lower == u"oga")
        return AudioFormat::Ogg;
    return std::nullopt;
}

std::optional<AudioFormat> audioFormatOfPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix.isEmpty() ? std::nullopt : audioFormatOfName(suffix);
}

QString audioSuffix(AudioFormat format)
{
    switch (format) {
    case AudioFormat::Flac: return QStringLiteral("flac");
    case AudioFormat::Ogg: return QStringLiteral("ogg");
    case AudioFormat::Wav: break;
    }
    return QStringLiteral("wav");
}

} // namespace tonelark
