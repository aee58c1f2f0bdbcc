#include "LyricsViewExport.h"

#include "CstmUtils.h"
#include "LyricsModel.h"
#include "SafeFile.h"
#include "Ui.h"

#include <QFileInfo>

#include <algorithm>

namespace tonelark {

namespace {

const QString kSaveFilter = QStringLiteral("テキストファイル (*.txt)|*.txt");

} // namespace

QStringList lyricsSaveLines(const TSmfMetaEventString &lyrics, LyricsSaveFormat format,
                            const LyricsHeading &heading)
{
    QStringList lines;
    lines.reserve(lyrics.Count() + 2);
    if (heading.include) {
        const QString &first = heading.titleFirst ? heading.title : heading.copyright;
        const QString &last = heading.titleFirst ? heading.copyright : heading.title;
        lines << first + QLatin1Char(' ') + heading.separator + QLatin1Char(' ') + last;
        lines << QString();
    }
    for (int row = 0; row < lyrics.Count(); ++row) {
        if (format == LyricsSaveFormat::LyricsOnly) {
            lines << lyrics.Strings(row);
        } else {
            const TSmfLyricInfo *info = lyrics.Objects(row);
            lines << lyricTimeText(info ? info->Second : 0) + QLatin1Char(' ') + lyrics.Strings(row);
        }
    }
    return lines;
}

QByteArray lyricsFileBytes(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines) {
        bytes += unicodeToAnsi(line);
        bytes += "\r\n";
    }
    return bytes;
}

QString lyricsCopyText(const TSmfMetaEventString &lyrics, QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QString text;
    for (int row : rows) {
        if (row < 0 || row >= lyrics.Count())
            continue;
        text += lyrics.Strings(row);
        text += QLatin1String("\r\n");
    }
    return text;
}

std::optional<QString> replaceFileContents(const QString &path, const QByteArray &bytes)
{
    if (const std::optional<QString> reason = saveFileAtomically(path, bytes))
        return QStringLiteral("ファイル \"%1\" に保存できません。\r\n%2").arg(path, *reason);
    return std::nullopt;
}

bool saveLyricsFile(Ui &ui, ModalLoopState &modalLoop, const QString &proposedName,
                    bool classicDialog, const std::function<QStringList()> &lines)
{
    const ModalLoopGuard modal(modalLoop);
    SaveFileRequest request;
    request.filters = qtNameFilters(kSaveFilter);
    request.defaultSuffix = QStringLiteral("txt");
    request.fileName = QFileInfo(proposedName).fileName();
    if (proposedName.contains(u'/'))
        request.folder = QFileInfo(proposedName).path();
    request.classicDialog = classicDialog;
    const QString path = ui.getSaveFileName(request);
    // Another song loaded while the dialog was open: its lines are not the ones the user
    // chose to save, and the proposed name was the old song's.
    if (path.isEmpty() || modal.songReplaced())
        return false;
    if (const std::optional<QString> error = replaceFileContents(path, lyricsFileBytes(lines()))) {
        ui.showError(*error);
        return false;
    }
    return true;
}

} // namespace tonelark
