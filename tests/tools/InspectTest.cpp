#include "PrivateMounts.h"
#include "SmfBuilder.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace tonelark::test;

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun inspect(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(TONELARK_INSPECT), arguments);
    ToolRun run;
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

class InspectTest : public testing::Test {
protected:
    // A path with a space and non-ASCII characters, as song files often have.
    QString write(const QByteArray &data)
    {
        const QString path = m_dir.filePath(QStringLiteral("曲 %1.mid").arg(m_count++));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return path;
    }

    QTemporaryDir m_dir;
    int m_count = 0;
};

} // namespace

TEST_F(InspectTest, PrintsSongFactsInFixedShape)
{
    const QString path = write(smf(1, 480, {
        TrackBuilder().text(0, 0x03, "Say \"hi\"\\").text(0, 0x02, QStringLiteral(" 著作 ")).tempo(0, 400000)
            .tempo(960, 250000).endOfTrack(),
        TrackBuilder().text(0, 0x01, "a\tb").lyric(480, QStringLiteral("さくら\r\n\tx")).endOfTrack(),
    }));
    const ToolRun run = inspect({path});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(run.out),
              QStringLiteral("{\"ok\": true, \"header\": {\"format\": 1, \"tracks\": 2, \"timebase\": 480}, "
                             "\"copyright\": [\"著作\"], \"title\": [\"Say \\\"hi\\\"\\\\\"], \"comment\": [\"a\\tb\"], "
                             "\"lyrics\": [{\"text\": \"さくら\", \"tick\": 480, \"ms\": 400, \"second\": 0, \"hide\": false}, "
                             "{\"text\": \"  x\", \"tick\": 480, \"ms\": 400, \"second\": 0, \"hide\": true}], "
                             "\"tempo\": [[0, 400000], [960, 250000]], \"encoding\": \"cp932\", \"karaoke\": false, \"utf8\": false, "
                             "\"boxes\": {\"author\": \"著作\", \"title\": \"Say \\\"hi\\\"\\\\\"}}\n"));
}

// A .kar file's words are lyric lines, its "@T" lines the boxes' texts, and its UTF-8 texts
// are read as such ("歌" is E6 AD 8C: no CP932, whose lead byte 8C would need a second);
// the file is named by its bytes (CP932, no UTF-8).
TEST_F(InspectTest, KaraokeFileShowsItsWordsAsLyrics)
{
    const QByteArray song = smf(0, 480, {TrackBuilder().meta(0, 0x01, QStringLiteral("@T歌").toUtf8()).meta(0, 0x01, "@TMe")
                                             .meta(0, 0x01, "\\Hi ").meta(240, 0x01, "you").endOfTrack()});
    const QByteArray path = QFile::encodeName(m_dir.path()) + "/\x89\xCC.kar";
    QFile file;
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_TRUE(fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    file.write(song);
    file.close();
    // QProcess passes arguments through Qt's encoding; the shell gets the bytes from stdin.
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("read -r p; exec \"$0\" \"$p\""),
                                            QStringLiteral(TONELARK_INSPECT)});
    shell.write(path + '\n');
    shell.closeWriteChannel();
    ASSERT_TRUE(shell.waitForFinished(30000));
    ::unlink(path.constData());
    const QByteArray out = shell.readAllStandardOutput();
    EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    EXPECT_TRUE(out.contains("\"lyrics\": [{\"text\": \"Hi you\", \"tick\": 0, \"ms\": 0, \"second\": 0, \"hide\": false}]"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("\"karaoke\": true, \"utf8\": true, \"boxes\": {\"author\": \"Me\", \"title\": \"" + QStringLiteral("歌").toUtf8() + "\"}}"))
        << out.toStdString();
}

TEST_F(InspectTest, LyricOptionsTrimAndDrop)
{
    const QString path = write(smf(0, 480, {TrackBuilder().lyric(0, QStringLiteral("\r\n　x ")).endOfTrack()}));
    const ToolRun run = inspect({QStringLiteral("--trim"), QStringLiteral("--no-empty"), path});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("\"lyrics\": [{\"text\": \"x\", \"tick\": 0, \"ms\": 0, \"second\": 0, \"hide\": false}]"))
        << run.out.toStdString();
}

// An XF song's sung lines: furigana across events, a part cue, the $Lyrc facts and the
// XFln names; syllables without reading or part leave those keys out.
TEST_F(InspectTest, DisplayPrintsTheSungLines)
{
    TrackBuilder track;
    track.meta(0, 0x7F, bytesOf({0x43, 0x7B, 0x00, 'X', 'F', '0', '2'})).endOfTrack();
    TrackBuilder info;
    info.meta(0, 0x01, "XFln:JP:" + tonelark::unicodeToAnsi(u"小川:作曲者::::") + "prog").endOfTrack();
    TrackBuilder words;
    words.meta(0, 0x07, "$Lyrc:1,2:120:JP").meta(0, 0x07, "&f").lyric(480, QStringLiteral("小川[お"))
        .lyric(240, QStringLiteral("がわ]/")).lyric(240, QStringLiteral("<は")).endOfTrack();
    const QString path = write(smf(0, 480, {track}) + chunk("XFIH", info.bytes()) + chunk("XFKM", words.bytes()));
    const ToolRun run = inspect({QStringLiteral("--display"), path});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(run.out),
              QStringLiteral("{\"ok\": true, \"sung\": true, \"source\": \"xf\", \"encoding\": \"cp932\", \"melody_channels\": [1, 2], "
                             "\"offset_ticks\": 120, \"language\": \"JP\", "
                             "\"xf\": {\"title\": \"小川\", \"composer\": \"作曲者\", \"programmer\": \"prog\"}, "
                             "\"lines\": [{\"tick\": 480, \"ms\": 500, \"page\": 0, \"text\": \"小川\", "
                             "\"ruby\": [[\"小川\", \"おがわ\"]], \"syllables\": ["
                             "{\"tick\": 480, \"ms\": 500, \"text\": \"小川\", \"reading\": \"お\", \"part\": \"f\"}, "
                             "{\"tick\": 720, \"ms\": 750, \"text\": \"\", \"reading\": \"がわ\", \"part\": \"f\"}]}, "
                             "{\"tick\": 960, \"ms\": 1000, \"page\": 1, \"text\": \"は\", \"syllables\": ["
                             "{\"tick\": 960, \"ms\": 1000, \"text\": \"は\", \"part\": \"f\"}]}]}\n"));
    // The other two rules by option; an option without --display is refused.
    const ToolRun perEvent = inspect({QStringLiteral("--display"), QStringLiteral("--per-event"), path});
    EXPECT_TRUE(perEvent.out.contains("\"text\": \"がわ]/\"")) << perEvent.out.toStdString();
    EXPECT_EQ(inspect({QStringLiteral("--join"), path}).exitCode, 2);
}

// A western .kar in UTF-8 reads right by itself; --encoding reads it as the user would choose.
TEST_F(InspectTest, EncodingIsChosenAndPrinted)
{
    const QString words = QStringLiteral("ó pé dos meus cabezales");
    const QByteArray song = smf(0, 480, {TrackBuilder().meta(0, 0x01, "@KMIDI KARAOKE FILE").meta(0, 0x01, "@LGALI")
                                             .meta(0, 0x01, words.toUtf8()).endOfTrack()});
    const QString path = write(song);
    const struct {
        QStringList options;
        const char *encoding;
        QString text;
    } cases[] = {
        {{}, "utf8", words},
        {{QStringLiteral("--encoding"), QStringLiteral("auto")}, "utf8", words},
        {{QStringLiteral("--encoding=cp932")}, "cp932", QStringLiteral("ﾃｳ pﾃｩ dos meus cabezales")},
        {{QStringLiteral("--encoding"), QStringLiteral("cp1252")}, "cp1252", QStringLiteral("Ã³ pÃ© dos meus cabezales")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.encoding);
        for (const QString &mode : {QString(), QStringLiteral("--display")}) {
            QStringList arguments = c.options;
            if (!mode.isEmpty())
                arguments << mode;
            const ToolRun run = inspect(arguments << QStringLiteral("--") << path);
            EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
            EXPECT_TRUE(run.out.contains("\"encoding\": \"" + QByteArray(c.encoding) + '"')) << run.out.toStdString();
            EXPECT_TRUE(run.out.contains("\"text\": \"" + c.text.toUtf8() + '"')) << run.out.toStdString();
        }
    }
}

TEST_F(InspectTest, RefusalIsAnAnswer)
{
    const ToolRun run = inspect({write(header(2, 1, 480))});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(run.out), QStringLiteral("{\"ok\": false, \"error\": \"フォーマット2は対応していません。\"}\n"));
}

TEST_F(InspectTest, UnusableArgumentsAndFilesExitWithTwo)
{
    const QString song = write(header(0, 0, 480));
    const QString engine = QStringLiteral("--engine");
    for (const QStringList &arguments : {QStringList{}, QStringList{QStringLiteral("--bogus"), song},
                                         QStringList{song, song},
                                         QStringList{m_dir.filePath(QStringLiteral("missing.mid"))},
                                         QStringList{engine}, QStringList{engine, QStringLiteral("--trim"), song},
                                         QStringList{QStringLiteral("--encoding=latin1"), song},
                                         QStringList{song, QStringLiteral("--encoding")},
                                         QStringList{engine, QStringLiteral("--encoding"), QStringLiteral("utf8"), song},
                                         QStringList{engine, m_dir.filePath(QStringLiteral("missing.mid"))}}) {
        const ToolRun run = inspect(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_FALSE(run.err.isEmpty());
    }
}

// The playback engine's view of a file: ticks and times by the merged tempo map, worked out by
// hand from the tempo changes.
TEST_F(InspectTest, EngineModePrintsTheEngineSongInformation)
{
    // 500 000 µs per quarter up to tick 960 (1000 ms), then 250 000 (1440 ticks more: 750 ms).
    // Notes in the second track; the loop point (controller 111) at 480; the last note ends with
    // a velocity-0 note-on at 1920.
    const QString path = write(smf(1, 480, {
        TrackBuilder().tempo(0, 500000).tempo(960, 250000).endOfTrack(),
        TrackBuilder().event(480, {0x90, 60, 100}).event(0, {0xB0, 111, 0}).event(960, {0x80, 60, 0})
            .event(240, {0x90, 64, 90}).event(240, {0x90, 64, 0}).endOfTrack(480),
    }));
    const ToolRun run = inspect({QStringLiteral("--engine"), path});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(run.out),
              QStringLiteral("{\"timebase\": 480, \"total_tick\": 2400, \"total_time\": 1750, \"first_note_tick\": 480, "
                             "\"first_note_time\": 500, \"last_note_tick\": 1920, \"last_note_time\": 1500, "
                             "\"loop_tick\": 480, \"loop_time\": 500}\n"));

    // No notes and no loop point: notes at 0, loop -1; the default tempo (120 bpm) applies.
    const ToolRun empty = inspect({QStringLiteral("--engine"), write(smf(0, 96, {TrackBuilder().endOfTrack(192)}))});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(QString::fromUtf8(empty.out),
              QStringLiteral("{\"timebase\": 96, \"total_tick\": 192, \"total_time\": 1000, \"first_note_tick\": 0, "
                             "\"first_note_time\": 0, \"last_note_tick\": 0, \"last_note_time\": 0, "
                             "\"loop_tick\": -1, \"loop_time\": -1}\n"));
}

TEST_F(InspectTest, EngineModeAnswersRefusalsWithTheErrorName)
{
    const struct {
        QByteArray data;
        const char *error;
    } cases[] = {
        {QByteArray("plain text, not a song"), "BRSERROR_NOSMF"},
        {smf(2, 480, {TrackBuilder().endOfTrack()}), "BRSERROR_UNMATCHED_SMF"},
        {header(1, 1, 0xE728) + TrackBuilder().endOfTrack().chunk(), "BRSERROR_UNMATCHED_SMF"},
        {header(0, 1, 0) + TrackBuilder().endOfTrack().chunk(), "BRSERROR_BADSMF"}, // division 0
        {QByteArray(), "BRSERROR_BADFILESIZE"},
    };
    for (const auto &c : cases) {
        const ToolRun run = inspect({QStringLiteral("--engine"), write(c.data)});
        EXPECT_EQ(run.exitCode, 0) << c.error;
        EXPECT_EQ(run.out.toStdString(), std::string("{\"ok\": false, \"error\": \"") + c.error + "\"}\n");
    }
}

#ifdef TONELARK_RENDER
namespace {
QByteArray oneNote()
{
    return header(0, 1, 480) + chunk("MTrk", TrackBuilder()
                                                 .event(0, {0x90, 60, 100})
                                                 .event(480, {0x80, 60, 0})
                                                 .endOfTrack()
                                                 .bytes());
}
} // namespace

// As the player: a FIFO, a device or a folder is refused at once (a FIFO blocked the tools for
// ever, /dev/zero filled the memory), and so is a FIFO named as the SoundFont.
TEST_F(InspectTest, ToolsRefuseWhatIsNoRegularFile)
{
    const QString fifo = m_dir.filePath(QStringLiteral("fifo.mid"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString song = write(oneNote());
    const QString wav = m_dir.filePath(QStringLiteral("out.wav"));
    const QString render = QStringLiteral(TONELARK_RENDER);
    const struct {
        QString program;
        QStringList arguments;
    } runs[] = {
        {QStringLiteral(TONELARK_INSPECT), {QStringLiteral("/dev/zero")}},
        {QStringLiteral(TONELARK_INSPECT), {QStringLiteral("--engine"), fifo}},
        {QStringLiteral(TONELARK_INSPECT), {m_dir.path()}},
        {render, {QStringLiteral("/dev/zero"), wav}},
        {render, {fifo, wav}},
        {render, {QStringLiteral("--soundfont"), fifo, song, wav}},
        {render, {QStringLiteral("--soundfont"), QStringLiteral("/dev/zero"), song, wav}},
    };
    for (const auto &r : runs) {
        QProcess process;
        process.start(r.program, r.arguments);
        ASSERT_TRUE(process.waitForFinished(30000)) << r.arguments.join(' ').toStdString();
        EXPECT_NE(process.exitCode(), 0) << r.arguments.join(' ').toStdString();
        EXPECT_FALSE(process.readAllStandardError().isEmpty());
    }
}

// The event list on a full disk: the write fails at the close, and the render says so
// instead of leaving an empty file behind with exit code 0.
TEST_F(InspectTest, RenderEventsOnAFullDiskFail)
{
    TONELARK_IN_PRIVATE_MOUNTS();
    tonelark::test::SmallFileSystem disk(64 * 1024);
    ASSERT_TRUE(disk.mounted());
    ASSERT_TRUE(disk.fill());
    const QString song = write(oneNote());
    const QString events = disk.filePath(QStringLiteral("events.tsv"));
    QProcess process;
    process.start(QStringLiteral(TONELARK_RENDER),
                  {QStringLiteral("--seconds"), QStringLiteral("0.5"), QStringLiteral("--events"), events, song,
                   m_dir.filePath(QStringLiteral("out.wav"))});
    ASSERT_TRUE(process.waitForFinished(60000));
    if (process.exitCode() != 0 && process.readAllStandardError().contains("SoundFont"))
        GTEST_SKIP() << "needs a General MIDI SoundFont";
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_FALSE(QFile::exists(events)) << "no empty event list is left";
}
#endif
