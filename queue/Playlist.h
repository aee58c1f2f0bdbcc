#pragma once

#include "SongQueue.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

// Playlists in the M3U form (.m3u and .m3u8): one path or file: URI a line, "#" lines are
// comments or "#EXTINF:seconds,title". Paths are kept by their bytes, so a name in CP932
// bytes read from a playlist names the same file again when written back.
namespace tonelark {

// True for .m3u and .m3u8 (any case).
bool isPlaylistFileName(const QString &path);

// The entries of a playlist's bytes. Relative paths are taken from `baseFolder` (the
// playlist's own folder); "file:" URIs become local paths; other URIs are left out. A
// Windows playlist's backslashes are read as folder separators where the name with
// backslashes names nothing. Titles of "#EXTINF" lines that are no UTF-8 are read as CP932.
QList<QueueEntry> parsePlaylist(QByteArrayView bytes, const QString &baseFolder);

// The bytes of a playlist holding `entries`: "#EXTM3U", then for each an "#EXTINF" line
// (when the title or the length is known) and its path, relative to `baseFolder` when the
// song lies inside it, absolute otherwise. LF line ends, names by their bytes, UTF-8 text.
QByteArray playlistBytes(const QList<QueueEntry> &entries, const QString &baseFolder);

struct PlaylistRead {
    QList<QueueEntry> entries;
    std::optional<QString> error;   // a Japanese sentence naming the file and the reason
};
// Reads the playlist file at `path`.
PlaylistRead readPlaylistFile(const QString &path);
// Writes `entries` to `path` atomically; the reason as a sentence when it failed.
std::optional<QString> savePlaylistFile(const QString &path, const QList<QueueEntry> &entries);

} // namespace tonelark
