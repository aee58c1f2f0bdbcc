#include "MixerMemory.h"

#include "SafeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tonelark {

QString mixerMemoryFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Tonelark/mixer");
}

QString mixerMemoryFile(const QString &songPath)
{
    const QByteArray key = QFileInfo(songPath).absoluteFilePath().toUtf8();
    return mixerMemoryFolder() + QLatin1Char('/')
           + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex()) + QStringLiteral(".txt");
}

std::optional<ChannelMixer::Channels> loadSongMixer(const QString &songPath)
{
    if (songPath.isEmpty())
        return std::nullopt;
    const FileReadResult read = readRegularFile(mixerMemoryFile(songPath), 64 * 1024);
    if (read.error)
        return std::nullopt;
    return ChannelMixer::deserialize(read.bytes);
}

std::optional<QString> saveSongMixer(const QString &songPath, const ChannelMixer::Channels &channels)
{
    if (songPath.isEmpty())
        return std::nullopt;
    const QString file = mixerMemoryFile(songPath);
    if (channels == ChannelMixer::Channels{}) {
        if (QFile::exists(file) && !QFile::remove(file))
            return QStringLiteral("「%1」を削除できません。").arg(file);
        return std::nullopt;
    }
    if (!QDir().mkpath(mixerMemoryFolder()))
        return QStringLiteral("フォルダー「%1」を作成できません。").arg(mixerMemoryFolder());
    const QByteArray text = "# " + QFileInfo(songPath).absoluteFilePath().toUtf8() + '\n' + ChannelMixer::serialize(channels);
    return saveFileAtomically(file, text);
}

} // namespace tonelark
