#include "Brisola.h"
#include "BrisolaEngine.h"
#include "Convex.h"
#include "SongLoader.h"
#include "uMain.h"

#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>
#include <QtTest>

using namespace tonelark;

// An MML song from examples/ goes the whole way: the real window loads it, the bridge finds
// the real compiler on the library path, the compiled file is parsed and registered with the
// real engine, and the song plays (on the engine's silent output: no device is opened).
class MmlEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Tonelark")); }

    void demoMmlCompilesRegistersAndPlays()
    {
        BrisolaEngine engine;
        // Port 0 does not exist here: the engine keeps time on its silent output.
        Convex ini = Convex::fromBytes("[Tonelark]\nMidiOutDeviceId=0\n");
        TfrmTonelark2Main window(engine, ini, {});

        const QString song = QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mml");
        QCOMPARE(window.BRSLoad(song), LoadOutcome::Success);
        QCOMPARE(window.windowTitle(), QStringLiteral("sakura.mml - Tonelark"));
        QCOMPARE(window.editTitle->text(), QStringLiteral("さくらさくら"));
        QCOMPARE(window.lvLyrics->model()->rowCount(), 7);
        QCOMPARE(window.lvLyrics->model()->index(0, 1).data().toString(), QStringLiteral("さくら　さくら"));

        // The bytes played are the compiled file's; the engine takes them without complaint.
        QFile compiled(compiledMidiPath());
        QVERIFY(compiled.open(QIODevice::ReadOnly));
        const QByteArray smf = compiled.readAll();
        QCOMPARE(BRS4AddListFromMemory(smf.constData(), std::int32_t(smf.size()), 0, 0),
                 std::int32_t(BRSERROR_NOERROR));
        const TBrs4SmfInformation info = engine.info();
        QCOMPARE(info.TimeBase, 480);
        QCOMPARE(info.LoopTick, 1920);

        // Registering again stopped nothing the window started; play it and watch it move.
        window.BRSLoad(song);
        QTRY_VERIFY_WITH_TIMEOUT(engine.status().State == BRSSTATE_PLAY && engine.status().Tick > 0, 5000);
    }
};

QTEST_MAIN(MmlEndToEndTest)
#include "MmlEndToEndTest.moc"
