#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// 最近使ったファイル: the last songs opened by any way, newest first, each once.
namespace tonelark {

class RecentFiles {
public:
    static constexpr int kMaxFiles = 10;

    const QStringList &paths() const { return m_paths; }
    // `path` to the front; an earlier mention goes, the oldest beyond kMaxFiles too.
    void add(const QString &path);
    // Drops the files that are gone; true when any was.
    bool prune(const std::function<bool(const QString &)> &exists);
    void assign(const QStringList &paths);

    QByteArray toBytes() const;
    // Nothing when the bytes are no list this program wrote (damaged).
    static std::optional<RecentFiles> fromBytes(QByteArrayView bytes);

private:
    QStringList m_paths;
};

// The desktop's list of recently used files ($XDG_DATA_HOME/recently-used.xbel), which file
// choosers show. Its other entries belong to other programs and are kept byte for byte; ours
// is replaced. Nothing when the existing bytes are no such list (then the file is left alone).
std::optional<QByteArray> recentlyUsedWith(QByteArrayView existing, const QString &path,
                                           const QString &mimeType, const QDateTime &now);
// $XDG_DATA_HOME/recently-used.xbel, or ~/.local/share/recently-used.xbel.
QString recentlyUsedFileName();
// Adds `path` to that file; the reason when it could not.
std::optional<QString> addToRecentlyUsed(const QString &path);
// The MIME type of a song file by its name.
QString songMimeType(const QString &path);

} // namespace tonelark
