#pragma once

#include "SmfTexts.h"

#include <QColor>
#include <QHash>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <functional>

// The lyric list's widget side: the list class with its play and scroll operations, and the
// delegate that draws the highlighted rows through a free painting function.
namespace tonelark {

// How a highlighted row is drawn (FontBold, FontItalic, Lyric/BackColor, TextColor).
struct LyricHighlightLook {
    bool bold = true;
    bool italic = false;
    QColor back;
    QColor text;
};

// Draws one cell of the list into `painter`: the row's own look, or for a highlighted row
// the look's font style and colours. `option` is a fully initialised item option (text,
// rect, font, palette); the style of option.widget, or the application's, draws it.
void paintLyricCell(QPainter *painter, const QStyleOptionViewItem &option, bool highlighted,
                    const LyricHighlightLook &look);

// One furigana of a cell: the base at `column` of the cell's text, its reading above it.
struct LyricRuby {
    int column = 0;
    QString base;
    QString reading;
};

// The same for a text cell with furigana: the base text along the bottom of the cell, each
// reading in a smaller font centred above its base.
void paintLyricRubyCell(QPainter *painter, const QStyleOptionViewItem &option, bool highlighted,
                        const LyricHighlightLook &look, const QList<LyricRuby> &ruby);

// The font of the readings for a row font, and the height a row needs to show them.
QFont lyricRubyFont(const QFont &font);
int lyricRubyRowHeight(const QFont &font);

// What the highlight rule reads at drawing time: the last poll's position and song end.
struct LyricsPosition {
    qint64 nowMs = 0;          // BrsStatus.Time
    qint64 lastNoteTimeMs = 0; // BrsSmfInfo.LastNoteTime
};

// lvLyricsCustomDrawItem: decides per drawn row, in constant time, whether it is
// highlighted, and shows the whole text of a cut-off cell as its tool tip.
class LyricsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    LyricsDelegate(const TSmfMetaEventString &lyrics, std::function<LyricsPosition()> position,
                   QObject *parent = nullptr);

    // ApplyColor and the look, from the settings.
    void setHighlight(qint32 applyColor, const LyricHighlightLook &look);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    // Taller rows for a song with furigana, so that the readings fit above the text.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // The rows among first..last whose highlight now differs from how they were last painted:
    // all a tick has to repaint. Rows never painted are left to their first paint.
    QList<int> rowsWithStaleHighlight(int first, int last) const;
    // After the rows changed (a new song): nothing painted is known any more.
    void forgetPaintedRows() { m_paintedHighlight.clear(); }

private:
    bool highlightedAt(int row, const LyricsPosition &position) const;

    const TSmfMetaEventString &m_lyrics;
    std::function<LyricsPosition()> m_position;
    qint32 m_applyColor = 0;
    LyricHighlightLook m_look;
    // Row to the highlight it was last painted with.
    mutable QHash<int, bool> m_paintedHighlight;
};

// lvLyrics: a flat two-column list without headers, multi-row selection that stays visible
// without the focus. A double-click or Enter (any modifiers) asks to play
// from the selection.
class TListView : public QTreeView {
    Q_OBJECT
public:
    explicit TListView(QWidget *parent = nullptr);

    // The lowest selected row, or -1.
    int firstSelectedRow() const;
    // All selected rows, ascending.
    QList<int> selectedRowsAscending() const;
    // Scrolls as little as needed for `row` to be entirely visible; constant time.
    void scrollRowIntoView(int row);
    // The number of rows the viewport shows whole (at least 1).
    int wholeVisibleRows() const;
    // The row at the top of the viewport.
    int topRow() const;
    // Repaints one row (both columns), nothing else.
    void updateRow(int row);
    // The height of every row (the rows share one height).
    int uniformRowHeight() const;
    void reset() override;

signals:
    void playRequested();

protected:
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    mutable int m_rowHeight = 0; // 0: not measured since the last font or model change
};

} // namespace tonelark
