#include "RecentFiles.h"

#include "FileNames.h"
#include "Playlist.h"
#include "SafeFile.h"
#include "SongQueue.h"

#include <QDir>
#include <QFileInfo>

namespace tonelark {

void RecentFiles::add(const QString &path)
{
    m_paths.removeAll(path);
    m_paths.prepend(path);
    while (m_paths.size() > kMaxFiles)
        m_paths.removeLast();
}

bool RecentFiles::prune(const std::function<bool(const QString &)> &exists)
{
    return m_paths.removeIf([&](const QString &path) { return !exists(path); }) > 0;
}

void RecentFiles::assign(const QStringList &paths)
{
    m_paths.clear();
    for (auto it = paths.crbegin(); it != paths.crend(); ++it)
        add(*it);
}

QByteArray RecentFiles::toBytes() const
{
    QList<QueueEntry> entries;
    for (const QString &path : m_paths)
        entries << QueueEntry{path, {}, -1, false};
    return playlistBytes(entries, QString());
}

std::optional<RecentFiles> RecentFiles::fromBytes(QByteArrayView bytes)
{
    if (!bytes.startsWith("#EXTM3U") || bytes.contains('\0'))
        return std::nullopt;
    QStringList paths;
    for (const QueueEntry &entry : parsePlaylist(bytes, QString())) {
        if (!entry.path.startsWith(u'/'))
            return std::nullopt;
        paths << entry.path;
    }
    RecentFiles recent;
    recent.assign(paths);
    return recent;
}

namespace {

QByteArray fileUri(const QString &path)
{
    return "file://" + encodeFileName(path).toPercentEncoding("/");
}

QByteArray xbelTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz000Z")).toLatin1();
}

} // namespace

std::optional<QByteArray> recentlyUsedWith(QByteArrayView existing, const QString &path,
                                           const QString &mimeType, const QDateTime &now)
{
    QByteArray document = existing.toByteArray();
    if (document.trimmed().isEmpty()) {
        document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<xbel version=\"1.0\"\n"
                   "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
                   "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n"
                   ">\n"
                   "</xbel>\n";
    }
    const qsizetype close = document.lastIndexOf("</xbel>");
    if (!document.contains("<xbel") || close < 0)
        return std::nullopt;
    const QByteArray uri = fileUri(path);
    const QByteArray opening = "<bookmark href=\"" + uri + '"';
    if (const qsizetype at = document.indexOf(opening); at >= 0) {
        const qsizetype end = document.indexOf("</bookmark>", at);
        if (end < 0 || end > close)
            return std::nullopt;
        qsizetype from = at;
        while (from > 0 && (document[from - 1] == ' ' || document[from - 1] == '\t'))
            --from;
        qsizetype to = end + qsizetype(sizeof("</bookmark>") - 1);
        if (to < document.size() && document[to] == '\n')
            ++to;
        document.remove(from, to - from);
    }
    const QByteArray stamp = xbelTime(now);
    const QByteArray entry =
        "  " + opening + " added=\"" + stamp + "\" modified=\"" + stamp + "\" visited=\"" + stamp + "\">\n"
        "    <info>\n"
        "      <metadata owner=\"http://freedesktop.org\">\n"
        "        <mime:mime-type type=\"" + mimeType.toUtf8() + "\"/>\n"
        "        <bookmark:applications>\n"
        "          <bookmark:application name=\"Tonelark\" exec=\"&apos;tonelark %u&apos;\" modified=\"" +
        stamp + "\" count=\"1\"/>\n"
        "        </bookmark:applications>\n"
        "      </metadata>\n"
        "    </info>\n"
        "  </bookmark>\n";
    document.insert(document.lastIndexOf("</xbel>"), entry);
    return document;
}

QString recentlyUsedFileName()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/recently-used.xbel");
}

QString songMimeType(const QString &path)
{
    return QFileInfo(path).suffix().compare(u"mml", Qt::CaseInsensitive) == 0 ? QStringLiteral("text/x-mml")
                                                                             : QStringLiteral("audio/midi");
}

std::optional<QString> addToRecentlyUsed(const QString &path)
{
    const QString fileName = recentlyUsedFileName();
    const FileReadResult read = readRegularFile(fileName, 64 * 1024 * 1024);
    if (read.error && !read.missing)
        return *read.error;
    const std::optional<QByteArray> updated =
        recentlyUsedWith(read.bytes, path, songMimeType(path), QDateTime::currentDateTimeUtc());
    if (!updated)
        return QStringLiteral("\"%1\" の形式が読めないため、書き換えません。").arg(fileName);
    QDir().mkpath(QFileInfo(fileName).path());
    return saveFileAtomically(fileName, *updated);
}

} // namespace tonelark
