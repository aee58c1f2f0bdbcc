#include "Brisola.h"
#include "BrisolaEngine.h"
#include "Convex.h"
#include "SongLoader.h"
#include "uMain.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
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

    // The same song written by other editors: UTF-8 with and without a mark, UTF-16 with a
    // mark. Each compiles to the very bytes of the CP932 original.
    void everyEncodingOfTheSourceCompilesToTheSameSong()
    {
        QFile original(QStringLiteral(TONELARK_EXAMPLES_DIR "/sakura.mml"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray cp932 = original.readAll();
        const QStringList lines = decodeTextLines(cp932);
        const QString source = lines.join(QStringLiteral("\n")) + QStringLiteral("\n");
        QStringEncoder utf16(QStringEncoder::Utf16LE);
        const QByteArray variants[] = {cp932, source.toUtf8(), QByteArray("\xEF\xBB\xBF") + source.toUtf8(),
                                       QByteArray("\xFF\xFE") + QByteArray(utf16(source))};

        BrisolaEngine engine;
        Convex ini = Convex::fromBytes("[Tonelark]\nMidiOutDeviceId=0\n");
        TfrmTonelark2Main window(engine, ini, {});
        QTemporaryDir dir;
        QByteArray first;
        for (const QByteArray &bytes : variants) {
            const QString file = dir.filePath(QStringLiteral("さくら.mml"));
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(bytes);
            out.close();
            QCOMPARE(window.BRSLoad(file), LoadOutcome::Success);
            QCOMPARE(window.editTitle->text(), QStringLiteral("さくらさくら"));
            QFile compiled(compiledMidiPath());
            QVERIFY(compiled.open(QIODevice::ReadOnly));
            const QByteArray smf = compiled.readAll();
            if (first.isEmpty())
                first = smf;
            QCOMPARE(smf, first);
        }
        QVERIFY(!first.isEmpty());

        // A character CP932 has no code for is named with its line, and nothing is compiled.
        const QString file = dir.filePath(QStringLiteral("emoji.mml"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QStringLiteral("/* 😀 */\nt120 cde\n").toUtf8());
        out.close();
        QCOMPARE(window.BRSLoad(file), LoadOutcome::CompileError);
        QCOMPARE(window.memoCompileMsg->toPlainText(),
                 QStringLiteral("1行目: 「😀」(U+1F600) は CP932 で表せない文字のため、MMLをコンパイルできません。"));
        QCOMPARE(window.pagesInfo->currentIndex(), int(InfoPage::CompileMsg));

        // A NUL would end the compiler's text there: named with its line instead.
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray("t120\nc d\0 X e f\n", 16));
        out.close();
        QCOMPARE(window.BRSLoad(file), LoadOutcome::CompileError);
        QCOMPARE(window.memoCompileMsg->toPlainText(),
                 QStringLiteral("2行目: NUL 文字 (0x00) が含まれているため、MMLをコンパイルできません。"));
    }

    // A damaged song our parser reads (a text running past the end of its track) plays in
    // the real engine too: the engine reads damage the way the parser does. (A refusal's
    // message is tested with the recording engine.)
    void damagedSongTheParserReadsAlsoPlays()
    {
        BrisolaEngine engine;
        Convex ini = Convex::fromBytes("[Tonelark]\nMidiOutDeviceId=0\n");
        TfrmTonelark2Main window(engine, ini, {});
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("cut.mid"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray("MThd\0\0\0\x06\0\0\0\x01\x01\xE0MTrk\0\0\0\x07\0\xFF\x01\x0A" "abc", 29));
        out.close();
        QCOMPARE(window.BRSLoad(file), LoadOutcome::Success);
        QVERIFY(window.timerUpdating->isActive());
        QCOMPARE(engine.info().TimeBase, 480);
        QVERIFY(!window.memoComments->toPlainText().contains(QStringLiteral("演奏エンジン")));
    }
};

QTEST_MAIN(MmlEndToEndTest)
#include "MmlEndToEndTest.moc"
