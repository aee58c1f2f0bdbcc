#include "BrisolaEngine.h"
#include "ServerTestSupport.h"
#include "WindowTestSupport.h"
#include "uMain.h"

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// What the user reads in the info area when the sound server goes away and comes back, when
// there is none at start, and when the SoundFont named in the settings is damaged: the real
// window and engine, a PulseAudio server of the test's own killed and started again.
class EngineNoticesWindowTest : public QObject {
    Q_OBJECT

private:
    FakeUi m_ui;
    BrisolaEngine m_engine;
    brisola::test::PrivatePulse m_server;
    QTemporaryDir m_dir;
    QString m_song;

    static QString memo(TfrmTonelark2Main &window) { return window.memoComments->toPlainText(); }

private slots:
    void initTestCase()
    {
        if (!brisola::test::onPath("pulseaudio"))
            QSKIP("pulseaudio is not installed");
        if (m_engine.soundFontInUse().isEmpty())
            QSKIP("no General MIDI SoundFont installed");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_server.dir()));
        qunsetenv("PULSE_SERVER");
        m_song = m_dir.filePath(QStringLiteral("歌.mid"));
        SmfBuilder song;
        for (int i = 0; i < 120; ++i)
            song.note(i == 0 ? 0 : 240, quint8(60 + i % 12), 240);
        QVERIFY(writeFile(m_song, song.bytes()));
    }

    void serverGoneAndBackIsSaidWhileTheSongGoesOn()
    {
        QVERIFY(m_server.start());
        Convex ini = Convex::fromBytes("[Tonelark]\r\nMidiOutDeviceId=-1100\r\n");
        TfrmTonelark2Main window(m_engine, ini, {m_song}, &m_ui);
        QVERIFY(memo(window).contains(QLatin1String("[Song Info]")));
        QTRY_VERIFY_WITH_TIMEOUT(window.monitor().status().Tick > 480, 20000);

        m_server.kill9();
        QTRY_VERIFY_WITH_TIMEOUT(memo(window).contains(QStringLiteral(
                                     "[演奏エンジン] サウンドサーバーとの接続が切れました。再接続を待っています。")),
                                 5000);
        const qint32 tick = window.monitor().status().Tick;
        QTRY_VERIFY_WITH_TIMEOUT(window.monitor().status().Tick > tick + 480, 5000);
        QCOMPARE(window.monitor().status().State, BRSSTATE_PLAY);

        QVERIFY(m_server.start());
        QTRY_VERIFY_WITH_TIMEOUT(memo(window).contains(QStringLiteral(
                                     "[演奏エンジン] サウンドサーバーに再接続しました。演奏中の位置から音が出ます。")),
                                 8000);
        window.close();
    }

    void noServerAndADamagedSoundFontAtStartAreSaidAndSaidAgainAfterALoad()
    {
        m_server.kill9();
        const QString system = m_engine.soundFontInUse();
        const QString damaged = m_dir.filePath(QStringLiteral("damaged.sf2"));
        QVERIFY(brisola::test::writeSoundFontWithSamplesCut(system.toStdString(), damaged.toStdString(), 4096));
        Convex ini = Convex::fromBytes(QStringLiteral("[Tonelark]\r\nMidiOutDeviceId=-1100\r\nSoundFont=%1\r\n")
                                           .arg(damaged)
                                           .toUtf8());
        TfrmTonelark2Main window(m_engine, ini, {}, &m_ui);
        const QString soundFont = QStringLiteral("[演奏エンジン] 設定の SoundFont「%1」は壊れています（音色を鳴らせません）。"
                                                 "代わりに「%2」を使います。")
                                      .arg(damaged, system);
        const QString noServer = QStringLiteral(
            "[演奏エンジン] サウンドサーバーが見つかりません。起動するのを待っています（それまで音は出ません）。");
        QCOMPARE(memo(window), soundFont);
        QTRY_COMPARE_WITH_TIMEOUT(memo(window), soundFont + QLatin1Char('\n') + noServer, 3000);

        QCOMPARE(window.BRSLoad(m_song), LoadOutcome::Success);
        QVERIFY(memo(window).startsWith(soundFont + QLatin1Char('\n') + noServer + QStringLiteral("\n[Song Info]")));
        QVERIFY(m_ui.errors.isEmpty());

        QVERIFY(m_server.start());
        QTRY_VERIFY_WITH_TIMEOUT(memo(window).endsWith(QStringLiteral("[演奏エンジン] サウンドサーバーに接続しました。")), 8000);
        window.close();
    }

    void settingsForTheEngineDoNotHoldUpTheWindowAndReachItInOrder()
    {
        // As the program starts: the engine told the settings' device and SoundFont, its library
        // left to load once the window is shown. The window's own calls must not make it wait.
        const QString damaged = m_dir.filePath(QStringLiteral("damaged-late.sf2"));
        QVERIFY(brisola::test::writeSoundFontWithSamplesCut(m_engine.soundFontInUse().toStdString(),
                                                            damaged.toStdString(), 4096));
        BrisolaEngine engine;
        engine.openEarly({BRSDEVICE_BUILTIN_SYNTH, damaged});
        Convex ini = Convex::fromBytes(QStringLiteral("[Tonelark]\r\nMidiOutDeviceId=-1100\r\nSoundFont=%1\r\n"
                                                      "KeyShift=2\r\nTempoRatio=90\r\nMasterVolume=60\r\n")
                                           .arg(damaged)
                                           .toUtf8());
        TfrmTonelark2Main window(engine, ini, {}, &m_ui);
        QVERIFY2(!engine.ready(), "the window's start waited for the engine");
        QVERIFY(!memo(window).contains(QLatin1String("壊れています")));
        // Sent before the library is in: refused as the engine refuses, else kept in order.
        QCOMPARE(engine.setChannelMute(16, true), BRSERROR_FAILED);
        QCOMPARE(engine.setKeyShift(13), BRSERROR_FAILED);
        QCOMPARE(engine.setChannelMute(3, true), BRSERROR_NOERROR);
        QCOMPARE(engine.setChannelSolo(5, true), BRSERROR_NOERROR);
        QCOMPARE(engine.setChannelMute(3, false), BRSERROR_NOERROR);
        QCOMPARE(engine.setChannelMute(7, true), BRSERROR_NOERROR);
        QVERIFY(!engine.ready());

        engine.startLoading();
        QTRY_VERIFY_WITH_TIMEOUT(memo(window).contains(QStringLiteral(
                                     "[演奏エンジン] 設定の SoundFont「%1」は壊れています（音色を鳴らせません）。")
                                                           .arg(damaged)),
                                 5000);
        TBrs4ChannelStatus channels[16];
        engine.channelStatus(channels);
        QCOMPARE(channels[3].Flags & BRSCHANNEL_MUTED, 0);
        QVERIFY(channels[5].Flags & BRSCHANNEL_SOLOED);
        QVERIFY(channels[7].Flags & BRSCHANNEL_MUTED);
        QVERIFY(channels[0].Flags & BRSCHANNEL_SILENCED); // another channel is soloed
        engine.setChannelSolo(5, false);
        engine.setChannelMute(7, false);
        window.close();
    }
};

QTEST_MAIN(EngineNoticesWindowTest)
#include "EngineNoticesWindowTest.moc"
