#include "Playlist.h"
#include "QueueState.h"
#include "RecentFiles.h"

#include "FileNames.h"
#include "SafeFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace tonelark;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(QFile::decodeName(encodeFileName(path)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST(Playlist, ReadsPathsUrisTitlesAndWindowsSeparators)
{
    const QByteArray bytes = "\xEF\xBB\xBF#EXTM3U\r\n"
                             "#EXTINF:125,First Song\r\n"
                             "a.mid\r\n"
                             "\n"
                             "  /abs/b.kar  \n"
                             "file:///abs/%E6%AD%8C%20c.mml\n"
                             "file://localhost/abs/d.mid\n"
                             "http://example.org/e.mid\n"
                             "#EXTINF:-1,\x89\xcc\n"        // a CP932 title
                             "sub\\f.mid\n"
                             "../g.mid\n"
                             "\x89\xcc.mid\n";              // a CP932 file name
    const QList<QueueEntry> entries = parsePlaylist(bytes, QStringLiteral("/lists"));
    ASSERT_EQ(entries.size(), 7);
    EXPECT_EQ(entries[0], (QueueEntry{QStringLiteral("/lists/a.mid"), QStringLiteral("First Song"), 125000, false}));
    EXPECT_EQ(entries[1].path, QStringLiteral("/abs/b.kar"));
    EXPECT_EQ(entries[1].title, QString());
    EXPECT_EQ(entries[2].path, QStringLiteral("/abs/歌 c.mml"));
    EXPECT_EQ(entries[3].path, QStringLiteral("/abs/d.mid"));
    EXPECT_EQ(entries[4].path, QStringLiteral("/lists/sub/f.mid"));
    EXPECT_EQ(entries[4].title, QStringLiteral("歌"));
    EXPECT_EQ(entries[5].path, QStringLiteral("/g.mid"));
    EXPECT_EQ(encodeFileName(entries[6].path), QByteArray("/lists/\x89\xcc.mid"));
}

TEST(Playlist, WriteAndReadBackKeepEveryName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path();
    const QString cp932 = decodeFileName(QFile::encodeName(folder) + "/\x89\xcc.mid");
    const QList<QueueEntry> entries{
        {folder + QStringLiteral("/inside/a song.mid"), QStringLiteral("題名"), 61000, false},
        {QStringLiteral("/elsewhere/b.kar"), {}, -1, false},
        {cp932, {}, 5000, false},
    };
    for (const char *name : {"list.m3u8", "list.M3U"}) {
        const QString path = folder + u'/' + QLatin1String(name);
        ASSERT_EQ(savePlaylistFile(path, entries), std::nullopt);
        const QByteArray bytes = fileBytes(path);
        EXPECT_TRUE(bytes.startsWith("#EXTM3U\n#EXTINF:61,題名\ninside/a song.mid\n/elsewhere/b.kar\n"))
            << bytes.constData();
        EXPECT_TRUE(bytes.endsWith("#EXTINF:5,\n\x89\xcc.mid\n"));
        const PlaylistRead read = readPlaylistFile(path);
        EXPECT_EQ(read.error, std::nullopt);
        EXPECT_EQ(read.entries, entries);
        EXPECT_TRUE(isPlaylistFileName(path));
    }
    EXPECT_TRUE(readPlaylistFile(folder + QStringLiteral("/none.m3u")).error.has_value());
}

TEST(QueueState, RoundTripAndDamagedFilesAreKept)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const StoredQueue queue{{{QStringLiteral("/a.mid"), QStringLiteral("A"), 1000, false},
                             {QStringLiteral("/b.mid"), {}, -1, false}},
                            1};
    const QString path = dir.path() + QStringLiteral("/state/Tonelark/queue.m3u8");

    StateFile fresh(path);
    EXPECT_EQ(fresh.read(), std::nullopt);
    EXPECT_EQ(fresh.status(), StateFile::Status::Missing);
    ASSERT_EQ(fresh.write(queueStateBytes(queue)), std::nullopt); // the folders are made
    StateFile again(path);
    const std::optional<QByteArray> bytes = again.read();
    ASSERT_TRUE(bytes.has_value());
    const std::optional<StoredQueue> back = parseQueueState(*bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->entries, queue.entries);
    EXPECT_EQ(back->current, 1);

    // Damaged: kept byte for byte, the write refused with the note.
    for (const QByteArray &damaged : {QByteArray("garbage\n/a.mid\n"), QByteArray("#EXTM3U\nrelative.mid\n"),
                                      QByteArray("#EXTM3U\n#TONELARK-CURRENT:x\n"), QByteArray("#EXTM3U\n\0", 9)}) {
        ASSERT_EQ(saveFileAtomically(path, damaged), std::nullopt);
        StateFile file(path);
        const std::optional<QByteArray> read = file.read();
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(parseQueueState(*read), std::nullopt) << damaged.constData();
        file.markDamaged();
        EXPECT_FALSE(file.problem().isEmpty());
        EXPECT_TRUE(file.write(queueStateBytes(queue)).has_value());
        EXPECT_EQ(fileBytes(path), damaged);
    }

    // Unreadable (a folder where the file should be): not written over either.
    const QString blocked = dir.path() + QStringLiteral("/blocked.m3u8");
    ASSERT_TRUE(QDir().mkpath(blocked));
    StateFile unreadable(blocked);
    EXPECT_EQ(unreadable.read(), std::nullopt);
    EXPECT_EQ(unreadable.status(), StateFile::Status::Unreadable);
    EXPECT_TRUE(unreadable.write("#EXTM3U\n").has_value());
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

TEST(QueueState, StateFolderFollowsXdg)
{
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", "/tmp/st");
    EXPECT_EQ(userStateFolder(), QStringLiteral("/tmp/st/Tonelark"));
    qputenv("XDG_STATE_HOME", "relative");
    EXPECT_EQ(userStateFolder(), QDir::homePath() + QStringLiteral("/.local/state/Tonelark"));
    qputenv("XDG_STATE_HOME", saved);
}

TEST(RecentFiles, NewestFirstOnceEachAtMostTen)
{
    RecentFiles recent;
    for (int i = 0; i < 12; ++i)
        recent.add(QStringLiteral("/s/%1.mid").arg(i));
    recent.add(QStringLiteral("/s/5.mid"));
    ASSERT_EQ(recent.paths().size(), 10);
    EXPECT_EQ(recent.paths()[0], QStringLiteral("/s/5.mid"));
    EXPECT_EQ(recent.paths()[1], QStringLiteral("/s/11.mid"));
    EXPECT_EQ(recent.paths().count(QStringLiteral("/s/5.mid")), 1);
    EXPECT_TRUE(recent.prune([](const QString &path) { return !path.endsWith(u"11.mid"); }));
    EXPECT_FALSE(recent.prune([](const QString &) { return true; }));
    const std::optional<RecentFiles> back = RecentFiles::fromBytes(recent.toBytes());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->paths(), recent.paths());
    EXPECT_EQ(RecentFiles::fromBytes("not a list"), std::nullopt);
}

TEST(RecentFiles, RecentlyUsedListKeepsOtherProgramsEntries)
{
    const QDateTime now(QDate(2026, 12, 9), QTime(10, 20, 30, 400), Qt::UTC);
    const QByteArray other =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xbel version=\"1.0\">\n"
        "  <bookmark href=\"file:///home/u/other.txt\" added=\"x\">\n    <info/>\n  </bookmark>\n</xbel>\n";
    const std::optional<QByteArray> first =
        recentlyUsedWith(other, decodeFileName("/m/\x89\xcc a.mid"), QStringLiteral("audio/midi"), now);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->startsWith(other.left(other.indexOf("</xbel>"))));
    EXPECT_TRUE(first->contains("<bookmark href=\"file:///m/%89%CC%20a.mid\" added=\"2026-12-09T10:20:30.400000Z\""));
    EXPECT_TRUE(first->contains("<mime:mime-type type=\"audio/midi\"/>"));
    EXPECT_TRUE(first->endsWith("</xbel>\n"));
    // Opened again: one entry for the file, the others untouched.
    const std::optional<QByteArray> second =
        recentlyUsedWith(*first, decodeFileName("/m/\x89\xcc a.mid"), QStringLiteral("audio/midi"), now.addSecs(60));
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->count("file:///m/%89%CC%20a.mid"), 1);
    EXPECT_TRUE(second->contains("10:21:30"));
    EXPECT_TRUE(second->contains("file:///home/u/other.txt"));
    // A new list where there was none; a damaged one is left alone.
    EXPECT_TRUE(recentlyUsedWith("", QStringLiteral("/a.mid"), QStringLiteral("audio/midi"), now)->contains("<xbel"));
    EXPECT_EQ(recentlyUsedWith("<html>", QStringLiteral("/a.mid"), QStringLiteral("audio/midi"), now), std::nullopt);
}
