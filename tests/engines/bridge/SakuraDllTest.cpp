#include "SakuraDll.h"

#include "DynamicLibrary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>

using namespace tonelark;

namespace {

const QString kComplete = QStringLiteral(FAKE_SAKURA_COMPLETE);
const QString kNoSetErrMsgLen = QStringLiteral(FAKE_SAKURA_NO_SETERRMSGLEN);
const QString kNoMmlToMidi = QStringLiteral(FAKE_SAKURA_NO_MMLTOMIDI);
const QString kNoGetVerInfo = QStringLiteral(FAKE_SAKURA_NO_GETVERINFO);
const QString kSilentSuccess = QStringLiteral(FAKE_SAKURA_SILENT_SUCCESS);

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class SakuraDll : public ::testing::Test {
protected:
    QTemporaryDir m_dir;
    QString midiPath() const { return m_dir.filePath(QStringLiteral("Compile.mid")); }
};

} // namespace

TEST_F(SakuraDll, CompilesThroughTheRawEntryWithTheAnnouncedBuffer)
{
    std::array<char, kSakuraErrMsgLength> message{};
    const QByteArray path = QFile::encodeName(midiPath());
    EXPECT_EQ(SakuraMMLtoMIDI({kComplete}, "cde", path.constData(), message.data()), mcrSuccess);
    EXPECT_STREQ(message.data(), "len=1024 calls=1");
    EXPECT_EQ(readAll(midiPath()), QByteArray("MThdcde"));
}

TEST_F(SakuraDll, NoStateOutlivesACall)
{
    // The library is unloaded after each call, so its call counter starts afresh.
    for (int round = 0; round < 3; ++round) {
        const MmlCompileOutcome outcome = compileMml({kComplete}, "c", midiPath());
        EXPECT_EQ(outcome.result, mcrSuccess);
        EXPECT_EQ(outcome.message, QStringLiteral("len=1024 calls=1"));
    }
}

TEST_F(SakuraDll, CompileErrorCarriesTheCompilersMessage)
{
    const MmlCompileOutcome outcome = compileMml({kComplete}, "!oops", midiPath());
    EXPECT_EQ(outcome.result, mcrCompileError);
    EXPECT_EQ(outcome.message, QStringLiteral("1行目: 不明な命令"));
    EXPECT_FALSE(QFile::exists(midiPath()));
}

TEST_F(SakuraDll, LibraryWithoutSetErrMsgLenIsStillUsed)
{
    const MmlCompileOutcome outcome = compileMml({kNoSetErrMsgLen}, "efg", midiPath());
    EXPECT_EQ(outcome.result, mcrSuccess);
    EXPECT_EQ(outcome.message, QStringLiteral("len=unset calls=1"));
    EXPECT_EQ(readAll(midiPath()), QByteArray("MThdefg"));
}

TEST_F(SakuraDll, LibraryWithoutMmlToMidiReportsAMissingEntry)
{
    const MmlCompileOutcome outcome = compileMml({kNoMmlToMidi}, "c", midiPath());
    EXPECT_EQ(outcome.result, mcrEntryNotFound);
    EXPECT_TRUE(outcome.message.isEmpty());
    EXPECT_FALSE(QFile::exists(midiPath()));
}

TEST_F(SakuraDll, SuccessWithoutOutputIsReportedAsSuccess)
{
    // Telling this apart (mcrNoMidiOutput) is the loader's job: it checks the file.
    const MmlCompileOutcome outcome = compileMml({kSilentSuccess}, "c", midiPath());
    EXPECT_EQ(outcome.result, mcrSuccess);
    EXPECT_FALSE(QFile::exists(midiPath()));
}

TEST_F(SakuraDll, MissingLibraryReportsNotLoaded)
{
    const QStringList nowhere{m_dir.filePath(QStringLiteral("libdSakura.so"))};
    std::array<char, kSakuraErrMsgLength> message{};
    EXPECT_EQ(SakuraMMLtoMIDI(nowhere, "c", "x.mid", message.data()), mcrDllNotLoaded);
    EXPECT_EQ(message[0], '\0');
    EXPECT_EQ(SakuraGetVersion(nowhere), QStringLiteral("---"));
    // A file that is not a library at all is a load failure too.
    QFile junk(nowhere.first());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not an ELF file");
    junk.close();
    EXPECT_EQ(compileMml(nowhere, "c", midiPath()).result, mcrDllNotLoaded);
    EXPECT_EQ(SakuraGetVersion(nowhere), QStringLiteral("---"));
}

TEST_F(SakuraDll, LaterCandidatesAreTriedWhenEarlierOnesFail)
{
    const QStringList candidates{m_dir.filePath(QStringLiteral("libdSakura.so")), kNoGetVerInfo, kComplete};
    EXPECT_EQ(SakuraGetVersion(candidates), QStringLiteral("N/A"));
    EXPECT_EQ(compileMml(candidates, "c", midiPath()).result, mcrSuccess);
}

TEST_F(SakuraDll, VersionTexts)
{
    EXPECT_EQ(SakuraGetVersion({kComplete}), QStringLiteral("Ver.版2.0"));
    EXPECT_EQ(SakuraGetVersion({kNoGetVerInfo}), QStringLiteral("N/A"));
    // Sixteen bytes without a terminator: the text ends after the sixteenth.
    EXPECT_EQ(SakuraGetVersion({kSilentSuccess}), QStringLiteral("Ver.0123456789ABCDEF"));
}

TEST_F(SakuraDll, NonAsciiOutputPathReachesTheCompilerIntact)
{
    const QString path = m_dir.filePath(QStringLiteral("曲 フォルダ/Compile.mid"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    EXPECT_EQ(compileMml({kComplete}, "a", path).result, mcrSuccess);
    EXPECT_EQ(readAll(path), QByteArray("MThda"));
}

TEST(SakuraDllLocation, NextToTheProgramFirstThenTheSystemSearch)
{
    EXPECT_EQ(sakuraLibraryCandidates(QStringLiteral("/opt/tonelark/bin")),
              (QStringList{QStringLiteral("/opt/tonelark/bin/libdSakura.so"), QStringLiteral("libdSakura.so")}));
    EXPECT_EQ(sakuraLibraryCandidates(QString()), QStringList{QStringLiteral("libdSakura.so")});
    // Without an application object the program's folder comes from /proc/self/exe.
    const QStringList own = sakuraLibraryCandidates();
    ASSERT_EQ(own.size(), 2);
    EXPECT_TRUE(own.first().endsWith(QStringLiteral("/libdSakura.so")));
    EXPECT_TRUE(QFileInfo(own.first()).absoluteDir().exists());
}

TEST(SakuraDllLocation, DefaultSearchWithoutAnInstalledCompilerReportsNotLoaded)
{
    for (const QString &candidate : sakuraLibraryCandidates()) {
        DynamicLibrary probe;
        if (probe.open(candidate))
            GTEST_SKIP() << "a compiler is installed at " << candidate.toStdString();
    }
    std::array<char, kSakuraErrMsgLength> message{};
    EXPECT_EQ(SakuraMMLtoMIDI("c", "/nonexistent/Compile.mid", message.data()), mcrDllNotLoaded);
    EXPECT_EQ(SakuraGetVersion(), QStringLiteral("---"));
}

TEST(DynamicLibrary, FailuresNameThePathAndTheSymbol)
{
    DynamicLibrary library;
    EXPECT_FALSE(library.open(QStringLiteral("/nonexistent/libnothing.so")));
    EXPECT_TRUE(library.errorString().startsWith(QStringLiteral("/nonexistent/libnothing.so: ")));
    ASSERT_TRUE(library.open(QStringLiteral(FAKE_SAKURA_NO_GETVERINFO)));
    EXPECT_EQ(library.symbol("GetVerInfo"), nullptr);
    EXPECT_TRUE(library.errorString().contains(QStringLiteral("no symbol \"GetVerInfo\"")));
    EXPECT_NE(library.symbol("MMLtoMIDI"), nullptr);
    library.close();
    EXPECT_FALSE(library.isOpen());
    EXPECT_EQ(library.symbol("MMLtoMIDI"), nullptr);
}
