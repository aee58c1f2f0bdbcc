#include "BrisolaEngine.h"
#include "WindowTestSupport.h"
#include "uMain.h"

#include <QDBusConnection>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// The player driven through MPRIS2 by playerctl, the client desktops use, on a private
// session bus (the test runs under dbus-run-session) with the real engine on its silent
// output (a MIDI port that does not exist).
class MprisWindowTest : public QObject {
    Q_OBJECT

private:
    FakeUi m_ui;
    BrisolaEngine m_engine;
    Convex m_ini = Convex::fromBytes("[Tonelark]\r\nMidiOutDeviceId=999\r\n");
    std::unique_ptr<TfrmTonelark2Main> m_window;
    QTemporaryDir m_dir;
    QString m_song;

    // Runs playerctl for this player while the event loop keeps answering its calls.
    QString playerctl(const QStringList &arguments)
    {
        return run(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), QStringLiteral("Tonelark")} + arguments);
    }
    // playerctl has no command for the rate: gdbus reads and writes the property as any
    // client does, over the bus.
    QString rateProperty(const QString &method, const QStringList &value = {})
    {
        return run(QStringLiteral("gdbus"),
                   QStringList{QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                               QLatin1String(MprisService::kServiceName), QStringLiteral("--object-path"),
                               QLatin1String(MprisService::kObjectPath), QStringLiteral("--method"),
                               QStringLiteral("org.freedesktop.DBus.Properties.") + method,
                               QStringLiteral("org.mpris.MediaPlayer2.Player")} + value);
    }
    double rate(const QString &name = QStringLiteral("Rate"))
    {
        // "(<0.80000000000000004>,)"
        QString reply = rateProperty(QStringLiteral("Get"), {name});
        reply.remove(QRegularExpression(QStringLiteral("[^0-9.]")));
        return reply.isEmpty() ? -1.0 : reply.toDouble();
    }
    void setRate(const QString &value) { rateProperty(QStringLiteral("Set"), {QStringLiteral("Rate"), value}); }
    QString run(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return QStringLiteral("(not started)");
        QDeadlineTimer deadline(15000);
        while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(20);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (the test runs under dbus-run-session)");
        if (QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
            QSKIP("playerctl is not installed (scripts/setup.sh --tests)");
        QCoreApplication::setApplicationName(QStringLiteral("Tonelark"));
        m_song = m_dir.filePath(QStringLiteral("春 の歌.mid"));
        // 120 bpm, 480 ticks a beat: a lyric line at 0 s and one at 4 s, 16 s of sound.
        QVERIFY(writeFile(m_song, SmfBuilder()
                                      .copyright(QStringLiteral("作者です"))
                                      .title(QStringLiteral("題名です"))
                                      .lyric(0, QStringLiteral("さいた"))
                                      .note(0, 60, 480 * 8)
                                      .lyric(0, QStringLiteral("さくら"))
                                      .note(0, 62, 480 * 24)
                                      .bytes()));
        m_window = std::make_unique<TfrmTonelark2Main>(m_engine, m_ini, QStringList(), &m_ui);
        QVERIFY(m_window->enableMpris(QDBusConnection::sessionBus()));
    }

    void identityAndNoSongAtFirst()
    {
        QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
        // Play is gated like the button: without a song it does nothing.
        playerctl({QStringLiteral("play")});
        QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
        QProcess list;
        list.start(QStringLiteral("playerctl"), {QStringLiteral("--list-all")});
        QTRY_VERIFY(list.state() == QProcess::NotRunning);
        QVERIFY(QString::fromUtf8(list.readAllStandardOutput()).contains(QLatin1String("Tonelark")));
    }

    void openPlaysThroughTheLoaderAndFollowsTheTransport()
    {
        // The status stream, as a panel sees it.
        QProcess follow;
        follow.start(QStringLiteral("playerctl"), {QStringLiteral("-p"), QStringLiteral("Tonelark"),
                                                   QStringLiteral("--follow"), QStringLiteral("status")});
        QVERIFY(follow.waitForStarted(5000));
        QString followed;
        connect(&follow, &QProcess::readyReadStandardOutput, this,
                [&] { followed += QString::fromUtf8(follow.readAllStandardOutput()); });
        QTRY_VERIFY(followed.contains(QLatin1String("Stopped")));

        playerctl({QStringLiteral("open"), QUrl::fromLocalFile(m_song).toString()});
        QTRY_COMPARE(m_window->windowTitle(), QStringLiteral("春 の歌.mid - Tonelark"));
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
        QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("--format"),
                            QStringLiteral("{{xesam:title}}|{{xesam:artist}}|{{mpris:length}}|{{xesam:asText}}")}),
                 QStringLiteral("題名です|作者です|16000000|さいた"));
        QCOMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:url")}),
                 QUrl::fromLocalFile(m_song).toString(QUrl::FullyEncoded));

        playerctl({QStringLiteral("pause")});
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Paused"));
        QVERIFY(!m_window->toolButtonOfPause->isEnabled());
        playerctl({QStringLiteral("play-pause")});
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));

        // An absolute position: played from there, and the lyric line follows.
        playerctl({QStringLiteral("position"), QStringLiteral("5")});
        QTRY_VERIFY(playerctl({QStringLiteral("position")}).toDouble() >= 5.0);
        QVERIFY(playerctl({QStringLiteral("position")}).toDouble() < 8.0);
        QTRY_COMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:asText")}), QStringLiteral("さくら"));
        // Past the end nothing happens.
        playerctl({QStringLiteral("position"), QStringLiteral("60")});
        QVERIFY(playerctl({QStringLiteral("position")}).toDouble() < 10.0);

        playerctl({QStringLiteral("stop")});
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Stopped"));
        QTRY_VERIFY(followed.count(QLatin1String("Playing")) >= 2);
        QVERIFY(followed.contains(QLatin1String("Paused")));
        QTRY_VERIFY(followed.trimmed().endsWith(QLatin1String("Stopped")));
        follow.terminate();
        follow.waitForFinished(5000);

        // Only local files: a web address is not loaded and not reported.
        playerctl({QStringLiteral("open"), QStringLiteral("https://example.org/x.mid")});
        QTest::qWait(200);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("春 の歌.mid - Tonelark"));
        QVERIFY(m_ui.errors.isEmpty());
    }

    void rateIsTheTempo()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("gdbus")).isEmpty())
            QSKIP("gdbus is not installed");
        QCOMPARE(rate(QStringLiteral("MinimumRate")), 0.5);
        QCOMPARE(rate(QStringLiteral("MaximumRate")), 2.0);
        QCOMPARE(rate(), 1.0);

        setRate(QStringLiteral("<0.8>"));
        QCOMPARE(m_window->keyTempo().tempo(), 80);
        QVERIFY(m_window->panelTimeElapsed->text().startsWith(QStringLiteral("80%  ")));
        m_window->actionTempoUp->trigger();
        QCOMPARE(rate(), 0.85);
        setRate(QStringLiteral("<7.5>"));
        QCOMPARE(m_window->keyTempo().tempo(), 200);

        // 0.0 pauses, as MPRIS asks, and leaves the tempo as it was.
        playerctl({QStringLiteral("play")});
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
        setRate(QStringLiteral("<0.0>"));
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Paused"));
        QCOMPARE(m_window->keyTempo().tempo(), 200);
        m_window->actionTempoOriginal->trigger();
        QCOMPARE(rate(), 1.0);
        playerctl({QStringLiteral("stop")});
    }

    // Three short songs play one after another by themselves with the real engine; next and
    // previous from playerctl move through the queue, and CanGoNext/CanGoPrevious follow.
    void queuePlaysThroughAndMovesByNextAndPrevious()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("gdbus")).isEmpty())
            QSKIP("gdbus is not installed");
        QStringList songs;
        for (const char *name : {"q1.mid", "q2.mid", "q3.mid"}) {
            songs << m_dir.filePath(QLatin1String(name));
            // A quarter of a second of sound at 120 bpm.
            QVERIFY(writeFile(songs.last(), SmfBuilder().note(0, 60, 240).bytes()));
        }
        const auto canGo = [this](const char *name) {
            return run(QStringLiteral("gdbus"),
                       {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                        QLatin1String(MprisService::kServiceName), QStringLiteral("--object-path"),
                        QLatin1String(MprisService::kObjectPath), QStringLiteral("--method"),
                        QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                        QStringLiteral("org.mpris.MediaPlayer2.Player"), QLatin1String(name)});
        };
        m_window->openSongs(songs);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("q1.mid - Tonelark"));
        QCOMPARE(canGo("CanGoNext"), QStringLiteral("(<true>,)"));
        QTRY_COMPARE_WITH_TIMEOUT(m_window->windowTitle(), QStringLiteral("q2.mid - Tonelark"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(m_window->windowTitle(), QStringLiteral("q3.mid - Tonelark"), 5000);
        QCOMPARE(canGo("CanGoNext"), QStringLiteral("(<false>,)"));
        QCOMPARE(canGo("CanGoPrevious"), QStringLiteral("(<true>,)"));
        // The last song has nowhere to go: it keeps playing as a single song does.
        QTest::qWait(800);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("q3.mid - Tonelark"));
        QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));

        playerctl({QStringLiteral("previous")});
        QTRY_COMPARE(m_window->windowTitle(), QStringLiteral("q2.mid - Tonelark"));
        playerctl({QStringLiteral("next")});
        QTRY_COMPARE(m_window->windowTitle(), QStringLiteral("q3.mid - Tonelark"));
        QTRY_COMPARE(playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:url")}),
                     QUrl::fromLocalFile(songs[2]).toString(QUrl::FullyEncoded));
        playerctl({QStringLiteral("stop")});
        QVERIFY(m_ui.errors.isEmpty());
    }

    void aMissingBusIsNoError()
    {
        Convex ini = Convex::fromBytes({});
        FakeUi ui;
        BrisolaEngine engine;
        TfrmTonelark2Main window(engine, ini, QStringList(), &ui);
        QVERIFY(!window.enableMpris(QDBusConnection(QStringLiteral("no such bus"))));
        QVERIFY(!window.mpris());
        QVERIFY(ui.errors.isEmpty());
    }

    void cleanupTestCase() { m_window.reset(); }
};

QTEST_MAIN(MprisWindowTest)
#include "MprisWindowTest.moc"
