#include "QueuePlayer.h"

#include "Convex.h"
#include "FileNames.h"
#include "Playlist.h"

#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>

namespace tonelark {

namespace {

const QString kQueueFileName = QStringLiteral("queue.m3u8");
const QString kRecentFileName = QStringLiteral("recent.m3u8");

bool songFileExists(const QString &path)
{
    return isRegularFile(path);
}

// An absolute path by plain text, so a name kept by its bytes stays as it is.
QString absolutePath(const QString &path)
{
    if (path.startsWith(u'/'))
        return QDir::cleanPath(path);
    return QDir::cleanPath(QDir::currentPath() + u'/' + path);
}

} // namespace

QueueSettings QueueSettings::load(const Convex &ini)
{
    QueueSettings s;
    s.ContinuousPlay = ini.ReadInteger(kSectionQueue, u"ContinuousPlay", s.ContinuousPlay);
    s.LoopCount = std::max(ini.ReadInteger(kSectionQueue, u"LoopCount", s.LoopCount), 0);
    const qint32 repeat = ini.ReadInteger(kSectionQueue, u"RepeatMode", int(s.Repeat));
    s.Repeat = repeat == 1 ? RepeatMode::One : repeat == 2 ? RepeatMode::All : RepeatMode::None;
    s.Shuffle = ini.ReadBool(kSectionQueue, u"Shuffle", s.Shuffle);
    s.HandOverMode = ini.ReadInteger(kSectionQueue, u"HandOverMode", s.HandOverMode) == 1 ? 1 : 0;
    s.FolderRecursive = ini.ReadBool(kSectionQueue, u"FolderRecursive", s.FolderRecursive);
    return s;
}

void QueueSettings::store(Convex &ini) const
{
    const QueueSettings stored = load(ini);
    if (stored.ContinuousPlay != ContinuousPlay)
        ini.WriteInteger(kSectionQueue, u"ContinuousPlay", ContinuousPlay);
    if (stored.LoopCount != LoopCount)
        ini.WriteInteger(kSectionQueue, u"LoopCount", LoopCount);
    if (stored.Repeat != Repeat)
        ini.WriteInteger(kSectionQueue, u"RepeatMode", int(Repeat));
    if (stored.Shuffle != Shuffle)
        ini.WriteBool(kSectionQueue, u"Shuffle", Shuffle);
    if (stored.HandOverMode != HandOverMode)
        ini.WriteInteger(kSectionQueue, u"HandOverMode", HandOverMode);
    if (stored.FolderRecursive != FolderRecursive)
        ini.WriteBool(kSectionQueue, u"FolderRecursive", FolderRecursive);
}

QueuePlayer::QueuePlayer(QueuePlayerHost &host, const QString &stateFolder, QObject *parent)
    : QObject(parent),
      m_host(host),
      m_persistent(!stateFolder.isEmpty()),
      m_queueFile(stateFolder + u'/' + kQueueFileName),
      m_recentFile(stateFolder + u'/' + kRecentFileName)
{
}

void QueuePlayer::setSettings(const QueueSettings &settings)
{
    const bool shuffleChanged = settings.Shuffle != m_queue.shuffle();
    m_settings = settings;
    m_queue.setRepeatMode(settings.Repeat);
    if (shuffleChanged)
        m_queue.setShuffle(settings.Shuffle);
    emit changed();
}

void QueuePlayer::restore()
{
    m_queue.setRepeatMode(m_settings.Repeat);
    m_queue.setShuffle(m_settings.Shuffle);
    if (!m_persistent) {
        emit changed();
        return;
    }
    if (const std::optional<QByteArray> bytes = m_queueFile.read()) {
        if (const std::optional<StoredQueue> stored = parseQueueState(*bytes)) {
            m_queue.assign(stored->entries, stored->current);
            for (int row = 0; row < m_queue.count(); ++row)
                m_queue.setMissing(row, !songFileExists(m_queue.entries()[row].path));
        } else {
            m_queueFile.markDamaged();
        }
    }
    if (const std::optional<QByteArray> bytes = m_recentFile.read()) {
        if (const std::optional<RecentFiles> recent = RecentFiles::fromBytes(*bytes))
            m_recent = *recent;
        else
            m_recentFile.markDamaged();
    }
    for (const StateFile *file : {&m_queueFile, &m_recentFile}) {
        if (!file->problem().isEmpty()) {
            m_notes << file->problem();
            m_saveFailureNoted = true;
        }
    }
    if (m_settings.Shuffle)
        m_queue.setShuffle(true);
    flushNotes();
    emit changed();
}

QStringList QueuePlayer::expand(const QStringList &paths)
{
    QStringList songs;
    for (const QString &given : paths) {
        const QString path = absolutePath(given);
        if (isFolder(path)) {
            const QStringList found = songsInFolder(path, m_settings.FolderRecursive);
            if (found.isEmpty())
                m_notes << QStringLiteral("曲順: フォルダー \"%1\" に曲がありません。").arg(displayFileName(path));
            songs << found;
        } else if (isPlaylistFileName(path) && pathExists(path)) {
            const PlaylistRead read = readPlaylistFile(path);
            if (read.error)
                m_notes << *read.error;
            for (const QueueEntry &entry : read.entries)
                songs << entry.path;
        } else {
            songs << path;
        }
    }
    return songs;
}

void QueuePlayer::open(const QStringList &paths, QueueJoin join)
{
    const QStringList songs = expand(paths);
    if (songs.isEmpty()) {
        flushNotes();
        return;
    }
    if (songs.size() == 1) {
        const QString &song = songs.first();
        // One missing file: the loader's own message, and nothing else changes.
        if (!pathExists(song)) {
            flushNotes();
            m_host.loadSong(song);
            return;
        }
        // A song already in the queue plays from there instead of joining twice.
        for (int row = 0; row < m_queue.count(); ++row) {
            if (m_queue.entries()[row].path != song)
                continue;
            if (join == QueueJoin::PlayNow || !hasLoadedSong())
                loadRow(row);
            else
                flushNotes();
            return;
        }
    }
    const int first = join == QueueJoin::PlayNow ? m_queue.insertAfterCurrent(songs) : m_queue.append(songs);
    int toPlay = -1;
    for (int row = first; row < first + songs.size(); ++row) {
        const QString &path = m_queue.entries()[row].path;
        if (!songFileExists(path)) {
            m_queue.setMissing(row, true);
            m_notes << QStringLiteral("曲順: \"%1\" が見つかりません。").arg(displayFileName(path));
        } else if (toPlay < 0) {
            toPlay = row;
        }
    }
    saveState();
    emit changed();
    if (toPlay >= 0 && (join == QueueJoin::PlayNow || !hasLoadedSong()))
        loadRow(toPlay);
    else
        flushNotes();
}

void QueuePlayer::openHandedOver(const QString &path)
{
    const QString absolute = absolutePath(path);
    open({absolute}, m_settings.HandOverMode == 1 ? QueueJoin::Append : QueueJoin::PlayNow);
    m_lastHandedOver = absolute;
}

void QueuePlayer::queueFollowingHandOver(const QString &path)
{
    const QString absolute = absolutePath(path);
    int after = -1;
    for (int row = 0; row < m_queue.count(); ++row)
        if (m_queue.entries()[row].path == m_lastHandedOver)
            after = row;
    if (after < 0) {
        open({absolute}, QueueJoin::Append);
        m_lastHandedOver = absolute;
        return;
    }
    const int before = m_queue.count();
    insertAt(after + 1, {absolute});
    // A folder brings several songs: the next file follows the last of them.
    const int added = m_queue.count() - before;
    if (added > 0)
        m_lastHandedOver = m_queue.entries()[after + added].path;
}

void QueuePlayer::openPlaylist(const QString &path)
{
    const PlaylistRead read = readPlaylistFile(path);
    if (read.error) {
        m_host.showQueueNote(*read.error);
        return;
    }
    QList<QueueEntry> entries = read.entries;
    for (QueueEntry &entry : entries)
        entry.missing = !songFileExists(entry.path);
    m_queue.assign(entries);
    if (m_settings.Shuffle)
        m_queue.setShuffle(true);
    saveState();
    emit changed();
    next();
}

std::optional<QString> QueuePlayer::savePlaylist(const QString &path) const
{
    return savePlaylistFile(path, m_queue.entries());
}

void QueuePlayer::playRow(int row)
{
    if (row < 0 || row >= m_queue.count())
        return;
    if (!songFileExists(m_queue.entries()[row].path)) {
        m_queue.setMissing(row, true);
        noteSkipped({row});
        flushNotes();
        emit changed();
        return;
    }
    loadRow(row);
}

void QueuePlayer::removeRows(const QList<int> &rows)
{
    m_queue.removeRows(rows);
    saveState();
    emit changed();
}

void QueuePlayer::moveRow(int from, int to)
{
    m_queue.move(from, to);
    saveState();
    emit changed();
}

void QueuePlayer::insertAt(int row, const QStringList &paths)
{
    const QStringList songs = expand(paths);
    const int first = m_queue.insert(row, songs);
    for (int at = first; at < first + songs.size(); ++at)
        m_queue.setMissing(at, !songFileExists(m_queue.entries()[at].path));
    saveState();
    flushNotes();
    emit changed();
}

void QueuePlayer::clear()
{
    m_queue.clear();
    saveState();
    emit changed();
}

bool QueuePlayer::loadRow(int row)
{
    const QString path = m_queue.entries()[row].path;
    m_queue.setCurrent(row);
    LoadOutcome outcome;
    {
        const QScopedValueRollback loading(m_loading, true);
        outcome = m_host.loadSong(path);
    }
    m_userCommand = false;
    m_advancePending = false;
    m_endHandled = false;
    m_lastState = BRSSTATE_STOP;
    // A box of the load may have let the queue change under it: find the song again.
    int at = row < m_queue.count() && m_queue.entries()[row].path == path ? row : -1;
    for (int other = 0; at < 0 && other < m_queue.count(); ++other)
        if (m_queue.entries()[other].path == path)
            at = other;
    if (outcome == LoadOutcome::Success) {
        if (at >= 0) {
            m_queue.setCurrent(at);
            m_queue.setTitle(at, m_host.loadedSongTitle());
            m_queue.setLength(at, m_host.loadedSongLengthMs());
            m_queue.setMissing(at, false);
        }
        songBecameLoaded(path);
    } else if (outcome == LoadOutcome::MissingFile) {
        if (at >= 0)
            m_queue.setMissing(at, true);
    } else if (outcome == LoadOutcome::Deferred) {
        // Another load's box is open: the gate loads this song once it closes, and the song
        // on screen until then is still the loaded one.
    } else {
        // The loader emptied the window: no song is loaded now.
        m_loadedPath.clear();
    }
    saveState();
    flushNotes();
    emit changed();
    return outcome == LoadOutcome::Success;
}

void QueuePlayer::songBecameLoaded(const QString &path)
{
    m_loadedPath = path;
    m_recent.add(path);
    // The desktop's list is a courtesy to file choosers; when it cannot be written the player
    // carries on without it.
    if (m_persistent)
        addToRecentlyUsed(path);
}

void QueuePlayer::noteSkipped(const QList<int> &rows)
{
    for (int row : rows)
        m_notes << QStringLiteral("曲順: \"%1\" が見つからないため飛ばしました。")
                       .arg(displayFileName(m_queue.entries()[row].path));
}

void QueuePlayer::flushNotes()
{
    const QStringList notes = std::exchange(m_notes, {});
    for (const QString &note : notes)
        m_host.showQueueNote(note);
}

bool QueuePlayer::next()
{
    const SongQueue::Step step = m_queue.next(true, songFileExists);
    noteSkipped(step.skipped);
    if (step.row)
        return loadRow(*step.row);
    flushNotes();
    emit changed();
    return false;
}

bool QueuePlayer::previous(qint32 positionMs)
{
    if (hasLoadedSong() && positionMs >= kPreviousRestartsAfterMs) {
        m_host.restartSong();
        return true;
    }
    const SongQueue::Step step = m_queue.previous(true, songFileExists);
    noteSkipped(step.skipped);
    if (step.row)
        return loadRow(*step.row);
    flushNotes();
    emit changed();
    if (hasLoadedSong()) {
        m_host.restartSong();
        return true;
    }
    return false;
}

bool QueuePlayer::canGoNext() const
{
    return m_queue.canGoNext();
}

bool QueuePlayer::canGoPrevious() const
{
    return hasLoadedSong() || m_queue.canGoPrevious();
}

bool QueuePlayer::engineShouldLoop(bool songHasLoopPoint) const
{
    // Songs the queue did not load (none yet) keep the single-song behaviour.
    if (!m_loading && !hasLoadedSong())
        return true;
    if (!continuousPlayOn(m_settings.ContinuousPlay, m_queue.count(), m_settings.Repeat))
        return true;
    if (songHasLoopPoint && m_settings.LoopCount != 1)
        return true;
    return !(m_settings.Repeat == RepeatMode::One || m_queue.canGoNext());
}

void QueuePlayer::polled(const TBrs4PlayerStatus &status, const TBrs4SmfInformation &info)
{
    // The loader's own step of the monitor, in the middle of a load, is no song's end.
    if (m_loading)
        return;
    const int state = status.State;
    const bool wasPlaying = m_lastState == BRSSTATE_PLAY;
    m_lastState = state;
    if (m_userCommand) {
        m_userCommand = false;
        m_endHandled = false;
        return;
    }
    if (m_endHandled || m_advancePending || !hasLoadedSong())
        return;
    if (!continuousPlayOn(m_settings.ContinuousPlay, m_queue.count(), m_settings.Repeat))
        return;
    SongEndInputs in;
    in.wasPlaying = wasPlaying;
    in.state = state;
    in.tick = status.Tick;
    in.totalTick = info.TotalTick;
    in.loopCount = status.LoopCount;
    in.hasLoopPoint = info.LoopTick >= 0;
    in.loopCountSetting = m_settings.LoopCount;
    if (!songReachedEnd(in))
        return;
    m_endHandled = true;
    m_advancePending = true;
    // Outside the poll: the load runs the monitor itself and may show a box.
    QMetaObject::invokeMethod(this, &QueuePlayer::advanceAtEnd, Qt::QueuedConnection);
}

void QueuePlayer::advanceAtEnd()
{
    if (!m_advancePending)
        return; // a load or a command came first
    m_advancePending = false;
    const SongQueue::Step step = m_queue.next(false, songFileExists);
    noteSkipped(step.skipped);
    if (step.row) {
        loadRow(*step.row);
        return;
    }
    flushNotes();
    emit changed();
}

QStringList QueuePlayer::recentFiles()
{
    if (m_recent.prune(songFileExists))
        saveState();
    return m_recent.paths();
}

QString QueuePlayer::folderOf(int row) const
{
    if (row < 0 || row >= m_queue.count())
        return {};
    return QFileInfo(m_queue.entries()[row].path).path();
}

void QueuePlayer::saveState()
{
    if (!m_persistent)
        return;
    StoredQueue stored{m_queue.entries(), m_queue.current()};
    const std::optional<QString> queueError = m_queueFile.write(queueStateBytes(stored));
    const std::optional<QString> recentError = m_recentFile.write(m_recent.toBytes());
    // Said once a run: the queue goes on working in memory.
    if ((queueError || recentError) && !m_saveFailureNoted) {
        m_saveFailureNoted = true;
        m_host.showQueueNote(queueError ? *queueError : *recentError);
    }
}

} // namespace tonelark
