#include "SmfBuilder.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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
                             "\"tempo\": [[0, 400000], [960, 250000]]}\n"));
}

TEST_F(InspectTest, LyricOptionsTrimAndDrop)
{
    const QString path = write(smf(0, 480, {TrackBuilder().lyric(0, QStringLiteral("\r\n　x ")).endOfTrack()}));
    const ToolRun run = inspect({QStringLiteral("--trim"), QStringLiteral("--no-empty"), path});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("\"lyrics\": [{\"text\": \"x\", \"tick\": 0, \"ms\": 0, \"second\": 0, \"hide\": false}]"))
        << run.out.toStdString();
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
    for (const QStringList &arguments : {QStringList{}, QStringList{QStringLiteral("--bogus"), song},
                                         QStringList{song, song},
                                         QStringList{m_dir.filePath(QStringLiteral("missing.mid"))}}) {
        const ToolRun run = inspect(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_FALSE(run.err.isEmpty());
    }
}
