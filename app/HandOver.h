#pragma once

#include "uConst.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <deque>
#include <functional>
#include <optional>

class QLocalSocket;
class QSocketNotifier;
class QTimer;

// The single-instance hand-over: a second start sends its first argument to the running
// instance as one fixed 526-byte record over a per-user local socket and waits for the
// one reply code.
//
// Wire form of a message: the 32-bit signature, the 32-bit record length, the record (all
// little-endian). The reply is one little-endian 32-bit code.
namespace tonelark {

inline constexpr int kHandOverFileNameUnits = 261;
inline constexpr int kHandOverRecordSize = 4 + 2 * kHandOverFileNameUnits;   // 526
inline constexpr int kHandOverHeaderSize = 8;
// Debug mode only: asks the running window for its caption instead of handing a file over.
// Lets a test or a developer see from outside what the running instance loaded.
inline constexpr quint32 kCaptionQuerySignature = 0xC0D4DAFB;
// The second and later files of one second start (a file manager passes several): the
// running instance queues them behind the first instead of playing each. An instance that
// does not know it answers hrWrongSignature and keeps the first file only.
inline constexpr quint32 kFollowingFileSignature = 0xC0D4DAFC;

enum HandOverReply : qint32 {
    hrLoaded = 0,           // accepted: the running window has the name
    hrOldBuildStamp = 1,    // BuildStamp below ours
    hrWrongSignature = 2,   // not a hand-over message
    hrShortRecord = 3,      // fewer than 526 record bytes announced or delivered
};

// The record's fields; FileName holds at most 261 UTF-16 units.
struct THandOverRecord {
    qint32 BuildStamp = static_cast<qint32>(kBuildStamp);
    QString FileName;
};

// The 526 bytes: BuildStamp, then FileName's units zero-filled to 261 (a name of exactly
// 261 units has no terminator). Empty when FileName is longer than 261 units.
QByteArray encodeHandOverRecord(const THandOverRecord &record);
// Reads the first 526 bytes of `bytes`; FileName ends at the first 0 unit, at most 261
// units. Requires at least 526 bytes.
THandOverRecord decodeHandOverRecord(QByteArrayView bytes);
// Signature, length and record as the sender writes them.
QByteArray encodeHandOverMessage(const THandOverRecord &record,
                                 quint32 signature = kCopyDataSignature);

// The absolute form of a command-line path, free of "." and ".." segments, because the
// receiving instance has another working folder. ".." after a symbolic link is resolved as
// the system would, through the existing folder.
QString handOverPath(const QString &argument, const QString &workingFolder);

// The receiving end: a listening local socket whose records are loaded on the thread that
// owns it. Its notifications come from whichever event loop runs, so a hand-over is also
// handled while a modal dialog, a menu or a message box is open. A complete record is
// answered at once (hrLoaded: received) and its name handed to the receiver, queued, never
// inside a socket's own signal. The receiver may be called again from a nested event loop
// it opened; keeping one load at a time is its business. Only connections of the same user
// are served; beyond kMaxConnections being read at once, further ones wait in the kernel's
// queue; a failed accept (no descriptors left) pauses listening briefly instead of ending it.
class HandOverServer : public QObject {
    Q_OBJECT
public:
    using Receiver = std::function<void(const QString &fileName)>;
    using CaptionProvider = std::function<QString()>;
    // A connection that has not delivered its message by then is refused and closed.
    static constexpr int kReadTimeoutMs = 2000;
    // Connections being read at once; further ones wait to be accepted.
    static constexpr int kMaxConnections = 64;
    // How long listening pauses after an accept failed for want of resources.
    static constexpr int kAcceptRetryMs = 200;

    explicit HandOverServer(QObject *parent = nullptr);
    ~HandOverServer() override;

    // Listens at `serverPath` (mode 0600), removing a socket file left by an instance that
    // ended. Call only while holding the instance lock, so no live server is replaced.
    bool listen(const QString &serverPath);
    bool isListening() const { return m_listenFd >= 0; }
    QString errorString() const { return m_error; }

    // Until a receiver is set, the names of complete records wait (their senders have their
    // reply already).
    void setReceiver(Receiver receiver);
    // Receives the following files of a second start; without it they go to the receiver.
    void setFollowerReceiver(Receiver receiver) { m_followerReceiver = std::move(receiver); }
    // Answers caption queries; without it they get hrWrongSignature like any unknown message.
    void setCaptionProvider(CaptionProvider provider);
    void setReadTimeout(int milliseconds) { m_readTimeoutMs = milliseconds; }

signals:
    // After the receiver returned for `fileName`.
    void handedOver(const QString &fileName);

private:
    struct Connection {
        QByteArray buffer;   // header, then record bytes, never more than one message
        QTimer *timer = nullptr;
    };
    void onNewConnection();
    void accept(int fd);
    void close();
    void onReadyRead(QLocalSocket *socket);
    void onTimeout(QLocalSocket *socket);
    void finish(QLocalSocket *socket, std::optional<qint32> reply, const QByteArray &extra = {});
    // Drops `socket` from the connections being read.
    void forget(QLocalSocket *socket);
    void processPending();
    template <typename T>
    QList<T *> children() const;

    int m_listenFd = -1;
    QString m_path;
    QString m_error;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_acceptRetry = nullptr;
    Receiver m_receiver;
    Receiver m_followerReceiver;
    CaptionProvider m_captionProvider;
    int m_readTimeoutMs = kReadTimeoutMs;
    struct Pending {
        QString fileName;
        bool follows = false;   // a later file of the same second start
    };
    QHash<QLocalSocket *, Connection> m_connections;
    std::deque<Pending> m_pending;
};

// What a sender learnt from the running instance.
struct HandOverResult {
    enum Outcome { NoServer, Replied, NoReply, ForeignServer } outcome = NoServer;
    qint32 reply = -1;
    QByteArray extra;   // bytes after the reply code (the caption query's answer)
};

// The user id of the process at the other end of a connected local socket, when known.
std::optional<unsigned> peerUserId(qintptr socketDescriptor);

// Connects (trying again for up to `connectTimeoutMs` while nobody listens yet or the
// server's queue is full), writes `message` and waits up to `replyTimeoutMs` for the reply
// code and for the server to close the connection, blocking; what follows the code lands
// in `extra`. A server that runs as another user is not written to (ForeignServer). Plain
// system calls: it needs no application object and no event loop.
HandOverResult sendHandOverMessage(const QString &serverPath, const QByteArray &message,
                                   int replyTimeoutMs, int connectTimeoutMs = 2000);

// The caption of the running instance's window when it runs in debug mode.
std::optional<QString> queryRunningCaption(const QString &serverPath, int timeoutMs = 2000);

// How long a second start tries to reach the running instance: it may hold its lock and
// not listen yet.
inline constexpr int kHandOverConnectWaitMs = 8000;
// How long a sender waits for the reply. The server answers on receipt, so only a window
// busy without an event loop (a long MML compile) delays it.
inline constexpr int kHandOverReplyTimeoutMs = 30000;
// handOverToRunningInstance's result when `instanceStillRuns` said no: the caller may
// start as the first instance.
inline constexpr int kHandOverNoInstance = -1;

// The second instance's whole path: hands the first of `arguments` (the program's arguments
// without the program name) to the instance at `serverPath`, or an empty name when there is
// none (the running window comes to the front). While nobody listens it tries again for
// kHandOverConnectWaitMs, asking `instanceStillRuns` (when given) between tries. Returns the
// exit code: 0 when the running instance received the record (or, without a file, when no
// instance answers); 1 when the file could not be delivered (no instance answered in time,
// it refused the record or gave no reply); 2 when the path does not fit the record or the
// listening socket belongs to another user; kHandOverNoInstance when `instanceStillRuns`
// returned false first. Every failure with a file is said on `err`.
int handOverToRunningInstance(const QString &serverPath, const QStringList &arguments,
                              const QString &workingFolder, std::FILE *err,
                              const std::function<bool()> &instanceStillRuns = {});

} // namespace tonelark
