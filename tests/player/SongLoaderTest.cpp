#include "FakeEngine.h"
#include "FileNames.h"
#include "SafeFile.h"
#include "SongLoader.h"
#include "Transport.h"
#include "WindowTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tonelark;
using namespace tonelark::test;

namespace {

// Stands in for the main window: keeps what the loader shows and logs the order of the
// calls that matter for the engine and the monitor.
class FakeView : public SongLoaderView {
public:
    FakeView(FakeEngine &engine, Transport &transport) : m_engine(engine), m_transport(transport) {}

    QStringList log;
    bool monitorEnabled = false;
    ModalLoopState modal;
    bool modalDuringCompile = false;
    TBrsPlayerState lastPolledState = BRSSTATE_STOP;
    QString caption = QStringLiteral("Tonelark");
    QString applicationTitle = QStringLiteral("Tonelark");
    QString saveFileName;
    std::map<InfoPage, bool> tabVisible{{InfoPage::Info, true}, {InfoPage::Comments, false},
                                        {InfoPage::Lyrics, false}, {InfoPage::CompileMsg, false},
                                        {InfoPage::About, false}};
    InfoPage activePage = InfoPage::Info;
    QStringList compileMessages;
    QStringList comments;
    QStringList metaComments;
    QString copyright, title, lyricsText;
    int lyricCount = 0;
    bool transportButtonsEnabled = true;
    int gaugeMax = 100;

    void setMonitorEnabled(bool enabled) override
    {
        monitorEnabled = enabled;
        log << (enabled ? QStringLiteral("timer on") : QStringLiteral("timer off"));
    }
    void runMonitorStep() override
    {
        lastPolledState = m_engine.status().State;
        m_engine.info();
        log << QStringLiteral("monitor step");
    }
    void clearSongDisplay() override
    {
        transportButtonsEnabled = false;
        gaugeMax = 0;
        compileMessages.clear();
        comments.clear();
        metaComments.clear();
        copyright.clear();
        title.clear();
        lyricsText.clear();
        log << QStringLiteral("clear");
    }
    void setCaption(const QString &text) override { caption = text; }
    void setApplicationTitle(const QString &text) override { applicationTitle = text; }
    void setSaveFileName(const QString &name) override { saveFileName = name; }
    void setTabVisible(InfoPage page, bool visible) override { tabVisible[page] = visible; }
    void setActivePage(InfoPage page) override { activePage = page; }
    std::optional<InfoPage> failurePage; // the page a failure brought to the front
    void showFailure(InfoPage page) override
    {
        failurePage = page;
        activePage = page;
    }
    ModalLoopState &modalLoop() override { return modal; }
    void appendCompileMessage(const QString &line) override { compileMessages << line; }
    void setCommentsText(const QStringList &lines) override { comments = lines; }
    void appendComments(const QStringList &lines) override { comments << lines; }
    void appendMetaComments(const QStringList &lines) override { metaComments << lines; }
    void setMetaCommentsText(const QStringList &lines) override { metaComments = lines; }
    void setSongTexts(const QString &c, const QString &t, const QString &l) override
    {
        copyright = c;
        title = t;
        lyricsText = l;
    }
    void setLyricCount(int count) override { lyricCount = count; }
    void invokePlay() override
    {
        log << QStringLiteral("play command");
        m_transport.play({lastPolledState, 0, nullptr});
    }
    void resetLyricsList() override { log << QStringLiteral("reset lyrics list"); }
    void resetCarets() override { log << QStringLiteral("reset carets"); }

private:
    FakeEngine &m_engine;
    Transport &m_transport;
};

// Creates a socket file at `path`: it exists, but not even root can open it for reading.
int makeSocketFile(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), std::min(size_t(name.size()), sizeof address.sun_path - 1));
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QByteArray songWithTexts()
{
    return SmfBuilder(480)
        .copyright(QStringLiteral("作者A"))
        .copyright(QStringLiteral("second copyright"))
        .title(QStringLiteral("曲名B"))
        .text(QStringLiteral("コメント1"))
        .text(QStringLiteral("comment 2"))
        .tempo(0, 500000)
        .lyric(0, QStringLiteral("さくら"))
        .note(0, 60, 480)
        .lyric(0, QStringLiteral("やよいの"))
        .note(0, 62, 480)
        .bytes();
}

QByteArray songWithoutTexts()
{
    return SmfBuilder(96).tempo(0, 600000).note(0, 60, 96).bytes();
}

class SongLoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_settings.Lyric.AutoLyricTab = true;
        m_engine.nextInfo = {480, 1920, 2000, 0, 0, 960, 1000, -1, -1};
        m_loader.setCompiledMidiPath(path(QStringLiteral("Compile.mid")));
        m_loader.setCompiler([this](const QByteArray &mml, const QByteArray &midiPath, char *errMsg) {
            m_compiledSource = mml;
            m_view.modalDuringCompile = m_view.modal.inModalLoop();
            if (!m_compilerMessage.isEmpty())
                std::memcpy(errMsg, m_compilerMessage.constData(), size_t(m_compilerMessage.size()));
            if (!m_compilerOutput.isEmpty())
                writeFile(QFile::decodeName(midiPath), m_compilerOutput);
            return m_compilerResult;
        });
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString songFile(const QString &name, const QByteArray &bytes)
    {
        const QString file = path(name);
        EXPECT_TRUE(writeFile(file, bytes));
        return file;
    }

    QTemporaryDir m_dir;
    FakeEngine m_engine;
    FakeUi m_ui;
    Settings m_settings;
    bool m_muteMode = false;
    int m_infoFontPitch = 1;
    QString m_appTitle = QStringLiteral("Tonelark");
    Transport m_transport{m_engine, m_settings, m_muteMode};
    FakeView m_view{m_engine, m_transport};
    SongLoader m_loader{m_engine, m_view, m_ui, m_settings, m_infoFontPitch, m_appTitle};

    TMmlCompileResult m_compilerResult = mcrSuccess;
    QByteArray m_compilerMessage;
    QByteArray m_compilerOutput;
    QByteArray m_compiledSource;
};

// Success: the song is registered and playing, everything the window shows is set.
TEST_F(SongLoaderTest, SuccessRegistersPlaysAndFillsTheWindow)
{
    const QByteArray smf = songWithTexts();
    const QString file = songFile(QStringLiteral("花 song.mid"), smf);

    EXPECT_EQ(m_loader.load(file), LoadOutcome::Success);

    EXPECT_EQ(m_engine.calls, (QStringList{"stop()", "clearList()", "status()", "info()",
                                           QStringLiteral("addListFromMemory(%1)").arg(smf.size()),
                                           "info()", "play(35,0)"}));
    EXPECT_EQ(m_engine.registered, smf);
    EXPECT_EQ(m_loader.song().MemoryStream, smf);
    EXPECT_EQ(m_view.log, (QStringList{"timer off", "monitor step", "clear", "play command", "timer on",
                                       "reset lyrics list", "reset carets"}));
    EXPECT_TRUE(m_view.monitorEnabled);
    EXPECT_EQ(m_view.caption, QStringLiteral("花 song.mid - Tonelark"));
    EXPECT_EQ(m_view.applicationTitle, m_view.caption);
    EXPECT_EQ(m_view.saveFileName, QStringLiteral("花 song-Lyrics.txt"));
    EXPECT_EQ(m_view.copyright, QStringLiteral("作者A"));
    EXPECT_EQ(m_view.title, QStringLiteral("曲名B"));
    EXPECT_EQ(m_view.lyricsText, QStringLiteral("さくら\r\nやよいの\r\n"));
    EXPECT_EQ(m_view.metaComments, (QStringList{"コメント1", "comment 2"}));
    EXPECT_EQ(m_view.comments.value(0), QStringLiteral("[Song Info]"));
    EXPECT_EQ(m_view.comments.value(1), QStringLiteral("    TimeBase:      480 ticks"));
    EXPECT_EQ(m_view.lyricCount, 2);
    EXPECT_EQ(m_loader.song().SmfLyrics.Count(), 2);
    ASSERT_NE(m_loader.song().SmfLyrics.Objects(1), nullptr);
    EXPECT_EQ(m_loader.song().SmfLyrics.Objects(1)->Millisecond, 500);
    ASSERT_NE(m_loader.song().CurrentTempoList, nullptr);
    EXPECT_EQ(m_loader.song().BrsSmfInfo.TotalTick, 1920);
    EXPECT_FALSE(m_view.tabVisible[InfoPage::CompileMsg]);
    EXPECT_TRUE(m_view.tabVisible[InfoPage::Comments]);
    EXPECT_TRUE(m_view.tabVisible[InfoPage::Lyrics]);
    EXPECT_EQ(m_view.activePage, InfoPage::Lyrics);
    EXPECT_TRUE(m_view.compileMessages.isEmpty());
    EXPECT_TRUE(m_ui.errors.isEmpty());
}

TEST_F(SongLoaderTest, SongWithoutLyricsOrCommentsHidesThoseTabs)
{
    m_view.tabVisible[InfoPage::Lyrics] = true;
    m_view.tabVisible[InfoPage::Comments] = true;
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("plain.mid"), songWithoutTexts())), LoadOutcome::Success);
    EXPECT_FALSE(m_view.tabVisible[InfoPage::Lyrics]);
    EXPECT_FALSE(m_view.tabVisible[InfoPage::Comments]);
    EXPECT_EQ(m_view.activePage, InfoPage::Info);
    EXPECT_EQ(m_view.copyright, QString());
    EXPECT_EQ(m_view.lyricsText, QString());
    EXPECT_FALSE(m_view.log.contains(QStringLiteral("reset lyrics list")));
}

TEST_F(SongLoaderTest, AutoLyricTabOffLeavesTheActivePage)
{
    m_settings.Lyric.AutoLyricTab = false;
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("a.mid"), songWithTexts())), LoadOutcome::Success);
    EXPECT_TRUE(m_view.tabVisible[InfoPage::Lyrics]);
    EXPECT_EQ(m_view.activePage, InfoPage::Info);
}

TEST_F(SongLoaderTest, LyricOptionsReachTheParser)
{
    m_settings.Lyric.TrimAnySpace = true;
    m_settings.Lyric.NoEmptyLines = true;
    const QByteArray smf = SmfBuilder().lyric(0, QStringLiteral("  a  \r\n\r\nb")).note(0, 60, 10).bytes();
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("o.mid"), smf)), LoadOutcome::Success);
    EXPECT_EQ(m_view.lyricsText, QStringLiteral("a\r\nb\r\n"));
}

TEST_F(SongLoaderTest, LoadingTheSameFileTwiceRestartsIt)
{
    const QString file = songFile(QStringLiteral("again.mid"), songWithTexts());
    ASSERT_EQ(m_loader.load(file), LoadOutcome::Success);
    m_engine.calls.clear();
    m_engine.setStatus(BRSSTATE_PLAY, 900, 1000);
    ASSERT_EQ(m_loader.load(file), LoadOutcome::Success);
    EXPECT_EQ(m_engine.calls.first(), QStringLiteral("stop()"));
    EXPECT_EQ(m_engine.calls.last(), QStringLiteral("play(35,0)"));
}

// Any extension other than ".mml", in any case, is read as MIDI; ".mml" in any case compiles.
TEST_F(SongLoaderTest, KindOfFileFollowsTheExtensionInAnyCase)
{
    const QByteArray smf = songWithoutTexts();
    m_compilerOutput = smf;
    struct Case {
        const char *name;
        bool compiled;
    } cases[] = {{"a.mid", false}, {"b.midi", false}, {"c.MIDI", false}, {"d.txt", false},
                 {"noext", false},  {"e.mml", true},   {"f.MML", true},   {"g.MmL", true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_compiledSource.clear();
        const QString file = songFile(QString::fromUtf8(c.name), c.compiled ? QByteArray("cde") : smf);
        QThread::msleep(2); // a new last-write time for Compile.mid each round
        EXPECT_EQ(m_loader.load(file), LoadOutcome::Success);
        EXPECT_EQ(!m_compiledSource.isEmpty(), c.compiled);
        EXPECT_EQ(m_view.tabVisible[InfoPage::CompileMsg], c.compiled);
    }
}

TEST_F(SongLoaderTest, MissingFileShowsTheMessageAndLeavesEverything)
{
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("first.mid"), songWithTexts())), LoadOutcome::Success);
    m_engine.calls.clear();
    m_view.log.clear();
    const QString caption = m_view.caption;

    const QString missing = path(QStringLiteral("nothing here.mid"));
    EXPECT_EQ(m_loader.load(missing), LoadOutcome::MissingFile);
    EXPECT_EQ(m_ui.errors, QStringList{QStringLiteral("\"%1\"\r\n\r\nが見つかりません。").arg(missing)});
    EXPECT_TRUE(m_engine.calls.isEmpty());
    EXPECT_TRUE(m_view.log.isEmpty());
    EXPECT_EQ(m_view.caption, caption);
    EXPECT_EQ(m_view.title, QStringLiteral("曲名B"));

    // A folder is no song file either.
    EXPECT_EQ(m_loader.load(m_dir.path()), LoadOutcome::MissingFile);
    EXPECT_TRUE(m_engine.calls.isEmpty());
}

// A parse error: engine stopped and empty; previous lyric data, tempo map and application
// title stay; the memo holds the parser's heading and message.
TEST_F(SongLoaderTest, ParseErrorKeepsPreviousSongDataAndShowsTheParserMessage)
{
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("good.mid"), songWithTexts())), LoadOutcome::Success);
    const TSmfEventTempoList *tempo = m_loader.song().CurrentTempoList.get();
    m_engine.calls.clear();
    m_view.log.clear();

    EXPECT_EQ(m_loader.load(songFile(QStringLiteral("bad.mid"), QByteArray("RIFF....garbage"))),
              LoadOutcome::ParseError);
    EXPECT_EQ(m_engine.calls, (QStringList{"stop()", "clearList()", "status()", "info()"}));
    EXPECT_EQ(m_view.log, (QStringList{"timer off", "monitor step", "clear"}));
    EXPECT_FALSE(m_view.monitorEnabled);
    EXPECT_FALSE(m_view.transportButtonsEnabled);
    EXPECT_EQ(m_view.gaugeMax, 0);
    EXPECT_EQ(m_view.caption, QStringLiteral("bad.mid - Tonelark"));
    EXPECT_EQ(m_view.saveFileName, QStringLiteral("bad-Lyrics.txt"));
    EXPECT_EQ(m_view.applicationTitle, QStringLiteral("good.mid - Tonelark"));
    EXPECT_EQ(m_view.comments, (QStringList{"[SMFパーサー]", "これはMIDIデータではありません。"}));
    EXPECT_EQ(m_view.title, QString());
    // No stale lines: the list is emptied and its tab hidden; the message page is in front.
    EXPECT_EQ(m_view.lyricCount, 0);
    EXPECT_EQ(m_loader.song().SmfLyrics.Count(), 0);
    EXPECT_FALSE(m_view.tabVisible[InfoPage::Lyrics]);
    EXPECT_EQ(m_view.failurePage, InfoPage::Info);
    EXPECT_EQ(m_loader.song().CurrentTempoList.get(), tempo);
    EXPECT_TRUE(m_view.tabVisible[InfoPage::Comments]);
    EXPECT_FALSE(m_view.tabVisible[InfoPage::CompileMsg]);
}

// A song the parser accepts but the engine refuses: the refusal and the engine's error name
// in the info memo, in front; no play, no monitor, nothing of the refused song shown.
TEST_F(SongLoaderTest, EngineRefusalIsShownAndNothingPlays)
{
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("good.mid"), songWithTexts())), LoadOutcome::Success);
    m_engine.calls.clear();
    m_view.log.clear();
    m_engine.addListResult = BRSERROR_BADSMF;
    const QByteArray smf = songWithTexts();
    EXPECT_EQ(m_loader.load(songFile(QStringLiteral("refused.mid"), smf)), LoadOutcome::EngineError);
    EXPECT_EQ(m_engine.calls, (QStringList{"stop()", "clearList()", "status()", "info()",
                                           QStringLiteral("addListFromMemory(%1)").arg(smf.size())}));
    EXPECT_EQ(m_view.comments,
              (QStringList{"[演奏エンジン]", "演奏エンジンがこの曲を受け付けませんでした (BRSERROR_BADSMF)。"}));
    EXPECT_EQ(m_view.failurePage, InfoPage::Info);
    // Without the engine library every song fails alike: the message says it is no fault of the song.
    m_engine.addListResult = BRSERROR_API_NULL;
    EXPECT_EQ(m_loader.load(songFile(QStringLiteral("any.mid"), smf)), LoadOutcome::EngineError);
    ASSERT_EQ(m_view.comments.size(), 2);
    EXPECT_TRUE(m_view.comments[1].startsWith(QStringLiteral("演奏エンジンのライブラリを読み込めなかった")));
    EXPECT_FALSE(m_view.monitorEnabled);
    EXPECT_FALSE(m_view.transportButtonsEnabled);
    EXPECT_FALSE(m_view.log.contains(QStringLiteral("play command")));
    EXPECT_EQ(m_view.title, QString());
    EXPECT_EQ(m_view.lyricCount, 0);
    EXPECT_FALSE(m_view.tabVisible[InfoPage::Lyrics]);
    EXPECT_EQ(engineErrorName(99), QStringLiteral("BRSERROR 99"));
}

TEST_F(SongLoaderTest, ParseErrorOfCompiledMmlShowsAnEmptyInactiveCompilerPage)
{
    m_compilerOutput = QByteArray("not a midi file");
    EXPECT_EQ(m_loader.load(songFile(QStringLiteral("x.mml"), "cde")), LoadOutcome::ParseError);
    EXPECT_TRUE(m_view.tabVisible[InfoPage::CompileMsg]);
    EXPECT_TRUE(m_view.compileMessages.isEmpty());
    EXPECT_EQ(m_view.activePage, InfoPage::Info);
    EXPECT_EQ(m_view.comments.value(0), QStringLiteral("[SMFパーサー]"));
}

// Compiler errors 1-4: the line on the compiler page, which becomes active; the engine
// stays stopped with no song; nothing of the previous song's lyric data changes.
TEST_F(SongLoaderTest, CompilerErrorsShowTheirLineOnTheActiveCompilerPage)
{
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("good.mid"), songWithTexts())), LoadOutcome::Success);
    const QString mml = songFile(QStringLiteral("tune.mml"), "cde");
    const QByteArray cp932Message = unicodeToAnsi(QStringLiteral("3行目: 音符がありません"));
    struct Case {
        TMmlCompileResult result;
        QByteArray message;
        QString expected;
    } cases[] = {
        {mcrDllNotLoaded, {}, QStringLiteral("libdSakura.so を読み込めないため、MMLをコンパイルできません。")},
        {mcrEntryNotFound, {}, QStringLiteral("対応していない libdSakura.so です。MMLをコンパイルできません。")},
        {mcrCompileError, cp932Message, QStringLiteral("3行目: 音符がありません")},
        // Success reported, but no Compile.mid written.
        {mcrSuccess, QByteArray("ok."),
         QStringLiteral("ok.MMLのコンパイルエラーはありませんが、MIDIファイルが生成または更新されていないので続行できません。")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.result));
        m_engine.calls.clear();
        m_view.activePage = InfoPage::Info;
        m_compilerResult = c.result;
        m_compilerMessage = c.message;
        EXPECT_EQ(m_loader.load(mml), LoadOutcome::CompileError);
        EXPECT_EQ(m_view.compileMessages, QStringList{c.expected});
        EXPECT_EQ(m_view.activePage, InfoPage::CompileMsg);
        EXPECT_TRUE(m_view.tabVisible[InfoPage::CompileMsg]);
        EXPECT_EQ(m_engine.calls, (QStringList{"stop()", "clearList()", "status()", "info()"}));
        EXPECT_FALSE(m_view.monitorEnabled);
        EXPECT_EQ(m_view.caption, QStringLiteral("tune.mml - Tonelark"));
        EXPECT_EQ(m_view.applicationTitle, QStringLiteral("good.mid - Tonelark"));
        EXPECT_EQ(m_view.lyricCount, 0);
        EXPECT_FALSE(m_view.tabVisible[InfoPage::Lyrics]);
        EXPECT_EQ(m_view.failurePage, InfoPage::CompileMsg);
        EXPECT_FALSE(m_view.modal.inModalLoop());
        EXPECT_TRUE(m_view.modalDuringCompile);
    }
}

// A Compile.mid left from an earlier compile is never played when the compiler claims
// success without writing it again.
TEST_F(SongLoaderTest, StaleCompiledFileIsNotPlayed)
{
    const QString mml = songFile(QStringLiteral("tune.mml"), "cde");
    m_compilerOutput = songWithoutTexts();
    ASSERT_EQ(m_loader.load(mml), LoadOutcome::Success);

    m_compilerOutput.clear(); // the compiler now writes nothing
    m_engine.calls.clear();
    EXPECT_EQ(m_loader.load(mml), LoadOutcome::CompileError);
    EXPECT_FALSE(m_engine.calls.join(' ').contains(QStringLiteral("addListFromMemory")));
    EXPECT_TRUE(m_view.compileMessages.value(0).endsWith(QStringLiteral("続行できません。")));
}

TEST_F(SongLoaderTest, CompiledSongPlaysCompileMidUnderTheMmlName)
{
    const QByteArray smf = songWithTexts();
    m_compilerOutput = smf;
    m_compilerMessage = QByteArray("\r\n  compiled 12 notes \t\r\n");
    // UTF-8 with mark, mixed line breaks, no break at the end.
    const QString mml = songFile(QStringLiteral("さくら.mml"), QByteArray("\xEF\xBB\xBF") +
                                                                QStringLiteral("t120\r\nドレミ\rcde\nfg").toUtf8());

    ASSERT_EQ(m_loader.load(mml), LoadOutcome::Success);
    EXPECT_EQ(m_compiledSource, unicodeToAnsi(QStringLiteral("t120\r\nドレミ\r\ncde\r\nfg\r\n")));
    EXPECT_EQ(m_engine.registered, smf);
    EXPECT_EQ(m_view.caption, QStringLiteral("さくら.mml - Tonelark"));
    EXPECT_EQ(m_view.saveFileName, QStringLiteral("さくら-Lyrics.txt"));
    EXPECT_EQ(m_view.compileMessages, QStringList{QStringLiteral("compiled 12 notes")});
    EXPECT_TRUE(m_view.tabVisible[InfoPage::CompileMsg]);
    EXPECT_EQ(m_view.activePage, InfoPage::Lyrics);
}

// A file that exists but cannot be read gets a message box naming it; the window stays
// as the stop-and-empty step left it.
TEST_F(SongLoaderTest, NoRegularFileIsRefusedBeforeAnythingStops)
{
    // A FIFO would block the open for ever and a device would never end; a socket cannot be
    // read at all. Each gets the box, and the current song goes on playing.
    const QString fifo = path(QStringLiteral("fifo.mid"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString socketPath = path(QStringLiteral("song.mid"));
    const int socketFd = makeSocketFile(socketPath);
    ASSERT_GE(socketFd, 0);
    const QString mmlSocket = path(QStringLiteral("song.mml"));
    const int mmlFd = makeSocketFile(mmlSocket);
    ASSERT_GE(mmlFd, 0);
    for (const QString &name : {fifo, QStringLiteral("/dev/zero"), socketPath, mmlSocket}) {
        m_ui.errors.clear();
        m_engine.calls.clear();
        m_view.log.clear();
        EXPECT_EQ(m_loader.load(name), LoadOutcome::ReadError) << name.toStdString();
        ASSERT_EQ(m_ui.errors.size(), 1) << name.toStdString();
        EXPECT_TRUE(m_ui.errors[0].startsWith(QStringLiteral("\"%1\"\r\n\r\nを読み込めません。\r\n").arg(name)));
        EXPECT_TRUE(m_engine.calls.isEmpty()) << name.toStdString();
        EXPECT_TRUE(m_view.log.isEmpty()) << name.toStdString();
    }
    EXPECT_TRUE(m_compiledSource.isEmpty());
    ::close(socketFd);
    ::close(mmlFd);
}

// A file too large for a song is refused by its size before anything is read or stopped (a
// 2 GB file froze the window for seconds and took 2 GB); one that is no song, by its header,
// with the parser's words and without the rest of it read. The files are sparse: no disk used.
TEST_F(SongLoaderTest, OversizedFilesAreRefusedBeforeTheyAreRead)
{
    const auto sparse = [&](const QString &name, const QByteArray &start, qint64 size) {
        const QString file = songFile(name, start);
        EXPECT_EQ(::truncate(QFile::encodeName(file).constData(), size), 0);
        return file;
    };
    const QByteArray header("MThd\0\0\0\6\0\0\0\1\1\xE0", 14);
    const struct {
        QString file;
        qint64 limit;
    } tooLarge[] = {
        {sparse(QStringLiteral("huge.mid"), header, 2147483647), kMaxSongFileBytes},
        {sparse(QStringLiteral("limit+1.mid"), header, kMaxSongFileBytes + 1), kMaxSongFileBytes},
        {sparse(QStringLiteral("long.mml"), "c", kMaxMmlSourceBytes + 1), kMaxMmlSourceBytes},
    };
    for (const auto &item : tooLarge) {
        m_ui.errors.clear();
        m_engine.calls.clear();
        m_view.log.clear();
        EXPECT_EQ(m_loader.load(item.file), LoadOutcome::ReadError);
        ASSERT_EQ(m_ui.errors.size(), 1);
        EXPECT_TRUE(m_ui.errors[0].endsWith(QStringLiteral("バイト)。読み込めるのは %1 MB (%2 バイト) までです。")
                                                .arg(item.limit / (1024 * 1024))
                                                .arg(item.limit)))
            << m_ui.errors[0].toStdString();
        EXPECT_TRUE(m_engine.calls.isEmpty());
        EXPECT_TRUE(m_view.log.isEmpty());
    }
    EXPECT_TRUE(m_compiledSource.isEmpty());

    m_ui.errors.clear();
    const QString notMidi = sparse(QStringLiteral("zeros.mid"), "RIFF", 60 * 1024 * 1024);
    EXPECT_EQ(m_loader.load(notMidi), LoadOutcome::ParseError);
    EXPECT_TRUE(m_ui.errors.isEmpty());
    EXPECT_EQ(m_view.comments, (QStringList{QStringLiteral("[SMFパーサー]"), QStringLiteral("これはMIDIデータではありません。")}));
    EXPECT_TRUE(m_loader.song().MemoryStream.isEmpty());
}

// A karaoke file: its words become the lyric lines, its "@T" lines fill the boxes, its
// headers stay comments. The same bytes named .mid carry no marker and stay plain texts.
TEST_F(SongLoaderTest, KarFileShowsItsWordsAsLyricLines)
{
    const QByteArray kar = SmfBuilder()
                               .title(QStringLiteral("Words"))
                               .text(QStringLiteral("@LENGL"))
                               .text(QStringLiteral("@TMy Song"))
                               .text(QStringLiteral("@TSinger"))
                               .meta(0, 0x01, "\\Hel")
                               .meta(240, 0x01, "lo")
                               .meta(240, 0x01, "/world")
                               .note(0, 60, 10)
                               .bytes();
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("song.kar"), kar)), LoadOutcome::Success);
    EXPECT_EQ(m_view.title, QStringLiteral("My Song"));
    EXPECT_EQ(m_view.copyright, QStringLiteral("Singer"));
    EXPECT_EQ(m_view.lyricsText, QStringLiteral("Hello\r\nworld\r\n"));
    EXPECT_EQ(m_view.metaComments, (QStringList{"@LENGL", "@TMy Song", "@TSinger"}));
    EXPECT_TRUE(m_view.tabVisible[InfoPage::Lyrics]);
    EXPECT_EQ(m_loader.song().SmfLyrics.Objects(1)->Tick, 480);

    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("song.mid"), kar)), LoadOutcome::Success);
    EXPECT_EQ(m_view.title, QStringLiteral("Words"));
    EXPECT_EQ(m_view.lyricCount, 0);
    EXPECT_EQ(m_view.metaComments.size(), 6);
}

// An XF song: its XFKM syllables become the rows (readings not shown in the row text), the
// XFln names fill the boxes and the information block; the setting "歌詞の行" switches the
// rule at the next load.
TEST_F(SongLoaderTest, XfSongShowsItsSungLinesByTheLineSetting)
{
    const auto events = [](const SmfBuilder &builder) { return builder.bytes().mid(22); };
    const auto xfChunk = [](const char *type, const QByteArray &body) {
        QByteArray bytes(type, 4);
        for (int i = 3; i >= 0; --i)
            bytes.append(char((body.size() >> (8 * i)) & 0xFF));
        return bytes + body;
    };
    const QByteArray song =
        SmfBuilder().meta(0, 0x7F, QByteArray("\x43\x7B\x00XF02", 7)).note(0, 60, 480).bytes() +
        xfChunk("XFIH", events(SmfBuilder().meta(0, 0x01, "XFln:JP:" + unicodeToAnsi(u"春の小川:作曲:作詞:::")))) +
        xfChunk("XFKM", events(SmfBuilder().meta(0, 0x07, "$Lyrc:1:0:JP").lyric(0, QStringLiteral("春[は"))
                                   .lyric(240, QStringLiteral("る]の/")).lyric(240, QStringLiteral("小川[おがわ]"))));
    const QString file = songFile(QStringLiteral("haru.mid"), song);
    ASSERT_EQ(m_loader.load(file), LoadOutcome::Success);
    EXPECT_EQ(m_view.lyricsText, QStringLiteral("春の\r\n小川\r\n"));
    EXPECT_EQ(m_view.lyricCount, 2);
    EXPECT_EQ(m_loader.song().Sung.count(), 2);
    EXPECT_EQ(m_loader.song().SmfLyrics.Objects(1)->Tick, 480);
    EXPECT_EQ(m_loader.song().SmfLyrics.Objects(1)->Millisecond, 500);
    EXPECT_EQ(m_view.title, QStringLiteral("春の小川"));
    EXPECT_EQ(m_view.copyright, QStringLiteral("作詞"));
    EXPECT_TRUE(m_view.comments.contains(QStringLiteral("[XF Info]")));
    EXPECT_TRUE(m_view.comments.contains(QStringLiteral(" Melody: ch 1")));
    EXPECT_TRUE(m_view.metaComments.isEmpty());

    m_settings.Lyric.LineMode = 2;
    ASSERT_EQ(m_loader.load(file), LoadOutcome::Success);
    EXPECT_EQ(m_view.lyricCount, 3);
    EXPECT_EQ(m_loader.song().SmfLyrics.Strings(0), QStringLiteral("春[は"));

    // A failed load leaves no sung lines behind the emptied list.
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("bad.mid"), "MThd")), LoadOutcome::ParseError);
    EXPECT_TRUE(m_loader.song().Sung.isEmpty());
}

// A name in CP932 bytes (no UTF-8) given on the command line opens; only the caption and
// the proposed lyrics file name show U+FFFD for the bytes.
TEST_F(SongLoaderTest, FileNamedInCp932BytesOpensFromEveryWayIn)
{
    const QByteArray nameBytes = QFile::encodeName(m_dir.path()) + '/' + unicodeToAnsi(u"さくら.mid");
    const int fd = ::open(nameBytes.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const QByteArray smf = songWithTexts();
    ASSERT_EQ(::write(fd, smf.constData(), size_t(smf.size())), smf.size());
    ::close(fd);

    const char *argv[] = {"tonelark", nameBytes.constData()};
    const QString fromArgument = commandLineArguments(2, argv).value(0);
    EXPECT_EQ(m_loader.load(fromArgument), LoadOutcome::Success);
    EXPECT_EQ(m_engine.registered, smf);
    EXPECT_EQ(m_view.caption, QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD.mid - Tonelark"));
    EXPECT_EQ(m_view.saveFileName, QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD-Lyrics.txt"));
    // Qt's own decoding names another file, which does not exist.
    EXPECT_EQ(m_loader.load(QFile::decodeName(nameBytes)), LoadOutcome::MissingFile);
    // Nor could QTemporaryDir remove it.
    ::unlink(nameBytes.constData());
}

TEST_F(SongLoaderTest, RefusedSongReleasesItsBytes)
{
    // A large file that is no SMF: after the refusal nothing of it stays in memory.
    const QString junk = path(QStringLiteral("junk.mid"));
    ASSERT_TRUE(writeFile(junk, QByteArray(8 * 1024 * 1024, 'j')));
    EXPECT_EQ(m_loader.load(junk), LoadOutcome::ParseError);
    EXPECT_EQ(m_loader.song().MemoryStream.capacity(), 0);
}

TEST(SongInfoLines, BothLayoutsAndTheUnknownFace)
{
    const TBrs4SmfInformation info{480, 123456789, 3605000, 240, 250, 96000, 75250, -1, -1};
    EXPECT_EQ(songInfoLines(info, 1),
              (QStringList{"    TimeBase:      480 ticks",
                           "  Loop Start:       -1 ticks (00:00 - )",
                           "Total Length: 123456789 ticks ( - 60:05)",
                           "  First Note:      240 ticks (00:00 - )",
                           "   Last Note:    96000 ticks ( - 01:15)"}));
    EXPECT_EQ(songInfoLines(info, 2),
              (QStringList{" TimeBase: 480 ticks", " Loop / Total:",
                           "    -1 ticks (00:00) / 123456789 ticks (60:05)", " First / Last Note:",
                           "    240 ticks (00:00) / 96000 ticks (01:15)"}));
    EXPECT_TRUE(songInfoLines(info, 0).isEmpty());
}

TEST_F(SongLoaderTest, UnknownFaceGivesOnlyTheHeading)
{
    m_infoFontPitch = 0;
    ASSERT_EQ(m_loader.load(songFile(QStringLiteral("a.mid"), songWithoutTexts())), LoadOutcome::Success);
    EXPECT_EQ(m_view.comments, QStringList{QStringLiteral("[Song Info]")});
}

TEST(DecodeTextLines, MarksSelectTheEncodingAndEveryLineBreakEndsALine)
{
    const QString text = QStringLiteral("あa\r\nb\rc\nd");
    const QStringList lines{"あa", "b", "c", "d"};
    QByteArray utf16le("\xFF\xFE", 2), utf16be("\xFE\xFF", 2);
    for (QChar ch : text) {
        utf16le.append(char(ch.unicode() & 0xFF)).append(char(ch.unicode() >> 8));
        utf16be.append(char(ch.unicode() >> 8)).append(char(ch.unicode() & 0xFF));
    }
    EXPECT_EQ(decodeTextLines(QByteArray("\xEF\xBB\xBF") + text.toUtf8()), lines);
    EXPECT_EQ(decodeTextLines(utf16le), lines);
    EXPECT_EQ(decodeTextLines(utf16be), lines);
    EXPECT_EQ(decodeTextLines(unicodeToAnsi(text)), lines);
    // Without a mark: well-formed UTF-8 with non-ASCII is UTF-8 (what Linux editors write),
    // anything else CP932: "ﾂｱ" is C2 B1, UTF-8 for "±", but the lone "ｱ" (B1) is not.
    EXPECT_EQ(decodeTextLines(text.toUtf8()), lines);
    EXPECT_EQ(decodeTextLines(unicodeToAnsi(u"ﾂｱ\r\nｱ")), (QStringList{"ﾂｱ", "ｱ"}));
    EXPECT_EQ(decodeTextLines("cde"), QStringList{"cde"});
    EXPECT_EQ(decodeTextLines("a\r\n"), QStringList{"a"});
    EXPECT_EQ(decodeTextLines("a\n\nb"), (QStringList{"a", "", "b"}));
    EXPECT_TRUE(decodeTextLines("").isEmpty());
}

TEST(LyricsFileName, ExtensionIsReplaced)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/music/song.mid", "song-Lyrics.txt"},
        {"/music/a.b/tune.mml", "tune-Lyrics.txt"},
        {"/music/a.b/noext", "noext-Lyrics.txt"},
        {"relative/x.y.midi", "x.y-Lyrics.txt"},
    };
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(lyricsFileNameFor(QString::fromUtf8(input)), QString::fromUtf8(expected)) << input;
}

TEST(CompiledMidiPath, ProgramFolderOrCacheFolder)
{
    EXPECT_EQ(compiledMidiPath("/opt/tonelark", true, "/home/u/.cache/Tonelark"),
              QStringLiteral("/opt/tonelark/Compile.mid"));
    EXPECT_EQ(compiledMidiPath("/opt/tonelark", false, "/home/u/.cache/Tonelark"),
              QStringLiteral("/home/u/.cache/Tonelark/Compile.mid"));
    qputenv("XDG_CACHE_HOME", "/tmp/xdg-cache-test");
    EXPECT_EQ(userCacheFolder(), QStringLiteral("/tmp/xdg-cache-test/Tonelark"));
    qputenv("XDG_CACHE_HOME", "relative/ignored");
    EXPECT_EQ(userCacheFolder(), QDir::homePath() + QStringLiteral("/.cache/Tonelark"));
    qunsetenv("XDG_CACHE_HOME");
}

TEST(FileLastWriteTime, ChangesWithEachWriteAndFallsBackForMissingFiles)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("t.bin"));
    EXPECT_EQ(fileLastWriteTime(file, 42), 42);
    ASSERT_TRUE(writeFile(file, "a"));
    const qint64 first = fileLastWriteTime(file, 0);
    EXPECT_GT(first, 0);
    QThread::msleep(5);
    ASSERT_TRUE(writeFile(file, "a"));
    EXPECT_NE(fileLastWriteTime(file, 0), first);
}

TEST(QtNameFilters, PipeFilterBecomesQtFilters)
{
    EXPECT_EQ(qtNameFilters(QStringLiteral("スタンダードMIDIファイル (*.mid)|*.mid;*.midi|テキスト音楽「サクラ」ファイル (*.mml)|*.mml|"
                                           "すべての対応ファイル|*.mid;*.midi;*.mml")),
              (QStringList{"スタンダードMIDIファイル (*.mid) (*.mid *.midi)",
                           "テキスト音楽「サクラ」ファイル (*.mml)",
                           "すべての対応ファイル (*.mid *.midi *.mml)"}));
    EXPECT_EQ(qtNameFilters(QStringLiteral("テキストファイル (*.txt)|*.txt")),
              QStringList{"テキストファイル (*.txt)"});
    EXPECT_TRUE(qtNameFilters(QStringLiteral("dangling")).isEmpty());
}

} // namespace

// 文字コード while a song plays: the texts and rows are read again, the engine is not called
// (no stop, no play) and the list keeps its place; the choice is asked for at the next load.
TEST_F(SongLoaderTest, EncodingChoiceRereadsTheTextsWithoutTouchingTheEngine)
{
    const QString words = QStringLiteral("ó pé dos meus cabezales");
    const QByteArray smf = SmfBuilder(480)
                               .meta(0, 0x03, "Pe\xE9 d\xE9 bailar")
                               .meta(0, 0x01, QStringLiteral("nota ó").toUtf8())
                               .meta(0, 0x05, words.toUtf8())
                               .meta(480, 0x05, "fin")
                               .note(0, 60, 480)
                               .bytes();
    const QString file = songFile(QStringLiteral("cantiga.mid"), smf);
    QStringList asked;
    TextEncoding remembered = TextEncoding::Auto;
    m_loader.setEncodingLookup([&](const QString &name) {
        asked << name;
        return remembered;
    });
    EXPECT_FALSE(m_loader.reread(TextEncoding::Utf8)); // no song yet
    ASSERT_EQ(m_loader.load(file), LoadOutcome::Success);
    EXPECT_EQ(asked, QStringList{file});
    // The title is no UTF-8 (E9 20) and no CP932 (E9 20): the table reads it as Windows-1252.
    EXPECT_EQ(m_loader.song().UsedEncoding, TextEncoding::Cp1252);
    EXPECT_EQ(m_view.title, QStringLiteral("Peé dé bailar"));

    m_engine.calls.clear();
    m_view.log.clear();
    const TSmfLyricInfo *before = m_loader.song().SmfLyrics.Objects(1);
    const qint64 secondLineMs = before->Millisecond;
    struct Case {
        TextEncoding choice;
        QString title;
        QString firstRow;
        QString comment;
    } cases[] = {
        {TextEncoding::Utf8, QStringLiteral("Pe\uFFFD d\uFFFD bailar"), words, QStringLiteral("nota ó")},
        {TextEncoding::Cp932, ansiToUnicode("Pe\xE9 d\xE9 bailar"), QStringLiteral("ﾃｳ pﾃｩ dos meus cabezales"),
         QStringLiteral("nota ﾃｳ")},
        {TextEncoding::Cp1252, QStringLiteral("Peé dé bailar"), QStringLiteral("Ã³ pÃ© dos meus cabezales"),
         QStringLiteral("nota Ã³")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(textEncodingName(c.choice).toStdString());
        ASSERT_TRUE(m_loader.reread(c.choice));
        EXPECT_EQ(m_loader.song().Encoding, c.choice);
        EXPECT_EQ(m_view.title, c.title);
        EXPECT_EQ(m_loader.song().SmfLyrics.Strings(0), c.firstRow);
        EXPECT_EQ(m_view.lyricsText, c.firstRow + QStringLiteral("\r\nfin\r\n"));
        EXPECT_EQ(m_view.metaComments, QStringList{c.comment});
        EXPECT_EQ(m_view.comments.value(0), QStringLiteral("[Song Info]"));
        EXPECT_EQ(m_view.lyricCount, 2);
        EXPECT_EQ(m_loader.song().SmfLyrics.Objects(1)->Millisecond, secondLineMs);
    }
    EXPECT_TRUE(m_engine.calls.isEmpty()) << m_engine.calls.join(' ').toStdString();
    EXPECT_TRUE(m_view.log.isEmpty()) << m_view.log.join(' ').toStdString();
    EXPECT_EQ(m_loader.song().MemoryStream, smf);

    remembered = TextEncoding::Utf8;
    ASSERT_EQ(m_loader.load(file), LoadOutcome::Success);
    EXPECT_EQ(m_loader.song().Encoding, TextEncoding::Utf8);
    EXPECT_EQ(m_loader.song().SmfLyrics.Strings(0), words);
}
