#include "BrisolaEngine.h"
#include "CommandLine.h"
#include "Convex.h"
#include "FileNames.h"
#include "HandOver.h"
#include "InstanceLock.h"
#include "Mpris.h"
#include "QueueState.h"
#include "Settings.h"
#include "TerminationSignals.h"
#include "uConst.h"
#include "uMain.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

using namespace tonelark;

// Program entry. The single-instance check comes first: a second start hands its first
// argument to the running instance and ends without touching the settings or a display.
// Otherwise: settings file, Keyword and DebugMode, the application title, the main window
// (which reads the settings and opens the device), shown, then the songs named and the event loop.
int main(int argc, char *argv[])
{
    // --help, --version and a mistaken option are answered before any instance or display.
    const CommandLine commandLine = parseCommandLine(commandLineArguments(argc, argv));
    if (commandLine.action != CommandLine::Action::Run)
        return runCommandLineAnswer(commandLine, commandLineInJapanese(), stdout, stderr);

    QString namesError;
    const InstanceNames names = InstanceNames::forCurrentUser(&namesError);
    std::optional<InstanceLock> lock;
    if (names.isValid())
        lock.emplace(names.lockFile);
    if (lock && lock->state() == InstanceLock::State::HeldElsewhere) {
        // By their bytes: Qt's own decoding loses names that are no UTF-8. While the first
        // instance is not listening yet the sender tries again; should that instance end
        // meanwhile, this start takes the lock and plays the song itself.
        const int exitCode = handOverToRunningInstance(
            names.server, commandLine.files, QDir::currentPath(), stderr,
            [&lock, &names] {
                lock.emplace(names.lockFile);
                return lock->state() == InstanceLock::State::HeldElsewhere;
            });
        if (exitCode != kHandOverNoInstance)
            return exitCode;
    }
    // Without our own lock nothing proves that a listener is ours: the song is played here
    // rather than sent to whoever holds the names.
    const bool single = lock && lock->state() == InstanceLock::State::Acquired;
    QString aloneNotice;
    if (!single) {
        const QString reason = names.isValid() ? lock->errorString() : namesError;
        aloneNotice = QStringLiteral("[起動]\r\n起動中の Tonelark を確認できないため、単独で起動しました（%1）。"
                                     "ほかの起動から曲を受け取れません。")
                          .arg(reason);
    }

    // Fontconfig reads its caches on the second core while the application connects to the
    // display; the window's first fonts then find them ready.
    std::thread fontSetup([] { FcInit(); });
    QApplication app(argc, argv);
    fontSetup.join();
    // From here on a SIGTERM, SIGINT or SIGHUP ends the program as its Exit item does.
    TerminationSignals terminationSignals;
    if (!aloneNotice.isEmpty())
        std::fprintf(stderr, "Tonelark: %s\n", aloneNotice.toLocal8Bit().constData());
    // Qt's own dialogs and buttons speak the program's language.
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);
    // Listening before the window exists keeps a second start during ours from finding
    // nobody: its record waits, and is loaded once the window has taken over.
    HandOverServer server;
    if (single && !server.listen(names.server))
        std::fprintf(stderr, "Tonelark: %s: %s\n", qPrintable(names.server),
                     qPrintable(server.errorString()));

    SetSettingsFileName(settingsFileNameForProgram(QCoreApplication::applicationFilePath()));
    Convex &ini = GetIniFile();
    const bool debugMode = isDebugKeyword(ini.ReadString(kSectionTonelark, u"Keyword", QString()));

    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));

    // The engine library, with the synthesizer's and the sound servers' libraries, loads on a
    // thread of its own once the window is on screen, and opens the device of the settings; the
    // window's open of that device returns at once meanwhile. Loaded while the window is made,
    // it delays the window: a thread started during a library load waits for the whole load
    // (the window's first label starts one, for the accessibility bridge's session bus); with
    // that thread started first the window still came about 10 ms later, its work sharing the
    // second core with the engine's.
    BrisolaEngine engine;
    const Settings atStart = Settings::load(ini);
    engine.openEarly({atStart.MidiOutDeviceId, atStart.SoundFont});
    int exitCode = 0;
    // A signal ends the program as its Exit item does: the window's close saves what changed;
    // quit() also ends the loop of a box or a dialog, the command-line load's box included.
    TfrmTonelark2Main *closing = nullptr;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, [&closing] {
        if (closing)
            closing->close();
        QApplication::quit();
    });
    {
        TfrmTonelark2Main window(engine, ini, {}, nullptr, nullptr, userStateFolder());
        closing = &window;
        // The window is shown first; the songs named here load once it is on screen, before
        // any song handed over meanwhile (queued first), and then the session bus is joined.
        QMetaObject::invokeMethod(
            &window,
            [&window, files = commandLine.files] {
                if (!files.isEmpty())
                    window.openSongs(files);
                // Media keys and panels; without a session bus the player runs without them, silently.
                if (MprisService::sessionBusAvailable())
                    window.enableMpris(QDBusConnection::sessionBus());
            },
            Qt::QueuedConnection);
        window.setDebugMode(debugMode);
        // Once, where the user looks: two players may now run side by side.
        if (!aloneNotice.isEmpty())
            window.showInfoNotice(aloneNotice);
        server.setReceiver([&window](const QString &fileName) {
            // A second start without a file means the user wants this window: it comes
            // forward. One with a file comes forward too (a message box of the load is seen
            // on top), except from the tray: there the song loads and plays and the tray tip
            // names it, the window stays hidden.
            if (fileName.isEmpty() || !window.taskTrayIcon())
                window.bringToFront();
            if (fileName.isEmpty())
                return;
            window.openHandedOver(pathFromArgument(fileName));
        });
        server.setFollowerReceiver([&window](const QString &fileName) {
            if (!fileName.isEmpty())
                window.queueFollowingHandOver(pathFromArgument(fileName));
        });
        if (debugMode)
            server.setCaptionProvider([&window] { return window.windowTitle(); });
        // A signal during the window's creation has ended its box already; the window,
        // never shown, has nothing to save.
        if (terminationSignals.firstSignal() == 0) {
            window.show();
            engine.startLoading();
            exitCode = QApplication::exec();
        }
        server.setReceiver({});
        server.setFollowerReceiver({});
        server.setCaptionProvider({});
        closing = nullptr;
    }
    // Freed without saving: the window's close already saved what changed.
    FreeIniFile();
    // A device still opening (a stalled sound server) is left behind: waiting for it would keep
    // the ended program, and its instance lock, for seconds; its thread may be inside the
    // server's library, so static destructors must not run under it.
    if (engine.deviceOpening()) {
        std::fflush(nullptr);
        std::_Exit(terminationSignals.firstSignal() != 0 ? 128 + terminationSignals.firstSignal() : exitCode);
    }
    // Ended by a signal, cleanly: the shell's code for it.
    if (terminationSignals.firstSignal() != 0)
        return 128 + terminationSignals.firstSignal();
    return exitCode;
}
