#include "Playlist.h"

#include "CstmUtils.h"
#include "FileNames.h"
#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>

namespace tonelark {

namespace {

// No playlist a person keeps comes near this; a larger file is refused rather than read.
constexpr qint64 kMaxPlaylistBytes = 16 * 1024 * 1024;

QString joinPath(const QString &folder, const QString &relative)
{
    if (folder.isEmpty())
        return QDir::cleanPath(relative);
    return QDir::cleanPath(folder + u'/' + relative);
}

// A URI scheme such as "http:" (a Windows drive letter "C:" is none: one letter).
bool hasOtherScheme(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 2)
        return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const char c = line[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return false;
    }
    return true;
}

QString entryPath(QByteArrayView line, const QString &baseFolder)
{
    if (line.startsWith("file:") || line.startsWith("FILE:") || line.startsWith("File:"))
        return localPathFromFileUri(decodeFileName(line));
    if (hasOtherScheme(line))
        return {};
    const QString written = decodeFileName(line);
    const QString path = written.startsWith(u'/') ? QDir::cleanPath(written) : joinPath(baseFolder, written);
    if (!written.contains(u'\\') || pathExists(path))
        return path;
    QString slashed = written;
    slashed.replace(u'\\', u'/');
    return slashed.startsWith(u'/') ? QDir::cleanPath(slashed) : joinPath(baseFolder, slashed);
}

} // namespace

bool isPlaylistFileName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"m3u" || suffix == u"m3u8";
}

QList<QueueEntry> parsePlaylist(QByteArrayView bytes, const QString &baseFolder)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QList<QueueEntry> entries;
    QString pendingTitle;
    qint32 pendingLength = -1;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        QByteArrayView line = bytes.sliced(start, end - start);
        start = end + 1;
        while (!line.isEmpty() && (line.back() == ' ' || line.back() == '\t'))
            line.chop(1);
        while (!line.isEmpty() && (line.front() == ' ' || line.front() == '\t'))
            line = line.sliced(1);
        if (line.isEmpty() || line.contains('\0'))
            continue;
        if (line.startsWith('#')) {
            if (line.startsWith("#EXTINF:")) {
                const QByteArrayView info = line.sliced(8);
                const qsizetype comma = info.indexOf(',');
                bool ok = false;
                const qint64 seconds = (comma < 0 ? info : info.first(comma)).toByteArray().trimmed().toLongLong(&ok);
                pendingLength = ok && seconds >= 0 && seconds < 0x7FFFFFFF / 1000 ? qint32(seconds * 1000) : -1;
                const QByteArrayView title = comma < 0 ? QByteArrayView() : info.sliced(comma + 1);
                pendingTitle = isValidUtf8(title) ? QString::fromUtf8(title) : ansiToUnicode(title);
            }
            continue;
        }
        const QString path = entryPath(line, baseFolder);
        if (!path.isEmpty())
            entries << QueueEntry{path, pendingTitle, pendingLength, false};
        pendingTitle.clear();
        pendingLength = -1;
    }
    return entries;
}

QByteArray playlistBytes(const QList<QueueEntry> &entries, const QString &baseFolder)
{
    QByteArray bytes = "#EXTM3U\n";
    const QString prefix = baseFolder.isEmpty() ? QString()
                           : baseFolder.endsWith(u'/') ? baseFolder
                                                       : baseFolder + u'/';
    for (const QueueEntry &entry : entries) {
        if (!entry.title.isEmpty() || entry.lengthMs >= 0) {
            QString title = entry.title;
            title.replace(u'\n', u' ').replace(u'\r', u' ');
            bytes += "#EXTINF:" + QByteArray::number(entry.lengthMs >= 0 ? entry.lengthMs / 1000 : -1) +
                     ',' + title.toUtf8() + '\n';
        }
        const bool inside = !prefix.isEmpty() && entry.path.startsWith(prefix);
        bytes += encodeFileName(inside ? entry.path.mid(prefix.size()) : entry.path) + '\n';
    }
    return bytes;
}

PlaylistRead readPlaylistFile(const QString &path)
{
    PlaylistRead result;
    const FileReadResult read = readRegularFile(path, kMaxPlaylistBytes);
    if (read.error) {
        result.error = QStringLiteral("プレイリスト \"%1\" を読み込めません: %2")
                           .arg(displayFileName(path), *read.error);
        return result;
    }
    const QString absolute = QFileInfo(path).isAbsolute() ? path : QDir::current().absoluteFilePath(path);
    result.entries = parsePlaylist(read.bytes, QFileInfo(absolute).path());
    return result;
}

std::optional<QString> savePlaylistFile(const QString &path, const QList<QueueEntry> &entries)
{
    const QString folder = QFileInfo(path).path();
    if (const std::optional<QString> error = saveFileAtomically(path, playlistBytes(entries, folder)))
        return QStringLiteral("プレイリスト \"%1\" を保存できません: %2").arg(displayFileName(path), *error);
    return std::nullopt;
}

} // namespace tonelark
