#include "LyricsView.h"

#include "LyricsModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace tonelark {

namespace {
QStyleOptionViewItem highlightedCell(const QStyleOptionViewItem &option, bool highlighted,
                                     const LyricHighlightLook &look);
} // namespace

void paintLyricCell(QPainter *painter, const QStyleOptionViewItem &option, bool highlighted,
                    const LyricHighlightLook &look)
{
    QStyleOptionViewItem cell = highlightedCell(option, highlighted, look);
    const QWidget *widget = cell.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
}

namespace {

QStyleOptionViewItem highlightedCell(const QStyleOptionViewItem &option, bool highlighted,
                                     const LyricHighlightLook &look)
{
    QStyleOptionViewItem cell = option;
    if (highlighted) {
        if (look.bold)
            cell.font.setBold(true);
        if (look.italic)
            cell.font.setItalic(true);
        cell.fontMetrics = QFontMetrics(cell.font);
        cell.backgroundBrush = look.back;
        // Both groups: the colours must not change when the window loses the focus.
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            cell.palette.setColor(group, QPalette::Text, look.text);
    }
    return cell;
}

QList<LyricRuby> rubyOf(const QModelIndex &index)
{
    QList<LyricRuby> ruby;
    for (const QVariant &pair : index.data(kLyricsRubyRole).toList()) {
        const QVariantList fields = pair.toList();
        if (fields.size() == 3)
            ruby << LyricRuby{fields.at(0).toInt(), fields.at(1).toString(), fields.at(2).toString()};
    }
    return ruby;
}

} // namespace

QFont lyricRubyFont(const QFont &font)
{
    QFont ruby = font;
    if (font.pointSizeF() > 0)
        ruby.setPointSizeF(std::max(5.0, font.pointSizeF() * 0.6));
    else
        ruby.setPixelSize(std::max(6, font.pixelSize() * 3 / 5));
    return ruby;
}

int lyricRubyRowHeight(const QFont &font)
{
    return QFontMetrics(font).height() + QFontMetrics(lyricRubyFont(font)).height() + 2;
}

void paintLyricRubyCell(QPainter *painter, const QStyleOptionViewItem &option, bool highlighted,
                        const LyricHighlightLook &look, const QList<LyricRuby> &ruby)
{
    QStyleOptionViewItem cell = highlightedCell(option, highlighted, look);
    const QWidget *widget = cell.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The text's place as the style lays it out, found while the cell still has its text.
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget);
    const QString text = cell.text;
    cell.text.clear();
    // Background, selection and focus as for any row; the text is drawn here.
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    // Across as the style places the text, down the whole row: readings on top, text below.
    const QRect area(textRect.left() + margin, cell.rect.top(), textRect.width() - 2 * margin, cell.rect.height());
    const QFontMetrics base(cell.font);
    const QFont rubyFont = lyricRubyFont(cell.font);
    const QFontMetrics reading(rubyFont);
    const bool selected = cell.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = cell.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
    const QColor color = cell.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);

    painter->save();
    painter->setClipRect(area);
    painter->setPen(color);
    const int baseTop = area.bottom() - base.height() + 1;
    painter->setFont(cell.font);
    painter->drawText(QRect(area.left(), baseTop, area.width(), base.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      base.elidedText(text, Qt::ElideRight, area.width()));
    painter->setFont(rubyFont);
    const int rubyTop = baseTop - reading.height();
    for (const LyricRuby &pair : ruby) {
        if (pair.column < 0 || pair.column > text.size())
            continue;
        const int left = area.left() + base.horizontalAdvance(text.left(pair.column));
        const int width = base.horizontalAdvance(pair.base);
        const int needed = reading.horizontalAdvance(pair.reading);
        const int x = left + (width - needed) / 2;
        painter->drawText(QRect(x, rubyTop, needed, reading.height()), Qt::AlignLeft | Qt::AlignVCenter,
                          pair.reading);
    }
    painter->restore();
}

LyricsDelegate::LyricsDelegate(const TSmfMetaEventString &lyrics,
                               std::function<LyricsPosition()> position, QObject *parent)
    : QStyledItemDelegate(parent), m_lyrics(lyrics), m_position(std::move(position))
{
}

void LyricsDelegate::setHighlight(qint32 applyColor, const LyricHighlightLook &look)
{
    m_applyColor = applyColor;
    m_look = look;
}

void LyricsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                           const QModelIndex &index) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const LyricsPosition position = m_position ? m_position() : LyricsPosition{};
    const bool highlighted = highlightedAt(index.row(), position);
    m_paintedHighlight.insert(index.row(), highlighted);
    const QList<LyricRuby> ruby = rubyOf(index);
    if (ruby.isEmpty())
        paintLyricCell(painter, cell, highlighted, m_look);
    else
        paintLyricRubyCell(painter, cell, highlighted, m_look, ruby);
}

QSize LyricsDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.data(kLyricsSongHasRubyRole).toBool())
        size.setHeight(std::max(size.height(), lyricRubyRowHeight(option.font)));
    return size;
}

bool LyricsDelegate::highlightedAt(int row, const LyricsPosition &position) const
{
    return isLyricRowHighlighted(m_lyrics, row, position.nowMs, position.lastNoteTimeMs,
                                 m_applyColor);
}

QList<int> LyricsDelegate::rowsWithStaleHighlight(int first, int last) const
{
    QList<int> stale;
    const LyricsPosition position = m_position ? m_position() : LyricsPosition{};
    for (int row = std::max(first, 0); row <= last; ++row) {
        const auto painted = m_paintedHighlight.constFind(row);
        if (painted != m_paintedHighlight.cend() && *painted != highlightedAt(row, position))
            stale << row;
    }
    return stale;
}

bool LyricsDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                               const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (!event || !view || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    // Only a cell whose text is cut off shows it whole. Qt's tool tip is a window of its
    // own type, kept above every other window, also above a stay-on-top main window.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QStyle *style = view->style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, view);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const auto *model = qobject_cast<const LyricsModel *>(index.model());
    const SungLine *line = model && index.column() == kLyricsTextColumn ? model->sungLine(index.row()) : nullptr;
    if (line && !line->ruby.empty()) {
        // The readings, which the cell draws small, written out.
        QToolTip::showText(event->globalPos(), lyricTextWithReadings(*line), view, option.rect);
    } else if (!cell.text.isEmpty() &&
        cell.fontMetrics.horizontalAdvance(cell.text) > textRect.width() - 2 * margin) {
        QToolTip::showText(event->globalPos(), cell.text, view, option.rect);
    } else {
        QToolTip::hideText();
    }
    return true;
}

TListView::TListView(QWidget *parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Per pixel: Qt's per-row mode walks every row between the old and the new top.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    header()->setMinimumSectionSize(0);
    header()->setStretchLastSection(false);
    // The selection stays as visible as with the focus.
    QPalette palette = this->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    setPalette(palette);
}

int TListView::firstSelectedRow() const
{
    const QList<int> rows = selectedRowsAscending();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> TListView::selectedRowsAscending() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TListView::uniformRowHeight() const
{
    if (m_rowHeight <= 0 && model() && model()->rowCount() > 0)
        m_rowHeight = std::max(1, indexRowSizeHint(model()->index(0, 0)));
    return std::max(1, m_rowHeight);
}

int TListView::wholeVisibleRows() const
{
    return std::max(1, viewport()->height() / uniformRowHeight());
}

int TListView::topRow() const
{
    return verticalScrollBar()->value() / uniformRowHeight();
}

void TListView::scrollRowIntoView(int row)
{
    if (!model() || row < 0 || row >= model()->rowCount())
        return;
    // QTreeView::scrollTo looks the row up by a search through its rows, and per-row
    // scrolling walks every row between the old and the new top; with one row height
    // the pixel offset is plain arithmetic.
    const int height = uniformRowHeight();
    const int current = verticalScrollBar()->value();
    int offset = minimalScrollOffset(current, viewport()->height(), row * height, height);
    // Brought in at the bottom, the row would leave the top row cut in half: go on to the
    // next row boundary, which keeps the row whole as long as one row fits.
    if (offset != current && offset % height != 0)
        offset = std::min(offset - offset % height + height, verticalScrollBar()->maximum());
    verticalScrollBar()->setValue(offset);
}

void TListView::updateRow(int row)
{
    const int height = uniformRowHeight();
    viewport()->update(QRect(0, row * height - verticalScrollBar()->value(), viewport()->width(), height));
}

void TListView::focusInEvent(QFocusEvent *event)
{
    // Qt makes the first row current when the list gets the focus without one; after a load
    // the list has no focused item, and must not show a focus frame on row 0.
    const bool hadCurrent = currentIndex().isValid();
    QTreeView::focusInEvent(event);
    if (!hadCurrent && selectionModel())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

void TListView::reset()
{
    m_rowHeight = 0;
    QTreeView::reset();
}

void TListView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_rowHeight = 0;
    QTreeView::changeEvent(event);
}

void TListView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit playRequested();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeView::mouseDoubleClickEvent(event);
    emit playRequested();
}

} // namespace tonelark
