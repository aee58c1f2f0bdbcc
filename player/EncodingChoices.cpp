#include "EncodingChoices.h"

#include "SafeFile.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace tonelark {
namespace {

constexpr qint64 kMaxStateBytes = 16 * 1024 * 1024;
constexpr char kSection[] = "[Encodings]";

QString keyOf(const QString &songFile)
{
    return QFileInfo(songFile).absoluteFilePath();
}

} // namespace

EncodingChoices::EncodingChoices(QString stateFile) : m_stateFile(std::move(stateFile))
{
    read();
}

QString EncodingChoices::defaultStateFile()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/Tonelark/encodings.ini");
}

std::optional<QString> EncodingChoices::read()
{
    m_entries.clear();
    m_otherLines.clear();
    const FileReadResult file = readRegularFile(m_stateFile, kMaxStateBytes);
    if (file.missing)
        return std::nullopt;
    if (file.error)
        return file.error;
    // One "path=encoding" line per file, the path percent-encoded so that any name fits.
    for (const QByteArray &line : file.bytes.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed == kSection)
            continue;
        const qsizetype equals = trimmed.lastIndexOf('=');
        const std::optional<TextEncoding> choice =
            equals > 0 ? textEncodingFromName(QString::fromLatin1(trimmed.sliced(equals + 1))) : std::nullopt;
        if (!choice || *choice == TextEncoding::Auto) {
            m_otherLines << line;
            continue;
        }
        m_entries[QUrl::fromPercentEncoding(trimmed.first(equals))] = *choice;
    }
    return std::nullopt;
}

TextEncoding EncodingChoices::choiceFor(const QString &songFile)
{
    read();
    const auto found = m_entries.find(keyOf(songFile));
    return found == m_entries.end() ? TextEncoding::Auto : found->second;
}

std::optional<QString> EncodingChoices::remember(const QString &songFile, TextEncoding choice)
{
    if (const std::optional<QString> error = read())
        return QStringLiteral("文字コードの記録「%1」を読めないため、選んだ文字コードを記録しませんでした。\n%2")
            .arg(QDir::toNativeSeparators(m_stateFile), *error);
    const QString key = keyOf(songFile);
    if (choice == TextEncoding::Auto)
        m_entries.erase(key);
    else
        m_entries[key] = choice;

    QByteArray bytes = QByteArray(kSection) + '\n';
    for (const auto &[path, encoding] : m_entries)
        bytes += QUrl::toPercentEncoding(path, "/") + '=' + textEncodingName(encoding).toLatin1() + '\n';
    for (const QByteArray &line : m_otherLines)
        bytes += line + '\n';
    const QString folder = QFileInfo(m_stateFile).path();
    if (!QDir().mkpath(folder))
        return QStringLiteral("文字コードの記録のフォルダ「%1」を作れませんでした。").arg(QDir::toNativeSeparators(folder));
    if (const std::optional<QString> error = saveFileAtomically(m_stateFile, bytes))
        return QStringLiteral("文字コードの記録「%1」を保存できませんでした。\n%2")
            .arg(QDir::toNativeSeparators(m_stateFile), *error);
    return std::nullopt;
}

} // namespace tonelark
