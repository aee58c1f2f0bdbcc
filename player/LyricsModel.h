#pragma once

#include "SmfTexts.h"
#include "SungLines.h"

#include <QAbstractTableModel>

#include <optional>

// The lyric list's data: an owner-data model over SmfLyrics, the search for the row at the
// playing position, the highlight rule and the following step's decision. None of it keeps
// a copy of the rows, and nothing here costs more than O(log n) per tick.
namespace tonelark {

// The two columns of lvLyrics.
enum LyricsColumn { kLyricsTimeColumn = 0, kLyricsTextColumn = 1 };

// Data roles beyond DisplayRole. kLyricsRubyRole (text column): the row's furigana as a
// QVariantList of QVariantList{column, base, reading}, or an invalid QVariant.
// kLyricsSongHasRubyRole (any cell): true when some row of the song has furigana.
enum LyricsRole { kLyricsRubyRole = Qt::UserRole + 1, kLyricsSongHasRubyRole };

// The row's text with each reading after its base in parentheses: "春(はる)の小川(おがわ)".
QString lyricTextWithReadings(const SungLine &line);

// "%.2d:%.2d" of whole seconds: minutes (three digits from 100 on) and seconds.
QString lyricTimeText(qint32 second);

// The rows of lvLyrics, read straight from SmfLyrics by index when a row is drawn. The row
// count is set by the loader after each load (setItemCount), so a failed load that keeps
// the previous lines keeps the previous count too.
class LyricsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit LyricsModel(const TSmfMetaEventString &lyrics, QObject *parent = nullptr);

    void setItemCount(int count);
    int itemCount() const { return m_count; }
    // The sung lines behind the rows (the loader keeps them beside SmfLyrics, one per row);
    // read only while they have as many lines as SmfLyrics has rows. Set before the
    // loader's setItemCount, which takes the song's furigana in.
    void setSungLines(const SungLines *lines) { m_sung = lines; }
    const SungLine *sungLine(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    // lvLyricsData: DisplayRole of column 0 the time (empty for HideLyricTime rows), of
    // column 1 the lyric line.
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    const TSmfMetaEventString &m_lyrics;
    const SungLines *m_sung = nullptr;
    int m_count = 0;
    bool m_hasRuby = false; // as of the last setItemCount
};

// The row at `tick` by binary search on the rows' Tick: an equal row when one is met,
// otherwise the last row below `tick`, 0 before the first row and for no rows. Never
// negative. Rows out of tick order give an arbitrary (but valid) row.
int GetCurrentPlayingLyricIndex(const TSmfMetaEventString &lyrics, qint32 tick);

// Whether row `row` is drawn highlighted at `nowMs`. ApplyColor 0: start <= now < the
// next row's start (the last row ends at lastNoteTimeMs); 1: start <= now; any other
// value: never.
bool isLyricRowHighlighted(const TSmfMetaEventString &lyrics, int row, qint64 nowMs,
                           qint64 lastNoteTimeMs, qint32 applyColor);

// The following step's scroll decision for the current row `index`: the row to bring into
// view, or nothing. `lastLyricIndex` (LastLyricIndex) becomes `index` whenever it differs,
// also when following is off or there are no rows.
std::optional<int> followLyricRow(int index, int &lastLyricIndex, bool scrollToCurrent,
                                  int rowCount);

// The scroll offset after bringing the item [itemStart, itemStart + itemExtent) entirely
// into a viewport of `viewportExtent` at `offset`, moving as little as needed (an item
// larger than the viewport is aligned at its start).
int minimalScrollOffset(int offset, int viewportExtent, int itemStart, int itemExtent);

} // namespace tonelark
