#include "BrisolaEngine.h"
#include "Convex.h"
#include "FileNames.h"
#include "HandOver.h"
#include "InstanceLock.h"
#include "Mpris.h"
#include "QueueState.h"
#include "Settings.h"
#include "TrayTip.h"
#include "uConst.h"
#include "uMain.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <optional>

using namespace tonelark;

// Program entry. The single-instance check comes first: a second start hands its first
// argument to the running instance and ends without touching the settings or a display.
// Otherwise: settings file, Keyword and DebugMode, the application title, the main window
// (which reads the settings, opens the device and loads the first argument), the event loop.
int main(int argc, char *argv[])
{
    QString namesError;
    const InstanceNames names = InstanceNames::forCurrentUser(&namesError);
    std::optional<InstanceLock> lock;
    if (names.isValid())
        lock.emplace(names.lockFile);
    if (lock && lock->state() == InstanceLock::State::HeldElsewhere) {
        QCoreApplication app(argc, argv);
        // By their bytes: Qt's own decoding loses names that are no UTF-8.
        return handOverToRunningInstance(names.server, commandLineArguments(argc, argv),
                                         QDir::currentPath(), stderr);
    }
    // Without our own lock nothing proves that a listener is ours: the song is played here
    // rather than sent to whoever holds the names.
    const bool single = lock && lock->state() == InstanceLock::State::Acquired;
    if (!single) {
        const QString reason = names.isValid() ? lock->errorString() : namesError;
        std::fprintf(stderr, "Tonelark: %s\n",
                     qPrintable(QStringLiteral("起動中の Tonelark を確認できないため、単独で起動します（%1）。")
                                    .arg(reason)));
    }

    QApplication app(argc, argv);
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

    BrisolaEngine engine;
    int exitCode = 0;
    {
        TfrmTonelark2Main window(engine, ini, commandLineArguments(argc, argv), nullptr, nullptr,
                                 userStateFolder());
        window.setDebugMode(debugMode);
        server.setReceiver([&window](const QString &fileName) {
            // A second start means the user wants this window, with or without a file; it
            // comes forward first, so a message box of the load is seen.
            window.bringToFront();
            if (fileName.isEmpty())
                return;
            window.openHandedOver(pathFromArgument(fileName));
            refreshTrayTip(window, window.applicationTitle());
        });
        server.setFollowerReceiver([&window](const QString &fileName) {
            if (!fileName.isEmpty())
                window.queueFollowingHandOver(pathFromArgument(fileName));
        });
        if (debugMode)
            server.setCaptionProvider([&window] { return window.windowTitle(); });
        // Media keys and panels; without a session bus the player runs without them, silently.
        if (MprisService::sessionBusAvailable())
            window.enableMpris(QDBusConnection::sessionBus());
        window.show();
        exitCode = QApplication::exec();
        server.setReceiver({});
        server.setFollowerReceiver({});
        server.setCaptionProvider({});
    }
    // Freed without saving: the window's close already saved what changed.
    FreeIniFile();
    return exitCode;
}
