#include "BrisolaEngine.h"
#include "Convex.h"
#include "uConst.h"
#include "uMain.h"

#include <QApplication>

using namespace tonelark;

// Program entry: settings file, application title, the main window, the event loop. The
// window's creation reads the settings, opens the device and loads the first argument.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));

    SetSettingsFileName(settingsFileNameForProgram(QCoreApplication::applicationFilePath()));
    Convex &ini = GetIniFile();

    BrisolaEngine engine;
    int exitCode = 0;
    {
        TfrmTonelark2Main window(engine, ini, QApplication::arguments().mid(1));
        window.show();
        exitCode = QApplication::exec();
    }
    // Freed without saving: the window's close already saved what changed.
    FreeIniFile();
    return exitCode;
}
