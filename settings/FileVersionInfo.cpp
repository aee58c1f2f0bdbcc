#include "FileVersionInfo.h"

#include "FileNames.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tonelark {

namespace {

const char *const kKeys[kFileVersionInfoTypeCount] = {
    "Comments",       "InternalName", "ProductName",     "CompanyName",
    "LegalCopyright", "ProductVersion", "FileDescription", "LegalTrademarks",
    "PrivateBuild",   "FileVersion",  "OriginalFilename", "SpecialBuild",
};

// Caps on what one look-up reads, far above anything a real binary holds: a damaged header
// cannot make the reader allocate or scan without bound.
constexpr quint64 kMaxSectionHeaderBytes = 16u << 20;
constexpr quint64 kMaxNoteSectionBytes = 1u << 20;

constexpr quint32 kShtNote = 7;
constexpr int kRecordHeaderBytes = 20;

// A regular file read at offsets. Opened without blocking (a FIFO would wait for a writer);
// every read lies wholly inside the size seen at open or fails.
class BoundedFile {
public:
    explicit BoundedFile(const QString &fileName)
    {
        m_fd = ::open(encodeFileName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat status {};
        if (m_fd >= 0 && ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode))
            m_size = quint64(status.st_size);
    }
    ~BoundedFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    BoundedFile(const BoundedFile &) = delete;
    BoundedFile &operator=(const BoundedFile &) = delete;

    quint64 size() const { return m_size; }

    std::optional<QByteArray> read(quint64 offset, quint64 length) const
    {
        if (offset > m_size || length > m_size - offset)
            return std::nullopt;
        QByteArray bytes(qsizetype(length), Qt::Uninitialized);
        quint64 filled = 0;
        while (filled < length) {
            const ssize_t got = ::pread(m_fd, bytes.data() + filled, size_t(length - filled),
                                        off_t(offset + filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return std::nullopt; // an error, or the file shrank since it was opened
            filled += quint64(got);
        }
        return bytes;
    }

private:
    int m_fd = -1;
    quint64 m_size = 0; // 0 for anything that is no regular file
};

// Reads integers of the file's byte order from a buffer; out-of-range reads give nothing.
class Bytes {
public:
    Bytes(const QByteArray &bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}

    std::optional<quint64> get(quint64 offset, int width) const
    {
        if (offset > quint64(m_bytes.size()) || quint64(width) > quint64(m_bytes.size()) - offset)
            return std::nullopt;
        quint64 value = 0;
        for (int i = 0; i < width; ++i) {
            const quint64 byte = quint8(m_bytes[qsizetype(offset) + (m_big ? i : width - 1 - i)]);
            value = value << 8 | byte;
        }
        return value;
    }
    std::optional<quint32> u32(quint64 offset) const
    {
        const auto value = get(offset, 4);
        return value ? std::optional<quint32>(quint32(*value)) : std::nullopt;
    }

private:
    const QByteArray &m_bytes;
    bool m_big;
};

quint64 alignUp(quint64 value, quint64 alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

// The "Key\0Value\0" pairs of a string table. A pair cut off by the table's end is dropped
// with everything after it.
QList<QPair<QString, QString>> parseStrings(QByteArrayView table)
{
    QList<QPair<QString, QString>> pairs;
    qsizetype pos = 0;
    const auto next = [&](QString &out) {
        const qsizetype end = table.indexOf('\0', pos);
        if (end < 0)
            return false;
        out = QString::fromUtf8(table.sliced(pos, end - pos));
        pos = end + 1;
        return true;
    };
    while (pos < table.size()) {
        QString key;
        QString value;
        if (!next(key) || !next(value))
            break;
        if (!key.isEmpty())
            pairs.append({key, value});
    }
    return pairs;
}

// The record in a note's descriptor. `declaredSize` may exceed what the section holds.
VersionRecord parseRecord(const QByteArray &section, quint64 descOffset, quint64 declaredSize, bool big)
{
    VersionRecord record;
    record.present = true;
    if (declaredSize > quint64(section.size()) - descOffset)
        return record; // cut off: nothing of it is trusted
    const QByteArray desc = section.mid(qsizetype(descOffset), qsizetype(declaredSize));
    const Bytes bytes(desc, big);
    if (desc.size() < kRecordHeaderBytes || bytes.u32(0) != kVersionRecordFormat)
        return record;
    record.fixedValid = true;
    record.fileVersionMs = *bytes.u32(4);
    record.fileVersionLs = *bytes.u32(8);
    record.translation = *bytes.u32(12);
    const quint32 stringsSize = *bytes.u32(16);
    if (stringsSize <= quint64(desc.size()) - kRecordHeaderBytes)
        record.strings = parseStrings(QByteArrayView(desc).sliced(kRecordHeaderBytes, stringsSize));
    return record;
}

// Looks for the record among the notes of one SHT_NOTE section.
std::optional<VersionRecord> findInNotes(const QByteArray &section, quint64 alignment, bool big)
{
    const Bytes bytes(section, big);
    const quint64 size = quint64(section.size());
    const quint64 ownerSize = sizeof(kVersionNoteOwner);
    quint64 pos = 0;
    while (pos + 12 <= size) {
        const quint64 nameSize = *bytes.u32(pos);
        const quint64 descSize = *bytes.u32(pos + 4);
        const quint32 type = *bytes.u32(pos + 8);
        const quint64 descOffset = pos + 12 + alignUp(nameSize, alignment);
        if (descOffset > size)
            return std::nullopt; // a broken chain: nothing after it can be found
        if (nameSize == ownerSize && type == kVersionNoteType &&
            QByteArrayView(section).sliced(qsizetype(pos + 12), qsizetype(ownerSize)) ==
                QByteArrayView(kVersionNoteOwner, qsizetype(ownerSize)))
            return parseRecord(section, descOffset, descSize, big);
        pos = descOffset + alignUp(descSize, alignment);
    }
    return std::nullopt;
}

} // namespace

QString fileVersionInfoKey(TFileVersionInfoType type)
{
    return QString::fromLatin1(kKeys[type]);
}

std::optional<QString> VersionRecord::string(const QString &key) const
{
    for (const auto &pair : strings) {
        if (pair.first == key)
            return pair.second;
    }
    return std::nullopt;
}

VersionRecord readVersionRecord(const QString &fileName)
{
    const BoundedFile file(fileName);
    const auto ident = file.read(0, 16);
    if (!ident || !ident->startsWith("\x7f" "ELF"))
        return {};
    const int elfClass = (*ident)[4];
    const int data = (*ident)[5];
    if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2))
        return {};
    const bool is64 = elfClass == 2;
    const bool big = data == 2;

    const auto headerBytes = file.read(0, is64 ? 64 : 52);
    if (!headerBytes)
        return {};
    const Bytes header(*headerBytes, big);
    const quint64 shoff = *header.get(is64 ? 40 : 32, is64 ? 8 : 4);
    const quint64 shentsize = *header.get(is64 ? 58 : 46, 2);
    quint64 shnum = *header.get(is64 ? 60 : 48, 2);
    const quint64 minEntry = is64 ? 64 : 40;
    if (shoff == 0 || shentsize < minEntry || shoff >= file.size())
        return {};
    // With 0xFF00 sections or more the count lives in the first entry's size field.
    if (shnum == 0) {
        const auto first = file.read(shoff, shentsize);
        if (!first)
            return {};
        shnum = *Bytes(*first, big).get(is64 ? 32 : 20, is64 ? 8 : 4);
    }
    // A table that runs past the file or the cap is read as far as it goes.
    shnum = std::min({shnum, (file.size() - shoff) / shentsize, kMaxSectionHeaderBytes / shentsize});
    const auto tableBytes = file.read(shoff, shnum * shentsize);
    if (!tableBytes)
        return {};
    const Bytes table(*tableBytes, big);

    VersionRecord result;
    for (quint64 index = 0; index < shnum; ++index) {
        const quint64 entry = index * shentsize;
        if (table.u32(entry + 4) != kShtNote)
            continue;
        const quint64 offset = *table.get(entry + (is64 ? 24 : 16), is64 ? 8 : 4);
        quint64 size = *table.get(entry + (is64 ? 32 : 20), is64 ? 8 : 4);
        const quint64 align = *table.get(entry + (is64 ? 48 : 32), is64 ? 8 : 4);
        if (offset >= file.size())
            continue;
        // A section cut by a truncated file keeps what is left; a record in it reads as damaged.
        size = std::min({size, file.size() - offset, kMaxNoteSectionBytes});
        const auto section = file.read(offset, size);
        if (!section)
            continue;
        if (auto record = findInNotes(*section, align == 8 ? 8 : 4, big)) {
            if (record->fixedValid)
                return *record;
            result = *record; // damaged; an intact record in a later section wins
        }
    }
    return result;
}

QString resolveLibraryFileName(const QString &fileName)
{
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')))
        return fileName;
    struct Search {
        QByteArray wanted;
        QByteArray found;
    } search{encodeFileName(fileName), {}};
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            auto *search = static_cast<Search *>(data);
            const QByteArray path(info->dlpi_name ? info->dlpi_name : "");
            const QByteArray base = path.mid(path.lastIndexOf('/') + 1);
            if (base == search->wanted ||
                (base.startsWith(search->wanted) && base.at(search->wanted.size()) == '.')) {
                search->found = path;
                return 1;
            }
            return 0;
        },
        &search);
    return search.found.isEmpty() ? QString() : decodeFileName(search.found);
}

QString programFileName()
{
    QByteArray target(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", target.data(), size_t(target.size()));
    if (length > 0 && length < target.size())
        return decodeFileName(target.left(length));
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

void TFileVersionInfo::LoadFromFile(const QString &FileName)
{
    const VersionRecord record = readVersionRecord(resolveLibraryFileName(FileName));
    if (!record.fixedValid)
        return;
    FVerMaj = record.fileVersionMs >> 16;
    FVerMin = record.fileVersionMs & 0xFFFF;
    FVerBui = record.fileVersionLs >> 16;
    FVerRev = record.fileVersionLs & 0xFFFF;
    for (int type = 0; type < kFileVersionInfoTypeCount; ++type) {
        if (const auto value = record.string(fileVersionInfoKey(TFileVersionInfoType(type))))
            FInfoArray[type] = *value;
    }
}

QString GetFileVersionText(const QString &FileName)
{
    const VersionRecord record = readVersionRecord(resolveLibraryFileName(FileName));
    if (!record.present)
        return QString();
    if (!record.fixedValid)
        return QStringLiteral("?.?.?.?");
    return QStringLiteral("%1.%2.%3")
        .arg(record.fileVersionMs >> 16)
        .arg(record.fileVersionMs & 0xFFFF)
        .arg(record.fileVersionLs >> 16);
}

QString GetCopyrightText()
{
    return GetCopyrightText(programFileName());
}

QString GetCopyrightText(const QString &programFileName)
{
    const VersionRecord record = readVersionRecord(programFileName);
    // Only the program's Japanese table is consulted, whatever else the record holds.
    if (!record.fixedValid || record.translation != kProgramTranslation)
        return QString();
    const auto value = record.string(QStringLiteral("LegalCopyright"));
    if (!value || value->isEmpty())
        return QString();
    const QStringList pieces = value->split(QLatin1Char(' '));
    if (pieces.size() >= 3)
        return QStringLiteral("(C) %1 %2").arg(pieces[1], pieces[2]);
    QString text;
    for (const QString &piece : pieces)
        text += piece + QLatin1Char('\n');
    return text;
}

QString aboutText(const TFileVersionInfo &info)
{
    // Joined, not formatted: a "%1" inside a stored string must stay as it is.
    return info.GetString(fviFileDescription) + QStringLiteral(" Ver.%1.%2.%3\n\n")
                                                    .arg(info.VerMaj())
                                                    .arg(info.VerMin())
                                                    .arg(info.VerBui()) +
           info.GetString(fviLegalCopyright);
}

QString versionPageText(const QString &appTitle, const QString &programFileName, const QString &engineFileName,
                        const QString &compilerVersionText, const QString &engineDetails)
{
    return appTitle + QStringLiteral(" Ver.") + GetFileVersionText(programFileName) + QStringLiteral("\n\n") +
           GetCopyrightText(programFileName) + QStringLiteral("\n\nBrisola DLL: Ver.") +
           GetFileVersionText(engineFileName) +
           (engineDetails.isEmpty() ? QString() : QLatin1Char('\n') + engineDetails) +
           QStringLiteral("\n\nMML Compiler (dSakura.dll): ") + compilerVersionText;
}

} // namespace tonelark
