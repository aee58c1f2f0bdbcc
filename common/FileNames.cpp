#include "FileNames.h"

#include "CstmUtils.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

namespace tonelark {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscapedByte(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool statPath(const QString &path, struct stat &status)
{
    // The system would stop the name at a NUL and find another file.
    if (path.isEmpty() || path.contains(QChar(0)))
        return false;
    return ::stat(encodeFileName(path).constData(), &status) == 0;
}

// The entry of `folder` whose name the dialog showed as `shown`, when exactly one fits.
QString matchEntry(const QString &folder, const QString &shown)
{
    DIR *dir = ::opendir(encodeFileName(folder.isEmpty() ? QStringLiteral("/") : folder).constData());
    if (!dir)
        return {};
    QString found;
    int matches = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (QFile::decodeName(name) == shown) {
            found = decodeFileName(name);
            ++matches;
        }
    }
    ::closedir(dir);
    return matches == 1 ? found : QString();
}

} // namespace

QString decodeFileName(QByteArrayView bytes)
{
    QString name;
    name.reserve(bytes.size());
    qsizetype runStart = 0;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = utf8SequenceLength(bytes, i);
        if (length > 0) {
            i += length;
            continue;
        }
        name += QString::fromUtf8(bytes.sliced(runStart, i - runStart));
        name += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
        ++i;
        runStart = i;
    }
    name += QString::fromUtf8(bytes.sliced(runStart));
    return name;
}

QByteArray encodeFileName(QStringView name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name.at(i).unicode();
        // A low surrogate after a high one is half of a real character.
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (!isEscapedByte(unit) || paired)
            continue;
        bytes += name.sliced(runStart, i - runStart).toUtf8();
        bytes += static_cast<char>(unit - kEscapeBase);
        runStart = i + 1;
    }
    bytes += name.sliced(runStart).toUtf8();
    return bytes;
}

QString displayFileName(QStringView name)
{
    QString shown = name.toString();
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const bool paired = i > 0 && shown.at(i - 1).isHighSurrogate();
        if (isEscapedByte(shown.at(i).unicode()) && !paired)
            shown[i] = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

bool pathExists(const QString &path)
{
    struct stat status {};
    return statPath(path, status);
}

bool isFolder(const QString &path)
{
    struct stat status {};
    return statPath(path, status) && S_ISDIR(status.st_mode);
}

bool isRegularFile(const QString &path)
{
    struct stat status {};
    return statPath(path, status) && S_ISREG(status.st_mode);
}

QString localPathFromFileUri(QStringView uri)
{
    if (!uri.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return {};
    QStringView rest = uri.sliced(5);
    if (rest.startsWith(QLatin1String("//"))) {
        rest = rest.sliced(2);
        const qsizetype slash = rest.indexOf(u'/');
        const QStringView host = slash < 0 ? rest : rest.first(slash);
        if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
            return {};
        rest = slash < 0 ? QStringView() : rest.sliced(slash);
    }
    if (!rest.startsWith(u'/'))
        return {};
    // A '?' or '#' inside a file name is always percent-encoded in a URI.
    qsizetype stop = rest.size();
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest.at(i) == u'?' || rest.at(i) == u'#') {
            stop = i;
            break;
        }
    }
    rest = rest.first(stop);

    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < rest.size(); ++i) {
        if (rest.at(i) != u'%' || i + 2 >= rest.size())
            continue;
        const int high = hexValue(rest.at(i + 1));
        const int low = hexValue(rest.at(i + 2));
        if (high < 0 || low < 0)
            continue;
        bytes += encodeFileName(rest.sliced(runStart, i - runStart));
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        runStart = i + 1;
    }
    bytes += encodeFileName(rest.sliced(runStart));
    if (bytes.contains('\0'))
        return {};
    return decodeFileName(bytes);
}

QString fileUriFromLocalPath(const QString &path)
{
    const QString absolute = QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path);
    const QByteArray bytes = encodeFileName(QDir::cleanPath(absolute));
    // What a URI path may hold as it is (RFC 3986 pchar and "/"), and what QUrl leaves too.
    static constexpr char kPlain[] = "-._~!$&'()*+,;=:@/[]";
    QString uri = QStringLiteral("file://");
    uri.reserve(uri.size() + bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            (byte != 0 && std::strchr(kPlain, c))) {
            uri += QLatin1Char(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            uri += QLatin1Char('%');
            uri += QLatin1Char(kHex[byte >> 4]);
            uri += QLatin1Char(kHex[byte & 0xF]);
        }
    }
    return uri;
}

QString pathFromArgument(const QString &argument)
{
    const QString path = localPathFromFileUri(argument);
    return path.isEmpty() ? argument : path;
}

QStringList commandLineArguments(int argc, const char *const *argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << pathFromArgument(decodeFileName(argv[i]));
    return arguments;
}

QString resolveDialogPath(const QString &path)
{
    if (!path.contains(QChar(QChar::ReplacementCharacter)) || pathExists(path) || !path.startsWith(u'/'))
        return path;
    const QStringList parts = path.split(u'/');
    QString resolved;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QString part = parts.at(i);
        const QString candidate = resolved + u'/' + part;
        if (part.contains(QChar(QChar::ReplacementCharacter)) && !pathExists(candidate)) {
            const QString match = matchEntry(resolved, part);
            if (match.isEmpty())
                return path;
            part = match;
        }
        resolved += u'/' + part;
    }
    return resolved;
}

} // namespace tonelark
