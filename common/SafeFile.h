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

// The same rules for a file too large to hold in memory (a rendered song), written in pieces:
// the bytes go to the new file in the same folder as they come, and only commit() renames it
// over the target. Destroyed without a successful commit, the new file is removed and nothing
// else changes. Not thread-safe, but usable from any one thread.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const QString &path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    // The new file's descriptor (read and write, at its current offset), -1 when it could not
    // be made or after commit or discard.
    int fd() const { return m_fd; }
    // Writes every byte at the current offset; false (the reason kept) on failure.
    bool write(const void *data, qint64 size);
    // Keeps a failure found by the caller (errno value), so the commit refuses.
    void fail(int errorNumber);
    // The first failure so far (errno value), 0 for none.
    int errorNumber() const { return m_error; }
    // Flushes the new file to the disk and renames it over the target; on any failure (also an
    // earlier one) removes it and returns the reason (systemErrorText).
    std::optional<QString> commit();
    // Removes the new file.
    void discard();

private:
    QByteArray m_target;
    QByteArray m_temporary;
    int m_fd = -1;
    int m_error = 0;
};

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
