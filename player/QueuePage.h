#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QTreeView>
#include <QWidget>

class QAction;
class QActionGroup;
class QMenu;

// The 曲順 tab: the queue as a list (title, length, the playing song marked, missing files
// greyed), played by double-click or Enter, reordered by dragging, trimmed with Delete, and
// its menu with the playlist and play-through choices. It only shows and forwards: the
// queue player decides.
namespace tonelark {

class ModalLoopState;
class QueuePlayer;
class SongQueue;
class Ui;

class QueueListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { MarkColumn = 0, TitleColumn = 1, LengthColumn = 2, ColumnCount = 3 };
    static constexpr const char *kRowsMimeType = "application/x-tonelark-queue-rows";

    explicit QueueListModel(const SongQueue &queue, QObject *parent = nullptr);
    // The queue changed: rows, marks and texts are read again.
    void refresh();
    // The face the playing song is drawn in (the list's own, bold).
    void setPlayingFont(const QFont &font) { m_playingFont = font; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

private:
    const SongQueue &m_queue;
    QFont m_playingFont;
};

// The shown title of a queue entry: its title text once known, else the file name.
QString queueEntryCaption(const QString &path, const QString &title);

class TQueueView : public QTreeView {
    Q_OBJECT
public:
    explicit TQueueView(QWidget *parent = nullptr);
    QList<int> selectedRowsAscending() const;

signals:
    void playRequested(int row);
    void removeRequested(const QList<int> &rows);
    // Rows dragged within the list to land before `row` (the row count: at the end).
    void moveRequested(const QList<int> &rows, int row);
    // Files or folders dropped from outside, to land before `row`.
    void filesDropped(const QStringList &paths, int row);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    int dropRow(const QPoint &position) const;
};

class QueuePage : public QWidget {
    Q_OBJECT
public:
    QueuePage(QueuePlayer &player, Ui &ui, ModalLoopState &modalLoop, QWidget *parent = nullptr);

    TQueueView *lvQueue = nullptr;
    QMenu *popupMenuQueue = nullptr;
    QAction *pmiQueuePlay = nullptr;
    QAction *pmiQueueRemove = nullptr;
    QAction *pmiQueueClear = nullptr;
    QAction *pmiQueueOpenFolder = nullptr;
    QAction *pmiQueueSave = nullptr;
    QAction *pmiQueueLoad = nullptr;
    QMenu *pmiQueueRepeat = nullptr;
    QAction *pmiQueueRepeatNone = nullptr;
    QAction *pmiQueueRepeatOne = nullptr;
    QAction *pmiQueueRepeatAll = nullptr;
    QAction *pmiQueueShuffle = nullptr;
    QAction *pmiQueueContinuous = nullptr;
    QMenu *pmiQueueLoopCount = nullptr;
    QAction *pmiQueueRecursive = nullptr;
    QMenu *pmiQueueHandOver = nullptr;
    QAction *pmiQueueHandOverPlay = nullptr;
    QAction *pmiQueueHandOverAppend = nullptr;

    QueueListModel &model() { return *m_model; }

signals:
    // A choice of the menu changed the queue player's settings (to be stored).
    void settingsEdited();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildMenu();
    void menuAboutToShow();
    void refresh();
    void scrollToPlaying();
    void moveRows(const QList<int> &rows, int row);
    void savePlaylist();
    void loadPlaylist();
    void openFolder();

    QueuePlayer &m_player;
    Ui &m_ui;
    ModalLoopState &m_modalLoop;
    QueueListModel *m_model = nullptr;
    QActionGroup *m_loopCountGroup = nullptr;
};

} // namespace tonelark
