// The installed program as the user meets it: `cmake --install` into a temporary prefix,
// then real first and second instances of that program with a private runtime folder, the
// offscreen platform and an output device that does not exist (the engine then plays
// silently). The first instance runs in debug mode, so the test can ask it for its caption,
// which names the loaded song.
#include "HandOver.h"
#include "InstanceLock.h"
#include "Settings.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <unistd.h>

using namespace tonelark;

class ProgramTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void installPutsEverythingInPlace();
    void secondStartHandsOverTheSongAndEnds();
    void mmlSongCompilesThroughTheInstalledCompiler();
    void relativePathIsMadeAbsoluteBySender();
    void pathOfExactly261UnitsArrivesWhole();
    void overLongPathIsRefusedWithExitCode2();
    void secondStartWithoutArgumentEndsSilently();
    void refusedRecordsLeaveTheInstanceWorking();
    void killedInstanceLeavesNoBlockingLock();
    void lockWithoutServerEndsAtOnce();

private:
    QProcessEnvironment environment() const;
    bool startFirst();
    void stopFirst();
    std::optional<QString> caption() const;
    // Runs a second instance to its end; returns false when it did not end in time.
    bool runSecond(const QStringList &arguments, const QString &workingFolder, int &exitCode,
                   QByteArray *err = nullptr);
    QString copySong(const QString &source, const QString &target);

    QTemporaryDir m_root;
    QString m_prefix;
    QString m_program;
    QString m_runtime;
    InstanceNames m_names;
    QProcess m_first;
};

QProcessEnvironment ProgramTest::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_root.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_root.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_root.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

std::optional<QString> ProgramTest::caption() const
{
    auto answer = std::async(std::launch::async, [path = m_names.server] {
        return queryRunningCaption(path, 5000);
    });
    while (answer.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return answer.get();
}

bool ProgramTest::startFirst()
{
    m_first.setProcessEnvironment(environment());
    m_first.setWorkingDirectory(m_root.path());
    m_first.setProcessChannelMode(QProcess::ForwardedChannels);
    m_first.start(m_program, {});
    if (!m_first.waitForStarted())
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000 && m_first.state() == QProcess::Running) {
        if (caption())
            return true;
        QTest::qWait(50);
    }
    return false;
}

void ProgramTest::stopFirst()
{
    if (m_first.state() == QProcess::NotRunning)
        return;
    m_first.kill();
    m_first.waitForFinished();
}

bool ProgramTest::runSecond(const QStringList &arguments, const QString &workingFolder,
                            int &exitCode, QByteArray *err)
{
    QProcess second;
    second.setProcessEnvironment(environment());
    second.setWorkingDirectory(workingFolder);
    second.start(m_program, arguments);
    if (!second.waitForFinished(20000)) {
        second.kill();
        second.waitForFinished();
        return false;
    }
    exitCode = second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
    if (err)
        *err = second.readAllStandardError();
    return true;
}

QString ProgramTest::copySong(const QString &source, const QString &target)
{
    QDir().mkpath(QFileInfo(target).path());
    QFile::remove(target);
    return QFile::copy(source, target) ? target : QString();
}

void ProgramTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_prefix = m_root.filePath(QStringLiteral("prefix"));
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(TONELARK_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(TONELARK_BINARY_DIR),
                   QStringLiteral("--prefix"), m_prefix});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    m_program = m_prefix + QStringLiteral("/bin/tonelark");
    QVERIFY(QFileInfo(m_program).isExecutable());

    // Debug mode for the caption query; an output port that does not exist, so nothing sounds.
    // The settings file lies next to the real program file, not next to the link in bin/.
    Convex ini(m_prefix + QStringLiteral("/lib/tonelark/tonelark.ini"));
    ini.WriteString(kSectionTonelark, u"Keyword", kDebugKeyword.toString());
    ini.WriteInteger(kSectionTonelark, u"MidiOutDeviceId", 9999);
    QVERIFY(ini.UpdateFile().ok);

    m_runtime = m_root.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(m_runtime));
    QVERIFY(::chmod(QFile::encodeName(m_runtime).constData(), 0700) == 0);
    m_names = InstanceNames::inFolder(m_runtime, ::geteuid());
    QVERIFY(startFirst());
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("Tonelark")));
}

void ProgramTest::cleanupTestCase()
{
    stopFirst();
}

void ProgramTest::installPutsEverythingInPlace()
{
    QStringList libraries;
    QDirIterator it(m_prefix, {QStringLiteral("*.so*")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        libraries << QFileInfo(it.next()).fileName();
    QVERIFY2(libraries.contains(QStringLiteral("libbrisola4.so.4")), qPrintable(libraries.join(' ')));
    QVERIFY2(libraries.contains(QStringLiteral("libdSakura.so")), qPrintable(libraries.join(' ')));

    QFile desktop(m_prefix + QStringLiteral("/share/applications/tonelark.desktop"));
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(desktop.readAll());
    QVERIFY(entry.contains(QStringLiteral("\nExec=tonelark %F\n")));
    QVERIFY(entry.contains(QStringLiteral("\nMimeType=audio/midi;audio/x-midi;text/x-mml;\n")));
    QVERIFY(entry.contains(QStringLiteral("\nIcon=tonelark\n")));

    QFile mime(m_prefix + QStringLiteral("/share/mime/packages/tonelark-mml.xml"));
    QVERIFY(mime.open(QIODevice::ReadOnly));
    const QByteArray types = mime.readAll();
    QVERIFY(types.contains("type=\"text/x-mml\""));
    QVERIFY(types.contains("pattern=\"*.mml\""));
    QVERIFY(types.contains("<mime-type type=\"audio/midi\">\n    <glob pattern=\"*.kar\"/>"));
    QVERIFY(QFileInfo::exists(m_prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/tonelark.svg")));
}

void ProgramTest::secondStartHandsOverTheSongAndEnds()
{
    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                  m_root.filePath(QStringLiteral("songs/曲 with space.mid")));
    QVERIFY(!song.isEmpty());
    int exitCode = -1;
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(runSecond({song}, m_root.path(), exitCode, &err));
    QCOMPARE(exitCode, 0);
    QCOMPARE(err, QByteArray());
    QVERIFY2(clock.elapsed() < 10000, QByteArray::number(clock.elapsed()));
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("曲 with space.mid - Tonelark")));
    QCOMPARE(m_first.state(), QProcess::Running);

    // A file manager's URI names the file by its bytes, here CP932 ones that are no UTF-8.
    const QString other = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                   m_root.filePath(QStringLiteral("songs/other #2.mid")));
    const QByteArray cp932Name = QFile::encodeName(m_root.filePath(QStringLiteral("songs/"))) + "\x89\xCC #2.mid";
    QVERIFY(::rename(QFile::encodeName(other).constData(), cp932Name.constData()) == 0);
    const QByteArray uri = "file://" + cp932Name.toPercentEncoding("/");
    QVERIFY(runSecond({QString::fromLatin1(uri)}, m_root.path(), exitCode));
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("\uFFFD\uFFFD #2.mid - Tonelark")));
    ::unlink(cp932Name.constData());
}

void ProgramTest::mmlSongCompilesThroughTheInstalledCompiler()
{
    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mml"),
                                  m_root.filePath(QStringLiteral("songs/さくら.mml")));
    int exitCode = -1;
    QVERIFY(runSecond({song}, m_root.path(), exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("さくら.mml - Tonelark")));
    // Only the compiler writes this file; a compiler the installed program cannot find
    // writes nothing.
    QVERIFY(QFileInfo::exists(m_prefix + QStringLiteral("/lib/tonelark/Compile.mid")));
}

void ProgramTest::relativePathIsMadeAbsoluteBySender()
{
    // The first instance runs in m_root; the name is relative to the second one's folder.
    copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
             m_root.filePath(QStringLiteral("songs/deeper/relative.mid")));
    int exitCode = -1;
    QVERIFY(runSecond({QStringLiteral("deeper/../deeper/relative.mid")},
                      m_root.filePath(QStringLiteral("songs")), exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("relative.mid - Tonelark")));
}

void ProgramTest::pathOfExactly261UnitsArrivesWhole()
{
    // "𝄞" takes two UTF-16 units; a folder name stays well below the 255-byte limit.
    const QString base = QFileInfo(m_root.path()).canonicalFilePath() + QStringLiteral("/long");
    QString path = base;
    while (path.size() < 261 - 70)
        path += QStringLiteral("/") + QString(40, QLatin1Char('d'));
    const QString tail = QStringLiteral("/𝄞♪");
    const int fill = 261 - int(path.size()) - int(tail.size()) - 4;
    const QString song = path + tail + QString(fill, QLatin1Char('n')) + QStringLiteral(".mid");
    QCOMPARE(song.size(), 261);
    QVERIFY(!copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"), song).isEmpty());
    int exitCode = -1;
    QVERIFY(runSecond({song}, m_root.path(), exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(caption(), std::optional<QString>(QFileInfo(song).fileName() + QStringLiteral(" - Tonelark")));
}

void ProgramTest::overLongPathIsRefusedWithExitCode2()
{
    const QString before = caption().value_or(QString());
    const QString song = m_root.filePath(QStringLiteral("songs/")) + QString(262, QLatin1Char('x'));
    int exitCode = -1;
    QByteArray err;
    QVERIFY(runSecond({song}, m_root.path(), exitCode, &err));
    QCOMPARE(exitCode, 2);
    QVERIFY(QString::fromLocal8Bit(err).contains(QString(262, QLatin1Char('x'))));
    QCOMPARE(caption(), std::optional<QString>(before));
}

void ProgramTest::secondStartWithoutArgumentEndsSilently()
{
    const QString before = caption().value_or(QString());
    int exitCode = -1;
    QByteArray err;
    QVERIFY(runSecond({}, m_root.path(), exitCode, &err));
    QCOMPARE(exitCode, 0);
    QCOMPARE(err, QByteArray());
    QCOMPARE(caption(), std::optional<QString>(before));
    QCOMPARE(m_first.state(), QProcess::Running);
}

void ProgramTest::refusedRecordsLeaveTheInstanceWorking()
{
    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                  m_root.filePath(QStringLiteral("songs/refused.mid")));
    const QString before = caption().value_or(QString());
    QByteArray wrongSignature = encodeHandOverMessage({qint32(kBuildStamp), song}, 0x12345678);
    QByteArray shortRecord = encodeHandOverMessage({qint32(kBuildStamp), song});
    shortRecord[4] = char(0x0D);   // length 525
    shortRecord.chop(1);
    const struct {
        QByteArray message;
        qint32 reply;
    } cases[] = {
        {wrongSignature, hrWrongSignature},
        {encodeHandOverMessage({qint32(kBuildStamp) - 1, song}), hrOldBuildStamp},
        {shortRecord, hrShortRecord},
    };
    for (const auto &c : cases) {
        auto answer = std::async(std::launch::async, [&] {
            return sendHandOverMessage(m_names.server, c.message, 5000);
        });
        while (answer.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            QCoreApplication::processEvents();
        const HandOverResult result = answer.get();
        QCOMPARE(result.outcome, HandOverResult::Replied);
        QCOMPARE(result.reply, c.reply);
        QCOMPARE(caption(), std::optional<QString>(before));
    }
    int exitCode = -1;
    QVERIFY(runSecond({song}, m_root.path(), exitCode));
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("refused.mid - Tonelark")));
}

void ProgramTest::killedInstanceLeavesNoBlockingLock()
{
    stopFirst();
    // The lock and socket files stay behind, as after a crash.
    QVERIFY(QFileInfo::exists(m_names.lockFile));
    QVERIFY(QFileInfo::exists(m_names.server));
    QVERIFY(startFirst());
    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                  m_root.filePath(QStringLiteral("songs/after crash.mid")));
    int exitCode = -1;
    QVERIFY(runSecond({song}, m_root.path(), exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("after crash.mid - Tonelark")));
}

void ProgramTest::lockWithoutServerEndsAtOnce()
{
    // Another holder of the lock but no one listening: the second start finds no instance
    // to talk to and ends silently instead of opening a window.
    stopFirst();
    const InstanceLock holder(m_names.lockFile);
    QCOMPARE(holder.state(), InstanceLock::State::Acquired);
    int exitCode = -1;
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(runSecond({QStringLiteral("/nowhere/song.mid")}, m_root.path(), exitCode, &err));
    QCOMPARE(exitCode, 0);
    QCOMPARE(err, QByteArray());
    QVERIFY2(clock.elapsed() < 5000, QByteArray::number(clock.elapsed()));
}

QTEST_GUILESS_MAIN(ProgramTest)
#include "ProgramTest.moc"
