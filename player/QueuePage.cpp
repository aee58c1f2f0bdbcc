#include "QueuePage.h"

#include "CstmUtils.h"
#include "FileNames.h"
#include "ModalLoop.h"
#include "QueuePlayer.h"
#include "Ui.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPalette>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace tonelark {

namespace {

const QString kPlaylistFilter = QStringLiteral("プレイリスト (*.m3u8 *.m3u)");
constexpr int kLoopCounts[] = {0, 1, 2, 3, 5, 10};

QStringList localPaths(const QList<QUrl> &urls)
{
    QStringList paths;
    for (const QUrl &url : urls)
        if (url.isLocalFile())
            paths << pathFromArgument(url.toString(QUrl::FullyEncoded));
    return paths;
}

} // namespace

QString queueEntryCaption(const QString &path, const QString &title)
{
    if (!title.isEmpty())
        return title;
    return displayFileName(QStringView(path).mid(path.lastIndexOf(u'/') + 1));
}

QueueListModel::QueueListModel(const SongQueue &queue, QObject *parent)
    : QAbstractTableModel(parent), m_queue(queue)
{
}

void QueueListModel::refresh()
{
    beginResetModel();
    endResetModel();
}

int QueueListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_queue.count();
}

int QueueListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant QueueListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_queue.count())
        return {};
    const QueueEntry &entry = m_queue.entries()[index.row()];
    const bool playing = index.row() == m_queue.current();
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == MarkColumn)
            return playing ? QStringLiteral("▶") : QString();
        if (index.column() == TitleColumn)
            return queueEntryCaption(entry.path, entry.title);
        return entry.lengthMs >= 0 ? formatMinutesSeconds(entry.lengthMs) : QString();
    case Qt::ToolTipRole:
        return displayFileName(entry.path);
    case Qt::TextAlignmentRole:
        return index.column() == LengthColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case Qt::FontRole:
        return playing ? QVariant(m_playingFont) : QVariant();
    case Qt::ForegroundRole:
        if (entry.missing)
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    default:
        return {};
    }
}

QVariant QueueListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TitleColumn:
        return QStringLiteral("曲名");
    case LengthColumn:
        return QStringLiteral("長さ");
    default:
        return QString();
    }
}

Qt::ItemFlags QueueListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList QueueListModel::mimeTypes() const
{
    return {QString::fromLatin1(kRowsMimeType), QStringLiteral("text/uri-list")};
}

QMimeData *QueueListModel::mimeData(const QModelIndexList &indexes) const
{
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        if (!rows.contains(index.row()))
            rows << index.row();
    std::sort(rows.begin(), rows.end());
    QByteArray encoded;
    for (int row : rows)
        encoded += QByteArray::number(row) + '\n';
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(kRowsMimeType), encoded);
    return mime;
}

Qt::DropActions QueueListModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions QueueListModel::supportedDragActions() const
{
    // The drop does the move itself; a move action would let the view remove the rows again.
    return Qt::CopyAction;
}

TQueueView::TQueueView(QWidget *parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) { emit playRequested(index.row()); });
}

QList<int> TQueueView::selectedRowsAscending() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TQueueView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        const QList<int> rows = selectedRowsAscending();
        if (!rows.isEmpty())
            emit removeRequested(rows);
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        currentIndex().isValid()) {
        emit playRequested(currentIndex().row());
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

int TQueueView::dropRow(const QPoint &position) const
{
    const QModelIndex index = indexAt(position);
    if (!index.isValid())
        return model() ? model()->rowCount() : 0;
    const QRect rect = visualRect(index);
    return position.y() > rect.center().y() ? index.row() + 1 : index.row();
}

void TQueueView::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if ((event->source() == this && mime->hasFormat(QString::fromLatin1(QueueListModel::kRowsMimeType))) ||
        !localPaths(mime->urls()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    event->ignore();
}

void TQueueView::dragMoveEvent(QDragMoveEvent *event)
{
    QTreeView::dragMoveEvent(event);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TQueueView::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    const int row = dropRow(event->position().toPoint());
    if (event->source() == this && mime->hasFormat(QString::fromLatin1(QueueListModel::kRowsMimeType))) {
        QList<int> rows;
        for (const QByteArray &line : mime->data(QString::fromLatin1(QueueListModel::kRowsMimeType)).split('\n'))
            if (bool ok = false; !line.isEmpty() && (line.toInt(&ok), ok))
                rows << line.toInt();
        event->setDropAction(Qt::CopyAction);
        event->accept();
        setState(NoState);
        if (!rows.isEmpty())
            emit moveRequested(rows, row);
        return;
    }
    const QStringList paths = localPaths(mime->urls());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    setState(NoState);
    // The drag source waits for the drop to end; the songs join after it.
    QMetaObject::invokeMethod(this, [this, paths, row] { emit filesDropped(paths, row); }, Qt::QueuedConnection);
}

QueuePage::QueuePage(QueuePlayer &player, Ui &ui, ModalLoopState &modalLoop, QWidget *parent)
    : QWidget(parent), m_player(player), m_ui(ui), m_modalLoop(modalLoop)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    lvQueue = new TQueueView(this);
    lvQueue->setObjectName(QStringLiteral("lvQueue"));
    m_model = new QueueListModel(player.queue(), this);
    lvQueue->setModel(m_model);
    QFont bold = lvQueue->font();
    bold.setBold(true);
    m_model->setPlayingFont(bold);
    lvQueue->header()->setStretchLastSection(false);
    lvQueue->header()->setSectionResizeMode(QueueListModel::TitleColumn, QHeaderView::Stretch);
    lvQueue->setColumnWidth(QueueListModel::MarkColumn, lvQueue->fontMetrics().horizontalAdvance(u'▶') + 10);
    lvQueue->setColumnWidth(QueueListModel::LengthColumn,
                            lvQueue->fontMetrics().horizontalAdvance(QStringLiteral("000:00")) + 12);
    layout->addWidget(lvQueue);
    buildMenu();

    lvQueue->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvQueue, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const ModalLoopGuard modal(m_modalLoop);
        popupMenuQueue->exec(lvQueue->viewport()->mapToGlobal(pos));
    });
    // Queued: a load may open a box, which must not run inside the view's own event.
    connect(lvQueue, &TQueueView::playRequested, this, [this](int row) { m_player.playRow(row); },
            Qt::QueuedConnection);
    connect(lvQueue, &TQueueView::removeRequested, this, [this](const QList<int> &rows) { m_player.removeRows(rows); });
    connect(lvQueue, &TQueueView::moveRequested, this, &QueuePage::moveRows);
    connect(lvQueue, &TQueueView::filesDropped, this,
            [this](const QStringList &paths, int row) { m_player.insertAt(row, paths); });
    connect(&m_player, &QueuePlayer::changed, this, &QueuePage::refresh);
}

void QueuePage::buildMenu()
{
    popupMenuQueue = new QMenu(this);
    popupMenuQueue->setObjectName(QStringLiteral("popupMenuQueue"));
    const auto item = [](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    const auto checkItem = [&item](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = item(menu, name, caption);
        action->setCheckable(true);
        return action;
    };
    const auto subMenu = [this](const char *name, const QString &caption) {
        QMenu *menu = popupMenuQueue->addMenu(caption);
        menu->setObjectName(QLatin1String(name));
        return menu;
    };
    pmiQueuePlay = item(popupMenuQueue, "pmiQueuePlay", QStringLiteral("再生(&P)"));
    pmiQueueRemove = item(popupMenuQueue, "pmiQueueRemove", QStringLiteral("削除(&D)"));
    pmiQueueClear = item(popupMenuQueue, "pmiQueueClear", QStringLiteral("すべて削除(&A)"));
    pmiQueueOpenFolder = item(popupMenuQueue, "pmiQueueOpenFolder", QStringLiteral("フォルダーを開く(&F)"));
    popupMenuQueue->addSeparator();
    pmiQueueSave = item(popupMenuQueue, "pmiQueueSave", QStringLiteral("保存(&S)..."));
    pmiQueueLoad = item(popupMenuQueue, "pmiQueueLoad", QStringLiteral("読み込み(&L)..."));
    popupMenuQueue->addSeparator();

    pmiQueueRepeat = subMenu("pmiQueueRepeat", QStringLiteral("リピート(&R)"));
    auto *repeatGroup = new QActionGroup(this);
    pmiQueueRepeatNone = checkItem(pmiQueueRepeat, "pmiQueueRepeatNone", QStringLiteral("なし(&N)"));
    pmiQueueRepeatOne = checkItem(pmiQueueRepeat, "pmiQueueRepeatOne", QStringLiteral("1曲(&1)"));
    pmiQueueRepeatAll = checkItem(pmiQueueRepeat, "pmiQueueRepeatAll", QStringLiteral("すべて(&A)"));
    for (QAction *action : {pmiQueueRepeatNone, pmiQueueRepeatOne, pmiQueueRepeatAll})
        repeatGroup->addAction(action);
    pmiQueueShuffle = checkItem(popupMenuQueue, "pmiQueueShuffle", QStringLiteral("シャッフル(&H)"));
    pmiQueueContinuous = checkItem(popupMenuQueue, "pmiQueueContinuous", QStringLiteral("連続再生(&C)"));
    pmiQueueLoopCount = subMenu("pmiQueueLoopCount", QStringLiteral("ループ回数(&O)"));
    m_loopCountGroup = new QActionGroup(this);
    for (int count : kLoopCounts) {
        QAction *action = checkItem(pmiQueueLoopCount, "pmiQueueLoopCountItem",
                                    count == 0 ? QStringLiteral("無限(&0)")
                                               : QStringLiteral("%1 回(&%2)").arg(count).arg(count % 10));
        action->setData(count);
        m_loopCountGroup->addAction(action);
    }
    pmiQueueRecursive =
        checkItem(popupMenuQueue, "pmiQueueRecursive", QStringLiteral("フォルダーはサブフォルダーの曲も追加(&B)"));
    pmiQueueHandOver = subMenu("pmiQueueHandOver", QStringLiteral("二重起動で渡された曲(&W)"));
    auto *handOverGroup = new QActionGroup(this);
    pmiQueueHandOverPlay = checkItem(pmiQueueHandOver, "pmiQueueHandOverPlay", QStringLiteral("今すぐ再生(&N)"));
    pmiQueueHandOverAppend = checkItem(pmiQueueHandOver, "pmiQueueHandOverAppend", QStringLiteral("曲順に追加(&Q)"));
    handOverGroup->addAction(pmiQueueHandOverPlay);
    handOverGroup->addAction(pmiQueueHandOverAppend);

    connect(popupMenuQueue, &QMenu::aboutToShow, this, &QueuePage::menuAboutToShow);
    // Queued: each of these may load a song or open a dialog, which must not run inside
    // the menu's own loop.
    connect(pmiQueuePlay, &QAction::triggered, this, [this] {
        const QModelIndex index = lvQueue->currentIndex();
        const QList<int> rows = lvQueue->selectedRowsAscending();
        m_player.playRow(index.isValid() ? index.row() : rows.value(0, -1));
    }, Qt::QueuedConnection);
    connect(pmiQueueRemove, &QAction::triggered, this,
            [this] { m_player.removeRows(lvQueue->selectedRowsAscending()); });
    connect(pmiQueueClear, &QAction::triggered, this, [this] { m_player.clear(); });
    connect(pmiQueueOpenFolder, &QAction::triggered, this, &QueuePage::openFolder, Qt::QueuedConnection);
    connect(pmiQueueSave, &QAction::triggered, this, &QueuePage::savePlaylist, Qt::QueuedConnection);
    connect(pmiQueueLoad, &QAction::triggered, this, &QueuePage::loadPlaylist, Qt::QueuedConnection);

    const auto edit = [this](auto change) {
        QueueSettings settings = m_player.settings();
        change(settings);
        m_player.setSettings(settings);
        emit settingsEdited();
    };
    connect(repeatGroup, &QActionGroup::triggered, this, [this, edit](QAction *action) {
        edit([&](QueueSettings &s) {
            s.Repeat = action == pmiQueueRepeatOne   ? RepeatMode::One
                       : action == pmiQueueRepeatAll ? RepeatMode::All
                                                     : RepeatMode::None;
        });
    });
    connect(pmiQueueShuffle, &QAction::triggered, this,
            [edit](bool on) { edit([&](QueueSettings &s) { s.Shuffle = on; }); });
    connect(pmiQueueContinuous, &QAction::triggered, this,
            [edit](bool on) { edit([&](QueueSettings &s) { s.ContinuousPlay = on ? 1 : 0; }); });
    connect(m_loopCountGroup, &QActionGroup::triggered, this, [edit](QAction *action) {
        edit([&](QueueSettings &s) { s.LoopCount = action->data().toInt(); });
    });
    connect(pmiQueueRecursive, &QAction::triggered, this,
            [edit](bool on) { edit([&](QueueSettings &s) { s.FolderRecursive = on; }); });
    connect(handOverGroup, &QActionGroup::triggered, this, [this, edit](QAction *action) {
        edit([&](QueueSettings &s) { s.HandOverMode = action == pmiQueueHandOverAppend ? 1 : 0; });
    });
}

void QueuePage::menuAboutToShow()
{
    const QList<int> rows = lvQueue->selectedRowsAscending();
    const bool any = !m_player.queue().isEmpty();
    pmiQueuePlay->setEnabled(!rows.isEmpty());
    pmiQueueRemove->setEnabled(!rows.isEmpty());
    pmiQueueOpenFolder->setEnabled(rows.size() == 1 || lvQueue->currentIndex().isValid());
    pmiQueueClear->setEnabled(any);
    pmiQueueSave->setEnabled(any);
    const QueueSettings &s = m_player.settings();
    pmiQueueRepeatNone->setChecked(s.Repeat == RepeatMode::None);
    pmiQueueRepeatOne->setChecked(s.Repeat == RepeatMode::One);
    pmiQueueRepeatAll->setChecked(s.Repeat == RepeatMode::All);
    pmiQueueShuffle->setChecked(s.Shuffle);
    pmiQueueContinuous->setChecked(continuousPlayOn(s.ContinuousPlay, m_player.queue().count(), s.Repeat));
    for (QAction *action : m_loopCountGroup->actions())
        action->setChecked(action->data().toInt() == s.LoopCount);
    pmiQueueRecursive->setChecked(s.FolderRecursive);
    pmiQueueHandOverPlay->setChecked(s.HandOverMode == 0);
    pmiQueueHandOverAppend->setChecked(s.HandOverMode == 1);
}

void QueuePage::refresh()
{
    const QList<int> selected = lvQueue->selectedRowsAscending();
    const int currentRow = lvQueue->currentIndex().row();
    m_model->refresh();
    // The reset forgets the selection: the same rows again where they still exist.
    for (int row : selected)
        if (row < m_model->rowCount())
            lvQueue->selectionModel()->select(m_model->index(row, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (currentRow >= 0 && currentRow < m_model->rowCount())
        lvQueue->selectionModel()->setCurrentIndex(m_model->index(currentRow, 0), QItemSelectionModel::NoUpdate);
    // Scrolling lays out every row: a hidden page (as at start) scrolls once it is shown.
    if (lvQueue->isVisible())
        scrollToPlaying();
}

void QueuePage::scrollToPlaying()
{
    if (const int playing = m_player.queue().current(); playing >= 0 && playing < m_model->rowCount())
        lvQueue->scrollTo(m_model->index(playing, 0));
}

void QueuePage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Only when the page itself comes up (its tab, the window from the tray): a window restored
    // from the task bar keeps where the user scrolled.
    if (!event->spontaneous())
        scrollToPlaying();
}

void QueuePage::moveRows(const QList<int> &rows, int row)
{
    // Rows above the target close up toward it, rows below follow it; their order is kept.
    int above = 0;
    int below = 0;
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    for (int from : sorted) {
        if (from < row) {
            m_player.moveRow(from - above, row - 1);
            ++above;
        } else {
            m_player.moveRow(from, std::min(row + below, m_player.queue().count() - 1));
            ++below;
        }
    }
    lvQueue->clearSelection();
}

void QueuePage::savePlaylist()
{
    SaveFileRequest request;
    request.filters = {kPlaylistFilter};
    request.defaultSuffix = QStringLiteral("m3u8");
    request.fileName = QStringLiteral("曲順.m3u8");
    request.folder = QDir::homePath();
    const QString path = m_ui.getSaveFileName(request);
    if (path.isEmpty())
        return;
    if (const std::optional<QString> error = m_player.savePlaylist(path))
        m_ui.showError(*error);
}

void QueuePage::loadPlaylist()
{
    OpenFileRequest request;
    request.filters = {kPlaylistFilter};
    request.defaultSuffix = QStringLiteral("m3u8");
    request.folder = QDir::homePath();
    const QString path = m_ui.getOpenFileName(request);
    if (!path.isEmpty())
        m_player.openPlaylist(path);
}

void QueuePage::openFolder()
{
    const QModelIndex index = lvQueue->currentIndex();
    const QList<int> rows = lvQueue->selectedRowsAscending();
    const QString folder = m_player.folderOf(index.isValid() ? index.row() : rows.value(0, -1));
    if (folder.isEmpty())
        return;
    // By the folder's bytes, so a name that is no UTF-8 still names it.
    QDesktopServices::openUrl(QUrl::fromEncoded("file://" + encodeFileName(folder).toPercentEncoding("/")));
}

} // namespace tonelark
