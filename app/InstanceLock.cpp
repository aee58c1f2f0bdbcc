#include "InstanceLock.h"

#include "Settings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tonelark {

namespace {

// The names derive from the fixed single-instance identifier (the same text as the debug
// keyword), so a renamed copy of the program still finds the running one.
QString baseName(unsigned userId)
{
    const QByteArray digest = QCryptographicHash::hash(kDebugKeyword.toUtf8(),
                                                       QCryptographicHash::Sha256);
    return QStringLiteral("tonelark-%1-%2")
        .arg(QString::fromLatin1(digest.toHex().left(16)))
        .arg(userId);
}

} // namespace

InstanceNames InstanceNames::inFolder(const QString &folder, unsigned userId)
{
    const QString base = QDir(folder).filePath(baseName(userId));
    return {folder, base + QStringLiteral(".lock"), base + QStringLiteral(".sock")};
}

std::optional<QString> privateFolderProblem(const QString &folder, bool create)
{
    const QByteArray path = QFile::encodeName(folder);
    if (create && ::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 はフォルダーではありません").arg(folder);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 は別のユーザーのものです").arg(folder);
    if ((st.st_mode & 077) != 0)
        return QStringLiteral("%1 はほかのユーザーにも開かれています（モード %2）")
            .arg(folder)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return std::nullopt;
}

InstanceNames InstanceNames::forCurrentUser(QString *error)
{
    const unsigned userId = static_cast<unsigned>(::geteuid());
    // A stale XDG_RUNTIME_DIR (e.g. after su) names a missing or foreign folder; failing
    // there would make every start a second instance that ends silently.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isAbsolute() && !privateFolderProblem(runtime, false))
        return inFolder(runtime, userId);
    // In the shared temp folder only a folder of our own keeps others from planting the lock
    // or the socket first.
    const QString own = QDir(QDir::tempPath()).filePath(QStringLiteral("tonelark-%1").arg(userId));
    if (const std::optional<QString> problem = privateFolderProblem(own, true)) {
        if (error)
            *error = *problem;
        return {};
    }
    return inFolder(own, userId);
}

InstanceLock::InstanceLock(const QString &lockFile)
{
    const QByteArray path = QFile::encodeName(lockFile);
    // O_CLOEXEC: a child process (a browser opened from a link, say) must not inherit the
    // lock and keep it after we end. O_NOFOLLOW: in a shared temp folder the name could be
    // a planted link.
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || st.st_uid != ::geteuid() || !S_ISREG(st.st_mode)) {
        m_error = QStringLiteral("ロックファイルが別のユーザーのものか、通常のファイルではありません");
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    int result;
    do {
        result = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_state = State::Acquired;
        return;
    }
    if (errno == EWOULDBLOCK) {
        m_state = State::HeldElsewhere;
    } else {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ::close(m_fd);
    m_fd = -1;
}

InstanceLock::~InstanceLock()
{
    // Closing the descriptor drops the lock; the file stays for the next start.
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace tonelark
