#include "Convex.h"

#include "CstmUtils.h"
#include "SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>

#include <memory>

namespace tonelark {

Q_LOGGING_CATEGORY(lcSettings, "tonelark.settings")

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeBom[] = "\xFF\xFE";
constexpr char kUtf16BeBom[] = "\xFE\xFF";

// Blanks as the file format counts them: every character up to and including the space,
// so tabs and stray control characters around names and values are trimmed too.
bool isBlank(QChar c) { return c.unicode() <= 0x20; }
bool isBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

QString trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString trimmedLeft(QStringView text)
{
    qsizetype begin = 0;
    while (begin < text.size() && isBlank(text[begin]))
        ++begin;
    return text.sliced(begin).toString();
}

QString trimmedRight(QStringView text)
{
    qsizetype end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    return text.first(end).toString();
}

// Byte-level trim; safe for CP932 and UTF-8 because neither uses bytes up to 0x20 inside a
// multi-byte character.
QByteArrayView trimmedBytes(QByteArrayView bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isBlank(bytes[begin]))
        ++begin;
    while (end > begin && isBlank(bytes[end - 1]))
        --end;
    return bytes.sliced(begin, end - begin);
}

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A written name or value must stay on its line: a line break inside it would start a new
// entry or even a new section when the file is read again.
QString singleLine(QStringView text)
{
    QString result = text.toString();
    result.replace(QLatin1String("\r\n"), QLatin1String(" "));
    result.replace(QLatin1Char('\r'), QLatin1Char(' '));
    result.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return result;
}

// Calls `fn` for every line of `text`; CR LF, LF and a lone CR each end a line.
template <typename View, typename Fn>
void forEachLine(View text, Fn fn)
{
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        fn(text.sliced(start, end - start));
        if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
}

std::optional<quint32> parseHexDigits(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : digits) {
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c.unicode() - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c.unicode() - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c.unicode() - u'A' + 10;
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<quint64>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return static_cast<quint32>(value);
}

} // namespace

std::optional<qint32> parseIniInteger(QStringView text)
{
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        if (const auto bits = parseHexDigits(text.sliced(2)))
            return static_cast<qint32>(*bits);
        return std::nullopt;
    }

    qsizetype pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    if (pos < text.size() && text[pos] == u'$') {
        const auto bits = parseHexDigits(text.sliced(pos + 1));
        if (!bits)
            return std::nullopt;
        // Hexadecimal is a 32-bit pattern; a sign negates it in two's complement.
        const quint32 value = negative ? 0u - *bits : *bits;
        return static_cast<qint32>(value);
    }

    const QStringView digits = text.sliced(pos);
    if (digits.isEmpty())
        return std::nullopt;
    qint64 magnitude = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > 2147483648LL)
            return std::nullopt;
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value > 2147483647LL)
        return std::nullopt;
    return static_cast<qint32>(value);
}

Convex::Convex(const QString &fileName) : m_fileName(fileName)
{
    // Never blocks and never takes more than the cap: a FIFO or a device given as the
    // settings file would otherwise freeze the start or fill the memory.
    const FileReadResult read = readRegularFile(fileName, kMaxSettingsFileBytes);
    if (read.missing)
        return;
    if (read.error) {
        m_loadError = QStringLiteral("設定ファイル「%1」を読み込めません。\n%2")
                          .arg(QDir::toNativeSeparators(fileName), *read.error);
        qCWarning(lcSettings) << m_loadError;
        return;
    }
    parse(read.bytes);
}

Convex Convex::fromBytes(QByteArrayView bytes)
{
    Convex store;
    store.parse(bytes);
    return store;
}

void Convex::parse(QByteArrayView bytes)
{
    m_sections.clear();
    m_sectionIndex.clear();
    int current = -1;

    if (bytes.startsWith(QByteArrayView(kUtf16LeBom)) || bytes.startsWith(QByteArrayView(kUtf16BeBom))) {
        const bool littleEndian = bytes.startsWith(QByteArrayView(kUtf16LeBom));
        m_encoding = littleEndian ? IniEncoding::Utf16LeBom : IniEncoding::Utf16BeBom;
        // Our own mark is already stripped; a second one is content and stays.
        QStringDecoder decoder(littleEndian ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                               QStringDecoder::Flag::ConvertInitialBom);
        const QString text = decoder.decode(bytes.sliced(2));
        forEachLine(QStringView(text), [&](QStringView line) { addLine(trimmed(line), {}, current); });
        return;
    }

    QByteArrayView body = bytes;
    m_encoding = IniEncoding::Ansi;
    if (bytes.startsWith(QByteArrayView(kUtf8Bom))) {
        m_encoding = IniEncoding::Utf8Bom;
        body = bytes.sliced(3);
    }
    // CP932 and UTF-8 never use CR or LF inside a character, so the bytes split into lines
    // before decoding; that keeps each line's original bytes at hand.
    forEachLine(body, [&](QByteArrayView line) {
        const QByteArrayView raw = trimmedBytes(line);
        const QString text = m_encoding == IniEncoding::Ansi ? ansiToUnicode(raw) : QString::fromUtf8(raw);
        const QByteArray rawIfLossy = encode(text) == raw ? QByteArray() : raw.toByteArray();
        addLine(text, rawIfLossy, current);
    });
}

void Convex::addLine(const QString &line, const QByteArray &rawIfLossy, int &current)
{
    if (line.isEmpty() || line.startsWith(u';'))
        return;
    if (line.size() >= 2 && line.startsWith(u'[') && line.endsWith(u']')) {
        const QString name = trimmed(QStringView(line).sliced(1, line.size() - 2));
        if (findSection(name)) {
            // A repeated header is ignored together with everything under it.
            current = -1;
            return;
        }
        appendSection(Section{name, rawIfLossy, {}});
        current = static_cast<int>(m_sections.size() - 1);
        return;
    }
    if (current < 0)
        return; // before the first section, or under an ignored repeated header

    Entry entry;
    const qsizetype equals = line.indexOf(u'=');
    if (equals >= 0) {
        entry.name = trimmedRight(QStringView(line).first(equals));
        entry.value = trimmedLeft(QStringView(line).sliced(equals + 1));
        entry.hasValue = true;
    } else {
        entry.name = line;
    }
    entry.rawLine = rawIfLossy;
    m_sections[current].entries.append(entry);
}

const Convex::Section *Convex::findSection(QStringView name) const
{
    const auto it = m_sectionIndex.constFind(name.toString().toCaseFolded());
    return it == m_sectionIndex.cend() ? nullptr : &m_sections.at(*it);
}

void Convex::appendSection(Section section)
{
    m_sectionIndex.insert(section.name.toCaseFolded(), m_sections.size());
    m_sections.append(std::move(section));
}

Convex::Section *Convex::findSection(QStringView name)
{
    return const_cast<Section *>(std::as_const(*this).findSection(name));
}

const Convex::Entry *Convex::findEntry(QStringView section, QStringView key) const
{
    const Section *found = findSection(section);
    if (!found)
        return nullptr;
    for (const Entry &entry : found->entries)
        if (entry.hasValue && sameName(entry.name, key))
            return &entry;
    return nullptr;
}

bool Convex::SectionExists(QStringView section) const
{
    return findSection(section) != nullptr;
}

bool Convex::ValueExists(QStringView section, QStringView key) const
{
    return findEntry(section, key) != nullptr;
}

QString Convex::ReadString(QStringView section, QStringView key, const QString &defaultValue) const
{
    const Entry *entry = findEntry(section, key);
    return entry ? entry->value : defaultValue;
}

qint32 Convex::ReadInteger(QStringView section, QStringView key, qint32 defaultValue) const
{
    const Entry *entry = findEntry(section, key);
    if (!entry)
        return defaultValue;
    return parseIniInteger(entry->value).value_or(defaultValue);
}

bool Convex::ReadBool(QStringView section, QStringView key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void Convex::WriteString(QStringView section, QStringView key, const QString &value)
{
    m_modified = true;
    Section *target = findSection(section);
    if (!target) {
        appendSection(Section{singleLine(section), {}, {}});
        target = &m_sections.last();
    }
    // A name without value is the same key: it gets its value in place rather than a second
    // line further down.
    for (Entry &entry : target->entries) {
        if (sameName(entry.name, key)) {
            entry.value = singleLine(value);
            entry.hasValue = true;
            entry.rawLine.clear();
            return;
        }
    }
    target->entries.append(Entry{singleLine(key), singleLine(value), true, {}});
}

void Convex::WriteInteger(QStringView section, QStringView key, qint32 value)
{
    WriteString(section, key, QString::number(value));
}

void Convex::WriteBool(QStringView section, QStringView key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray Convex::encode(const QString &text) const
{
    switch (m_encoding) {
    case IniEncoding::Ansi:
        return unicodeToAnsi(text);
    case IniEncoding::Utf8Bom:
        return text.toUtf8();
    case IniEncoding::Utf16LeBom: {
        QStringEncoder encoder(QStringEncoder::Utf16LE);
        return encoder.encode(text);
    }
    case IniEncoding::Utf16BeBom: {
        QStringEncoder encoder(QStringEncoder::Utf16BE);
        return encoder.encode(text);
    }
    }
    return {};
}

QByteArray Convex::toBytes() const
{
    QByteArray out;
    switch (m_encoding) {
    case IniEncoding::Ansi:
        break;
    case IniEncoding::Utf8Bom:
        out.append(kUtf8Bom);
        break;
    case IniEncoding::Utf16LeBom:
        out.append(kUtf16LeBom);
        break;
    case IniEncoding::Utf16BeBom:
        out.append(kUtf16BeBom);
        break;
    }
    const QByteArray lineEnd = encode(QStringLiteral("\n"));
    for (const Section &section : m_sections) {
        out.append(section.rawHeader.isEmpty() ? encode(u'[' + section.name + u']') : section.rawHeader);
        out.append(lineEnd);
        for (const Entry &entry : section.entries) {
            if (!entry.rawLine.isEmpty())
                out.append(entry.rawLine);
            else
                out.append(encode(entry.hasValue ? entry.name + u'=' + entry.value : entry.name));
            out.append(lineEnd);
        }
        out.append(lineEnd);
    }
    return out;
}

SaveResult Convex::UpdateFile(OverwriteUnreadable overwrite)
{
    if (m_fileName.isEmpty())
        return {false, QStringLiteral("設定ファイルの場所が決まっていないため、設定を保存できません。")};

    const auto failure = [this](const QString &reason) {
        return SaveResult{false, QStringLiteral("設定ファイル「%1」を保存できません。\n%2")
                                     .arg(QDir::toNativeSeparators(m_fileName), reason)};
    };

    const QString folder = QFileInfo(m_fileName).absolutePath();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return failure(QStringLiteral("フォルダー「%1」を作成できません。").arg(QDir::toNativeSeparators(folder)));

    if (!m_loadError.isEmpty() && overwrite != OverwriteUnreadable::Allow) {
        // The store holds only what this run wrote; saving it would wipe every other setting.
        return failure(QStringLiteral("読み込めなかった設定ファイルを上書きしないため、保存しませんでした。"));
    }
    if (const std::optional<QString> reason = saveFileAtomically(m_fileName, toBytes()))
        return failure(*reason);
    m_modified = false;
    m_loadError.clear();
    return {true, {}};
}

QString iniPathForProgram(const QString &programPath)
{
    const qsizetype slash = programPath.lastIndexOf(u'/');
    const qsizetype dot = programPath.lastIndexOf(u'.');
    if (dot > slash)
        return programPath.first(dot) + QStringLiteral(".ini");
    return programPath + QStringLiteral(".ini");
}

QString resolveSettingsFileName(const QString &programPath, bool programFolderWritable,
                                const QString &configFolder)
{
    const QString besideProgram = iniPathForProgram(programPath);
    if (programFolderWritable)
        return besideProgram;
    QString folder = configFolder;
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    const QString fileName = besideProgram.sliced(besideProgram.lastIndexOf(u'/') + 1);
    return folder + u'/' + fileName;
}

QString userConfigFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Tonelark");
}

QString settingsFileNameForProgram(const QString &programPath)
{
    const QFileInfo folder(QFileInfo(programPath).absolutePath());
    return resolveSettingsFileName(programPath, folder.isDir() && folder.isWritable(),
                                   userConfigFolder());
}

namespace {

QString &settingsFileNameValue()
{
    static QString value;
    return value;
}

std::unique_ptr<Convex> &programStore()
{
    static std::unique_ptr<Convex> store;
    return store;
}

} // namespace

QString SettingsFileName()
{
    return settingsFileNameValue();
}

void SetSettingsFileName(const QString &fileName)
{
    settingsFileNameValue() = fileName;
}

Convex &GetIniFile()
{
    std::unique_ptr<Convex> &store = programStore();
    if (!store) {
        if (SettingsFileName().isEmpty())
            qCWarning(lcSettings) << "settings store opened before its file name was set";
        store = std::make_unique<Convex>(SettingsFileName());
    }
    return *store;
}

void FreeIniFile()
{
    programStore().reset();
}

} // namespace tonelark
