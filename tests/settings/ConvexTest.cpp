#include "Convex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <sys/stat.h>

#include <unistd.h>

using namespace tonelark;

namespace {

QString dataPath(const char *name)
{
    return QStringLiteral(TONELARK_TEST_DATA_DIR "/settings/") + QString::fromLatin1(name);
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeBytes(const QString &path, QByteArrayView bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes.data(), bytes.size()) == bytes.size();
}

} // namespace

TEST(ConvexFormat, SaveDropsCommentsAndRepeatsAndKeepsUnknownEntries)
{
    const Convex ini(dataPath("roundtrip_input.ini"));
    EXPECT_TRUE(ini.loadError().isEmpty());
    EXPECT_EQ(ini.encoding(), IniEncoding::Ansi);
    EXPECT_EQ(ini.toBytes(), readBytes(dataPath("roundtrip_expected.ini")));
    EXPECT_FALSE(ini.Modified());
}

TEST(ConvexFormat, ReadsTrimmedValuesCaseInsensitively)
{
    const Convex ini(dataPath("roundtrip_input.ini"));
    EXPECT_EQ(ini.ReadInteger(u"Tonelark", u"HotKey", 0), 31);
    EXPECT_EQ(ini.ReadInteger(u"TONELARK", u"hotkey", 0), 31);
    EXPECT_EQ(ini.ReadString(u"tonelark", u"KEYWORD", {}), QStringLiteral("静寂"));
    EXPECT_EQ(ini.ReadString(u"Unknown Section", u"Foo", {}), QStringLiteral("bar=baz"));
    EXPECT_EQ(ini.ReadString(u"unknown section", u"spaced key", {}), QStringLiteral("value with trailing"));
    EXPECT_EQ(ini.ReadString(u"Lyric", u"Memo", {}), QStringLiteral("歌詞の表示"));
    EXPECT_EQ(ini.ReadInteger(u"Lyric", u"TextColor", 0), 255);
    // Under the repeated header: ignored, so the default stands.
    EXPECT_TRUE(ini.ReadBool(u"Tonelark", u"SkipFirstBlank", true));
    // A name without "=" has no value to read.
    EXPECT_EQ(ini.ReadString(u"Unknown Section", u"BareName", QStringLiteral("def")), QStringLiteral("def"));
    EXPECT_FALSE(ini.ValueExists(u"Unknown Section", u"BareName"));
    EXPECT_EQ(ini.ReadString(u"Tonelark", u"orphan", QStringLiteral("none")), QStringLiteral("none"));
}

TEST(ConvexFormat, WritesReplaceInPlaceAndAppendNewKeysAndSections)
{
    Convex ini(dataPath("roundtrip_input.ini"));
    ini.WriteInteger(u"tonelark", u"HOTKEY", 24641);
    ini.WriteBool(u"Lyric", u"FontBold", false);
    ini.WriteInteger(u"Progress", u"ForeColor", -16777203);
    ini.WriteString(u"UNKNOWN SECTION", u"barename", QStringLiteral("今日"));
    EXPECT_TRUE(ini.Modified());
    EXPECT_EQ(ini.toBytes(), readBytes(dataPath("roundtrip_written.ini")));
}

TEST(ConvexFormat, AcceptsEveryLineEndAndBlanksAroundHeaders)
{
    const Convex ini = Convex::fromBytes("[A]\rx=1\n[ b ]\r\ny=2\n\n\tz = 3\r\n[C]");
    EXPECT_EQ(ini.ReadInteger(u"a", u"x", 0), 1);
    EXPECT_EQ(ini.ReadInteger(u"B", u"y", 0), 2);
    EXPECT_EQ(ini.ReadInteger(u"B", u"z", 0), 3);
    EXPECT_TRUE(ini.SectionExists(u"c"));
    EXPECT_EQ(ini.toBytes(), QByteArray("[A]\nx=1\n\n[b]\ny=2\nz=3\n\n[C]\n\n"));
}

TEST(ConvexFormat, FirstOfDuplicateKeysIsReadAndWritten)
{
    Convex ini = Convex::fromBytes("[S]\nk=1\nK=2\n");
    EXPECT_EQ(ini.ReadInteger(u"S", u"k", 0), 1);
    ini.WriteInteger(u"S", u"k", 9);
    EXPECT_EQ(ini.toBytes(), QByteArray("[S]\nk=9\nK=2\n\n"));
}

TEST(ConvexFormat, WrittenLineBreaksCannotForgeEntries)
{
    Convex ini;
    ini.WriteString(u"Tonelark", u"Keyword", QStringLiteral("a\r\n[Evil]\nHotKey=1"));
    const Convex reread = Convex::fromBytes(ini.toBytes());
    EXPECT_FALSE(reread.SectionExists(u"Evil"));
    EXPECT_EQ(reread.ReadString(u"Tonelark", u"Keyword", {}), QStringLiteral("a [Evil] HotKey=1"));
}

TEST(ConvexFormat, NewStoreIsCp932WithoutMark)
{
    Convex ini;
    ini.WriteString(u"Tonelark", u"FontName", QStringLiteral("ＭＳ ゴシック"));
    EXPECT_EQ(ini.encoding(), IniEncoding::Ansi);
    EXPECT_EQ(ini.toBytes(), QByteArray("[Tonelark]\nFontName=\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e\n\n"));
}

TEST(ConvexFormat, UndecodableBytesSurviveASave)
{
    // UTF-8 without a mark is read as CP932; the Japanese in it does not decode cleanly
    // ("ゆき" ends on a lone lead byte), yet a save must give the user's bytes back.
    const QByteArray input("[Extra]\nName=\xe3\x82\x86\xe3\x81\x8d\n[Tonelark]\nHotKey=65\n");
    Convex ini = Convex::fromBytes(input);
    ini.WriteInteger(u"Tonelark", u"HotKey", 66);
    EXPECT_EQ(ini.toBytes(), QByteArray("[Extra]\nName=\xe3\x82\x86\xe3\x81\x8d\n\n[Tonelark]\nHotKey=66\n\n"));

    // Once the program writes the key, its new value is encoded like any other.
    ini.WriteString(u"Extra", u"Name", QStringLiteral("ゆき"));
    EXPECT_EQ(ini.toBytes(), QByteArray("[Extra]\nName=\x82\xe4\x82\xab\n\n[Tonelark]\nHotKey=66\n\n"));
}

struct BomCase {
    const char *file;
    IniEncoding encoding;
};

class ConvexBom : public testing::TestWithParam<BomCase> {};

TEST_P(ConvexBom, IsReadAndWrittenBackInItsEncoding)
{
    const QString path = dataPath(GetParam().file);
    Convex ini(path);
    EXPECT_EQ(ini.encoding(), GetParam().encoding);
    EXPECT_EQ(ini.ReadString(u"Tonelark", u"FontName", {}), QStringLiteral("ＭＳ ゴシック"));
    EXPECT_EQ(ini.ReadString(u"Extra", u"Note", {}), QStringLiteral("①～Ⅱ"));
    const QByteArray original = readBytes(path);
    EXPECT_EQ(ini.toBytes(), original);

    // A written key in the same encoding: reading the bytes back gives it, mark and all.
    ini.WriteString(u"Extra", u"Added", QStringLiteral("歌"));
    const QByteArray saved = ini.toBytes();
    EXPECT_EQ(saved.left(2), original.left(2));
    const Convex reread = Convex::fromBytes(saved);
    EXPECT_EQ(reread.encoding(), GetParam().encoding);
    EXPECT_EQ(reread.ReadString(u"Extra", u"Added", {}), QStringLiteral("歌"));
    EXPECT_EQ(reread.ReadString(u"Extra", u"Note", {}), QStringLiteral("①～Ⅱ"));
}

INSTANTIATE_TEST_SUITE_P(Marks, ConvexBom,
                         testing::Values(BomCase{"bom_utf8.ini", IniEncoding::Utf8Bom},
                                         BomCase{"bom_utf16le.ini", IniEncoding::Utf16LeBom},
                                         BomCase{"bom_utf16be.ini", IniEncoding::Utf16BeBom}));

struct IntegerCase {
    const char16_t *text;
    std::optional<qint32> value;
};

class IniInteger : public testing::TestWithParam<IntegerCase> {};

TEST_P(IniInteger, ParsesTheValueForms)
{
    EXPECT_EQ(parseIniInteger(QStringView(GetParam().text)), GetParam().value)
        << QString::fromUtf16(GetParam().text).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IniInteger,
    testing::Values(IntegerCase{u"0x1F", 31}, IntegerCase{u"0X1f", 31}, IntegerCase{u"$1F", 31},
                    IntegerCase{u"-$10", -16}, IntegerCase{u"+5", 5}, IntegerCase{u"-1100", -1100},
                    IntegerCase{u"007", 7}, IntegerCase{u"0", 0},
                    IntegerCase{u"2147483647", 2147483647},
                    IntegerCase{u"-2147483648", std::numeric_limits<qint32>::min()},
                    // Hexadecimal spans all 32 bits: system colours are written this way by hand.
                    IntegerCase{u"0xFF00000F", -16777201}, IntegerCase{u"$FFFFFFFF", -1},
                    IntegerCase{u"2147483648", std::nullopt},
                    IntegerCase{u"-2147483649", std::nullopt},
                    IntegerCase{u"0x100000000", std::nullopt},
                    IntegerCase{u"99999999999999999999", std::nullopt},
                    IntegerCase{u"0x", std::nullopt}, IntegerCase{u"$", std::nullopt},
                    IntegerCase{u"0xG1", std::nullopt}, IntegerCase{u"abc", std::nullopt},
                    IntegerCase{u"12abc", std::nullopt}, IntegerCase{u"1 2", std::nullopt},
                    IntegerCase{u"", std::nullopt}, IntegerCase{u"-", std::nullopt},
                    IntegerCase{u"-0x10", std::nullopt}, IntegerCase{u"１２", std::nullopt}));

TEST(ConvexValues, InvalidOrMissingIntegersGiveTheDefault)
{
    const Convex ini = Convex::fromBytes("[S]\nletters=abc\nempty=\nbare\nhex=0x1F\n");
    EXPECT_EQ(ini.ReadInteger(u"S", u"letters", 42), 42);
    EXPECT_EQ(ini.ReadInteger(u"S", u"empty", 42), 42);
    EXPECT_EQ(ini.ReadInteger(u"S", u"bare", 42), 42);
    EXPECT_EQ(ini.ReadInteger(u"S", u"missing", 42), 42);
    EXPECT_EQ(ini.ReadInteger(u"Other", u"hex", 42), 42);
    EXPECT_EQ(ini.ReadInteger(u"S", u"hex", 42), 31);
}

TEST(ConvexValues, BoolsAreIntegersComparedWithZero)
{
    const Convex ini = Convex::fromBytes("[S]\ntwo=2\nzero=0\nminus=-1\nword=yes\n");
    EXPECT_TRUE(ini.ReadBool(u"S", u"two", false));
    EXPECT_TRUE(ini.ReadBool(u"S", u"minus", false));
    EXPECT_FALSE(ini.ReadBool(u"S", u"zero", true));
    EXPECT_TRUE(ini.ReadBool(u"S", u"word", true));
    EXPECT_FALSE(ini.ReadBool(u"S", u"word", false));
}

TEST(ConvexValues, WritesUseSignedDecimalAndOneOrZero)
{
    Convex ini;
    ini.WriteInteger(u"S", u"colour", static_cast<qint32>(0xFF00000Fu));
    ini.WriteBool(u"S", u"on", true);
    ini.WriteBool(u"S", u"off", false);
    EXPECT_EQ(ini.toBytes(), QByteArray("[S]\ncolour=-16777201\non=1\noff=0\n\n"));
}

class ConvexFile : public testing::Test {
protected:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

TEST_F(ConvexFile, MissingFileIsAnEmptyStoreAndFirstSaveCreatesIt)
{
    Convex ini(path(QStringLiteral("tonelark.ini")));
    EXPECT_TRUE(ini.loadError().isEmpty());
    EXPECT_FALSE(ini.SectionExists(u"Tonelark"));
    EXPECT_FALSE(QFile::exists(ini.fileName()));

    ini.WriteBool(u"Tonelark", u"AlwaysOnTop", true);
    const SaveResult result = ini.UpdateFile();
    ASSERT_TRUE(result) << result.errorMessage.toStdString();
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(readBytes(ini.fileName()), QByteArray("[Tonelark]\nAlwaysOnTop=1\n\n"));
}

TEST_F(ConvexFile, SaveReplacesTheOldFileAndCreatesMissingFolders)
{
    const QString file = path(QStringLiteral("config/Tonelark/tonelark.ini"));
    Convex ini(file);
    ini.WriteInteger(u"Tonelark", u"Left", 10);
    ASSERT_TRUE(ini.UpdateFile());
    ini.WriteInteger(u"Tonelark", u"Left", 20);
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(readBytes(file), QByteArray("[Tonelark]\nLeft=20\n\n"));
    EXPECT_EQ(QDir(QFileInfo(file).absolutePath()).entryList(QDir::Files), QStringList{QStringLiteral("tonelark.ini")});
}

TEST_F(ConvexFile, SaveSwapsInANewFileRatherThanRewritingTheOldOne)
{
    // A second hard link sees every in-place rewrite; after a swap it still holds the old
    // content, which is what a reader racing the save (or a crash mid-write) would see.
    const QString file = path(QStringLiteral("tonelark.ini"));
    const QString witness = path(QStringLiteral("witness"));
    ASSERT_TRUE(writeBytes(file, "[Tonelark]\nTop=1\n"));
    ASSERT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(witness).constData()), 0);

    Convex ini(file);
    ini.WriteInteger(u"Tonelark", u"Top", 2);
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(readBytes(file), QByteArray("[Tonelark]\nTop=2\n\n"));
    EXPECT_EQ(readBytes(witness), QByteArray("[Tonelark]\nTop=1\n"));
}

TEST_F(ConvexFile, SaveThroughASymbolicLinkUpdatesTheLinkedFile)
{
    const QString real = path(QStringLiteral("real.ini"));
    const QString link = path(QStringLiteral("tonelark.ini"));
    ASSERT_TRUE(writeBytes(real, "[Tonelark]\nTop=1\n"));
    ASSERT_TRUE(QFile::link(real, link));

    Convex ini(link);
    ini.WriteInteger(u"Tonelark", u"Top", 3);
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readBytes(real), QByteArray("[Tonelark]\nTop=3\n\n"));
}

TEST_F(ConvexFile, SaveUnderARegularFileFailsWithAMessage)
{
    ASSERT_TRUE(writeBytes(path(QStringLiteral("plain")), "not a folder"));
    Convex ini(path(QStringLiteral("plain/tonelark.ini")));
    ini.WriteBool(u"Tonelark", u"ShowInfo", true);
    const SaveResult result = ini.UpdateFile();
    EXPECT_FALSE(result);
    EXPECT_TRUE(result.errorMessage.contains(QStringLiteral("tonelark.ini")))
        << result.errorMessage.toStdString();
    EXPECT_TRUE(result.errorMessage.contains(QStringLiteral("保存できません")));
    EXPECT_TRUE(ini.Modified());
    EXPECT_EQ(readBytes(path(QStringLiteral("plain"))), QByteArray("not a folder"));
}

TEST_F(ConvexFile, FailedSaveLeavesWhatIsThereAndNoTemporaryFiles)
{
    // The target is a folder, so the final replace cannot happen after the content has been
    // written to the temporary file.
    const QString target = path(QStringLiteral("tonelark.ini"));
    ASSERT_TRUE(QDir().mkpath(target));
    ASSERT_TRUE(writeBytes(target + QStringLiteral("/keep"), "data"));

    Convex ini(target);
    ini.WriteInteger(u"Tonelark", u"Top", 5);
    const SaveResult result = ini.UpdateFile();
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.errorMessage.isEmpty());
    EXPECT_EQ(readBytes(target + QStringLiteral("/keep")), QByteArray("data"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("tonelark.ini")});
}

TEST_F(ConvexFile, FailedSaveInAReadOnlyFolderKeepsTheOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    const QString folder = path(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + QStringLiteral("/tonelark.ini");
    ASSERT_TRUE(writeBytes(file, "[Tonelark]\nLeft=1\n"));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

    Convex ini(file);
    ini.WriteInteger(u"Tonelark", u"Left", 2);
    const SaveResult result = ini.UpdateFile();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(result);
    EXPECT_EQ(readBytes(file), QByteArray("[Tonelark]\nLeft=1\n"));
}

TEST_F(ConvexFile, StoreWithoutAFileNameRefusesToSave)
{
    Convex ini;
    ini.WriteBool(u"S", u"k", true);
    const SaveResult result = ini.UpdateFile();
    EXPECT_FALSE(result);
    EXPECT_FALSE(result.errorMessage.isEmpty());
}

TEST_F(ConvexFile, UnreadableFileIsReportedNotTakenAsEmpty)
{
    const QString folder = path(QStringLiteral("folder.ini"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const Convex ini(folder);
    EXPECT_FALSE(ini.loadError().isEmpty());
}

TEST_F(ConvexFile, FileThatFailedToLoadIsNeverWrittenOver)
{
    // Taken as empty, the store would replace every setting by the few the run wrote. A FIFO
    // must not block the start either.
    const QString fifo = path(QStringLiteral("fifo.ini"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    Convex fromFifo(fifo);
    EXPECT_FALSE(fromFifo.loadError().isEmpty());
    fromFifo.WriteInteger(u"Tonelark", u"Left", 1);
    EXPECT_FALSE(fromFifo.UpdateFile());
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());

    // A file without read permission, read by a user whom permissions bind.
    QTemporaryDir shared(QStringLiteral("/tmp/tonelark-ini-XXXXXX"));
    ASSERT_TRUE(shared.isValid());
    const QString file = shared.filePath(QStringLiteral("tonelark.ini"));
    const QByteArray original = "[Tonelark]\nLeft=5\n[Lyric]\nFontBold=0\n";
    ASSERT_TRUE(writeBytes(file, original));
    const uid_t reader = ::geteuid() == 0 ? 65534 : ::geteuid();
    ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 0777), 0);
    ASSERT_EQ(::chown(QFile::encodeName(file).constData(), reader, gid_t(-1)), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0200), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (reader != ::geteuid() && (::setgid(65534) != 0 || ::setuid(reader) != 0))
            ::_exit(20);
        Convex ini(file);
        ini.WriteInteger(u"Tonelark", u"Top", 7);
        const bool refused = !ini.UpdateFile();
        // Once the user agreed, the file is replaced.
        Convex agreed(file);
        agreed.WriteInteger(u"Tonelark", u"Top", 8);
        const bool allowed = agreed.UpdateFile(Convex::OverwriteUnreadable::Allow).ok;
        ::_exit(ini.loadError().isEmpty() ? 21 : !refused ? 22 : !allowed ? 23 : 0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0600), 0);
    EXPECT_EQ(readBytes(file), QByteArray("[Tonelark]\nTop=8\n\n"));
}

TEST(ConvexScale, ManySectionsAreFoundByName)
{
    QByteArray bytes;
    for (int i = 0; i < 40000; ++i)
        bytes += "[S" + QByteArray::number(i) + "]\nk=" + QByteArray::number(i) + "\n";
    Convex ini = Convex::fromBytes(bytes);
    EXPECT_EQ(ini.ReadInteger(u"s39999", u"K", -1), 39999);
    EXPECT_EQ(ini.ReadInteger(u"S0", u"k", -1), 0);
    ini.WriteInteger(u"S40000", u"k", 1);
    EXPECT_TRUE(ini.SectionExists(u"s40000"));
}

struct ProgramPathCase {
    const char16_t *program;
    const char16_t *ini;
};

class IniPathForProgram : public testing::TestWithParam<ProgramPathCase> {};

TEST_P(IniPathForProgram, ReplacesOrAppendsTheExtension)
{
    EXPECT_EQ(iniPathForProgram(QString::fromUtf16(GetParam().program)), QString::fromUtf16(GetParam().ini));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, IniPathForProgram,
    testing::Values(ProgramPathCase{u"/usr/bin/tonelark", u"/usr/bin/tonelark.ini"},
                    ProgramPathCase{u"/opt/Tonelark/Tonelark.exe", u"/opt/Tonelark/Tonelark.ini"},
                    ProgramPathCase{u"/opt/app.d/tonelark", u"/opt/app.d/tonelark.ini"},
                    ProgramPathCase{u"/home/u/v1.2/tonelark.bin", u"/home/u/v1.2/tonelark.ini"},
                    ProgramPathCase{u"/srv/a.tar.gz", u"/srv/a.tar.ini"},
                    ProgramPathCase{u"/home/ユーザー/音 楽/トーン", u"/home/ユーザー/音 楽/トーン.ini"},
                    ProgramPathCase{u"tonelark", u"tonelark.ini"}));

TEST(SettingsLocation, FallsBackToTheConfigFolderWhenTheProgramFolderIsReadOnly)
{
    const QString program = QStringLiteral("/usr/lib/tonelark.d/tonelark");
    EXPECT_EQ(resolveSettingsFileName(program, true, QStringLiteral("/home/u/.config/Tonelark")),
              QStringLiteral("/usr/lib/tonelark.d/tonelark.ini"));
    EXPECT_EQ(resolveSettingsFileName(program, false, QStringLiteral("/home/u/.config/Tonelark")),
              QStringLiteral("/home/u/.config/Tonelark/tonelark.ini"));
    EXPECT_EQ(resolveSettingsFileName(program, false, QStringLiteral("/home/u/.config/Tonelark/")),
              QStringLiteral("/home/u/.config/Tonelark/tonelark.ini"));
}

TEST(SettingsLocation, ConfigFolderFollowsXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    const bool hadValue = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    const QString folder = userConfigFolder();
    if (hadValue)
        qputenv("XDG_CONFIG_HOME", saved);
    else
        qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(folder, dir.path() + QStringLiteral("/Tonelark"));
}

TEST(SettingsLocation, ProgramFolderIsCheckedForWriting)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("tonelark"));
    EXPECT_EQ(settingsFileNameForProgram(program), program + QStringLiteral(".ini"));

    const QString inConfig = userConfigFolder() + QStringLiteral("/tonelark.ini");
    EXPECT_EQ(settingsFileNameForProgram(dir.filePath(QStringLiteral("gone/tonelark"))), inConfig);
    if (geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        EXPECT_EQ(settingsFileNameForProgram(program), inConfig);
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

TEST(ProgramStore, IsLoadedOnceFromSettingsFileNameAndFreedWithoutSaving)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tonelark.ini"));
    ASSERT_TRUE(writeBytes(file, "[Tonelark]\nKeyword=x\n"));
    FreeIniFile();
    SetSettingsFileName(file);
    Convex &first = GetIniFile();
    EXPECT_EQ(&first, &GetIniFile());
    EXPECT_EQ(first.fileName(), file);
    EXPECT_EQ(first.ReadString(u"Tonelark", u"Keyword", {}), QStringLiteral("x"));

    first.WriteString(u"Tonelark", u"Keyword", QStringLiteral("y"));
    FreeIniFile();
    EXPECT_EQ(readBytes(file), QByteArray("[Tonelark]\nKeyword=x\n"));
    EXPECT_EQ(GetIniFile().ReadString(u"Tonelark", u"Keyword", {}), QStringLiteral("x"));
    FreeIniFile();
    SetSettingsFileName({});
}
