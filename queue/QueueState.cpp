#include "QueueState.h"

#include "FileNames.h"
#include "Playlist.h"
#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>

namespace tonelark {

namespace {

constexpr qint64 kMaxStateBytes = 16 * 1024 * 1024;
constexpr QByteArrayView kHeader = "#EXTM3U";
constexpr QByteArrayView kCurrentTag = "#TONELARK-CURRENT:";

} // namespace

QString userStateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Tonelark");
}

std::optional<QByteArray> StateFile::read()
{
    const FileReadResult result = readRegularFile(m_path, kMaxStateBytes);
    if (result.missing) {
        m_status = Status::Missing;
        m_problem.clear();
        return std::nullopt;
    }
    if (result.error) {
        m_status = Status::Unreadable;
        m_problem = QStringLiteral("\"%1\" を読み込めないため、使わずにそのまま残します（%2）。")
                        .arg(displayFileName(m_path), *result.error);
        return std::nullopt;
    }
    m_status = Status::Loaded;
    m_problem.clear();
    return result.bytes;
}

void StateFile::markDamaged()
{
    m_status = Status::Damaged;
    m_problem = QStringLiteral("\"%1\" が壊れているため、使わずにそのまま残します。").arg(displayFileName(m_path));
}

std::optional<QString> StateFile::write(QByteArrayView bytes)
{
    if (m_status == Status::Damaged || m_status == Status::Unreadable)
        return m_problem;
    const QString folder = QFileInfo(m_path).path();
    if (!QDir().mkpath(QFile::decodeName(encodeFileName(folder))))
        return QStringLiteral("フォルダー \"%1\" を作成できません。").arg(displayFileName(folder));
    if (const std::optional<QString> error = saveFileAtomically(m_path, bytes))
        return QStringLiteral("\"%1\" を保存できません: %2").arg(displayFileName(m_path), *error);
    return std::nullopt;
}

QByteArray queueStateBytes(const StoredQueue &queue)
{
    QByteArray bytes = playlistBytes(queue.entries, QString());
    // After the header line, so a plain M3U reader still takes the file as a playlist.
    bytes.insert(kHeader.size() + 1, kCurrentTag.toByteArray() + QByteArray::number(queue.current) + '\n');
    return bytes;
}

std::optional<StoredQueue> parseQueueState(QByteArrayView bytes)
{
    if (!bytes.startsWith(kHeader) || bytes.contains('\0'))
        return std::nullopt;
    StoredQueue queue;
    queue.entries = parsePlaylist(bytes, QString());
    const qsizetype at = bytes.indexOf(QByteArray("\n") + kCurrentTag.toByteArray());
    if (at >= 0) {
        const QByteArrayView rest = bytes.sliced(at + 1 + kCurrentTag.size());
        const qsizetype end = rest.indexOf('\n');
        bool ok = false;
        const int current = (end < 0 ? rest : rest.first(end)).toByteArray().trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
        queue.current = current >= 0 && current < queue.entries.size() ? current : -1;
    }
    // Only absolute paths are written; anything else was not written by us.
    for (const QueueEntry &entry : queue.entries)
        if (!entry.path.startsWith(u'/'))
            return std::nullopt;
    return queue;
}

} // namespace tonelark
