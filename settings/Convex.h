#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// The settings file: an ini text held wholly in memory, read once at start and written back
// as a whole. The reader and writer are our own because the format has exact rules (section
// and key order kept, unknown entries kept, encoding kept) that a generic settings class
// does not honour.
namespace tonelark {

// How a settings file's bytes are turned into text. A file that starts with a byte-order
// mark keeps its encoding (and the mark); every other file is CP932 without a mark.
enum class IniEncoding { Ansi, Utf8Bom, Utf16LeBom, Utf16BeBom };

// Outcome of writing the store to disk. On failure `errorMessage` is a complete Japanese
// sentence naming the file and the system's reason, ready for a message box.
struct SaveResult {
    bool ok = false;
    QString errorMessage;
    explicit operator bool() const { return ok; }
};

// Integer value form of the settings file: signed decimal, "$" + hexadecimal (optionally
// signed), or "0x"/"0X" + hexadecimal when the text is longer than two characters.
// Hexadecimal may use all 32 bits (0xFF00000F is the system colour clBtnFace). Returns
// nothing for text that is no valid 32-bit integer.
std::optional<qint32> parseIniInteger(QStringView text);

// Larger settings files are refused rather than read: no real one comes near it.
inline constexpr qint64 kMaxSettingsFileBytes = 64 * 1024 * 1024;

class Convex {
public:
    // An empty store bound to no file (UpdateFile then reports an error).
    Convex() = default;
    // Loads `fileName`. A missing file is no error: the store starts empty and the first
    // save creates the file. A file that exists but cannot be read leaves the store empty
    // and sets loadError().
    explicit Convex(const QString &fileName);

    // Parses the bytes of a settings file; the store is bound to no file.
    static Convex fromBytes(QByteArrayView bytes);

    QString fileName() const { return m_fileName; }
    void setFileName(const QString &fileName) { m_fileName = fileName; }
    IniEncoding encoding() const { return m_encoding; }
    // Empty unless the file existed but could not be read.
    QString loadError() const { return m_loadError; }

    // Raw value text, or `defaultValue` when the key is missing or has no "=".
    QString ReadString(QStringView section, QStringView key, const QString &defaultValue) const;
    // Integer value form (parseIniInteger); missing or invalid text gives `defaultValue`.
    qint32 ReadInteger(QStringView section, QStringView key, qint32 defaultValue) const;
    // ReadInteger with the default as 0 or 1; any non-zero value is true.
    bool ReadBool(QStringView section, QStringView key, bool defaultValue) const;

    // Each write sets Modified, replaces an existing key's value in place, appends a new key
    // to the end of its section and a new section to the end of the file.
    void WriteString(QStringView section, QStringView key, const QString &value);
    void WriteInteger(QStringView section, QStringView key, qint32 value);
    void WriteBool(QStringView section, QStringView key, bool value);

    bool SectionExists(QStringView section) const;
    bool ValueExists(QStringView section, QStringView key) const;

    // Set by every write, cleared by a successful UpdateFile; callers may set it too.
    bool Modified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }

    // The file's bytes as a save writes them: each section as "[name]", its lines in order,
    // then one empty line; LF line ends; the encoding the file was read in.
    QByteArray toBytes() const;

    // Whether a save may replace a file that exists but could not be read (loadError()).
    enum class OverwriteUnreadable { Refuse, Allow };

    // Writes toBytes() to fileName() through a temporary file in the same folder that then
    // replaces the old file, so a failed save leaves the old file as it was. The folder is
    // created when missing. Clears Modified on success. A file that failed to load is not
    // replaced unless `overwrite` allows it (the user agreed): the store would lose every
    // setting the run did not write.
    SaveResult UpdateFile(OverwriteUnreadable overwrite = OverwriteUnreadable::Refuse);

private:
    struct Entry {
        QString name;
        QString value;
        bool hasValue = false;
        // Original bytes of the trimmed line when decoding it was lossy (bytes that are no
        // valid text in the file's encoding); written back as they were until the entry is
        // written to, so a save never mangles what the program does not understand.
        QByteArray rawLine;
    };
    struct Section {
        QString name;
        QByteArray rawHeader;
        QList<Entry> entries;
    };

    void parse(QByteArrayView bytes);
    void addLine(const QString &trimmedLine, const QByteArray &rawIfLossy, int &current);
    void appendSection(Section section);
    const Section *findSection(QStringView name) const;
    Section *findSection(QStringView name);
    const Entry *findEntry(QStringView section, QStringView key) const;
    QByteArray encode(const QString &text) const;

    QString m_fileName;
    QString m_loadError;
    IniEncoding m_encoding = IniEncoding::Ansi;
    QList<Section> m_sections;
    // Case-folded section name to its index: a file with many sections loads in linear time.
    QHash<QString, qsizetype> m_sectionIndex;
    bool m_modified = false;
};

// Settings file path for a program file: the program path with its extension replaced by
// ".ini". The extension runs from the last "." after the last "/"; a name without such a dot
// gets ".ini" appended ("/opt/app.d/tonelark" -> "/opt/app.d/tonelark.ini").
QString iniPathForProgram(const QString &programPath);

// Where the settings file lives: next to the program when its folder is writable, otherwise
// in `configFolder` under the same file name.
QString resolveSettingsFileName(const QString &programPath, bool programFolderWritable,
                                const QString &configFolder);

// The user's config folder for this program: $XDG_CONFIG_HOME/Tonelark, by default
// ~/.config/Tonelark. Not created here; UpdateFile creates it on the first save.
QString userConfigFolder();

// resolveSettingsFileName for a real program file, checking its folder's writability now.
QString settingsFileNameForProgram(const QString &programPath);

// The process-wide settings file path. Set once by the program entry before the first
// GetIniFile call.
QString SettingsFileName();
void SetSettingsFileName(const QString &fileName);

// The one program-wide store, loaded from SettingsFileName() on the first call.
Convex &GetIniFile();
// Destroys the program-wide store without saving; the next GetIniFile loads the file again.
void FreeIniFile();

} // namespace tonelark
