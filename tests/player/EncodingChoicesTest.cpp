// The per-file encoding choice on a real state folder.
#include "EncodingChoices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tonelark;

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST(EncodingChoices, RemembersPerFileAcrossInstancesAndForgetsAuto)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.path()));
    const QString state = EncodingChoices::defaultStateFile();
    EXPECT_EQ(state, dir.filePath(QStringLiteral("Tonelark/encodings.ini")));
    qunsetenv("XDG_STATE_HOME");

    // Names with '=', '%', a space and a line break survive the file.
    const QString first = QStringLiteral("/música/a=b %41.kar");
    const QString second = QStringLiteral("/songs/two\nlines.mid");
    EncodingChoices choices(state);
    EXPECT_EQ(choices.choiceFor(first), TextEncoding::Auto);
    EXPECT_EQ(choices.remember(first, TextEncoding::Cp1252), std::nullopt); // creates the folder
    EXPECT_EQ(choices.remember(second, TextEncoding::Utf8), std::nullopt);

    EncodingChoices other(state);
    EXPECT_EQ(other.choiceFor(first), TextEncoding::Cp1252);
    EXPECT_EQ(other.choiceFor(second), TextEncoding::Utf8);
    EXPECT_EQ(other.choiceFor(QStringLiteral("/música/a=b")), TextEncoding::Auto);
    // A choice made by the other player counts here too, and neither undoes the other's.
    EXPECT_EQ(other.remember(first, TextEncoding::Auto), std::nullopt);
    EXPECT_EQ(choices.choiceFor(first), TextEncoding::Auto);
    EXPECT_EQ(choices.remember(QStringLiteral("/third.mid"), TextEncoding::Cp932), std::nullopt);
    EXPECT_EQ(other.choiceFor(second), TextEncoding::Utf8);
    EXPECT_EQ(contentOf(state), QByteArray("[Encodings]\n/songs/two%0Alines.mid=utf8\n/third.mid=cp932\n"));
}

TEST(EncodingChoices, UnreadableStateFileIsNotOverwritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString state = dir.filePath(QStringLiteral("encodings.ini"));
    const QByteArray kept("[Encodings]\n/a.mid=utf8\nsomething=else\n");
    {
        QFile file(state);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kept);
    }
    // Lines it does not understand are kept as they were.
    EncodingChoices choices(state);
    EXPECT_EQ(choices.choiceFor(QStringLiteral("/a.mid")), TextEncoding::Utf8);
    EXPECT_EQ(choices.remember(QStringLiteral("/b.mid"), TextEncoding::Cp932), std::nullopt);
    EXPECT_EQ(contentOf(state), QByteArray("[Encodings]\n/a.mid=utf8\n/b.mid=cp932\nsomething=else\n"));

    // Unreadable by permission (where the tests do not run as root), and a FIFO in its place.
    const std::optional<QString> reason = choices.remember(QStringLiteral("/c.mid"), TextEncoding::Utf8);
    if (::geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(state, QFileDevice::WriteOwner));
        const std::optional<QString> error = choices.remember(QStringLiteral("/d.mid"), TextEncoding::Utf8);
        ASSERT_TRUE(error.has_value());
        EXPECT_TRUE(error->contains(QStringLiteral("読めないため"))) << error->toStdString();
        ASSERT_TRUE(QFile::setPermissions(state, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        EXPECT_EQ(contentOf(state), QByteArray("[Encodings]\n/a.mid=utf8\n/b.mid=cp932\n/c.mid=utf8\nsomething=else\n"));
    }
    EXPECT_EQ(reason, std::nullopt);
    const QString fifo = dir.filePath(QStringLiteral("fifo.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EncodingChoices onFifo(fifo);
    EXPECT_EQ(onFifo.choiceFor(QStringLiteral("/a.mid")), TextEncoding::Auto);
    const std::optional<QString> error = onFifo.remember(QStringLiteral("/a.mid"), TextEncoding::Utf8);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QStringLiteral("読めないため"))) << error->toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
}
