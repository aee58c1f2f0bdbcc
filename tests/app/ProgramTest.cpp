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
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <QEventLoop>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <future>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
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
    void songStartedDuringTheFirstStartIsKept();
    void burstOfSecondStartsLosesNoSong();
    void secondStartsReturnWhileABoxIsOpen();
    void terminationSignalSavesAndEnds_data();
    void terminationSignalSavesAndEnds();
    void terminationLeavesTheJackServerFree();
    void windowMapsAndCloseEndsWhileTheDeviceIsHeldUp();
    void plantedTempFolderMakesAnAloneStartThatSaysSo();
    void optionsAreAnsweredWithoutTheRunningInstance();
    void secondStartWithAFileLeavesATrayedWindowHidden();
    void killedInstanceLeavesNoBlockingLock();
    void lockWithoutServerFailsLoudly();

private:
    QProcessEnvironment environment() const;
    bool startFirst(const QStringList &arguments = {});
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

bool ProgramTest::startFirst(const QStringList &arguments)
{
    m_first.setProcessEnvironment(environment());
    m_first.setWorkingDirectory(m_root.path());
    m_first.setProcessChannelMode(QProcess::ForwardedChannels);
    m_first.start(m_program, arguments);
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
    Convex ini(m_prefix + QStringLiteral("/" TONELARK_PROGRAM_DIR "/tonelark.ini"));
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
    QVERIFY2(libraries.contains(QStringLiteral("libtonelark-export.so")), qPrintable(libraries.join(' ')));
    // The program opens the engine and the export library itself once its window is shown:
    // linked, the synthesizer's and the sound servers' libraries would load before the window.
    QProcess readelf;
    readelf.start(QStringLiteral("readelf"), {QStringLiteral("-d"), m_prefix + QStringLiteral("/" TONELARK_PROGRAM_DIR "/tonelark")});
    QVERIFY(readelf.waitForFinished(10000) && readelf.exitCode() == 0);
    const QString dynamic = QString::fromLocal8Bit(readelf.readAllStandardOutput());
    QVERIFY2(dynamic.contains(QStringLiteral("libQt6Widgets")), qPrintable(dynamic));
    for (const char *library : {"libbrisola4", "libtonelark-export", "libfluidsynth", "libsndfile", "libjack", "libpulse"})
        QVERIFY2(!dynamic.contains(QLatin1String(library)), library);

    // Desktop entry, icon and metadata are named by the application id.
    QFile desktop(m_prefix + QStringLiteral("/share/applications/io.github.tonelark.Tonelark.desktop"));
    QVERIFY(desktop.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(desktop.readAll());
    QVERIFY(entry.contains(QStringLiteral("\nExec=tonelark %U\n")));
    QVERIFY(entry.contains(QStringLiteral("\nMimeType=audio/midi;audio/x-midi;text/x-mml;\n")));
    QVERIFY(entry.contains(QStringLiteral("\nIcon=io.github.tonelark.Tonelark\n")));
    QVERIFY(QFileInfo::exists(m_prefix + QStringLiteral("/share/metainfo/io.github.tonelark.Tonelark.metainfo.xml")));

    QFile mime(m_prefix + QStringLiteral("/share/mime/packages/tonelark-mml.xml"));
    QVERIFY(mime.open(QIODevice::ReadOnly));
    const QByteArray types = mime.readAll();
    QVERIFY(types.contains("type=\"text/x-mml\""));
    QVERIFY(types.contains("pattern=\"*.mml\""));
    QVERIFY(types.contains("<mime-type type=\"audio/midi\">\n    <glob pattern=\"*.kar\"/>"));
    QVERIFY(QFileInfo::exists(
        m_prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/io.github.tonelark.Tonelark.svg")));
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
    QVERIFY(QFileInfo::exists(m_prefix + QStringLiteral("/" TONELARK_PROGRAM_DIR "/Compile.mid")));
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

void ProgramTest::terminationLeavesTheJackServerFree()
{
    // The built-in synthesizer on a synchronous JACK server: a player that vanished without
    // closing its client held the server up for seconds, and the next client with it.
    const QString jack = qEnvironmentVariable("TONELARK_JACK_SERVER");
    if (jack.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("jack_lsp")).isEmpty())
        QSKIP("no JACK test server (scripts/test.sh starts one)");
    const auto ports = [&jack](qint64 *elapsedMs = nullptr) {
        QProcess lsp;
        QElapsedTimer clock;
        clock.start();
        lsp.start(QStringLiteral("jack_lsp"), {QStringLiteral("-s"), jack});
        lsp.waitForFinished(30000);
        if (elapsedMs)
            *elapsedMs = clock.elapsed();
        return QString::fromUtf8(lsp.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    const QStringList before = ports();
    stopFirst();
    const QString iniPath = m_prefix + QStringLiteral("/" TONELARK_PROGRAM_DIR "/tonelark.ini");
    const auto setDevice = [&](int device) {
        Convex ini(iniPath);
        ini.WriteInteger(kSectionTonelark, u"MidiOutDeviceId", device);
        return ini.UpdateFile().ok;
    };
    QVERIFY(setDevice(-1100));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), jack);
    env.remove(QStringLiteral("PULSE_SERVER"));
    m_first.setProcessEnvironment(env);
    m_first.setProcessChannelMode(QProcess::ForwardedChannels);
    m_first.start(m_program, {copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                       m_root.filePath(QStringLiteral("songs/jack.mid")))});
    QVERIFY(m_first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(ports().size() > before.size(), 30000);
    ::kill(pid_t(m_first.processId()), SIGTERM);
    QVERIFY(m_first.waitForFinished(10000));
    QCOMPARE(m_first.exitCode(), 128 + SIGTERM);
    qint64 elapsedMs = 0;
    QCOMPARE(ports(&elapsedMs), before);
    QVERIFY2(elapsedMs < 2000, QByteArray::number(elapsedMs));
    QVERIFY(setDevice(9999));
    QVERIFY(startFirst());
}

void ProgramTest::windowMapsAndCloseEndsWhileTheDeviceIsHeldUp()
{
    // The output port on a JACK server that stopped answering (SIGSTOP): every new client waits
    // for it. The window used to wait too, before it was shown.
    const QString display = qEnvironmentVariable("DISPLAY_FOR_X11_TESTS");
    if (display.isEmpty())
        QSKIP("no X server for the tests (DISPLAY_FOR_X11_TESTS is set by scripts/test.sh)");
    for (const char *tool : {"xdotool", "jackd", "jack_lsp", "jack_midi_dump", "stdbuf"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("xdotool and the JACK tools are needed (scripts/setup.sh --tests)");
    }
    const QString server = QStringLiteral("tonelark-held-%1").arg(QCoreApplication::applicationPid());
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), server);
    env.insert(QStringLiteral("JACK_NO_AUDIO_RESERVATION"), QStringLiteral("1"));
    env.remove(QStringLiteral("PULSE_SERVER"));
    QProcess jackd, dump;
    jackd.setProcessEnvironment(env);
    jackd.start(QStringLiteral("jackd"), {"-S", "--no-realtime", "-n", server, "-d", "dummy", "-r", "44100", "-p", "256"});
    QVERIFY(jackd.waitForStarted());
    const auto endServers = qScopeGuard([&] {
        ::kill(pid_t(jackd.processId()), SIGCONT);
        for (QProcess *p : {&dump, &jackd}) {
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished();
            }
        }
    });
    const auto answers = [&] {
        QProcess lsp;
        lsp.setProcessEnvironment(env);
        lsp.start(QStringLiteral("jack_lsp"), {QStringLiteral("-s"), server});
        lsp.waitForFinished(10000);
        return QString::fromUtf8(lsp.readAllStandardOutput());
    };
    QVERIFY(QTest::qWaitFor([&] { return answers().contains(QLatin1String("system:playback")); }, 20000));
    // The one MIDI input on the server, so port 0: a monitor that prints what reaches it.
    dump.setProcessEnvironment(env);
    dump.start(QStringLiteral("stdbuf"), {QStringLiteral("-oL"), QStringLiteral("jack_midi_dump")});
    QVERIFY(QTest::qWaitFor([&] { return answers().contains(QLatin1String("midi-monitor:input")); }, 20000));

    const QString iniPath = m_prefix + QStringLiteral("/" TONELARK_PROGRAM_DIR "/tonelark.ini");
    const auto setDevice = [&](int device) {
        Convex ini(iniPath);
        ini.WriteInteger(kSectionTonelark, u"MidiOutDeviceId", device);
        return ini.UpdateFile().ok;
    };
    QVERIFY(setDevice(0));
    stopFirst();
    const auto restore = qScopeGuard([&] {
        stopFirst();
        setDevice(9999);
        startFirst();
    });
    QProcessEnvironment x11 = env;
    x11.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    x11.insert(QStringLiteral("DISPLAY"), display);
    const auto shown = [&](qint64 pid) {
        QProcess search;
        search.setProcessEnvironment(x11);
        search.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(pid)});
        search.waitForFinished(10000);
        return !search.readAllStandardOutput().trimmed().isEmpty();
    };
    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"), m_root.filePath(QStringLiteral("songs/held.mid")));

    // The song from the command line waits for the port; once the server answers again it
    // plays from its first note (the koto's A3, velocity 70).
    ::kill(pid_t(jackd.processId()), SIGSTOP);
    m_first.setProcessEnvironment(x11);
    m_first.setWorkingDirectory(m_root.path());
    m_first.start(m_program, {song});
    QVERIFY(m_first.waitForStarted());
    QVERIFY2(QTest::qWaitFor([&] { return shown(m_first.processId()); }, 20000), "no window while the port opens");
    QTest::qWait(500);
    QVERIFY(dump.readAllStandardOutput().isEmpty());
    ::kill(pid_t(jackd.processId()), SIGCONT);
    // The monitor prints "offset: bytes (in hex) description" per message.
    static const QRegularExpression noteOn(QStringLiteral(": (9[0-9a-f] [0-9a-f]{2} (?!00)[0-9a-f]{2})"));
    QString heard;
    QRegularExpressionMatch first;
    QVERIFY2(QTest::qWaitFor([&] {
                 heard += QString::fromLatin1(dump.readAllStandardOutput());
                 return (first = noteOn.match(heard)).hasMatch();
             }, 20000),
             qPrintable(QStringLiteral("no note reached the port once it opened: ") + heard.left(300)));
    QCOMPARE(first.captured(1), QStringLiteral("90 39 46"));
    ::kill(pid_t(m_first.processId()), SIGTERM);
    QVERIFY(m_first.waitForFinished(10000));
    QCOMPARE(m_first.exitCode(), 128 + SIGTERM);

    // Closed while the port is still opening: the program ends at once, having saved.
    ::kill(pid_t(jackd.processId()), SIGSTOP);
    m_first.start(m_program, {});
    QVERIFY(m_first.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return shown(m_first.processId()); }, 20000));
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(m_first.processId()), SIGTERM);
    QVERIFY(m_first.waitForFinished(10000));
    QCOMPARE(m_first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_first.exitCode(), 128 + SIGTERM);
    QVERIFY2(clock.elapsed() < 3000, QByteArray::number(clock.elapsed()));
}

void ProgramTest::plantedTempFolderMakesAnAloneStartThatSaysSo()
{
    // No runtime folder, and the temp folder's tonelark-<uid> open to everyone (as one
    // planted by another user would be): the start runs on its own and says why.
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    const QString planted = temp.filePath(QStringLiteral("tonelark-%1").arg(::geteuid()));
    QVERIFY(QDir().mkpath(planted));
    QVERIFY(::chmod(QFile::encodeName(planted).constData(), 0777) == 0);
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("TMPDIR"), temp.path());
    QProcess alone;
    alone.setProcessEnvironment(env);
    alone.start(m_program, {});
    QVERIFY(alone.waitForStarted());
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += alone.readAllStandardError()).contains("単独で起動しました"), 20000);
    QVERIFY2(err.contains(QFile::encodeName(planted)), err.constData());
    QCOMPARE(alone.state(), QProcess::Running);
    alone.terminate();
    QVERIFY(alone.waitForFinished(10000));
    QCOMPARE(alone.exitCode(), 128 + SIGTERM);
}

void ProgramTest::secondStartWithAFileLeavesATrayedWindowHidden()
{
    // The first instance on the tests' X server under its window manager, with a tray host.
    const QString display = qEnvironmentVariable("DISPLAY_FOR_X11_TESTS");
    if (display.isEmpty())
        QSKIP("no X server for the tests (DISPLAY_FOR_X11_TESTS is set by scripts/test.sh)");
    for (const char *tool : {"xdotool", "trayer", "xprop"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP("xdotool, trayer and xprop are needed (scripts/setup.sh --tests)");
    }
    QProcessEnvironment x11 = environment();
    x11.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    x11.insert(QStringLiteral("DISPLAY"), display);
    const auto tool = [&](const QString &program, const QStringList &arguments, QByteArray *out = nullptr) {
        QProcess process;
        process.setProcessEnvironment(x11);
        process.start(program, arguments);
        const bool done = process.waitForFinished(10000);
        if (out)
            *out = process.readAllStandardOutput();
        return done && process.exitCode() == 0;
    };
    if (!tool(QStringLiteral("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"}))
        QSKIP("no window manager on the test display");
    // The program's own window, when it is on the screen.
    const auto shownWindow = [&] {
        QByteArray out;
        tool(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", " - Tonelark$|^Tonelark$"}, &out);
        return out.trimmed();
    };
    QProcess tray;
    tray.setProcessEnvironment(x11);
    tray.start(QStringLiteral("trayer"), {"--edge", "top", "--align", "right", "--widthtype", "request"});
    QVERIFY(tray.waitForStarted());
    const auto endTray = qScopeGuard([&] {
        tray.terminate();
        tray.waitForFinished(5000);
    });
    stopFirst();
    m_first.setProcessEnvironment(x11);
    m_first.setWorkingDirectory(m_root.path());
    m_first.start(m_program, {});
    QVERIFY(m_first.waitForStarted());
    const auto restart = qScopeGuard([&] {
        stopFirst();
        startFirst();
    });
    QVERIFY(QTest::qWaitFor([&] { return !shownWindow().isEmpty(); }, 30000));
    // Into the tray by the hot key (pressed again until the window manager has given it the focus).
    QVERIFY(QTest::qWaitFor([&] {
        if (shownWindow().isEmpty())
            return true;
        tool(QStringLiteral("xdotool"), {"windowactivate", "--sync", QString::fromLatin1(shownWindow().split('\n').first())});
        tool(QStringLiteral("xdotool"), {"key", "super+ctrl+shift+a"});
        QTest::qWait(1000);
        return shownWindow().isEmpty();
    }, 30000));

    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                  m_root.filePath(QStringLiteral("songs/from the tray.mid")));
    int exitCode = -1;
    QVERIFY(runSecond({song}, m_root.path(), exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("from the tray.mid - Tonelark")));
    QTest::qWait(1000);
    QVERIFY2(shownWindow().isEmpty(), "the window left the tray for a song handed over");
    // Without a file a second start is a call for the window.
    QVERIFY(runSecond({}, m_root.path(), exitCode));
    QVERIFY(QTest::qWaitFor([&] { return !shownWindow().isEmpty(); }, 10000));
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

void ProgramTest::songStartedDuringTheFirstStartIsKept()
{
    // The first instance holds its lock well before it listens; a second start in between
    // waits for it instead of ending with its song lost.
    stopFirst();
    const QString a = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                               m_root.filePath(QStringLiteral("songs/race A.mid")));
    const QString b = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                               m_root.filePath(QStringLiteral("songs/race B.kar")));
    m_first.setProcessEnvironment(environment());
    m_first.setWorkingDirectory(m_root.path());
    m_first.setProcessChannelMode(QProcess::ForwardedChannels);
    m_first.start(m_program, {a});
    QVERIFY(m_first.waitForStarted());
    // The moment the first instance has opened its lock file (the lock follows at once):
    // it is not listening yet.
    const QString fds = QStringLiteral("/proc/%1/fd").arg(m_first.processId());
    const QString lockFile = QFileInfo(m_names.lockFile).canonicalFilePath();
    QElapsedTimer clock;
    clock.start();
    bool opened = false;
    while (!opened && clock.elapsed() < 20000) {
        for (const QFileInfo &fd :
             QDir(fds).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            opened = opened || fd.symLinkTarget() == lockFile;
        if (!opened)
            ::usleep(500);
    }
    QVERIFY(opened);
    int exitCode = -1;
    QByteArray err;
    QVERIFY(runSecond({b}, m_root.path(), exitCode, &err));
    QCOMPARE(exitCode, 0);
    QCOMPARE(err, QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(caption(), std::optional<QString>(QStringLiteral("race B.kar - Tonelark")), 30000);
}

void ProgramTest::burstOfSecondStartsLosesNoSong()
{
    // 200 second starts at once, each with its own file, while the receiving window sits in
    // a message box for the first of them. The receiving end is the real server in this
    // process, so the test counts what the window would have received.
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    const InstanceNames names = InstanceNames::inFolder(runtime.path(), ::geteuid());
    const InstanceLock lock(names.lockFile);
    QCOMPARE(lock.state(), InstanceLock::State::Acquired);
    HandOverServer server;
    QVERIFY(server.listen(names.server));
    QSet<QString> received;
    server.setReceiver([&](const QString &fileName) {
        const bool first = received.isEmpty();
        received << fileName;
        if (first) {
            QEventLoop box;
            QTimer::singleShot(1500, &box, &QEventLoop::quit);
            box.exec();
        }
    });

    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    constexpr int kSenders = 200;
    std::vector<std::unique_ptr<QProcess>> senders;
    for (int i = 0; i < kSenders; ++i) {
        auto sender = std::make_unique<QProcess>();
        sender->setProcessEnvironment(env);
        sender->setStandardInputFile(QProcess::nullDevice());
        sender->setStandardOutputFile(QProcess::nullDevice());
        sender->start(m_program, {m_root.filePath(QStringLiteral("burst/song %1.mid").arg(i))});
        senders.push_back(std::move(sender));
    }
    QElapsedTimer clock;
    clock.start();
    const auto running = [&] {
        return std::count_if(senders.begin(), senders.end(),
                             [](const auto &p) { return p->state() != QProcess::NotRunning; });
    };
    while (running() > 0 && clock.elapsed() < 120000)
        QTest::qWait(20);
    QCOMPARE(running(), 0);

    int delivered = 0;
    int loud = 0;
    QStringList silent;
    for (int i = 0; i < kSenders; ++i) {
        QProcess &sender = *senders[i];
        const QString path = m_root.filePath(QStringLiteral("burst/song %1.mid").arg(i));
        const bool ok = sender.exitStatus() == QProcess::NormalExit && sender.exitCode() == 0;
        const QByteArray err = sender.readAllStandardError();
        if (ok && received.contains(path))
            ++delivered;
        else if (!ok && err.contains(QFile::encodeName(path)))
            ++loud;
        else
            silent << path;
    }
    QTRY_COMPARE(received.size(), delivered);
    QVERIFY2(silent.isEmpty(), qPrintable(silent.join(QLatin1Char('\n'))));
    // A healthy receiver takes every one of them.
    QCOMPARE(delivered, kSenders);
    QCOMPARE(loud, 0);
}

void ProgramTest::secondStartsReturnWhileABoxIsOpen()
{
    // A missing file keeps the running window in its message box. Further starts are
    // answered at once all the same; a song among them waits for the box; the box, the
    // instance and its answers stay.
    const QString before = caption().value_or(QString());
    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                  m_root.filePath(QStringLiteral("songs/after the box.mid")));
    QStringList starts;
    for (int i = 0; i < 20; ++i)
        starts << m_root.filePath(QStringLiteral("songs/none-%1.mid").arg(i));
    starts << song;
    for (const QString &start : starts) {
        int exitCode = -1;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(runSecond({start}, m_root.path(), exitCode));
        QCOMPARE(exitCode, 0);
        QVERIFY2(clock.elapsed() < 5000, QByteArray::number(clock.elapsed()));
    }
    QCOMPARE(caption(), std::optional<QString>(before));
    QCOMPARE(m_first.state(), QProcess::Running);
    // A signal ends the program from inside the box; the waiting song is not loaded then.
    ::kill(pid_t(m_first.processId()), SIGTERM);
    QVERIFY(m_first.waitForFinished(10000));
    QCOMPARE(m_first.exitCode(), 128 + SIGTERM);
    QVERIFY(startFirst());
}

void ProgramTest::terminationSignalSavesAndEnds_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void ProgramTest::terminationSignalSavesAndEnds()
{
    // A stored place off every screen: the window starts on a screen, and a normal close
    // writes the place it had.
    QFETCH(int, signalNumber);
    stopFirst();
    const QString iniPath = m_prefix + QStringLiteral("/" TONELARK_PROGRAM_DIR "/tonelark.ini");
    {
        Convex ini(iniPath);
        ini.WriteBool(kSectionTonelark, u"RestoreWindowPos", true);
        ini.WriteInteger(kSectionTonelark, u"Left", -30000);
        ini.WriteInteger(kSectionTonelark, u"Top", -30000);
        QVERIFY(ini.UpdateFile().ok);
    }
    QVERIFY(startFirst());
    ::kill(pid_t(m_first.processId()), signalNumber);
    QVERIFY(m_first.waitForFinished(10000));
    QCOMPARE(m_first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_first.exitCode(), 128 + signalNumber);
    Convex ini(iniPath);
    QVERIFY(ini.ReadInteger(kSectionTonelark, u"Left", -30000) != -30000);
    QVERIFY(ini.ReadInteger(kSectionTonelark, u"Top", -30000) != -30000);
    ini.WriteBool(kSectionTonelark, u"RestoreWindowPos", false);
    QVERIFY(ini.UpdateFile().ok);
    QVERIFY(startFirst());
}

void ProgramTest::lockWithoutServerFailsLoudly()
{
    // Another holder of the lock but no one listening: the second start tries for a while,
    // then says that its song was not delivered, with a failing exit code.
    stopFirst();
    std::optional<InstanceLock> holder(std::in_place, m_names.lockFile);
    QCOMPARE(holder->state(), InstanceLock::State::Acquired);
    int exitCode = -1;
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(runSecond({QStringLiteral("/nowhere/song.mid")}, m_root.path(), exitCode, &err));
    QCOMPARE(exitCode, 1);
    QVERIFY2(QString::fromLocal8Bit(err).contains(QStringLiteral("/nowhere/song.mid")), err.constData());
    QVERIFY2(clock.elapsed() >= kHandOverConnectWaitMs - 500 && clock.elapsed() < 20000,
             QByteArray::number(clock.elapsed()));

    // When the holder ends while a second start waits, that start becomes the instance and
    // plays its song itself.
    const QString song = copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"),
                                  m_root.filePath(QStringLiteral("songs/took over.mid")));
    m_first.setProcessEnvironment(environment());
    m_first.setWorkingDirectory(m_root.path());
    m_first.setProcessChannelMode(QProcess::ForwardedChannels);
    m_first.start(m_program, {song});
    QVERIFY(m_first.waitForStarted());
    QTest::qWait(1000);
    holder.reset();
    QTRY_COMPARE_WITH_TIMEOUT(caption(), std::optional<QString>(QStringLiteral("took over.mid - Tonelark")), 30000);
}

QTEST_GUILESS_MAIN(ProgramTest)
void ProgramTest::optionsAreAnsweredWithoutTheRunningInstance()
{
    if (m_first.state() != QProcess::Running)
        QVERIFY(startFirst());
    copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"), m_root.filePath(QStringLiteral("songs/plain.mid")));
    int exitCode = -1;
    QVERIFY(runSecond({m_root.filePath(QStringLiteral("songs/plain.mid"))}, m_root.path(), exitCode));
    const auto before = caption();
    QCOMPARE(before, std::optional<QString>(QStringLiteral("plain.mid - Tonelark")));

    struct Case {
        QStringList arguments;
        const char *lang;
        int exitCode;
        QByteArray out;  // the start of what it prints on stdout
        QByteArray err;  // a part of what it prints on stderr
    };
    const Case cases[] = {
        {{QStringLiteral("--version")}, "C", 0, "Tonelark " TONELARK_PROJECT_VERSION "\n", ""},
        {{QStringLiteral("-V")}, "ja_JP.UTF-8", 0, "Tonelark " TONELARK_PROJECT_VERSION "\n", ""},
        // Qt's own options and their values are neither songs nor unknown options.
        {{QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--version")}, "C", 0,
         "Tonelark " TONELARK_PROJECT_VERSION "\n", ""},
        {{QStringLiteral("--help")}, "C", 0, "Usage: tonelark", ""},
        {{QStringLiteral("-h"), QStringLiteral("song.mid")}, "ja_JP.UTF-8", 0, "使い方: tonelark", ""},
        {{QStringLiteral("--bogus")}, "C", 2, "", "unknown option: --bogus"},
        {{QStringLiteral("song.mid"), QStringLiteral("-x")}, "ja_JP.UTF-8", 2, "", "不明なオプションです: -x"},
    };
    for (const Case &c : cases) {
        QProcess process;
        QProcessEnvironment env = environment();
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("LC_MESSAGES"));
        env.insert(QStringLiteral("LANG"), QString::fromLatin1(c.lang));
        process.setProcessEnvironment(env);
        process.start(m_program, c.arguments);
        QVERIFY(process.waitForFinished(20000));
        const QByteArray out = process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        const QByteArray what = c.arguments.join(u' ').toUtf8();
        QVERIFY2(process.exitCode() == c.exitCode, what + " exit " + QByteArray::number(process.exitCode()));
        QVERIFY2(out.startsWith(c.out), what + ": " + out);
        QVERIFY2(err.contains(c.err), what + ": " + err);
        if (c.exitCode == 2)
            QVERIFY2(err.count('\n') == 1, what + ": " + err);
        // Nothing reached the running window.
        QCOMPARE(caption(), before);
    }

    // A song named like an option is still a song after "--" or as ./--help.
    copySong(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mid"), m_root.filePath(QStringLiteral("songs/--help")));
    QVERIFY(runSecond({QStringLiteral("--"), QStringLiteral("--help")}, m_root.filePath(QStringLiteral("songs")),
                      exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("--help - Tonelark")));
    QVERIFY(runSecond({m_root.filePath(QStringLiteral("songs/plain.mid"))}, m_root.path(), exitCode));
    QVERIFY(runSecond({QStringLiteral("./--help")}, m_root.filePath(QStringLiteral("songs")), exitCode));
    QCOMPARE(caption(), std::optional<QString>(QStringLiteral("--help - Tonelark")));
}

#include "ProgramTest.moc"
