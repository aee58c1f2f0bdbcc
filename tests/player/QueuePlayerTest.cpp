#include "QueuePlayer.h"

#include "Convex.h"
#include "FileNames.h"
#include "Playlist.h"
#include "WindowTestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tonelark;

namespace {

// The loader as the queue player sees it: every load recorded, a file that is there plays.
class RecordingHost final : public QueuePlayerHost {
public:
    QStringList loads;
    QStringList notes;
    int restarts = 0;
    LoadOutcome loadSong(const QString &path) override
    {
        loads << QFileInfo(path).fileName();
        return isRegularFile(path) ? LoadOutcome::Success : LoadOutcome::MissingFile;
    }
    void restartSong() override { ++restarts; }
    QString loadedSongTitle() const override { return QStringLiteral("題"); }
    qint32 loadedSongLengthMs() const override { return 1234; }
    void showQueueNote(const QString &text) override { notes << text; }
};

class QueuePlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        for (const char *name : {"a.mid", "b.mid", "c.mid", "d.mid"})
            ASSERT_TRUE(test::writeFile(path(name), "MThd"));
    }
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    QStringList names() const
    {
        QStringList list;
        for (const QueueEntry &entry : m_player.queue().entries())
            list << QFileInfo(entry.path).fileName();
        return list;
    }

    QTemporaryDir m_dir;
    RecordingHost m_host;
    QueuePlayer m_player{m_host, QString()};
};

} // namespace

TEST_F(QueuePlayerTest, SecondStartsPlayNowOrJoinTheEnd)
{
    m_player.open({path("a.mid"), path("b.mid")}, QueueJoin::PlayNow);
    EXPECT_EQ(m_host.loads, QStringList{"a.mid"});
    m_player.openHandedOver(path("c.mid"));                  // 今すぐ再生: after a, now
    EXPECT_EQ(names(), (QStringList{"a.mid", "c.mid", "b.mid"}));
    EXPECT_EQ(m_host.loads.last(), QStringLiteral("c.mid"));
    EXPECT_EQ(m_player.queue().entries()[1].title, QStringLiteral("題"));
    EXPECT_EQ(m_player.queue().entries()[1].lengthMs, 1234);

    QueueSettings settings = m_player.settings();
    settings.HandOverMode = 1;                                // 曲順に追加
    m_player.setSettings(settings);
    m_player.openHandedOver(path("d.mid"));
    EXPECT_EQ(names(), (QStringList{"a.mid", "c.mid", "b.mid", "d.mid"}));
    EXPECT_EQ(m_host.loads.size(), 2);
}

TEST_F(QueuePlayerTest, OneSecondStartsFilesJoinInTheirOrder)
{
    m_player.open({path("a.mid")}, QueueJoin::PlayNow);
    m_player.openHandedOver(path("b.mid"));
    for (const char *name : {"c.mid", "d.mid"})
        m_player.queueFollowingHandOver(path(name));
    EXPECT_EQ(names(), (QStringList{"a.mid", "b.mid", "c.mid", "d.mid"}));
    EXPECT_EQ(m_host.loads, (QStringList{"a.mid", "b.mid"}));
}

TEST_F(QueuePlayerTest, MissingFilesAndPlaylists)
{
    // One missing file: the loader's own message, the queue untouched.
    m_player.open({path("gone.mid")}, QueueJoin::PlayNow);
    EXPECT_EQ(m_host.loads, QStringList{"gone.mid"});
    EXPECT_TRUE(m_player.queue().isEmpty());

    // A playlist brings its songs; the missing one is greyed and noted, the first plays.
    ASSERT_EQ(savePlaylistFile(path("list.m3u"), {{path("b.mid"), {}, -1, false},
                                                  {path("gone.mid"), {}, -1, false},
                                                  {path("c.mid"), {}, -1, false}}),
              std::nullopt);
    m_player.open({path("list.m3u")}, QueueJoin::PlayNow);
    EXPECT_EQ(names(), (QStringList{"b.mid", "gone.mid", "c.mid"}));
    EXPECT_TRUE(m_player.queue().entries()[1].missing);
    EXPECT_EQ(m_host.loads.last(), QStringLiteral("b.mid"));
    ASSERT_EQ(m_host.notes.size(), 1);
    EXPECT_TRUE(m_host.notes[0].contains(QStringLiteral("gone.mid")));

    // Next passes the missing song with a note and no load of it.
    EXPECT_TRUE(m_player.next());
    EXPECT_EQ(m_host.loads.last(), QStringLiteral("c.mid"));
    EXPECT_EQ(m_host.loads.count(QStringLiteral("gone.mid")), 1);
    EXPECT_TRUE(m_host.notes.last().contains(QStringLiteral("飛ばしました")));
    // Previous after 3 s starts the song again; within them goes back.
    EXPECT_TRUE(m_player.previous(5000));
    EXPECT_EQ(m_host.restarts, 1);
    EXPECT_TRUE(m_player.previous(1000));
    EXPECT_EQ(m_host.loads.last(), QStringLiteral("b.mid"));
}

TEST(QueueSettings, StoredOnlyWhenChanged)
{
    Convex ini = Convex::fromBytes("[Tonelark]\nDisableLoop=0\n");
    QueueSettings settings = QueueSettings::load(ini);
    EXPECT_EQ(settings, QueueSettings());
    settings.store(ini);
    EXPECT_FALSE(ini.Modified());
    settings.LoopCount = 0;
    settings.Repeat = RepeatMode::All;
    settings.store(ini);
    EXPECT_EQ(ini.toBytes(), QByteArray("[Tonelark]\nDisableLoop=0\n\n[Queue]\nLoopCount=0\nRepeatMode=2\n\n"));
    EXPECT_EQ(QueueSettings::load(ini), settings);
}
