#pragma once

#include "ModalLoop.h"
#include "SmfTexts.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The lyric list's copy and save texts, and the save command's sequence.
namespace tonelark {

class Ui;

enum class LyricsSaveFormat {
    LyricsOnly,     // "歌詞のみ(&L)..."
    TimesAndLyrics, // "演奏時間と歌詞(&T)...": every row with its time, also hidden ones
};

// The optional heading line of a saved file.
struct LyricsHeading {
    bool include = true;     // pmiLyricsIncludeMetaText
    bool titleFirst = true;  // pmiLyricsPreferTitleToCopyright
    QString copyright;       // editCopyright's text as shown, not trimmed
    QString title;           // editTitle's text as shown
    QString separator;       // GetSeparatorText
};

// The lines of a saved file: the heading and an empty line when included, then one line
// per row.
QStringList lyricsSaveLines(const TSmfMetaEventString &lyrics, LyricsSaveFormat format,
                            const LyricsHeading &heading);

// The file's bytes: every line followed by CR LF, in CP932 without a byte-order mark;
// characters CP932 lacks become '?'.
QByteArray lyricsFileBytes(const QStringList &lines);

// The clipboard text of the rows `rows` (any order, indexes past the lines ignored): their
// lyric texts from row 0 upward, each followed by CR LF. Empty for no rows.
QString lyricsCopyText(const TSmfMetaEventString &lyrics, QList<int> rows);

// Replaces the file at `path` by `bytes` through a temporary file in the same folder that
// is renamed over it, so a failed write leaves any existing file as it was. Returns the
// message to show on failure.
std::optional<QString> replaceFileContents(const QString &path, const QByteArray &bytes);

// One save command: sets InModalLoop, asks `ui` for the file (dialogSaveFile preset with
// `proposedName`, which may lead with the folder the dialog starts in), builds the lines
// with `lines` only after the dialog closed with a file, writes them and shows a failure
// through `ui`. Nothing is written when another song was
// loaded while the dialog was open. Returns whether a file was written.
bool saveLyricsFile(Ui &ui, ModalLoopState &modalLoop, const QString &proposedName,
                    bool classicDialog, const std::function<QStringList()> &lines);

} // namespace tonelark
