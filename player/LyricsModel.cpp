#include "LyricsModel.h"

#include <algorithm>

namespace tonelark {

namespace {

// Every line of SmfLyrics carries its info; a bare line (never made by the loader) counts
// as tick 0 and time 0 rather than crashing the drawing.
qint32 rowTick(const TSmfMetaEventString &lyrics, int row)
{
    const TSmfLyricInfo *info = lyrics.Objects(row);
    return info ? info->Tick : 0;
}

qint64 rowMillisecond(const TSmfMetaEventString &lyrics, int row)
{
    const TSmfLyricInfo *info = lyrics.Objects(row);
    return info ? info->Millisecond : 0;
}

} // namespace

QString lyricTimeText(qint32 second)
{
    return QString::asprintf("%.2d:%.2d", second / 60, second % 60);
}

LyricsModel::LyricsModel(const TSmfMetaEventString &lyrics, QObject *parent)
    : QAbstractTableModel(parent), m_lyrics(lyrics)
{
}

void LyricsModel::setItemCount(int count)
{
    beginResetModel();
    m_count = count;
    m_hasRuby = m_sung && m_sung->count() == m_lyrics.Count() &&
                std::any_of(m_sung->lines.begin(), m_sung->lines.end(),
                            [](const SungLine &line) { return !line.ruby.empty(); });
    endResetModel();
}

int LyricsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int LyricsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

const SungLine *LyricsModel::sungLine(int row) const
{
    if (!m_sung || m_sung->count() != m_lyrics.Count() || row < 0 || row >= m_sung->count())
        return nullptr;
    return &m_sung->lines[static_cast<size_t>(row)];
}

QString lyricTextWithReadings(const SungLine &line)
{
    QString text;
    qsizetype at = 0;
    for (const SungRuby &ruby : line.ruby) {
        const qsizetype end = std::min<qsizetype>(ruby.column + ruby.base.size(), line.text.size());
        if (ruby.column < at || end <= ruby.column)
            continue;
        text += QStringView(line.text).sliced(at, end - at);
        text += u'(' + ruby.reading + u')';
        at = end;
    }
    return text + line.text.mid(at);
}

QVariant LyricsModel::data(const QModelIndex &index, int role) const
{
    if (role == kLyricsSongHasRubyRole)
        return m_hasRuby;
    if (role == kLyricsRubyRole) {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || index.column() != kLyricsTextColumn)
            return {};
        const SungLine *line = sungLine(index.row());
        if (!line || line->ruby.empty())
            return {};
        QVariantList ruby;
        for (const SungRuby &pair : line->ruby)
            ruby << QVariant(QVariantList{pair.column, pair.base, pair.reading});
        return ruby;
    }
    // The count is the loader's; a row past the lines (never after a load) draws empty.
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
        index.row() >= m_lyrics.Count())
        return {};
    if (index.column() == kLyricsTextColumn)
        return m_lyrics.Strings(index.row());
    const TSmfLyricInfo *info = m_lyrics.Objects(index.row());
    if (!info || info->HideLyricTime)
        return QString();
    return lyricTimeText(info->Second);
}

QVariant LyricsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 2)
        return section == kLyricsTimeColumn ? QStringLiteral("時間") : QStringLiteral("歌詞");
    return {};
}

Qt::ItemFlags LyricsModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int GetCurrentPlayingLyricIndex(const TSmfMetaEventString &lyrics, qint32 tick)
{
    int lo = 0;
    int hi = lyrics.Count() - 1;
    while (hi >= lo) {
        const int mid = lo + (hi - lo) / 2;
        const qint32 midTick = rowTick(lyrics, mid);
        if (midTick == tick)
            return mid;
        if (midTick > tick)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    // Integer division truncates toward zero, so lo 0 and hi -1 give row 0.
    return (lo + hi) / 2;
}

bool isLyricRowHighlighted(const TSmfMetaEventString &lyrics, int row, qint64 nowMs,
                           qint64 lastNoteTimeMs, qint32 applyColor)
{
    if (row < 0 || row >= lyrics.Count())
        return false;
    const qint64 start = rowMillisecond(lyrics, row);
    switch (applyColor) {
    case 0: {
        const qint64 next =
            row + 1 < lyrics.Count() ? rowMillisecond(lyrics, row + 1) : lastNoteTimeMs;
        return start <= nowMs && nowMs < next;
    }
    case 1:
        return start <= nowMs;
    default:
        return false;
    }
}

std::optional<int> followLyricRow(int index, int &lastLyricIndex, bool scrollToCurrent,
                                  int rowCount)
{
    if (index == lastLyricIndex)
        return std::nullopt;
    lastLyricIndex = index;
    if (!scrollToCurrent || rowCount < 1)
        return std::nullopt;
    return index;
}

int minimalScrollOffset(int offset, int viewportExtent, int itemStart, int itemExtent)
{
    if (itemStart < offset || itemExtent >= viewportExtent)
        return itemStart;
    if (itemStart + itemExtent > offset + viewportExtent)
        return itemStart + itemExtent - viewportExtent;
    return offset;
}

} // namespace tonelark
