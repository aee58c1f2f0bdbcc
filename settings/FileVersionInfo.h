#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <array>
#include <optional>

// Version information of our binaries. Each binary carries one version record, written at
// build time (settings/VersionRecord.cmake) as an ELF note: owner "Tonelark", type 1, in a
// section of type SHT_NOTE. The note's descriptor, in the file's byte order:
//
//   u32  format              kVersionRecordFormat
//   u32  fileVersionMs       major << 16 | minor
//   u32  fileVersionLs       build << 16 | release
//   u32  translation         language (low word), code page (high word)
//   u32  stringsSize         bytes of the string table that follows
//   ...  string table        "Key\0Value\0" pairs, UTF-8
//
// The reader takes arbitrary files: every read is bounded by the file and by fixed caps, and
// a damaged record reads as damaged, never past its end.
namespace tonelark {

enum TFileVersionInfoType {
    fviComments,
    fviInternalName,
    fviProductName,
    fviCompanyName,
    fviLegalCopyright,
    fviProductVersion,
    fviFileDescription,
    fviLegalTrademarks,
    fviPrivateBuild,
    fviFileVersion,
    fviOriginalFilename,
    fviSpecialBuild,
};
inline constexpr int kFileVersionInfoTypeCount = fviSpecialBuild + 1;

// The string key each value reads ("Comments", "InternalName", ...).
QString fileVersionInfoKey(TFileVersionInfoType type);

inline constexpr char kVersionNoteOwner[] = "Tonelark";
inline constexpr quint32 kVersionNoteType = 1;
inline constexpr quint32 kVersionRecordFormat = 1;
// The translation of the program's own strings: Japanese (0x0411), code page 932 (0x03A4).
inline constexpr quint32 kProgramTranslation = 0x03A4u << 16 | 0x0411u;

// A file's version record as found in it.
struct VersionRecord {
    // A record note exists in the file (otherwise the file has no version information).
    bool present = false;
    // The fixed part could be read: format known, descriptor whole.
    bool fixedValid = false;
    quint32 fileVersionMs = 0;
    quint32 fileVersionLs = 0;
    quint32 translation = 0;
    // The string table's pairs in file order; empty when the table is damaged or missing.
    QList<QPair<QString, QString>> strings;

    // The value of `key` in the string table.
    std::optional<QString> string(const QString &key) const;
};

// Reads the version record of `fileName` (a path). A file that cannot be opened, is no
// regular file, is no ELF file or holds no record gives a record that is not present.
VersionRecord readVersionRecord(const QString &fileName);

// A file name as GetFileVersionText takes it: a path is used as it is; a bare file name
// (no "/") names a library loaded into this process, matched by its file name or by that
// name followed by a version suffix ("libx.so" finds "libx.so.4"). Empty when nothing fits.
QString resolveLibraryFileName(const QString &fileName);

// The running program's own file.
QString programFileName();

class TFileVersionInfo {
public:
    // Reads the version record of the named file into the fields; a file without one, or a
    // record without some key, leaves the affected fields empty or 0. Never throws.
    void LoadFromFile(const QString &FileName);
    QString GetString(TFileVersionInfoType Fvit) const { return FInfoArray[Fvit]; }

    quint32 VerMaj() const { return FVerMaj; }
    quint32 VerMin() const { return FVerMin; }
    quint32 VerBui() const { return FVerBui; }
    quint32 VerRev() const { return FVerRev; }

private:
    std::array<QString, kFileVersionInfoTypeCount> FInfoArray;
    quint32 FVerMaj = 0;
    quint32 FVerMin = 0;
    quint32 FVerBui = 0;
    quint32 FVerRev = 0;
};

// "major.minor.build" of a file's version (the release number is not shown); "" when the
// file has no version record, "?.?.?.?" when its record is damaged.
QString GetFileVersionText(const QString &FileName);

// The copyright line for the settings dialog's version page, from the LegalCopyright of the
// program's Japanese string table: "(C) <second word> <third word>" for three or more words
// split at single spaces, each word on its own line for fewer, "" without the value.
QString GetCopyrightText();
QString GetCopyrightText(const QString &programFileName);

// The main window's About page text for a program file: its description, " Ver." with
// major.minor.build, an empty line and the copyright line as stored.
QString aboutText(const TFileVersionInfo &info);

// The settings dialog's version page text, rebuilt on every showing: the application title
// with the program's version, its copyright line, the engine library's version and the MML
// compiler's version text (SakuraGetVersion), separated by empty lines. `engineFileName` is
// the path of the loaded engine library; `engineDetails` (the synthesizer and its SoundFont),
// when given, follows the engine's version on a line of its own.
QString versionPageText(const QString &appTitle, const QString &programFileName, const QString &engineFileName,
                        const QString &compilerVersionText, const QString &engineDetails = QString());

} // namespace tonelark
