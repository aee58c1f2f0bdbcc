#include "AudioExport.h"
#include "FakeEngine.h"
#include "FluidSynthSink.h"
#include "MixerControls.h"
#include "SmfBuilder.h"
#include "WindowTestSupport.h"
#include "uMain.h"

#include <QAction>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sndfile.h>

using namespace tonelark;
using namespace tonelark::test;

namespace {

struct Decoded {
    SF_INFO info{};
    std::vector<short> samples;
    QString title;
};

Decoded decode(const QString &path)
{
    Decoded d;
    if (SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &d.info)) {
        d.samples.resize(std::size_t(d.info.frames * d.info.channels));
        sf_readf_short(file, d.samples.data(), d.info.frames);
        d.title = QString::fromUtf8(sf_get_string(file, SF_STR_TITLE));
        sf_close(file);
    }
    return d;
}

} // namespace

// 「音声ファイルに保存(&O)...」 in the real window on the tests' X server: the save dialog's proposal,
// the progress dialog beside a window that stays usable, the file in the singer's key and
// tempo without the melody, cancel, and closing the window while a save runs.
class AudioExportWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (brisola::defaultSoundFont().empty())
            QSKIP("needs a General MIDI SoundFont");
        QCoreApplication::setApplicationName(QStringLiteral("Tonelark"));
    }

    void savesTheBackingTrackWithProgressAndCancels()
    {
        QTemporaryDir dir;
        FakeEngine engine;
        FakeUi ui;
        // Fifty passes of the one-second loop: a render long enough to watch and to cancel.
        Convex ini = Convex::fromBytes("[Tonelark]\nShowInfo=1\n[Queue]\nLoopCount=50\n");
        auto window = std::make_unique<TfrmTonelark2Main>(engine, ini, QStringList{}, &ui);
        // A tune with lyrics on channel 1 over a held chord on channel 2, 120 bpm, two seconds;
        // the loop point (CC 111) at one second.
        TrackBuilder track;
        track.text(0, 0x03, QStringLiteral("曲名")).text(0, 0x02, QStringLiteral("作者")).tempo(0, 500000);
        track.event(0, {0xC1, 48}).event(0, {0x91, 52, 80}).event(0, {0x91, 55, 80});
        for (int beat = 0; beat < 4; ++beat) {
            quint32 delta = beat == 0 ? 0 : 10;
            if (beat == 2) {
                track.event(delta, {0xB0, 111, 0});
                delta = 0;
            }
            track.lyric(delta, QStringLiteral("あ")).event(0, {0x90, 64 + beat * 2, 100}).event(470, {0x80, 64 + beat * 2, 0});
        }
        track.event(10, {0x81, 52, 0}).event(0, {0x81, 55, 0});
        const QString song = dir.filePath(QStringLiteral("song.mid"));
        QVERIFY(writeFile(song, header(0, 1, 480) + chunk("MTrk", track.endOfTrack().bytes())));
        QCOMPARE(window->BRSLoad(song), LoadOutcome::Success);
        window->timerUpdating->stop();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        AudioExport &exporter = window->audioExport();
        QAction *action = exporter.action;
        QCOMPARE(action->text(), QStringLiteral("音声ファイルに保存(&O)..."));
        for (const char *menu : {"popupMenuMain", "popupMenuPlayback"})
            QVERIFY2(window->findChild<QMenu *>(QLatin1String(menu))->actions().contains(action), menu);
        QVERIFY(action->isEnabled());

        window->setKeyTempo(KeyTempo(-3, 90));
        window->mixer().cycleGuideMelody();
        window->mixer().cycleGuideMelody();
        const ChannelMixer &mixer = window->mixer().session().mixer();
        QCOMPARE(mixer.guideMelody(), GuideMelody::Off);
        QVERIFY(mixer.melodyChannels() != 0);

        QSignalSpy ended(&exporter, &AudioExport::saveEnded);
        ui.nextSaveFileName = dir.filePath(QStringLiteral("backing.flac"));
        action->trigger();
        QTRY_VERIFY(exporter.running());
        QCOMPARE(ui.saveRequests.size(), 1);
        QCOMPARE(ui.saveRequests[0].folder, dir.path());
        QCOMPARE(ui.saveRequests[0].fileName, QStringLiteral("song.flac"));
        QVERIFY(ui.saveRequests[0].filters.value(0).startsWith(QLatin1String("FLAC")));
        QVERIFY(!action->isEnabled());
        // Deleted once the save ends.
        const QPointer<QProgressDialog> progress = exporter.progressDialog();
        QVERIFY(progress);
        QVERIFY(QTest::qWaitForWindowExposed(progress.data()));
        QCOMPARE(progress->maximum(), 100);
        QSignalSpy steps(exporter.job(), &ExportJob::progressChanged);
        // The window stays usable meanwhile: no modal loop, its own ticks run.
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(!window->inModalLoop());
        QList<int> shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown << (progress ? progress->value() : -1), !ended.isEmpty()), 120000);
        QCOMPARE(ended.takeFirst().at(0).value<ExportOutcome::Kind>(), ExportOutcome::Saved);
        QVERIFY(steps.size() > 5);
        QVERIFY(std::any_of(shown.begin(), shown.end(), [](int v) { return v > 0 && v < 100; }));
        QVERIFY(!progress || !progress->isVisible());
        QVERIFY(action->isEnabled());

        // Two seconds, then 49 more passes of the one-second loop at 90 %, then the fade.
        const Decoded saved = decode(ui.nextSaveFileName);
        QCOMPARE(saved.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        QCOMPARE(saved.title, QStringLiteral("曲名"));
        QVERIFY(std::abs(double(saved.info.frames) / 44100 - ((2 + 49) / 0.9 + kBackingTrackFadeSeconds)) < 0.03);
        // The same samples as a render set by hand to the singer's choices.
        ExportRequest expected;
        expected.smf = window->song().MemoryStream;
        expected.render.keyShift = -3;
        expected.render.tempoPercent = 90;
        expected.render.loops = 50;
        expected.render.fadeSeconds = kBackingTrackFadeSeconds;
        expected.render.playOption = BRSPLAY_SYSEX;
        expected.render.melodyChannels = mixer.melodyChannels();
        expected.render.guideMelody = GuideMelody::Off;
        expected.path = dir.filePath(QStringLiteral("expected.wav"));
        expected.format = AudioFormat::Wav;
        const std::atomic<bool> no{false};
        QCOMPARE(exportSong(expected, no, {}).kind, ExportOutcome::Saved);
        QVERIFY(decode(expected.path).samples == saved.samples);
        QVERIFY(QFile::remove(expected.path));
        const QStringList files{QStringLiteral("backing.flac"), QStringLiteral("song.mid")};

        // Cancel: the progress dialog's button; nothing is left.
        ui.nextSaveFileName = dir.filePath(QStringLiteral("cancelled.wav"));
        action->trigger();
        QTRY_VERIFY(exporter.running());
        QSignalSpy started(exporter.job(), &ExportJob::progressChanged);
        QTRY_VERIFY(!started.isEmpty());
        auto *cancel = exporter.progressDialog()->findChild<QPushButton *>();
        QVERIFY(cancel);
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(ended.takeFirst().at(0).value<ExportOutcome::Kind>(), ExportOutcome::Cancelled);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), files);
        QVERIFY(ui.errors.isEmpty());

        // Closing the window while a save runs: the render stops, nothing is left, no crash.
        ui.nextSaveFileName = dir.filePath(QStringLiteral("closed.wav"));
        action->trigger();
        QTRY_VERIFY(exporter.running());
        QSignalSpy running(exporter.job(), &ExportJob::progressChanged);
        QTRY_VERIFY(!running.isEmpty());
        window.reset();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), files);
    }

};

TONELARK_X11_TEST_MAIN(AudioExportWindowTest)
#include "AudioExportWindowTest.moc"
