// The hand-over record, the instance lock and the receiving server, in one process. The
// program-level tests (ProgramTest.cpp) run the installed program instead.
#include "HandOver.h"
#include "InstanceLock.h"
#include "TrayTip.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <QEventLoop>
#include <QMessageBox>
#include <QTemporaryFile>

#include <atomic>
#include <cstring>
#include <future>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tonelark;

namespace {

// A hand-over sent from another thread, as a second instance would, while this thread runs
// the server's event loop.
std::future<HandOverResult> sendAsync(const QString &path, const QByteArray &message,
                                      int timeoutMs = 5000)
{
    return std::async(std::launch::async,
                      [=] { return sendHandOverMessage(path, message, timeoutMs); });
}

bool isReady(const std::future<HandOverResult> &future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

QByteArray header(quint32 signature, quint32 length)
{
    QByteArray bytes(8, '\0');
    qToLittleEndian(signature, bytes.data());
    qToLittleEndian(length, bytes.data() + 4);
    return bytes;
}

QByteArray recordMessage(const QString &fileName, qint32 stamp = qint32(kBuildStamp))
{
    return encodeHandOverMessage({stamp, fileName});
}

} // namespace

class HandOverTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void recordLayoutByteForByte();
    void recordOfExactly261UnitsHasNoTerminator();
    void decodeStopsAtTheFirstZeroUnit();
    void handOverPathIsAbsoluteAndRelativeFree_data();
    void handOverPathIsAbsoluteAndRelativeFree();
    void dotDotAfterALinkFollowsTheSystem();

    void lockHeldByAnotherProcessIsFreeAfterItIsKilled();
    void lockInTheSameProcessIsRefusedUntilReleased();
    void lockIsNotInheritedByChildProcesses();
    void plantedLinkIsNoLock();
    void staleRuntimeFolderFallsBackToAPrivateTempFolder();
    void unsafeTempFolderIsRefused();
    void foreignServerGetsNoPath();

    void handedOverFileIsLoadedAndAnswered();
    void refusedMessagesLeaveTheServerWorking_data();
    void refusedMessagesLeaveTheServerWorking();
    void stalledConnectionsAreClosedWhileOthersAreServed();
    void defaultReadTimeoutIsTwoSeconds();
    void senderGoneBeforeTheReplyHarmsNothing();
    void recordsWaitForTheReceiver();
    void handledInsideAModalDialogAndAMenu();
    void aSecondRecordIsAnsweredWhileTheFirstLoads();
    void captionQueryOnlyWithAProvider();
    void secondStartWithoutAFileCallsTheWindowForward();
    void messageBoxOutlivesTheSenderThatOpenedIt();
    void connectionsBeyondTheLimitWaitTheirTurn();
    void descriptorExhaustionPausesListeningOnly();
    void clientSendingWithoutEndIsNotBuffered();
    void socketIsPrivateToTheUser();

    void trayTipFollowsTheTitleOnlyInTheTray();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HandOverServer> m_server;
    QString m_path;
    QStringList m_loaded;
};

void HandOverTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(QStringLiteral("handover.sock"));
    m_server = std::make_unique<HandOverServer>();
    QVERIFY(m_server->listen(m_path));
    m_loaded.clear();
    m_server->setReceiver([this](const QString &fileName) { m_loaded << fileName; });
}

void HandOverTest::cleanup()
{
    m_server.reset();
    m_dir.reset();
}

void HandOverTest::recordLayoutByteForByte()
{
    // "♪" is one unit, "𝄞" two (a surrogate pair).
    const QString name = QStringLiteral("/a♪𝄞");
    const QByteArray message = encodeHandOverMessage({qint32(kBuildStamp), name});
    QCOMPARE(message.size(), 8 + 526);
    const QByteArray head = QByteArray::fromHex("FADAD4C0" "0E020000");
    QCOMPARE(message.left(8), head);
    const QByteArray record = message.mid(8);
    QCOMPARE(record.left(4), QByteArray::fromHex("79C00F00"));
    QCOMPARE(record.mid(4, 10), QByteArray::fromHex("2F00" "6100" "6A26" "34D8" "1EDD"));
    QCOMPARE(record.mid(14), QByteArray(526 - 14, '\0'));
}

void HandOverTest::recordOfExactly261UnitsHasNoTerminator()
{
    const QString name = QStringLiteral("/") + QString(259, QLatin1Char('x')) + QStringLiteral("Z");
    QCOMPARE(name.size(), 261);
    const QByteArray record = encodeHandOverRecord({qint32(kBuildStamp), name});
    QCOMPARE(record.size(), 526);
    QCOMPARE(record.right(2), QByteArray("Z\0", 2));
    QCOMPARE(decodeHandOverRecord(record).FileName, name);
    QVERIFY(encodeHandOverRecord({qint32(kBuildStamp), name + QLatin1Char('x')}).isEmpty());
}

void HandOverTest::decodeStopsAtTheFirstZeroUnit()
{
    QByteArray record = encodeHandOverRecord({12345678, QStringLiteral("/song.mid")});
    record[4 + 2 * 20] = 'q';   // beyond the terminator: never part of the name
    const THandOverRecord decoded = decodeHandOverRecord(record);
    QCOMPARE(decoded.BuildStamp, 12345678);
    QCOMPARE(decoded.FileName, QStringLiteral("/song.mid"));
}

void HandOverTest::handOverPathIsAbsoluteAndRelativeFree_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain name") << QStringLiteral("曲 1.mid") << QStringLiteral("/work/曲 1.mid");
    QTest::newRow("dot") << QStringLiteral("./a.mid") << QStringLiteral("/work/a.mid");
    QTest::newRow("dot dot in a missing folder")
        << QStringLiteral("x/../../a.mid") << QStringLiteral("/a.mid");
    QTest::newRow("absolute kept") << QStringLiteral("/music/a.mid") << QStringLiteral("/music/a.mid");
    QTest::newRow("doubled slash") << QStringLiteral("/music//a.mid") << QStringLiteral("/music/a.mid");
}

void HandOverTest::handOverPathIsAbsoluteAndRelativeFree()
{
    QFETCH(QString, argument);
    QFETCH(QString, expected);
    QCOMPARE(handOverPath(argument, QStringLiteral("/work")), expected);
}

void HandOverTest::dotDotAfterALinkFollowsTheSystem()
{
    // link -> deep/inner: "link/../a.mid" is deep/a.mid to the system, not ./a.mid.
    const QString root = QFileInfo(m_dir->path()).canonicalFilePath();
    QVERIFY(QDir(root).mkpath(QStringLiteral("deep/inner")));
    QVERIFY(QFile::link(root + QStringLiteral("/deep/inner"), root + QStringLiteral("/link")));
    QCOMPARE(handOverPath(QStringLiteral("link/../a.mid"), root), root + QStringLiteral("/deep/a.mid"));
}

void HandOverTest::lockHeldByAnotherProcessIsFreeAfterItIsKilled()
{
    const QString lockFile = m_dir->filePath(QStringLiteral("instance.lock"));
    // The shell locks through its own descriptor, then becomes `sleep`: killing it is the
    // holder's crash.
    QProcess holder;
    holder.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("exec 9>>\"$0\" && flock --nonblock 9 && exec sleep 60"), lockFile});
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(InstanceLock(lockFile).state() == InstanceLock::State::HeldElsewhere, 5000);
    holder.kill();
    QVERIFY(holder.waitForFinished());
    // The file stays behind; only the lock went with the process.
    QVERIFY(QFileInfo::exists(lockFile));
    QCOMPARE(InstanceLock(lockFile).state(), InstanceLock::State::Acquired);
}

void HandOverTest::lockInTheSameProcessIsRefusedUntilReleased()
{
    const QString lockFile = m_dir->filePath(QStringLiteral("instance.lock"));
    auto first = std::make_unique<InstanceLock>(lockFile);
    QCOMPARE(first->state(), InstanceLock::State::Acquired);
    QCOMPARE(InstanceLock(lockFile).state(), InstanceLock::State::HeldElsewhere);
    first.reset();
    QCOMPARE(InstanceLock(lockFile).state(), InstanceLock::State::Acquired);
}

void HandOverTest::lockIsNotInheritedByChildProcesses()
{
    // A program started from the player (a browser, say) outlives it; it must not keep the
    // lock and make every later start a silent second instance.
    const QString lockFile = m_dir->filePath(QStringLiteral("instance.lock"));
    auto lock = std::make_unique<InstanceLock>(lockFile);
    QCOMPARE(lock->state(), InstanceLock::State::Acquired);
    QProcess child;
    child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    QVERIFY(child.waitForStarted());
    lock.reset();
    const InstanceLock::State after = InstanceLock(lockFile).state();
    child.kill();
    child.waitForFinished();
    QCOMPARE(after, InstanceLock::State::Acquired);
}

void HandOverTest::plantedLinkIsNoLock()
{
    const QString target = m_dir->filePath(QStringLiteral("elsewhere"));
    const QString lockFile = m_dir->filePath(QStringLiteral("instance.lock"));
    QVERIFY(QFile::link(target, lockFile));
    const InstanceLock lock(lockFile);
    QCOMPARE(lock.state(), InstanceLock::State::Error);
    QVERIFY(!lock.errorString().isEmpty());
    QVERIFY(!QFileInfo::exists(target));
}

void HandOverTest::staleRuntimeFolderFallsBackToAPrivateTempFolder()
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", m_dir->path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", m_dir->filePath(QStringLiteral("gone")).toLocal8Bit());
    const InstanceNames stale = InstanceNames::forCurrentUser();
    qputenv("XDG_RUNTIME_DIR", m_dir->path().toLocal8Bit());
    const InstanceNames fresh = InstanceNames::forCurrentUser();
    qputenv("XDG_RUNTIME_DIR", saved);
    qputenv("TMPDIR", savedTemp);
    const QString own = m_dir->filePath(QStringLiteral("tonelark-%1").arg(::geteuid()));
    QCOMPARE(stale.folder, own);
    QCOMPARE(QFileInfo(stale.lockFile).path(), own);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(own).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
    QCOMPARE(QFileInfo(fresh.server).path(), m_dir->path());
    QCOMPARE(InstanceLock(stale.lockFile).state(), InstanceLock::State::Acquired);
}

void HandOverTest::unsafeTempFolderIsRefused()
{
    // Another local user who creates our folder first must get neither our lock nor our
    // paths: a folder that is open to others, a planted link or a foreign folder is refused.
    const QString own = m_dir->filePath(QStringLiteral("tonelark-%1").arg(::geteuid()));
    const QByteArray path = QFile::encodeName(own);
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", m_dir->path().toLocal8Bit());
    const auto refused = [] {
        QString error;
        const InstanceNames names = InstanceNames::forCurrentUser(&error);
        return !names.isValid() && !error.isEmpty();
    };
    QVERIFY(::mkdir(path.constData(), 0700) == 0 && ::chmod(path.constData(), 0777) == 0);
    const bool openRefused = refused();
    QVERIFY(::rmdir(path.constData()) == 0);
    QVERIFY(::symlink(QFile::encodeName(m_dir->path()).constData(), path.constData()) == 0);
    const bool linkRefused = refused();
    QVERIFY(::unlink(path.constData()) == 0);
    bool foreignRefused = true;
    if (::geteuid() == 0) {
        QVERIFY(::mkdir(path.constData(), 0700) == 0 && ::chown(path.constData(), 65534, 65534) == 0);
        foreignRefused = refused();
    }
    qputenv("XDG_RUNTIME_DIR", saved);
    qputenv("TMPDIR", savedTemp);
    QVERIFY(openRefused);
    QVERIFY(linkRefused);
    QVERIFY(foreignRefused);
}

void HandOverTest::foreignServerGetsNoPath()
{
    if (::geteuid() != 0)
        QSKIP("needs root to run a listener as another user");
    // A listener of another user (uid 65534) where ours should be: it must not learn the path.
    // Outside the test's own 0700 folder, where the other user can reach it.
    QTemporaryDir shared(QStringLiteral("/tmp/tonelark-foreign-XXXXXX"));
    QVERIFY(shared.isValid());
    const QString folder = shared.path();
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0777) == 0);
    const QString socketPath = folder + QStringLiteral("/foreign.sock");
    int report[2];
    QVERIFY(::pipe(report) == 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(socketPath);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::chmod(name.constData(), 0777) != 0 || ::listen(fd, 4) != 0)
            ::_exit(4);
        char ready = 'r';
        (void)::write(report[1], &ready, 1);
        const int peer = ::accept(fd, nullptr, nullptr);
        pollfd wait {peer, POLLIN, 0};
        qint32 received = 0;
        char buffer[1024];
        while (::poll(&wait, 1, 1500) > 0) {
            const ssize_t got = ::read(peer, buffer, sizeof buffer);
            if (got <= 0)
                break;
            received += qint32(got);
        }
        (void)::write(report[1], &received, sizeof received);
        ::_exit(0);
    }
    ::close(report[1]);
    char ready = 0;
    QCOMPARE(::read(report[0], &ready, 1), ssize_t(1));
    QTemporaryFile err;
    QVERIFY(err.open());
    std::FILE *errFile = ::fdopen(::dup(err.handle()), "w");
    const int exitCode = handOverToRunningInstance(socketPath, {QStringLiteral("/home/me/secret.mid")},
                                                   QStringLiteral("/"), errFile);
    std::fclose(errFile);
    qint32 received = -1;
    QCOMPARE(::read(report[0], &received, sizeof received), ssize_t(sizeof received));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    QCOMPARE(exitCode, 2);
    QCOMPARE(received, 0);
    QVERIFY(err.seek(0));
    QVERIFY(QString::fromLocal8Bit(err.readAll()).contains(QStringLiteral("別のユーザー")));
}

void HandOverTest::handedOverFileIsLoadedAndAnswered()
{
    const QString name = QStringLiteral("/") + QString(258, QChar(0x266A)) + QStringLiteral(".m");
    QCOMPARE(name.size(), 261);
    QSignalSpy spy(m_server.get(), &HandOverServer::handedOver);
    auto reply = sendAsync(m_path, recordMessage(name));
    QTRY_VERIFY(isReady(reply));
    const HandOverResult result = reply.get();
    QCOMPARE(result.outcome, HandOverResult::Replied);
    QCOMPARE(result.reply, qint32(hrLoaded));
    QCOMPARE(m_loaded, QStringList{name});
    QCOMPARE(spy.count(), 1);
}

void HandOverTest::refusedMessagesLeaveTheServerWorking_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("reply");
    QTest::addColumn<bool>("loads");
    const QByteArray record = encodeHandOverRecord({qint32(kBuildStamp), QStringLiteral("/x.mid")});
    QTest::newRow("wrong signature") << header(0xC0D4DAFB, 526) + record << int(hrWrongSignature) << false;
    QTest::newRow("garbage") << QByteArray(600, '\x5A') << int(hrWrongSignature) << false;
    QTest::newRow("short length") << header(kCopyDataSignature, 525) + record.left(525)
                                  << int(hrShortRecord) << false;
    QTest::newRow("old stamp") << recordMessage(QStringLiteral("/x.mid"), qint32(kBuildStamp) - 1)
                               << int(hrOldBuildStamp) << false;
    // 0x80000000 is far below as a signed stamp, far above as an unsigned one.
    QTest::newRow("negative stamp") << recordMessage(QStringLiteral("/x.mid"), qint32(0x80000000u))
                                    << int(hrOldBuildStamp) << false;
    QTest::newRow("newer stamp") << recordMessage(QStringLiteral("/x.mid"), qint32(kBuildStamp) + 1)
                                 << int(hrLoaded) << true;
    QTest::newRow("longer record") << header(kCopyDataSignature, 600) + record + QByteArray(74, 'y')
                                   << int(hrLoaded) << true;
}

void HandOverTest::refusedMessagesLeaveTheServerWorking()
{
    QFETCH(QByteArray, message);
    QFETCH(int, reply);
    QFETCH(bool, loads);
    auto refused = sendAsync(m_path, message);
    QTRY_VERIFY(isReady(refused));
    const HandOverResult result = refused.get();
    QCOMPARE(result.outcome, HandOverResult::Replied);
    QCOMPARE(result.reply, reply);
    QCOMPARE(m_loaded.size(), loads ? 1 : 0);

    auto next = sendAsync(m_path, recordMessage(QStringLiteral("/next.mid")));
    QTRY_VERIFY(isReady(next));
    QCOMPARE(next.get().reply, qint32(hrLoaded));
    QCOMPARE(m_loaded.last(), QStringLiteral("/next.mid"));
}

void HandOverTest::stalledConnectionsAreClosedWhileOthersAreServed()
{
    m_server->setReadTimeout(400);
    QLocalSocket silent;
    QLocalSocket halfRecord;
    silent.connectToServer(m_path);
    halfRecord.connectToServer(m_path);
    QVERIFY(silent.waitForConnected() && halfRecord.waitForConnected());
    halfRecord.write(header(kCopyDataSignature, 526) + QByteArray(100, 'a'));
    halfRecord.flush();

    QElapsedTimer clock;
    clock.start();
    auto served = sendAsync(m_path, recordMessage(QStringLiteral("/meanwhile.mid")));
    QTRY_VERIFY(isReady(served));
    QCOMPARE(served.get().reply, qint32(hrLoaded));
    QVERIFY2(clock.elapsed() < 400, "a stalled connection held up another one");

    QTRY_COMPARE(silent.state(), QLocalSocket::UnconnectedState);
    QTRY_COMPARE(halfRecord.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(silent.readAll(), QByteArray());
    QCOMPARE(halfRecord.readAll(), QByteArray::fromHex("03000000"));
    QCOMPARE(m_loaded, QStringList{QStringLiteral("/meanwhile.mid")});
}

void HandOverTest::defaultReadTimeoutIsTwoSeconds()
{
    QLocalSocket silent;
    silent.connectToServer(m_path);
    QVERIFY(silent.waitForConnected());
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 5000);
    QVERIFY2(clock.elapsed() >= 1800 && clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
}

void HandOverTest::senderGoneBeforeTheReplyHarmsNothing()
{
    // The reply goes to a closed socket: no SIGPIPE, no stuck connection.
    QLocalSocket impatient;
    m_server->setReceiver([&](const QString &fileName) {
        m_loaded << fileName;
        impatient.abort();
        QTest::qWait(100);
    });
    impatient.connectToServer(m_path);
    QVERIFY(impatient.waitForConnected());
    impatient.write(recordMessage(QStringLiteral("/first.mid")));
    impatient.flush();
    QTRY_COMPARE(m_loaded.size(), 1);

    m_server->setReceiver([this](const QString &fileName) { m_loaded << fileName; });
    auto next = sendAsync(m_path, recordMessage(QStringLiteral("/second.mid")));
    QTRY_VERIFY(isReady(next));
    QCOMPARE(next.get().reply, qint32(hrLoaded));
    QCOMPARE(m_loaded, (QStringList{QStringLiteral("/first.mid"), QStringLiteral("/second.mid")}));
}

void HandOverTest::recordsWaitForTheReceiver()
{
    // At start the server listens before the window exists: the sender is answered at once,
    // and its name waits for the window, well past the read timeout.
    HandOverServer early;
    const QString path = m_dir->filePath(QStringLiteral("early.sock"));
    QVERIFY(early.listen(path));
    early.setReadTimeout(200);
    auto reply = sendAsync(path, recordMessage(QStringLiteral("/early.mid")));
    QTRY_VERIFY(isReady(reply));
    QCOMPARE(reply.get().reply, qint32(hrLoaded));
    QTest::qWait(400);
    QStringList loaded;
    early.setReceiver([&](const QString &fileName) { loaded << fileName; });
    QTRY_COMPARE(loaded, QStringList{QStringLiteral("/early.mid")});
}

void HandOverTest::handledInsideAModalDialogAndAMenu()
{
    QWidget *activeDuringLoad = nullptr;
    QDialog dialog;
    m_server->setReceiver([&](const QString &fileName) {
        m_loaded << fileName;
        activeDuringLoad = QApplication::activeModalWidget();
        dialog.accept();
    });
    std::future<HandOverResult> reply;
    QTimer::singleShot(0, [&] { reply = sendAsync(m_path, recordMessage(QStringLiteral("/modal.mid"))); });
    QTimer::singleShot(5000, &dialog, &QDialog::reject);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(activeDuringLoad, &dialog);
    QTRY_VERIFY(isReady(reply));
    QCOMPARE(reply.get().reply, qint32(hrLoaded));

    QMenu menu;
    menu.addAction(QStringLiteral("item"));
    m_server->setReceiver([&](const QString &fileName) {
        m_loaded << fileName;
        activeDuringLoad = QApplication::activePopupWidget();
        menu.close();
    });
    QTimer::singleShot(0, [&] { reply = sendAsync(m_path, recordMessage(QStringLiteral("/menu.mid"))); });
    QTimer::singleShot(5000, &menu, &QMenu::close);
    menu.exec(QPoint(10, 10));
    QCOMPARE(activeDuringLoad, &menu);
    QTRY_VERIFY(isReady(reply));
    QCOMPARE(reply.get().reply, qint32(hrLoaded));
    QCOMPARE(m_loaded, (QStringList{QStringLiteral("/modal.mid"), QStringLiteral("/menu.mid")}));
}

void HandOverTest::aSecondRecordIsAnsweredWhileTheFirstLoads()
{
    // A load that shows a message box runs a nested loop. A second start then must not wait
    // for the box: it is answered, and its name reaches the receiver from inside the box's
    // loop (the window's song gate keeps it for after the box).
    QStringList log;
    std::future<HandOverResult> second;
    bool secondAnsweredDuringFirst = false;
    m_server->setReceiver([&](const QString &fileName) {
        log << QStringLiteral("begin ") + fileName;
        if (fileName == QStringLiteral("/a.mid")) {
            second = sendAsync(m_path, recordMessage(QStringLiteral("/b.mid")));
            QElapsedTimer clock;
            clock.start();
            while (!isReady(second) && clock.elapsed() < 5000)
                QTest::qWait(10);
            secondAnsweredDuringFirst = isReady(second);
            QTest::qWait(100);
        }
        log << QStringLiteral("end ") + fileName;
    });
    auto first = sendAsync(m_path, recordMessage(QStringLiteral("/a.mid")));
    QTRY_VERIFY(isReady(first));
    QTRY_COMPARE(log.size(), 4);
    QVERIFY(secondAnsweredDuringFirst);
    QCOMPARE(first.get().reply, qint32(hrLoaded));
    QCOMPARE(second.get().reply, qint32(hrLoaded));
    QCOMPARE(log, (QStringList{QStringLiteral("begin /a.mid"), QStringLiteral("begin /b.mid"),
                               QStringLiteral("end /b.mid"), QStringLiteral("end /a.mid")}));
}

void HandOverTest::secondStartWithoutAFileCallsTheWindowForward()
{
    // The receiver gets an empty name: nothing to load, the window comes to the front.
    auto sent = std::async(std::launch::async, [this] {
        return handOverToRunningInstance(m_path, {}, QStringLiteral("/"), stderr);
    });
    QTRY_VERIFY(sent.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QCOMPARE(sent.get(), 0);
    QCOMPARE(m_loaded, QStringList{QString()});
}

void HandOverTest::captionQueryOnlyWithAProvider()
{
    auto refused = std::async(std::launch::async, [this] { return queryRunningCaption(m_path); });
    QTRY_VERIFY(refused.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QCOMPARE(refused.get(), std::nullopt);

    m_server->setCaptionProvider([] { return QStringLiteral("さくら.mml - Tonelark"); });
    auto answered = std::async(std::launch::async, [this] { return queryRunningCaption(m_path); });
    QTRY_VERIFY(answered.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QCOMPARE(answered.get(), std::optional<QString>(QStringLiteral("さくら.mml - Tonelark")));
    QVERIFY(m_loaded.isEmpty());
}

void HandOverTest::messageBoxOutlivesTheSenderThatOpenedIt()
{
    // A missing file makes the receiver show a box. The second instance has its answer
    // before the box opens and closes its connection while the box is open; pressing OK then
    // must not reach the deleted socket.
    bool boxShown = false;
    m_server->setReceiver([&](const QString &fileName) {
        m_loaded << fileName;
        QMessageBox box(QMessageBox::Critical, QStringLiteral(" "), fileName, QMessageBox::Ok);
        QTimer::singleShot(0, &box, [&] { boxShown = box.isVisible(); });
        QTimer::singleShot(1500, &box, &QMessageBox::accept);
        box.exec();
    });
    // In a running event loop, as the program's main loop would be.
    QEventLoop loop;
    auto impatient = sendAsync(m_path, recordMessage(QStringLiteral("/missing.mid")), 300);
    QTimer::singleShot(2500, &loop, &QEventLoop::quit);
    loop.exec();
    QVERIFY(isReady(impatient));
    QCOMPARE(impatient.get().outcome, HandOverResult::Replied);
    QCOMPARE(m_loaded.size(), 1);
    QVERIFY(boxShown);

    m_server->setReceiver([this](const QString &fileName) { m_loaded << fileName; });
    auto next = sendAsync(m_path, recordMessage(QStringLiteral("/next.mid")));
    QTRY_VERIFY(isReady(next));
    QCOMPARE(next.get().reply, qint32(hrLoaded));
    QCOMPARE(m_loaded.last(), QStringLiteral("/next.mid"));
}

void HandOverTest::connectionsBeyondTheLimitWaitTheirTurn()
{
    // More silent connections than are read at once: the record behind them waits in the
    // kernel's queue until places free up, instead of being closed unread.
    m_server->setReadTimeout(300);
    const QByteArray name = QFile::encodeName(m_path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    std::vector<int> silent;
    for (int i = 0; i < HandOverServer::kMaxConnections + 40; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        silent.push_back(fd);
    }
    auto reply = sendAsync(m_path, recordMessage(QStringLiteral("/behind.mid")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(isReady(reply), 10000);
    const HandOverResult result = reply.get();
    for (int fd : silent)
        ::close(fd);
    QCOMPARE(result.outcome, HandOverResult::Replied);
    QCOMPARE(result.reply, qint32(hrLoaded));
    QCOMPARE(m_loaded, QStringList{QStringLiteral("/behind.mid")});
}

void HandOverTest::descriptorExhaustionPausesListeningOnly()
{
    // The client connects first; then every descriptor is taken, so the server's accept
    // fails. Once descriptors are free again the waiting record must still be loaded.
    QLocalSocket client;
    client.connectToServer(m_path);
    QVERIFY(client.waitForConnected());
    client.write(recordMessage(QStringLiteral("/late.mid")));
    QVERIFY(client.waitForBytesWritten());

    rlimit saved {};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
    rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 1024);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
    std::vector<int> taken;
    for (int fd; (fd = ::dup(0)) >= 0;)
        taken.push_back(fd);
    QTest::qWait(500);
    const bool loadedWhileExhausted = !m_loaded.isEmpty();
    for (int fd : taken)
        ::close(fd);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &saved) == 0);
    QVERIFY(!loadedWhileExhausted);
    QVERIFY(m_server->isListening());
    QTRY_COMPARE(m_loaded, QStringList{QStringLiteral("/late.mid")});
    QTRY_VERIFY(client.bytesAvailable() >= 4 || client.waitForReadyRead(100));
}

void HandOverTest::clientSendingWithoutEndIsNotBuffered()
{
    // A client that keeps writing after its record: the server takes the record and never
    // reads the rest, so the client cannot push more than the system's socket buffers.
    std::atomic<bool> stop = false;
    m_server->setReceiver([&](const QString &fileName) {
        m_loaded << fileName;
        QTest::qWait(1000);   // the load takes a while; the client goes on writing
    });
    auto pushed = std::async(std::launch::async, [&] {
        // Plain system calls: only what the kernel accepted counts, no client-side buffer.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(m_path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        qint64 total = 0;
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(fd);
            return total;
        }
        const QByteArray record = recordMessage(QStringLiteral("/flood.mid"));
        const QByteArray chunk = record + QByteArray(64 * 1024, 'x');
        QElapsedTimer clock;
        clock.start();
        while (!stop && clock.elapsed() < 4000 && total < 256LL * 1024 * 1024) {
            pollfd wait {fd, POLLOUT, 0};
            if (::poll(&wait, 1, 500) <= 0)
                break;   // the server reads no more: the client is held back
            const ssize_t sent = ::send(fd, chunk.constData() + (total == 0 ? 0 : record.size()),
                                        size_t(total == 0 ? chunk.size() : chunk.size() - record.size()),
                                        MSG_NOSIGNAL);
            if (sent < 0 && errno != EAGAIN)
                break;   // closed by the server
            total += std::max<ssize_t>(sent, 0);
        }
        ::close(fd);
        return total;
    });
    QTRY_COMPARE_WITH_TIMEOUT(m_loaded.size(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(pushed.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 10000);
    stop = true;
    const qint64 total = pushed.get();
    QVERIFY2(total < 16LL * 1024 * 1024, QByteArray::number(total));
    QCOMPARE(m_loaded, QStringList{QStringLiteral("/flood.mid")});
}

void HandOverTest::socketIsPrivateToTheUser()
{
    // Without a runtime folder the socket lies in the shared temp folder.
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &st), 0);
    QCOMPARE(st.st_mode & 077, 0u);
}

void HandOverTest::trayTipFollowsTheTitleOnlyInTheTray()
{
    QWidget window;
    QPixmap image(16, 16);
    image.fill(Qt::blue);
    auto *tray = new QSystemTrayIcon(QIcon(image), &window);
    tray->setToolTip(QStringLiteral("old"));
    refreshTrayTip(window, QStringLiteral("new"));
    QCOMPARE(tray->toolTip(), QStringLiteral("old"));

    tray->setVisible(true);
    const QString longTitle = QString(120, QLatin1Char('t')) + QStringLiteral(" - Tonelark");
    refreshTrayTip(window, longTitle);
    QCOMPARE(tray->toolTip(), longTitle.left(127));
    QVERIFY(window.isHidden());
}

QTEST_MAIN(HandOverTest)
#include "HandOverTest.moc"
