#include "SongQueue.h"

#include "FileNames.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace tonelark;

namespace {

QStringList paths(std::initializer_list<const char *> names)
{
    QStringList list;
    for (const char *name : names)
        list << QStringLiteral("/songs/") + QLatin1String(name);
    return list;
}

// Every file exists but those named in `gone`.
SongQueue::Exists existsBut(QSet<QString> gone = {})
{
    return [gone](const QString &path) { return !gone.contains(path); };
}

SongQueue queueOf(std::initializer_list<const char *> names, int current)
{
    SongQueue queue;
    queue.append(paths(names));
    queue.setCurrent(current);
    return queue;
}

} // namespace

TEST(SongQueue, InsertRemoveAndMoveKeepTheCurrentSong)
{
    SongQueue queue = queueOf({"a", "b", "c"}, 1);
    EXPECT_EQ(queue.insertAfterCurrent(paths({"x", "y"})), 2);
    EXPECT_EQ(queue.entries()[2].path, QStringLiteral("/songs/x"));
    EXPECT_EQ(queue.current(), 1);
    queue.insert(0, paths({"first"}));
    EXPECT_EQ(queue.current(), 2);                 // still "b"
    queue.move(2, 5);                              // "b" to the end
    EXPECT_EQ(queue.current(), 5);
    EXPECT_EQ(queue.entries()[5].path, QStringLiteral("/songs/b"));
    queue.move(0, 4);                              // a row from before it to after: unchanged row
    EXPECT_EQ(queue.current(), 5);
    queue.move(5, 0);
    EXPECT_EQ(queue.current(), 0);
    queue.move(3, 0);                              // a row moved in front of it
    EXPECT_EQ(queue.current(), 1);
    EXPECT_EQ(queue.entries()[1].path, QStringLiteral("/songs/b"));
    queue.removeRows({0, 0, 3});
    EXPECT_EQ(queue.current(), 0);
    queue.remove(0);                               // the song playing leaves the queue
    EXPECT_EQ(queue.current(), -1);
    EXPECT_EQ(queue.count(), 3);
    queue.clear();
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(queue.insertAfterCurrent(paths({"z"})), 0);
}

TEST(SongQueue, NextAndPreviousFollowTheRepeatMode)
{
    struct Case {
        RepeatMode repeat;
        int current;
        bool userAsked;
        int direction;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {RepeatMode::None, 0, false, 1, 1},
        {RepeatMode::None, 2, false, 1, std::nullopt},   // end of the queue
        {RepeatMode::None, 0, true, -1, std::nullopt},
        {RepeatMode::All, 2, false, 1, 0},               // round again
        {RepeatMode::All, 0, true, -1, 2},
        {RepeatMode::One, 1, false, 1, 1},               // the song again at its end
        {RepeatMode::One, 1, true, 1, 2},                // the user's Next moves on
        {RepeatMode::One, 2, true, 1, std::nullopt},
        {RepeatMode::None, -1, true, 1, 0},              // nothing played yet: the first
        {RepeatMode::None, -1, true, -1, 2},
    };
    for (const Case &c : cases) {
        SongQueue queue = queueOf({"a", "b", "c"}, c.current);
        queue.setRepeatMode(c.repeat);
        const SongQueue::Step step =
            c.direction > 0 ? queue.next(c.userAsked, existsBut()) : queue.previous(c.userAsked, existsBut());
        EXPECT_EQ(step.row, c.expected) << int(c.repeat) << " from " << c.current;
        EXPECT_TRUE(step.skipped.isEmpty());
    }
}

TEST(SongQueue, MissingFilesAreSkippedAndMarked)
{
    SongQueue queue = queueOf({"a", "b", "c", "d"}, 0);
    const QSet<QString> gone{QStringLiteral("/songs/b"), QStringLiteral("/songs/c")};
    SongQueue::Step step = queue.next(false, existsBut(gone));
    EXPECT_EQ(step.row, 3);
    EXPECT_EQ(step.skipped, (QList<int>{1, 2}));
    EXPECT_TRUE(queue.entries()[1].missing && queue.entries()[2].missing);

    // All gone but the current one: round the queue once, then nowhere.
    queue.setCurrent(3);
    queue.setRepeatMode(RepeatMode::All);
    step = queue.next(false, existsBut(gone + QSet<QString>{QStringLiteral("/songs/a")}));
    EXPECT_EQ(step.row, std::nullopt);
    EXPECT_EQ(step.skipped.size(), 3);

    // A file that came back is played and no longer marked.
    step = queue.next(true, existsBut());
    EXPECT_EQ(step.row, 0);
    EXPECT_FALSE(queue.entries()[0].missing);
}

TEST(SongQueue, CanGoFollowsTheKnownState)
{
    SongQueue queue = queueOf({"a", "b"}, 0);
    EXPECT_TRUE(queue.canGoNext());
    EXPECT_FALSE(queue.canGoPrevious());
    queue.setMissing(1, true);
    EXPECT_FALSE(queue.canGoNext());
    queue.setRepeatMode(RepeatMode::All);
    queue.setMissing(1, false);
    EXPECT_TRUE(queue.canGoPrevious());
    EXPECT_FALSE(SongQueue().canGoNext());
}

TEST(SongQueue, ShufflePlaysEverySongOnceStartingFromTheCurrent)
{
    SongQueue queue;
    QStringList names;
    for (int i = 0; i < 20; ++i)
        names << QStringLiteral("/songs/%1.mid").arg(i);
    queue.append(names);
    queue.setCurrent(7);
    queue.setShuffle(true, 12345);
    EXPECT_EQ(queue.playOrder().first(), 7);
    QList<int> played{7};
    while (const std::optional<int> row = queue.next(false, existsBut()).row) {
        played << *row;
        queue.setCurrent(*row);
        ASSERT_LE(played.size(), 20);
    }
    EXPECT_EQ(QSet<int>(played.begin(), played.end()).size(), 20);
    EXPECT_NE(played, (QList<int>{7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    queue.setShuffle(false);
    EXPECT_EQ(queue.playOrder(), (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
}

TEST(SongQueue, SongEndByStopOrByLoopCount)
{
    struct Case {
        const char *what;
        SongEndInputs in;
        bool ended;
    };
    const Case cases[] = {
        {"stopped at the end", {true, 0, 1920, 1920, 0, false, 2}, true},
        {"stopped by the user (tick 0)", {true, 0, 0, 1920, 0, false, 2}, false},
        {"stopped, was not playing", {false, 0, 1920, 1920, 0, false, 2}, false},
        {"empty song", {true, 0, 0, 0, 0, false, 2}, false},
        {"paused", {true, 2, 1920, 1920, 5, true, 2}, false},
        {"loop point, one pass of two", {true, 1, 100, 1920, 1, true, 2}, false},
        {"loop point, two passes", {true, 1, 100, 1920, 2, true, 2}, true},
        {"loop point, forever", {true, 1, 100, 1920, 50, true, 0}, false},
        {"no loop point: first return", {true, 1, 10, 1920, 1, false, 2}, true},
        {"no loop point, still first pass", {true, 1, 1900, 1920, 0, false, 0}, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(songReachedEnd(c.in), c.ended) << c.what;
}

TEST(SongQueue, ContinuousPlayDefaultsOnForSeveralSongs)
{
    EXPECT_FALSE(continuousPlayOn(-1, 1, RepeatMode::None));
    EXPECT_TRUE(continuousPlayOn(-1, 2, RepeatMode::None));
    EXPECT_TRUE(continuousPlayOn(-1, 1, RepeatMode::One));
    EXPECT_FALSE(continuousPlayOn(0, 5, RepeatMode::All));
    EXPECT_TRUE(continuousPlayOn(1, 1, RepeatMode::None));
}

TEST(SongQueue, FolderSongsInFileManagerOrder)
{
    QStringList names{QStringLiteral("song10.mid"), QStringLiteral("Song2.MID"), QStringLiteral("song1.kar"),
                      QStringLiteral("b.mml"), QStringLiteral("a01.midi")};
    sortNamesNaturally(names);
    EXPECT_EQ(names, (QStringList{QStringLiteral("a01.midi"), QStringLiteral("b.mml"), QStringLiteral("song1.kar"),
                                  QStringLiteral("Song2.MID"), QStringLiteral("song10.mid")}));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path();
    const QByteArray cp932Name = "\x89\xcc" "10.mid"; // 歌10.mid in CP932 bytes
    for (const QByteArray &name : {QByteArray("2.mid"), QByteArray("10.mid"), QByteArray("notes.txt"),
                                   QByteArray("sub/1.mid"), cp932Name}) {
        QDir().mkpath(QFileInfo(root + u'/' + QString::fromLatin1(name)).path());
        const int fd = ::open((QFile::encodeName(root) + '/' + name).constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    QDir().mkpath(root + QStringLiteral("/sub.mid")); // a folder named like a song
    const QStringList flat = songsInFolder(root, false);
    ASSERT_EQ(flat.size(), 3);
    EXPECT_EQ(flat[0], root + QStringLiteral("/2.mid"));
    EXPECT_EQ(flat[1], root + QStringLiteral("/10.mid"));
    EXPECT_EQ(encodeFileName(flat[2]), QFile::encodeName(root) + '/' + cp932Name);
    EXPECT_TRUE(isRegularFile(flat[2]));
    const QStringList deep = songsInFolder(root, true);
    ASSERT_EQ(deep.size(), 4);
    EXPECT_EQ(deep.last(), root + QStringLiteral("/sub/1.mid"));
    ::unlink((QFile::encodeName(root) + '/' + cp932Name).constData()); // Qt cannot name it
}
