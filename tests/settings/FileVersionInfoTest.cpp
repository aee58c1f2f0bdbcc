#include "FileVersionInfo.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>

using namespace tonelark;

namespace {

// A version record's descriptor, as the build writes it.
QByteArray recordDesc(const QByteArray &strings, quint32 format = kVersionRecordFormat,
                      quint32 ms = 0x00050006, quint32 ls = 0x00070008,
                      quint32 translation = kProgramTranslation, std::optional<quint32> stringsSize = {})
{
    QByteArray desc;
    for (quint32 word : {format, ms, ls, translation, stringsSize.value_or(quint32(strings.size()))})
        desc.append(reinterpret_cast<const char *>(&word), 4); // little-endian host, as the images
    return desc + strings;
}

QByteArray strings(std::initializer_list<std::pair<const char *, const char *>> pairs)
{
    QByteArray table;
    for (const auto &[key, value] : pairs)
        table.append(key).append('\0').append(value).append('\0');
    return table;
}

// Minimal ELF images: the header, a section header table right after it (so a cut in the
// note data keeps the table), and one SHT_NOTE section holding `notes`.
struct ElfImage {
    static QByteArray note(const QByteArray &owner, quint32 type, const QByteArray &desc,
                           std::optional<quint32> descSize = {})
    {
        QByteArray bytes;
        const auto word = [&](quint32 value) {
            for (int i = 0; i < 4; ++i)
                bytes.append(char(value >> (8 * i)));
        };
        word(quint32(owner.size() + 1));
        word(descSize.value_or(quint32(desc.size())));
        word(type);
        QByteArray name = owner + '\0';
        name.append(QByteArray((4 - name.size() % 4) % 4, '\0'));
        bytes.append(name).append(desc).append(QByteArray((4 - desc.size() % 4) % 4, '\0'));
        return bytes;
    }

    // `offsetShift` moves the section's offset without moving its bytes.
    static QByteArray bytes(const QByteArray &notes, bool is64 = true, bool big = false,
                            quint64 offsetShift = 0, std::optional<quint64> sizeOverride = {})
    {
        const int ehsize = is64 ? 64 : 52;
        const int shentsize = is64 ? 64 : 40;
        const quint64 noteOffset = ehsize + 2 * shentsize;
        QByteArray out(int(noteOffset), '\0');
        const auto put = [&](qsizetype at, quint64 value, int width) {
            for (int i = 0; i < width; ++i)
                out[at + (big ? width - 1 - i : i)] = char(value >> (8 * i));
        };
        out[0] = 0x7f;
        out[1] = 'E';
        out[2] = 'L';
        out[3] = 'F';
        out[4] = char(is64 ? 2 : 1);
        out[5] = char(big ? 2 : 1);
        out[6] = 1;
        put(16, 3, 2); // shared object
        put(is64 ? 40 : 32, quint64(ehsize), is64 ? 8 : 4);
        put(is64 ? 58 : 46, quint64(shentsize), 2);
        put(is64 ? 60 : 48, 2, 2);
        const qsizetype entry = ehsize + shentsize;
        put(entry + 4, 7, 4);
        put(entry + (is64 ? 24 : 16), noteOffset + offsetShift, is64 ? 8 : 4);
        put(entry + (is64 ? 32 : 20), sizeOverride.value_or(quint64(notes.size())), is64 ? 8 : 4);
        put(entry + (is64 ? 48 : 32), 4, is64 ? 8 : 4);
        QByteArray body = notes;
        if (big) { // the notes' words were written little-endian; turn each header word
            for (qsizetype pos = 0; pos + 12 <= body.size();) {
                const auto word = [&](qsizetype at) {
                    quint32 value;
                    memcpy(&value, body.constData() + at, 4);
                    return value;
                };
                const quint32 nameSize = word(pos), descSize = word(pos + 4);
                for (qsizetype at = pos; at < pos + 12; at += 4)
                    std::reverse(body.begin() + at, body.begin() + at + 4);
                const qsizetype desc = pos + 12 + (nameSize + 3) / 4 * 4;
                for (qsizetype at = desc; at < desc + 20 && at + 4 <= body.size(); at += 4)
                    std::reverse(body.begin() + at, body.begin() + at + 4);
                pos = desc + (descSize + 3) / 4 * 4;
            }
        }
        return out + body;
    }
};

class VersionFiles : public ::testing::Test {
protected:
    QTemporaryDir m_dir;

    QString write(const QByteArray &bytes, const QString &name = QStringLiteral("image"))
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
        return path;
    }
    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

const QByteArray kStrings = strings({{"FileDescription", "Sample"},
                                     {"LegalCopyright", "Copyright 2026 Holder"},
                                     {"OriginalFilename", "sample"}});

} // namespace

TEST_F(VersionFiles, RecordsAreFoundInEveryLayoutAndDamageReadsAsDamage)
{
    const QByteArray other = ElfImage::note("GNU", 3, QByteArray(20, 'x'));
    const QByteArray good = ElfImage::note(kVersionNoteOwner, 1, recordDesc(kStrings));
    struct Case {
        const char *what;
        QByteArray image;
        QString version;
        QString description;
    };
    const QString damaged = QStringLiteral("?.?.?.?");
    const Case cases[] = {
        {"64-bit little-endian", ElfImage::bytes(good), "5.6.7", "Sample"},
        {"32-bit big-endian", ElfImage::bytes(good, false, true), "5.6.7", "Sample"},
        {"after another note", ElfImage::bytes(other + good), "5.6.7", "Sample"},
        {"only another note", ElfImage::bytes(other), "", ""},
        {"owner of another name", ElfImage::bytes(ElfImage::note("Tonelarx", 1, recordDesc(kStrings))), "", ""},
        {"unknown format", ElfImage::bytes(ElfImage::note(kVersionNoteOwner, 1, recordDesc(kStrings, 2))), damaged, ""},
        {"descriptor shorter than its fixed part",
         ElfImage::bytes(ElfImage::note(kVersionNoteOwner, 1, recordDesc({}).left(12))), damaged, ""},
        {"descriptor size beyond the section",
         ElfImage::bytes(ElfImage::note(kVersionNoteOwner, 1, recordDesc(kStrings), 0x7fffffff)), damaged, ""},
        {"name size beyond the section",
         ElfImage::bytes(ElfImage::note(kVersionNoteOwner, 1, recordDesc(kStrings)).replace(0, 4, "\xff\xff\xff\x7f")),
         "", ""},
        {"string table size beyond the descriptor",
         ElfImage::bytes(ElfImage::note(kVersionNoteOwner, 1, recordDesc(kStrings, 1, 0x00050006, 0x00070008,
                                                                       kProgramTranslation, 0xffffffff))),
         "5.6.7", ""},
        {"string table cut inside a pair",
         ElfImage::bytes(ElfImage::note(kVersionNoteOwner, 1, recordDesc(strings({{"FileDescription", "Sample"}}) +
                                                                       QByteArray("LegalCopyright\0Cut", 18)))),
         "5.6.7", "Sample"},
        {"section offset beyond the file", ElfImage::bytes(good, true, false, 1 << 20), "", ""},
        {"section size beyond the file", ElfImage::bytes(good, true, false, 0, quint64(1) << 40), "5.6.7", "Sample"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = write(c.image);
        EXPECT_EQ(GetFileVersionText(path), c.version);
        TFileVersionInfo info;
        info.LoadFromFile(path);
        EXPECT_EQ(info.GetString(fviFileDescription), c.description);
        if (c.version == QStringLiteral("5.6.7"))
            EXPECT_EQ(std::vector<quint32>({info.VerMaj(), info.VerMin(), info.VerBui(), info.VerRev()}),
                      std::vector<quint32>({5, 6, 7, 8}));
        else
            EXPECT_EQ(info.VerMaj() + info.VerMin() + info.VerBui() + info.VerRev(), 0u);
    }
}

TEST_F(VersionFiles, EveryCutAndEveryFlippedByteReadsWithinTheFile)
{
    // Run under the sanitizers this is where an unbounded read would show.
    const QByteArray image = ElfImage::bytes(ElfImage::note("GNU", 3, QByteArray(8, 'x')) +
                                             ElfImage::note(kVersionNoteOwner, 1, recordDesc(kStrings)));
    const QRegularExpression shape(QStringLiteral("^(|\\?\\.\\?\\.\\?\\.\\?|\\d+\\.\\d+\\.\\d+)$"));
    for (qsizetype length = 0; length < image.size(); ++length) {
        const QString text = GetFileVersionText(write(image.left(length)));
        ASSERT_TRUE(shape.match(text).hasMatch()) << length;
        // A cut inside the record leaves it damaged, never half-read.
        const qsizetype descEnd = image.size() - (4 - (20 + kStrings.size()) % 4) % 4;
        if (length > descEnd - kStrings.size() && length < descEnd) {
            ASSERT_EQ(text, QStringLiteral("?.?.?.?")) << length;
        }
    }
    for (qsizetype at = 0; at < image.size(); ++at) {
        for (char flip : {char(0xff), char(0x80), char(0x01)}) {
            QByteArray damaged = image;
            damaged[at] = char(damaged[at] ^ flip);
            TFileVersionInfo info;
            const QString path = write(damaged);
            info.LoadFromFile(path);
            ASSERT_TRUE(shape.match(GetFileVersionText(path)).hasMatch()) << at;
        }
    }
}

TEST_F(VersionFiles, WhatIsNoElfFileHasNoVersion)
{
    const QString folder = m_dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString fifo = m_dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString &path : {write("plain text"), write({}), m_dir.filePath(QStringLiteral("missing")), folder,
                                fifo, QString()}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(GetFileVersionText(path), QString()); // a FIFO without a writer must not block
        EXPECT_EQ(GetCopyrightText(path), QString());
    }
}

TEST_F(VersionFiles, CopyrightLineKeepsTheSecondAndThirdWordOrEveryWordOnItsLine)
{
    struct Case {
        const char *legalCopyright;
        quint32 translation;
        QString expected;
    };
    const Case cases[] = {
        {"Copyright 2026 Holder", kProgramTranslation, "(C) 2026 Holder"},
        {"Copyright 2024-2026 Holder and others", kProgramTranslation, "(C) 2024-2026 Holder"},
        {"Copyright  Holder", kProgramTranslation, "(C)  Holder"}, // split at every single space
        {"Copyright 2026", kProgramTranslation, "Copyright\n2026\n"},
        {"Holder", kProgramTranslation, "Holder\n"},
        {"", kProgramTranslation, ""},
        {"Copyright 2026 Holder", 0x04B00409, ""}, // only the Japanese table counts
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.legalCopyright);
        const QString path = write(ElfImage::bytes(ElfImage::note(
            kVersionNoteOwner, 1, recordDesc(strings({{"LegalCopyright", c.legalCopyright}}), 1, 1, 0, c.translation))));
        EXPECT_EQ(GetCopyrightText(path), c.expected);
    }
}

// This test program carries its own record (tests/settings/CMakeLists.txt): 1.2.3.4 and a
// copyright line of five words.
TEST_F(VersionFiles, OwnRecordShowsThreeNumbersAndTheWholeCopyrightOnTheAboutPage)
{
    const QString program = programFileName();
    EXPECT_EQ(GetFileVersionText(program), QStringLiteral("1.2.3"));
    TFileVersionInfo info;
    info.LoadFromFile(program);
    EXPECT_EQ(info.VerRev(), 4u);
    EXPECT_EQ(info.GetString(fviOriginalFilename), QStringLiteral("test_settings"));
    EXPECT_EQ(info.GetString(fviSpecialBuild), QString());
    EXPECT_EQ(aboutText(info),
              QStringLiteral("Tonelark %1 Ver.1.2.3\n\nCopyright 2025-2026 Tonelark-Project and friends"));
    EXPECT_EQ(GetCopyrightText(), QStringLiteral("(C) 2025-2026 Tonelark-Project"));

    // The same program with its record damaged, and with no record at all. The note is
    // found by its name size, type and owner; the debug information may hold a copy of it,
    // which is changed alike.
    QByteArray bytes = readAll(program);
    const QByteArray owner = QByteArray(kVersionNoteOwner, sizeof(kVersionNoteOwner)) + QByteArray(3, '\0');
    QList<qsizetype> notes;
    for (qsizetype found = bytes.indexOf(owner); found >= 12; found = bytes.indexOf(owner, found + 1)) {
        if (bytes.mid(found - 12, 4) == QByteArray("\x09\0\0\0", 4) &&
            bytes.mid(found - 4, 4) == QByteArray("\x01\0\0\0", 4))
            notes << found;
    }
    ASSERT_FALSE(notes.isEmpty());
    for (qsizetype at : notes)
        bytes[at + 12] = 9; // an unknown format
    EXPECT_EQ(GetFileVersionText(write(bytes, QStringLiteral("damaged"))), QStringLiteral("?.?.?.?"));
    for (qsizetype at : notes)
        bytes[at + 7] = 'x'; // another owner: no record of ours any more
    EXPECT_EQ(GetFileVersionText(write(bytes, QStringLiteral("none"))), QString());
}

#ifdef TONELARK_PROGRAM_FILE
TEST(VersionOfBuiltBinaries, EachCarriesTheProjectVersionAndItsName)
{
    struct Case {
        const char *path;
        const char *description;
        const char *originalFilename;
    };
    const Case cases[] = {
        {TONELARK_PROGRAM_FILE, "Tonelark", "tonelark"},
        {TONELARK_ENGINE_FILE, "Tonelark playback engine", "libbrisola4.so"},
        {TONELARK_COMPILER_FILE, "Tonelark MML compiler", "libdSakura.so"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const QString path = QString::fromUtf8(c.path);
        EXPECT_EQ(GetFileVersionText(path), QStringLiteral(TONELARK_PROJECT_VERSION));
        TFileVersionInfo info;
        info.LoadFromFile(path);
        EXPECT_EQ(info.GetString(fviFileDescription), QString::fromUtf8(c.description));
        EXPECT_EQ(info.GetString(fviOriginalFilename), QString::fromUtf8(c.originalFilename));
        EXPECT_EQ(info.GetString(fviProductName), QStringLiteral("Tonelark"));
        EXPECT_EQ(GetCopyrightText(path), QStringLiteral("(C) 2026 Tonelark-Project"));
    }
    // The settings dialog's version page from the same files; an engine without a record
    // leaves its line ending in "Ver.".
    EXPECT_EQ(versionPageText(QStringLiteral("Tonelark"), QStringLiteral(TONELARK_PROGRAM_FILE),
                              QStringLiteral(TONELARK_ENGINE_FILE), QStringLiteral("---")),
              QStringLiteral("Tonelark Ver." TONELARK_PROJECT_VERSION "\n\n(C) 2026 Tonelark-Project\n\n"
                             "Brisola DLL: Ver." TONELARK_PROJECT_VERSION "\n\nMML Compiler (dSakura.dll): ---"));
    EXPECT_TRUE(versionPageText(QStringLiteral("Tonelark"), QStringLiteral(TONELARK_PROGRAM_FILE),
                                QStringLiteral("/nonexistent/libbrisola4.so"), QStringLiteral("Ver.0.1.0"))
                    .endsWith(QStringLiteral("Brisola DLL: Ver.\n\nMML Compiler (dSakura.dll): Ver.0.1.0")));

    // A bare library name finds the library this process has loaded.
    EXPECT_EQ(GetFileVersionText(QStringLiteral("libdSakura.so")), QString());
    void *library = dlopen(TONELARK_COMPILER_FILE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(resolveLibraryFileName(QStringLiteral("libdSakura.so")), QStringLiteral(TONELARK_COMPILER_FILE));
    EXPECT_EQ(GetFileVersionText(QStringLiteral("libdSakura.so")), QStringLiteral(TONELARK_PROJECT_VERSION));
    dlclose(library);
    EXPECT_FALSE(resolveLibraryFileName(QStringLiteral("libQt6Core.so")).isEmpty()); // with a version suffix
    EXPECT_EQ(resolveLibraryFileName(QStringLiteral("libQt6Cor")), QString());
}
#endif
