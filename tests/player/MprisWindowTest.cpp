#include "BrisolaEngine.h"
#include "FileNames.h"
#include "Gauges.h"
#include "LyricsView.h"
#include "WindowTestSupport.h"
#include "uMain.h"
#include "MixerControls.h"

#include <QAction>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMessageBox>
#include <QTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <functional>

#include <fcntl.h>
#include <unistd.h>

using namespace tonelark;
using namespace tonelark::test;

// The player driven through MPRIS2 by playerctl, the client desktops use, on a private
// session bus (the test runs under dbus-run-session) with the real engine on its silent
// output (a MIDI port that does not exist).
// Counts the Volume values the service announces on the bus.
class VolumeWatcher : public QObject {
    Q_OBJECT
public:
    QList<double> announced;
public slots:
    void changed(const QString &, const QVariantMap &properties, const QStringList &)
    {
        if (properties.contains(QStringLiteral("Volume")))
            announced << properties.value(QStringLiteral("Volume")).toDouble();
    }
};

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
    QString run(const QString &program, const QStringList &arguments, QString *errors = nullptr)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForStarted(5000))
            return QStringLiteral("(not started)");
        QDeadlineTimer deadline(15000);
        while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(20);
        if (errors)
            *errors = QString::fromUtf8(process.readAllStandardError()).trimmed();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    // A Player method through gdbus; the error it answered, or empty.
    QString callPlayer(const QString &method, const QString &argument)
    {
        QString errors;
        run(QStringLiteral("gdbus"),
            {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
             QLatin1String(MprisService::kServiceName), QStringLiteral("--object-path"),
             QLatin1String(MprisService::kObjectPath), QStringLiteral("--method"),
             QStringLiteral("org.mpris.MediaPlayer2.Player.") + method, argument},
            &errors);
        return errors;
    }
    QString openUri(const QString &uri) { return callPlayer(QStringLiteral("OpenUri"), uri); }
    QString seekBy(const QString &offsetUs) { return callPlayer(QStringLiteral("Seek"), offsetUs); }

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

    // Every jump of the position reaches panels as Seeked, once, from whatever moved it: the
    // seek bar, the keys and wheel, a lyric line, MPRIS itself and a wrap at the loop point.
    void everyJumpIsSeeked()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-monitor")).isEmpty())
            QSKIP("dbus-monitor is not installed");
        QProcess monitor;
        // Line-buffered: a pipe would otherwise hold the messages back.
        monitor.start(QStringLiteral("stdbuf"),
                      {QStringLiteral("-oL"), QStringLiteral("dbus-monitor"), QStringLiteral("--session"),
                       QStringLiteral("type='signal',interface='org.mpris.MediaPlayer2.Player',member='Seeked'")});
        QVERIFY(monitor.waitForStarted(5000));
        QString seen;
        connect(&monitor, &QProcess::readyReadStandardOutput, this,
                [&] { seen += QString::fromUtf8(monitor.readAllStandardOutput()); });
        QTRY_VERIFY(seen.contains(QLatin1String("NameAcquired")) || seen.contains(QLatin1String("NameLost")));
        const auto seeked = [&] { return int(seen.count(QLatin1String("member=Seeked"))); };

        playerctl({QStringLiteral("open"), QUrl::fromLocalFile(m_song).toString()});
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
        QTest::qWait(300);
        const int atStart = seeked();
        const std::function<void()> jumps[] = {
            [&] { m_window->actionSeekForward->trigger(); },          // Alt+Right, wheel up
            [&] { m_window->actionSeekBack->trigger(); },             // Alt+Left, wheel down
            [&] { m_window->menuItemPlayFromBeginning->trigger(); },
            [&] {                                                      // a lyric line's double-click
                TListView *list = m_window->lvLyrics;
                list->selectionModel()->select(list->model()->index(1, 0),
                                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                emit list->playRequested();
            },
            [&] {
                TGauge *bar = m_window->gaugePlayback;
                emit bar->mouseDown(Qt::LeftButton, {}, QPoint(bar->width() / 4, 1));
                emit bar->mouseUp(Qt::LeftButton, {}, QPoint(bar->width() / 4, 1));
            },
            [&] { playerctl({QStringLiteral("position"), QStringLiteral("2")}); },
            [&] { playerctl({QStringLiteral("position"), QStringLiteral("1-")}); },
        };
        int expected = atStart;
        for (const auto &jump : jumps) {
            jump();
            ++expected;
            QTRY_COMPARE(seeked(), expected);
        }
        // Beyond the end, and an offset whose sum would overflow: nothing moves, nothing is
        // signalled, and the song is not restarted.
        const double before = playerctl({QStringLiteral("position")}).toDouble();
        QCOMPARE(seekBy(QStringLiteral("9223372036854775807")), QString());
        QTest::qWait(300);
        QVERIFY(playerctl({QStringLiteral("position")}).toDouble() >= before);
        QCOMPARE(seeked(), expected);

        // An A–B repeat's wraps are jumps too, each of them. B set behind A's 0.4 s goes back
        // at once; a seek inside the range keeps it, one outside clears it and plays there.
        playerctl({QStringLiteral("position"), QStringLiteral("5")});
        ++expected;
        QTRY_COMPARE(seeked(), expected);
        m_window->actionRepeatStart->trigger();
        QTest::qWait(400);
        m_window->actionRepeatEnd->trigger();
        QVERIFY(m_window->abRepeat().isSet());
        QTRY_VERIFY_WITH_TIMEOUT(seeked() >= expected + 3, 5000);
        const double inRange = playerctl({QStringLiteral("position")}).toDouble();
        QVERIFY2(inRange >= 4.9 && inRange < 5.6, qPrintable(QString::number(inRange)));
        const double startS = m_window->abRepeat().start().value() / 960.0;
        playerctl({QStringLiteral("position"), QString::number(startS + 0.1)});
        QVERIFY(m_window->abRepeat().isSet());
        playerctl({QStringLiteral("position"), QStringLiteral("10")});
        QTRY_VERIFY(!m_window->abRepeat().isSet());
        QTest::qWait(300);
        QVERIFY(playerctl({QStringLiteral("position")}).toDouble() >= 10.0);
        QTRY_COMPARE(m_window->gaugePlayback->repeatEnd(), -1);
        expected = seeked();

        // A short song loops (the default): its wrap is a jump too.
        const QString shortSong = m_dir.filePath(QStringLiteral("short.mid"));
        QVERIFY(writeFile(shortSong, SmfBuilder().note(0, 60, 240).bytes()));
        playerctl({QStringLiteral("open"), QUrl::fromLocalFile(shortSong).toString()});
        QTRY_COMPARE(m_window->windowTitle(), QStringLiteral("short.mid - Tonelark"));
        const int loaded = seeked();
        QTRY_VERIFY_WITH_TIMEOUT(seeked() > loaded, 5000);
        playerctl({QStringLiteral("stop")});
        monitor.terminate();
        monitor.waitForFinished(5000);
    }

    // OpenUri takes the path by its bytes, as the command line does; a NUL in it is refused.
    void openUriByBytes()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("gdbus")).isEmpty())
            QSKIP("gdbus is not installed");
        // "あ曲.mid" in CP932: no UTF-8, as names unpacked from old archives are.
        const QByteArray name = QByteArray("\x82\xA0\x8B\xC8.mid");
        {
            const QByteArray song = SmfBuilder().note(0, 60, 480 * 8).bytes();
            const int fd = ::open(QFile::encodeName(m_dir.path() + u'/') + name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, song.constData(), size_t(song.size())), ssize_t(song.size()));
            ::close(fd);
        }
        const QString uri = QStringLiteral("file://") + QString::fromLatin1(
            QFile::encodeName(m_dir.path()).toPercentEncoding("/") + '/' + name.toPercentEncoding());
        QCOMPARE(openUri(uri), QString());
        QTRY_COMPARE(m_window->windowTitle(), displayFileName(decodeFileName(name)) + QStringLiteral(" - Tonelark"));
        // The published address names the same file: "open again" from a panel works.
        const QString published = playerctl({QStringLiteral("metadata"), QStringLiteral("xesam:url")});
        QCOMPARE(published, uri);
        playerctl({QStringLiteral("open"), QUrl::fromLocalFile(m_song).toString()});
        QTRY_COMPARE(m_window->windowTitle(), QStringLiteral("春 の歌.mid - Tonelark"));
        QCOMPARE(openUri(published), QString());
        QTRY_COMPARE(m_window->windowTitle(), displayFileName(decodeFileName(name)) + QStringLiteral(" - Tonelark"));

        // "nul%00evil.mid" must not play the file "nul".
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("nul")), SmfBuilder().note(0, 60, 480).bytes()));
        const QString error = openUri(QUrl::fromLocalFile(m_dir.path()).toString() + QStringLiteral("/nul%00evil.mid"));
        QVERIFY2(error.contains(QLatin1String("InvalidArgs")), qPrintable(error));
        QTest::qWait(300);
        QCOMPARE(m_window->windowTitle(), displayFileName(decodeFileName(name)) + QStringLiteral(" - Tonelark"));
        QVERIFY(m_ui.errors.isEmpty());
        playerctl({QStringLiteral("stop")});
    }

    void volumeIsTheMasterVolume()
    {
        VolumeWatcher watcher;
        QVERIFY(QDBusConnection::sessionBus().connect(
            QLatin1String(MprisService::kServiceName), QLatin1String(MprisService::kObjectPath),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"), &watcher,
            SLOT(changed(QString, QVariantMap, QStringList))));
        QCOMPARE(playerctl({QStringLiteral("volume")}).toDouble(), 1.0);
        playerctl({QStringLiteral("volume"), QStringLiteral("0.4")});
        QCOMPARE(m_window->mixer().volume(), 40);
        QCOMPARE(playerctl({QStringLiteral("volume")}).toDouble(), 0.4);
        m_window->findChild<QAction *>(QStringLiteral("actionVolumeUp"))->trigger();
        QCOMPARE(playerctl({QStringLiteral("volume")}).toDouble(), 0.45);
        playerctl({QStringLiteral("volume"), QStringLiteral("3")});
        QCOMPARE(m_window->mixer().volume(), 100); // a louder request is full volume
        QTRY_COMPARE(watcher.announced, (QList<double>{0.4, 0.45, 1.0}));
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

    void aFloodOfMissingSongsKeepsOneBox()
    {
        // 5000 OpenUri calls for missing files while a song plays, as a script may send them:
        // each used to run its load inside the previous one's box, until the stack ran out.
        m_window.reset();
        Convex ini = Convex::fromBytes("[Tonelark]\r\nMidiOutDeviceId=999\r\n");
        TfrmTonelark2Main window(m_engine, ini, QStringList());   // real message boxes
        QVERIFY(window.enableMpris(QDBusConnection::sessionBus()));
        QCOMPARE(window.BRSLoad(m_song), LoadOutcome::Success);
        QTRY_COMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));

        QDBusConnection sender = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("flood"));
        QVERIFY(sender.isConnected());
        constexpr int kCalls = 5000;
        for (int i = 0; i < kCalls; ++i) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QLatin1String(MprisService::kServiceName), QLatin1String(MprisService::kObjectPath),
                QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("OpenUri"));
            call << QStringLiteral("file:///x/none-%1.mid").arg(i);
            QVERIFY(sender.send(call));   // no reply awaited
        }
        const QString complete = QStringLiteral("続けて届いた %1 件の曲も開けませんでした").arg(kCalls - 1);
        int mostBoxes = 0;
        QString boxText;
        QString statusInBox;
        bool busy = false;
        QTimer watch;
        watch.setInterval(20);
        connect(&watch, &QTimer::timeout, this, [&] {
            if (busy)
                return;
            QList<QMessageBox *> boxes;
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                    boxes << box;
            mostBoxes = std::max(mostBoxes, int(boxes.size()));
            if (boxes.size() != 1 || !boxes.first()->text().contains(complete))
                return;
            // Every call has been handled; the player still answers from inside the box.
            busy = true;
            boxText = boxes.first()->text();
            statusInBox = playerctl({QStringLiteral("status")});
            watch.stop();
            boxes.first()->accept();
        });
        watch.start();
        QTRY_VERIFY_WITH_TIMEOUT(!boxText.isEmpty(), 120000);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(mostBoxes, 1);
        QVERIFY(boxText.startsWith(QStringLiteral("\"/x/none-0.mid\"")));
        QVERIFY(boxText.endsWith(QStringLiteral("\"/x/none-%1.mid\" が見つかりません。").arg(kCalls - 1)));
        QCOMPARE(statusInBox, QStringLiteral("Playing"));
        QCOMPARE(window.windowTitle(), QStringLiteral("春 の歌.mid - Tonelark"));
        QCOMPARE(playerctl({QStringLiteral("status")}), QStringLiteral("Playing"));
        QDBusConnection::disconnectFromBus(QStringLiteral("flood"));
    }

    void cleanupTestCase() { m_window.reset(); }
};

QTEST_MAIN(MprisWindowTest)
#include "MprisWindowTest.moc"
