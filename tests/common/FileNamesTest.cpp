#include "CstmUtils.h"
#include "FileNames.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace tonelark;

// Any byte string names itself again; UTF-8 names read as Qt reads them.
TEST(FileNames, BytesRoundTripAndOnlyTheDisplayShowsReplacement)
{
    const QByteArray cases[] = {
        "plain.mid",
        QStringLiteral("/曲/さくら 1.mid").toUtf8(),
        unicodeToAnsi(u"/古い/さくら.mid"),              // CP932 bytes
        QByteArray("\xED\xB2\x80 \xF0\x9F\x98\x80 \xFF"), // encoded surrogate, emoji, stray byte
        QByteArray("\xE3\x81"),                           // cut short
    };
    for (const QByteArray &bytes : cases) {
        const QString name = decodeFileName(bytes);
        EXPECT_EQ(encodeFileName(name), bytes) << bytes.toHex().constData();
        if (isValidUtf8(bytes)) {
            EXPECT_EQ(name, QString::fromUtf8(bytes));
        }
        // What is shown is proper text: no lone surrogate is left in it.
        EXPECT_TRUE(displayFileName(name).isValidUtf16());
    }
    EXPECT_EQ(displayFileName(decodeFileName("a\x82\xA0.mid")), QStringLiteral("a\uFFFD\uFFFD.mid"));
    // A real character made of a surrogate pair is not taken for escaped bytes.
    EXPECT_EQ(displayFileName(u"😀"), QStringLiteral("😀"));
}

TEST(FileNames, FileUrisBecomeLocalPaths)
{
    struct Case {
        const char *argument;
        QString path;
    } cases[] = {
        {"file:///home/u/a%20b.mid", "/home/u/a b.mid"},
        {"file://localhost/tmp/x.kar", "/tmp/x.kar"},
        {"FILE:/tmp/y.mid", "/tmp/y.mid"},
        {"file:///tmp/%E6%9B%B2.mid?x#frag", "/tmp/曲.mid"},
        {"file:///tmp/%82%A0.mid", decodeFileName("/tmp/\x82\xA0.mid")},
        {"file:///tmp/100%.mid", "/tmp/100%.mid"},
        {"file://server/share/z.mid", "file://server/share/z.mid"}, // another host: left alone
        {"song.mid", "song.mid"},
        {"/abs/file:name.mid", "/abs/file:name.mid"},
        // A NUL would end the name the system sees: "nul" would be opened instead.
        {"file:///tmp/nul%00evil.mid", "file:///tmp/nul%00evil.mid"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(pathFromArgument(QString::fromUtf8(c.argument)), c.path) << c.argument;
    EXPECT_FALSE(pathExists(QStringLiteral("/tmp") + QChar(0) + QStringLiteral("evil")));
}

// A panel's "open again" hands back the URI the player published: the same bytes come back,
// and a UTF-8 name is written as QUrl writes it.
TEST(FileNames, FileUrisOfPathsRoundTrip)
{
    const QString paths[] = {
        QStringLiteral("/tmp/春 の歌.mid"),
        decodeFileName("/tmp/\x82\xA0\x8C\xC3.mid"),
        QStringLiteral("/tmp/100% [x] #1?.mid"),
        QStringLiteral("/tmp/a;b=c&d'e(f)+g,h!i$j@k:l~m.mid"),
    };
    for (const QString &path : paths) {
        const QString uri = fileUriFromLocalPath(path);
        EXPECT_EQ(encodeFileName(localPathFromFileUri(uri)), encodeFileName(path)) << uri.toStdString();
        if (isValidUtf8(encodeFileName(path))) {
            EXPECT_EQ(uri, QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
        }
    }
    EXPECT_EQ(fileUriFromLocalPath(decodeFileName("/tmp/\x82\xA0.mid")), QStringLiteral("file:///tmp/%82%A0.mid"));
}

// The dialog hands back Qt's decoding of a CP932 name; the real entry is found again, also
// in a CP932-named folder, and an ambiguous or missing name is left as it was.
TEST(FileNames, DialogPathsAreMatchedToTheRealEntries)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray base = QFile::encodeName(dir.path());
    const QByteArray folder = base + '/' + unicodeToAnsi(u"古い");
    const QByteArray file = folder + '/' + unicodeToAnsi(u"歌.mid");
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const int fd = ::open(file.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    // Two names that Qt shows alike ("\uFFFD\uFFFD.kar").
    for (const char *twin : {"/\x82\xA0.kar", "/\x82\xA2.kar"})
        ::close(::open((base + twin).constData(), O_CREAT | O_WRONLY, 0644));

    EXPECT_EQ(resolveDialogPath(QFile::decodeName(file)), decodeFileName(file));
    EXPECT_TRUE(pathExists(resolveDialogPath(QFile::decodeName(file))));
    const QString ambiguous = QFile::decodeName(base + "/\x82\xA0.kar");
    EXPECT_EQ(resolveDialogPath(ambiguous), ambiguous);
    EXPECT_EQ(resolveDialogPath(dir.filePath(QStringLiteral("none.mid"))), dir.filePath(QStringLiteral("none.mid")));
    EXPECT_TRUE(isFolder(decodeFileName(folder)));

    ::unlink(file.constData());
    ::rmdir(folder.constData());
    for (const char *twin : {"/\x82\xA0.kar", "/\x82\xA2.kar"})
        ::unlink((base + twin).constData());
}
