#include "LyricsViewExport.h"
#include "WindowTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace tonelark;
using namespace tonelark::test;

namespace {

TSmfMetaEventString sampleLyrics()
{
    TSmfMetaEventString lyrics;
    const struct {
        const char *text;
        qint32 second;
        bool hide;
    } rows[] = {{"さくら", 5, false}, {"やよいの空は", 5, true}, {"Ⅻ①", 65, false}, {"", 6000, false}};
    for (const auto &row : rows) {
        auto info = std::make_unique<TSmfLyricInfo>();
        info->Second = row.second;
        info->Millisecond = row.second * 1000LL;
        info->HideLyricTime = row.hide;
        lyrics.AddObject(QString::fromUtf8(row.text), std::move(info));
    }
    return lyrics;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

TEST(LyricsExport, LinesOfBothFormatsAndHeadings)
{
    const TSmfMetaEventString lyrics = sampleLyrics();
    LyricsHeading none;
    none.include = false;
    EXPECT_EQ(lyricsSaveLines(lyrics, LyricsSaveFormat::LyricsOnly, none),
              QStringList({QStringLiteral("さくら"), QStringLiteral("やよいの空は"),
                           QStringLiteral("Ⅻ①"), QString()}));
    // Every line gets its time, the hidden one too.
    EXPECT_EQ(lyricsSaveLines(lyrics, LyricsSaveFormat::TimesAndLyrics, none),
              QStringList({QStringLiteral("00:05 さくら"), QStringLiteral("00:05 やよいの空は"),
                           QStringLiteral("01:05 Ⅻ①"), QStringLiteral("100:00 ")}));

    LyricsHeading heading;
    heading.copyright = QStringLiteral(" 作者 ");
    heading.title = QStringLiteral("曲名");
    heading.separator = QStringLiteral("/");
    EXPECT_EQ(lyricsSaveLines(lyrics, LyricsSaveFormat::LyricsOnly, heading).mid(0, 3),
              QStringList({QStringLiteral("曲名 /  作者 "), QString(), QStringLiteral("さくら")}));
    heading.titleFirst = false;
    EXPECT_EQ(lyricsSaveLines(lyrics, LyricsSaveFormat::LyricsOnly, heading).first(),
              QStringLiteral(" 作者  / 曲名"));
    LyricsHeading empty;
    empty.separator = QStringLiteral("-");
    EXPECT_EQ(lyricsSaveLines(TSmfMetaEventString(), LyricsSaveFormat::TimesAndLyrics, empty),
              QStringList({QStringLiteral(" - "), QString()}));
}

TEST(LyricsExport, BytesAreCp932WithCrLfAndNoBom)
{
    const QByteArray bytes = lyricsFileBytes(
        {QStringLiteral("あ"), QString(), QStringLiteral("A①"), QStringLiteral("x\U0001F600y")});
    // あ 82 A0, ① 87 40 (NEC row 13); the emoji has no CP932 code and becomes '?'.
    EXPECT_EQ(bytes, QByteArray("\x82\xA0\r\n\r\nA\x87\x40\r\nx?y\r\n"));
    EXPECT_TRUE(lyricsFileBytes({}).isEmpty());
}

TEST(LyricsExport, CopyTextInRowOrderWithCrLfAfterEachLine)
{
    const TSmfMetaEventString lyrics = sampleLyrics();
    EXPECT_EQ(lyricsCopyText(lyrics, {2, 0}), QStringLiteral("さくら\r\nⅫ①\r\n"));
    // The clipboard keeps characters the code page lacks.
    EXPECT_EQ(lyricsCopyText(lyrics, {3}), QStringLiteral("\r\n"));
    EXPECT_EQ(lyricsCopyText(lyrics, {}), QString());
    EXPECT_EQ(lyricsCopyText(lyrics, {1, 1, 99, -1}), QStringLiteral("やよいの空は\r\n"));
}

// Limits the size of files this process writes; a write past it fails with EFBIG instead of
// raising SIGXFSZ. Restored when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_savedHandler);
    }

private:
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
};

TEST(LyricsExport, ReplacingKeepsTheOldFileWhenTheWriteFails)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("歌詞 file.txt"));
    ASSERT_TRUE(writeFile(path, "old contents that are longer"));
    EXPECT_EQ(replaceFileContents(path, "new"), std::nullopt);
    EXPECT_EQ(readAll(path), QByteArray("new"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("歌詞 file.txt")}));

    // A folder that is really a file.
    const std::optional<QString> error = replaceFileContents(path + QStringLiteral("/x.txt"), "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QStringLiteral("x.txt")));

    // A write that fails half-way, as on a full disk: the old file and nothing else remains.
    // A file-size limit makes writes fail even for root.
    {
        FileSizeLimit limit(8);
        EXPECT_TRUE(replaceFileContents(path, QByteArray(65536, 'x')).has_value());
    }
    EXPECT_EQ(readAll(path), QByteArray("new"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({QStringLiteral("歌詞 file.txt")}));

    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    EXPECT_TRUE(replaceFileContents(path, "lost").has_value());
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(readAll(path), QByteArray("new"));
}

TEST(LyricsExport, SaveCommandClearsTheModalFlagOnEveryPath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char *name;
        QString answer;
        bool written;
        int errors;
        bool songReplacedDuringDialog = false;
    } cases[] = {
        {"cancel", QString(), false, 0},
        {"written", dir.filePath(QStringLiteral("a-Lyrics.txt")), true, 0},
        {"failed", dir.filePath(QStringLiteral("a-Lyrics.txt/no.txt")), false, 1},
        // A song handed over while the dialog was open: its lines were never chosen.
        {"replaced", dir.filePath(QStringLiteral("b-Lyrics.txt")), false, 0, true},
    };
    for (const Case &c : cases) {
        FakeUi ui;
        ModalLoopState modal;
        bool duringDialog = false;
        bool linesBuilt = false;
        ui.nextSaveFileName = c.answer;
        ui.duringSaveDialog = [&] {
            duringDialog = modal.inModalLoop();
            if (c.songReplacedDuringDialog)
                modal.beginSongReplacement();
        };
        const bool written = saveLyricsFile(ui, modal, QStringLiteral("a-Lyrics.txt"), true, [&] {
            linesBuilt = true;
            return QStringList{QStringLiteral("あ")};
        });
        EXPECT_EQ(written, c.written) << c.name;
        EXPECT_TRUE(duringDialog) << c.name;
        EXPECT_FALSE(modal.inModalLoop()) << c.name;
        EXPECT_EQ(ui.errors.size(), c.errors) << c.name;
        // A cancelled dialog builds and writes nothing.
        EXPECT_EQ(linesBuilt, !c.answer.isEmpty() && !c.songReplacedDuringDialog) << c.name;
        ASSERT_EQ(ui.saveRequests.size(), 1);
        EXPECT_EQ(ui.saveRequests.first().fileName, QStringLiteral("a-Lyrics.txt"));
        EXPECT_EQ(ui.saveRequests.first().defaultSuffix, QStringLiteral("txt"));
        ASSERT_EQ(ui.saveRequests.first().filters.size(), 1);
        EXPECT_TRUE(ui.saveRequests.first().filters.first().startsWith(QStringLiteral("テキストファイル (*.txt)")));
        EXPECT_TRUE(ui.saveRequests.first().filters.first().endsWith(QStringLiteral("(*.txt)")));
        EXPECT_TRUE(ui.saveRequests.first().classicDialog);
    }
    EXPECT_EQ(readAll(dir.filePath(QStringLiteral("a-Lyrics.txt"))), QByteArray("\x82\xA0\r\n"));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("b-Lyrics.txt"))));
}
