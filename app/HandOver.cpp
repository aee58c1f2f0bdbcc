#include "HandOver.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace tonelark {

namespace {

QByteArray littleEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

quint32 readLittleEndian32(QByteArrayView bytes, qsizetype offset)
{
    return qFromLittleEndian<quint32>(bytes.data() + offset);
}

bool hasDotSegments(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    return parts.contains(QStringLiteral(".")) || parts.contains(QStringLiteral(".."));
}

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 1 << 30));
}

// One connection attempt to the server at `path`, not waiting: the descriptor, or -1 with
// errno set (ENOENT or ECONNREFUSED while the server is not yet listening, EAGAIN while its
// queue of connections is full).
int connectOnce(const QByteArray &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof(address.sun_path))) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

// Connects, trying again while the server is not there yet or busy, until `deadline`.
int connectUntil(const QByteArray &path, Clock::time_point deadline)
{
    for (int pauseMs = 10;; pauseMs = std::min(pauseMs * 2, 100)) {
        const int fd = connectOnce(path);
        if (fd >= 0)
            return fd;
        const bool worthRetry = errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN || errno == EINTR;
        if (!worthRetry || Clock::now() >= deadline)
            return -1;
        ::usleep(useconds_t(std::min(pauseMs, millisecondsLeft(deadline))) * 1000);
    }
}

bool isOwnServer(int fd)
{
    const std::optional<unsigned> peer = peerUserId(fd);
    return peer && *peer == static_cast<unsigned>(::geteuid());
}

// Writes `message`, then reads until the server closes the connection or the time runs out.
HandOverResult exchange(int fd, const QByteArray &message, int replyTimeoutMs)
{
    HandOverResult result;
    result.outcome = HandOverResult::NoReply;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(replyTimeoutMs);
    qsizetype written = 0;
    while (written < message.size()) {
        pollfd wait {fd, POLLOUT, 0};
        if (::poll(&wait, 1, millisecondsLeft(deadline)) <= 0)
            return result;
        const ssize_t sent = ::send(fd, message.constData() + written, size_t(message.size() - written),
                                    MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN && errno != EINTR)
            return result;
        written += std::max<ssize_t>(sent, 0);
    }
    QByteArray received;
    char buffer[4096];
    for (;;) {
        pollfd wait {fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            break;
        received.append(buffer, got);
    }
    if (received.size() >= 4) {
        result.outcome = HandOverResult::Replied;
        result.reply = static_cast<qint32>(readLittleEndian32(received, 0));
        result.extra = received.mid(4);
    }
    return result;
}

void writeError(std::FILE *err, const QString &text)
{
    std::fputs((QStringLiteral("Tonelark: ") + text + QLatin1Char('\n')).toLocal8Bit().constData(), err);
}

} // namespace

QByteArray encodeHandOverRecord(const THandOverRecord &record)
{
    if (record.FileName.size() > kHandOverFileNameUnits)
        return {};
    // Zero-filled first: the units after the name are its terminator and padding.
    QByteArray bytes(kHandOverRecordSize, '\0');
    qToLittleEndian(static_cast<quint32>(record.BuildStamp), bytes.data());
    for (qsizetype i = 0; i < record.FileName.size(); ++i)
        qToLittleEndian(record.FileName.at(i).unicode(), bytes.data() + 4 + 2 * i);
    return bytes;
}

THandOverRecord decodeHandOverRecord(QByteArrayView bytes)
{
    Q_ASSERT(bytes.size() >= kHandOverRecordSize);
    THandOverRecord record;
    record.BuildStamp = static_cast<qint32>(readLittleEndian32(bytes, 0));
    record.FileName.clear();
    for (int i = 0; i < kHandOverFileNameUnits; ++i) {
        const char16_t unit = qFromLittleEndian<char16_t>(bytes.data() + 4 + 2 * i);
        if (unit == 0)
            break;
        record.FileName.append(QChar(unit));
    }
    return record;
}

QByteArray encodeHandOverMessage(const THandOverRecord &record, quint32 signature)
{
    const QByteArray body = encodeHandOverRecord(record);
    if (body.isEmpty())
        return {};
    return littleEndian32(signature) + littleEndian32(kHandOverRecordSize) + body;
}

QString handOverPath(const QString &argument, const QString &workingFolder)
{
    const QString absolute = QDir(workingFolder).absoluteFilePath(argument);
    if (!hasDotSegments(absolute))
        return QDir::cleanPath(absolute);
    // Resolving ".." by text would be wrong after a link to another folder; the system's view
    // of the existing folder is right. A missing folder leaves only the textual form.
    const QFileInfo info(absolute);
    const QString name = info.fileName();
    const QString folder = QFileInfo(info.path()).canonicalFilePath();
    if (folder.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return QDir::cleanPath(absolute);
    return folder == QStringLiteral("/") ? folder + name : folder + QLatin1Char('/') + name;
}

HandOverServer::HandOverServer(QObject *parent)
    : QObject(parent), m_acceptRetry(new QTimer(this))
{
    m_acceptRetry->setSingleShot(true);
    connect(m_acceptRetry, &QTimer::timeout, this, [this] {
        if (m_notifier)
            m_notifier->setEnabled(true);
        onNewConnection();
    });
}

HandOverServer::~HandOverServer()
{
    // The sockets are our children; their last signals must not reach a half-gone object.
    for (QLocalSocket *socket : children<QLocalSocket>())
        socket->disconnect(this);
    close();
}

template <typename T>
QList<T *> HandOverServer::children() const
{
    return findChildren<T *>(QString(), Qt::FindDirectChildrenOnly);
}

void HandOverServer::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        ::unlink(QFile::encodeName(m_path).constData());
    }
}

bool HandOverServer::listen(const QString &serverPath)
{
    close();
    const QByteArray path = QFile::encodeName(serverPath);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof(address.sun_path))) {
        m_error = QStringLiteral("socket path too long");
        return false;
    }
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // A socket file left by an instance that ended; the lock we hold proves it is dead.
    ::unlink(path.constData());
    // Created closed to others from the first moment: no window between bind and chmod.
    const mode_t mask = ::umask(077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::umask(mask);
    // The kernel's longest queue: a burst of second starts waits there for its turn.
    if (!bound || ::listen(fd, SOMAXCONN) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return false;
    }
    m_listenFd = fd;
    m_path = serverPath;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HandOverServer::onNewConnection);
    return true;
}

void HandOverServer::setReceiver(Receiver receiver)
{
    m_receiver = std::move(receiver);
    if (!m_pending.empty())
        QMetaObject::invokeMethod(this, &HandOverServer::processPending, Qt::QueuedConnection);
}

void HandOverServer::setCaptionProvider(CaptionProvider provider)
{
    m_captionProvider = std::move(provider);
}

void HandOverServer::onNewConnection()
{
    while (m_listenFd >= 0) {
        // Enough being read at once: the rest wait in the kernel's queue, not refused.
        if (m_connections.size() >= kMaxConnections) {
            m_notifier->setEnabled(false);
            return;
        }
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            accept(fd);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // Out of descriptors or memory: the connection stays queued in the kernel and is
            // taken once something was freed. Listening must go on, or every later second
            // start would end silently with its file lost.
            m_notifier->setEnabled(false);
            m_acceptRetry->start(kAcceptRetryMs);
        }
        return;
    }
}

void HandOverServer::accept(int fd)
{
    const std::optional<unsigned> peer = peerUserId(fd);
    if (!peer || *peer != static_cast<unsigned>(::geteuid())) {
        ::close(fd);
        return;
    }
    auto *socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(fd)) {
        ::close(fd);
        delete socket;
        return;
    }
    // Nothing beyond one message is ever read; a client that keeps sending fills its own
    // socket buffer, not our memory.
    socket->setReadBufferSize(kHandOverHeaderSize + kHandOverRecordSize);
    Connection connection;
    connection.timer = new QTimer(socket);
    connection.timer->setSingleShot(true);
    connect(connection.timer, &QTimer::timeout, this, [this, socket] { onTimeout(socket); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
        forget(socket);
        socket->deleteLater();
    });
    connection.timer->start(m_readTimeoutMs);
    m_connections.insert(socket, connection);
    if (socket->bytesAvailable() > 0)
        onReadyRead(socket);
}

void HandOverServer::onReadyRead(QLocalSocket *socket)
{
    auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    QByteArray &buffer = it->buffer;
    // Only as many bytes as the message needs; whatever follows is never looked at.
    if (buffer.size() < kHandOverHeaderSize) {
        buffer += socket->read(kHandOverHeaderSize - buffer.size());
        if (buffer.size() < kHandOverHeaderSize)
            return;
    }
    const quint32 signature = readLittleEndian32(buffer, 0);
    const quint32 length = readLittleEndian32(buffer, 4);
    if (signature == kCaptionQuerySignature && m_captionProvider) {
        const QString caption = m_captionProvider();
        finish(socket, hrLoaded,
               QByteArray(reinterpret_cast<const char *>(caption.utf16()), caption.size() * 2));
        return;
    }
    if (signature != kCopyDataSignature && signature != kFollowingFileSignature) {
        finish(socket, hrWrongSignature);
        return;
    }
    if (length < quint32(kHandOverRecordSize)) {
        finish(socket, hrShortRecord);
        return;
    }
    const qsizetype wanted = kHandOverHeaderSize + kHandOverRecordSize;
    buffer += socket->read(wanted - buffer.size());
    if (buffer.size() < wanted)
        return;

    const THandOverRecord record =
        decodeHandOverRecord(QByteArrayView(buffer).sliced(kHandOverHeaderSize));
    if (record.BuildStamp < static_cast<qint32>(kBuildStamp)) {
        finish(socket, hrOldBuildStamp);
        return;
    }
    // Complete: the sender is answered now and may end; the name waits for the receiver.
    // Answering only after the load would keep every sender waiting behind a message box.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    finish(socket, hrLoaded);
    m_pending.push_back({record.FileName, signature == kFollowingFileSignature});
    // Not from here: the receiver may run a nested event loop, and this is the socket's own
    // readyRead emission, which must not find its socket deleted when it resumes.
    QMetaObject::invokeMethod(this, &HandOverServer::processPending, Qt::QueuedConnection);
}

void HandOverServer::forget(QLocalSocket *socket)
{
    const auto it = m_connections.find(socket);
    if (it == m_connections.end())
        return;
    it->timer->stop();
    m_connections.erase(it);
    // A place is free again for a connection waiting in the kernel's queue.
    if (m_notifier && !m_notifier->isEnabled() && !m_acceptRetry->isActive()) {
        m_notifier->setEnabled(true);
        QMetaObject::invokeMethod(this, &HandOverServer::onNewConnection, Qt::QueuedConnection);
    }
}

void HandOverServer::onTimeout(QLocalSocket *socket)
{
    const auto it = m_connections.constFind(socket);
    if (it == m_connections.cend())
        return;
    const bool announcedRecord = it->buffer.size() >= kHandOverHeaderSize
        && (readLittleEndian32(it->buffer, 0) == kCopyDataSignature ||
            readLittleEndian32(it->buffer, 0) == kFollowingFileSignature);
    finish(socket, announcedRecord ? std::optional<qint32>(hrShortRecord) : std::nullopt);
}

void HandOverServer::finish(QLocalSocket *socket, std::optional<qint32> reply,
                            const QByteArray &extra)
{
    forget(socket);
    if (socket->state() != QLocalSocket::ConnectedState) {
        socket->deleteLater();
        return;
    }
    if (reply)
        socket->write(littleEndian32(static_cast<quint32>(*reply)) + extra);
    // Sends what is buffered, then closes; the disconnected signal deletes the socket.
    socket->disconnectFromServer();
}

void HandOverServer::processPending()
{
    // A receiver that opens a box gets the records arriving meanwhile from inside it, one
    // call each, and decides itself what runs when: the window's song gate keeps them.
    while (m_receiver && !m_pending.empty()) {
        const Pending next = m_pending.front();
        m_pending.pop_front();
        if (next.follows && m_followerReceiver)
            m_followerReceiver(next.fileName);
        else
            m_receiver(next.fileName);
        emit handedOver(next.fileName);
    }
}

std::optional<unsigned> peerUserId(qintptr socketDescriptor)
{
    ucred credentials {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return static_cast<unsigned>(credentials.uid);
}

HandOverResult sendHandOverMessage(const QString &serverPath, const QByteArray &message,
                                   int replyTimeoutMs, int connectTimeoutMs)
{
    const int fd = connectUntil(QFile::encodeName(serverPath),
                                Clock::now() + std::chrono::milliseconds(connectTimeoutMs));
    if (fd < 0)
        return {};
    HandOverResult result;
    result.outcome = HandOverResult::ForeignServer;
    if (isOwnServer(fd))
        result = exchange(fd, message, replyTimeoutMs);
    ::close(fd);
    return result;
}

std::optional<QString> queryRunningCaption(const QString &serverPath, int timeoutMs)
{
    QByteArray query = QByteArray(kHandOverHeaderSize, '\0');
    qToLittleEndian(kCaptionQuerySignature, query.data());
    const HandOverResult result = sendHandOverMessage(serverPath, query, timeoutMs, timeoutMs);
    if (result.outcome != HandOverResult::Replied || result.reply != hrLoaded)
        return std::nullopt;
    QString caption;
    for (qsizetype i = 0; i + 1 < result.extra.size(); i += 2)
        caption.append(QChar(qFromLittleEndian<char16_t>(result.extra.constData() + i)));
    return caption;
}

int handOverToRunningInstance(const QString &serverPath, const QStringList &arguments,
                              const QString &workingFolder, std::FILE *err,
                              const std::function<bool()> &instanceStillRuns)
{
    // Without a file the record carries an empty name: the running window only comes to the
    // front. An empty argument would name the working folder once made absolute.
    const bool noFile = arguments.isEmpty() || arguments.first().isEmpty();
    // One record a file, in order, each on its own connection (the receiver takes one message
    // a connection): several files from a file manager all reach the queue. Later files travel
    // with their own signature, so the running window queues them behind the first.
    const QStringList files = noFile ? QStringList{QString()} : arguments;
    bool first = true;
    for (const QString &file : files) {
        if (!noFile && file.isEmpty())
            continue;
        THandOverRecord record;
        record.FileName = noFile ? QString() : handOverPath(file, workingFolder);
        if (record.FileName.size() > kHandOverFileNameUnits) {
            // A cut path would name another file, or none; say so instead of losing it quietly.
            writeError(err, QStringLiteral("パスが長すぎるため、起動中の Tonelark に渡せません"
                                           "（%1 文字、上限 %2 文字）: %3")
                                .arg(record.FileName.size())
                                .arg(kHandOverFileNameUnits)
                                .arg(record.FileName));
            return 2;
        }
        // The first instance takes its lock before it listens: a start in between finds nobody
        // yet and tries again. Without a file nothing is lost, so one try is enough.
        const QByteArray path = QFile::encodeName(serverPath);
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(noFile ? 0 : kHandOverConnectWaitMs);
        int fd = -1;
        for (;;) {
            fd = connectUntil(path, std::min(deadline, Clock::now() + std::chrono::milliseconds(200)));
            if (fd >= 0 || Clock::now() >= deadline)
                break;
            // Only before anything was delivered may this start become the instance itself.
            if (first && instanceStillRuns && !instanceStillRuns())
                return kHandOverNoInstance;
        }
        if (fd < 0) {
            if (noFile)
                return 0;
            writeError(err, QStringLiteral("起動中の Tonelark に接続できないため、ファイルを渡せませんでした: %1")
                                .arg(record.FileName));
            return 1;
        }
        if (!isOwnServer(fd)) {
            ::close(fd);
            // The paths a user opens are nobody else's business.
            writeError(err, QStringLiteral("%1 は別のユーザーのソケットです。ファイルのパスは渡しません。").arg(serverPath));
            return 2;
        }
        const HandOverResult result = exchange(
            fd, encodeHandOverMessage(record, first ? kCopyDataSignature : kFollowingFileSignature),
            kHandOverReplyTimeoutMs);
        ::close(fd);
        first = false;
        if (result.outcome == HandOverResult::Replied && result.reply == hrLoaded)
            continue;
        if (result.outcome == HandOverResult::Replied)
            writeError(err, QStringLiteral("起動中の Tonelark がファイルを受け取りませんでした（応答 %1）: %2")
                                .arg(result.reply)
                                .arg(record.FileName));
        else
            writeError(err, QStringLiteral("起動中の Tonelark から応答がないため、ファイルを渡せたか分かりません: %1")
                                .arg(record.FileName));
        return 1;
    }
    return 0;
}

} // namespace tonelark
