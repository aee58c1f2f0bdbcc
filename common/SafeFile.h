#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Reading and writing whole files without the two ways a desktop program loses a user's
// data or freezes: a write that fails after its bytes were handed to a buffer (a full disk
// then leaves an empty file where the old one was), and a read of something that is no
// regular file (a FIFO blocks the open, a device never ends).
namespace tonelark {

// The system's reason for an errno value in the program's own Japanese words, for the cases
// a user meets (no permission, disk full, missing, in use); others keep the system's text.
QString systemErrorText(int errorNumber);

// The reason given for a FIFO, a device or a socket where a file was expected.
QString notRegularFileText();

// Replaces the file at `path` by exactly `bytes`. The bytes go to a new file in the same
// folder, are written, flushed to the disk and checked; only then is the new file renamed
// over the old one. On any failure the new file is removed, the old file is left as it was,
// and the reason is returned (systemErrorText). A path that is a symbolic link writes to the
// file the link names and keeps the link. An existing file's permissions are kept.
std::optional<QString> saveFileAtomically(const QString &path, QByteArrayView bytes);

// The whole content of a regular file, or the reason it cannot be had: missing, no regular
// file (folder, FIFO, device, socket), larger than `maxBytes`, or a read error. The open
// never blocks, and nothing is allocated beyond the file's size.
struct FileReadResult {
    QByteArray bytes;
    std::optional<QString> error;
    bool missing = false;   // no file at the path, or a path through a non-folder (error is set too)
};
FileReadResult readRegularFile(const QString &path, qint64 maxBytes);
// The same for at most the first `count` bytes (all of a shorter file); `size` is the
// whole file's size.
FileReadResult readRegularFileHead(const QString &path, qint64 count, qint64 *size = nullptr);

// The largest song file the program reads. Real songs are well below a megabyte; the engine
// holds a song's events at about five times its size (a 256 MB file of notes took 1.5 GB),
// so a larger file would exhaust the memory rather than play.
inline constexpr qint64 kMaxSongFileBytes = 64 * 1024 * 1024;
// The reason given for a song file over kMaxSongFileBytes (or another `limit`).
QString fileTooLargeText(qint64 size, qint64 limit);

} // namespace tonelark
