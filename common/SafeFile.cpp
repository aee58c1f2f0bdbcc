#include "SafeFile.h"

#include "FileNames.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tonelark {

namespace {

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

mode_t permissionsForNewFile()
{
    // Read without setting it where the kernel tells it: a render thread writes files while
    // the window's thread may create others, and umask(0) between them would leave those
    // writable for everyone.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return 0666 & ~mode_t(mask);
            }
        }
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The file a save replaces: the target of a symbolic link, so the link survives the rename.
QString replacedFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.isEmpty())
            return target;
    }
    return path;
}

} // namespace

QString notRegularFileText()
{
    return QStringLiteral("通常のファイルではありません（デバイスや名前付きパイプなど）。");
}

QString systemErrorText(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("ディスクの空き容量が足りません。");
    case EACCES:
    case EPERM:
        return QStringLiteral("アクセスが拒否されました（権限がありません）。");
    case EROFS:
        return QStringLiteral("読み取り専用の場所には書き込めません。");
    case ENOENT:
        return QStringLiteral("ファイルまたはフォルダーが見つかりません。");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("ファイルは使用中です。");
    case EISDIR:
        return QStringLiteral("フォルダーです。ファイルではありません。");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます。");
    case EIO:
        return QStringLiteral("入出力エラーが発生しました。");
    case ENAMETOOLONG:
        return QStringLiteral("パスが長すぎます。");
    default:
        return QString::fromLocal8Bit(std::strerror(errorNumber));
    }
}

std::optional<QString> saveFileAtomically(const QString &path, QByteArrayView bytes)
{
    AtomicFileWriter file(path);
    file.write(bytes.data(), bytes.size());
    return file.commit();
}

AtomicFileWriter::AtomicFileWriter(const QString &path)
{
    const QString target = replacedFile(path);
    m_target = QFile::encodeName(target);
    m_temporary = QFile::encodeName(QFileInfo(target).absolutePath()) + "/."
        + QFile::encodeName(QFileInfo(target).fileName()) + ".XXXXXX";
    m_fd = ::mkostemp(m_temporary.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
        m_temporary.clear();
        return;
    }
    struct stat old {};
    const mode_t mode = ::stat(m_target.constData(), &old) == 0 ? (old.st_mode & 07777)
                                                                 : permissionsForNewFile();
    if (::fchmod(m_fd, mode) != 0)
        m_error = errno;
}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

bool AtomicFileWriter::write(const void *data, qint64 size)
{
    if (m_error != 0 || m_fd < 0)
        return false;
    if (!writeAll(m_fd, static_cast<const char *>(data), size)) {
        m_error = errno;
        return false;
    }
    return true;
}

void AtomicFileWriter::fail(int errorNumber)
{
    if (m_error == 0)
        m_error = errorNumber != 0 ? errorNumber : EIO;
}

std::optional<QString> AtomicFileWriter::commit()
{
    if (m_fd < 0 && m_error == 0)
        m_error = EBADF;
    // Every step is checked: a buffered write that fails only at close or at the sync must
    // not let the rename replace the old file by a short one.
    if (m_error == 0 && ::fsync(m_fd) != 0)
        m_error = errno;
    if (m_fd >= 0 && ::close(m_fd) != 0 && m_error == 0 && errno != EINTR)
        m_error = errno;
    m_fd = -1;
    if (m_error == 0 && ::rename(m_temporary.constData(), m_target.constData()) != 0)
        m_error = errno;
    if (m_error != 0) {
        discard();
        return systemErrorText(m_error);
    }
    m_temporary.clear();
    // The rename itself reaches the disk with the folder; a failure here loses nothing.
    const int folder = ::open(QFile::encodeName(QFileInfo(QFile::decodeName(m_target)).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::nullopt;
}

void AtomicFileWriter::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
}

QString fileTooLargeText(qint64 size, qint64 limit)
{
    return QStringLiteral("ファイルが大きすぎます (%1 バイト)。読み込めるのは %2 MB (%3 バイト) までです。")
        .arg(size)
        .arg(limit / (1024 * 1024))
        .arg(limit);
}

namespace {

// The whole file when `headBytes` is negative (refused over `maxBytes`), otherwise at most
// its first `headBytes` bytes.
FileReadResult readRegular(const QString &path, qint64 maxBytes, qint64 headBytes, qint64 *size)
{
    const bool head = headBytes >= 0;
    FileReadResult result;
    // Non-blocking: opening a FIFO without a writer would otherwise wait for ever.
    const int fd = ::open(encodeFileName(path).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.missing = errno == ENOENT || errno == ENOTDIR;
        result.error = systemErrorText(errno);
        return result;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        result.error = systemErrorText(errno);
    } else if (!S_ISREG(status.st_mode)) {
        result.error = S_ISDIR(status.st_mode)
            ? QStringLiteral("フォルダーです。ファイルではありません。")
            : notRegularFileText();
    } else if (!head && status.st_size > maxBytes) {
        result.error = fileTooLargeText(status.st_size, maxBytes);
    } else {
        if (size)
            *size = status.st_size;
        result.bytes.resize(static_cast<qsizetype>(head ? std::min<qint64>(status.st_size, headBytes)
                                                        : status.st_size));
        qsizetype filled = 0;
        while (filled < result.bytes.size()) {
            const ssize_t got = ::read(fd, result.bytes.data() + filled,
                                       static_cast<size_t>(result.bytes.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                result.error = systemErrorText(errno);
                break;
            }
            if (got == 0)
                break;   // the file shrank since fstat: what is there is the content
            filled += got;
        }
        result.bytes.truncate(filled);
    }
    ::close(fd);
    if (result.error)
        QByteArray().swap(result.bytes);
    return result;
}

} // namespace

FileReadResult readRegularFile(const QString &path, qint64 maxBytes)
{
    return readRegular(path, maxBytes, -1, nullptr);
}

FileReadResult readRegularFileHead(const QString &path, qint64 count, qint64 *size)
{
    return readRegular(path, 0, std::max<qint64>(count, 0), size);
}

} // namespace tonelark
