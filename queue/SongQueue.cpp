#include "SongQueue.h"

#include "FileNames.h"

#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>

#include <algorithm>
#include <random>

#include <dirent.h>
#include <sys/stat.h>

namespace tonelark {

void SongQueue::setCurrent(int row)
{
    m_current = row >= 0 && row < count() ? row : -1;
}

int SongQueue::insert(int row, const QStringList &paths)
{
    if (row < 0 || row > count())
        row = count();
    for (qsizetype i = 0; i < paths.size(); ++i)
        m_entries.insert(row + i, QueueEntry{paths[i], {}, -1, false, ++m_lastId});
    if (m_current >= row)
        m_current += int(paths.size());
    rebuildOrder();
    return row;
}

int SongQueue::insertAfterCurrent(const QStringList &paths)
{
    return insert(m_current < 0 ? -1 : m_current + 1, paths);
}

void SongQueue::assign(const QList<QueueEntry> &entries, int current)
{
    m_entries = entries;
    for (QueueEntry &entry : m_entries)
        entry.id = ++m_lastId;
    m_orderIds.clear();
    m_current = current >= 0 && current < count() ? current : -1;
    rebuildOrder();
}

void SongQueue::remove(int row)
{
    removeRows({row});
}

void SongQueue::removeRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (row < 0 || row >= count())
            continue;
        m_entries.removeAt(row);
        // The song playing keeps playing; it is simply no longer in the queue.
        if (m_current == row)
            m_current = -1;
        else if (m_current > row)
            --m_current;
    }
    rebuildOrder();
}

void SongQueue::clear()
{
    m_entries.clear();
    m_current = -1;
    m_order.clear();
    m_orderIds.clear();
}

void SongQueue::move(int from, int to)
{
    if (from < 0 || from >= count() || to < 0 || to >= count() || from == to)
        return;
    m_entries.move(from, to);
    if (m_current == from)
        m_current = to;
    else if (from < m_current && to >= m_current)
        --m_current;
    else if (from > m_current && to <= m_current && m_current >= 0)
        ++m_current;
    rebuildOrder();
}

void SongQueue::setTitle(int row, const QString &title)
{
    if (row >= 0 && row < count())
        m_entries[row].title = title;
}

void SongQueue::setLength(int row, qint32 lengthMs)
{
    if (row >= 0 && row < count())
        m_entries[row].lengthMs = lengthMs;
}

void SongQueue::setMissing(int row, bool missing)
{
    if (row >= 0 && row < count())
        m_entries[row].missing = missing;
}

void SongQueue::setShuffle(bool on, quint32 seed)
{
    m_shuffle = on;
    m_seed = seed != 0 ? seed : QRandomGenerator::global()->generate() | 1u;
    // A new draw: the current song leads, all the others follow in a new order.
    m_orderIds.clear();
    rebuildOrder();
}

void SongQueue::rebuildOrder()
{
    if (!m_shuffle) {
        m_order.clear();
        for (int row = 0; row < count(); ++row)
            m_order << row;
        return;
    }
    // The drawn order survives edits: rows still there keep their places, the current song
    // leads a fresh draw, and songs added later are drawn into the part not yet played.
    QHash<quint64, int> rowOfId;
    for (int row = 0; row < count(); ++row)
        rowOfId.insert(m_entries[row].id, row);
    QList<quint64> order;
    for (quint64 id : std::as_const(m_orderIds))
        if (rowOfId.contains(id))
            order << id;
    std::mt19937 generator(m_seed);
    if (order.isEmpty() && m_current >= 0)
        order << m_entries[m_current].id;
    const qsizetype currentAt = m_current >= 0 ? order.indexOf(m_entries[m_current].id) : -1;
    for (const QueueEntry &entry : std::as_const(m_entries)) {
        if (order.contains(entry.id))
            continue;
        const qsizetype first = currentAt + 1;
        std::uniform_int_distribution<qsizetype> place(first, order.size());
        order.insert(place(generator), entry.id);
    }
    m_seed = generator();
    m_orderIds = order;
    m_order.clear();
    for (quint64 id : std::as_const(order))
        m_order << rowOfId.value(id);
}

std::optional<int> SongQueue::orderPosition(int row) const
{
    const qsizetype at = m_order.indexOf(row);
    return at < 0 ? std::nullopt : std::optional<int>(int(at));
}

SongQueue::Step SongQueue::find(int direction, bool userAsked, const Exists &exists) const
{
    Step result;
    if (isEmpty())
        return result;
    if (!userAsked && m_repeat == RepeatMode::One && m_current >= 0 && exists(m_entries[m_current].path)) {
        result.row = m_current;
        return result;
    }
    const bool wrap = m_repeat == RepeatMode::All;
    const std::optional<int> from = orderPosition(m_current);
    int position = from ? *from : (direction > 0 ? -1 : count());
    for (int tries = 0; tries < count(); ++tries) {
        position += direction;
        if (position < 0 || position >= count()) {
            if (!wrap)
                break;
            position = direction > 0 ? 0 : count() - 1;
        }
        const int row = m_order[position];
        if (from && row == m_current)
            break; // round the whole queue: nothing else to play
        if (exists(m_entries[row].path)) {
            result.row = row;
            return result;
        }
        result.skipped << row;
    }
    return result;
}

SongQueue::Step SongQueue::step(int direction, bool userAsked, const Exists &exists)
{
    const Step result = find(direction, userAsked, exists);
    for (int row : result.skipped)
        m_entries[row].missing = true;
    if (result.row && m_entries[*result.row].missing)
        m_entries[*result.row].missing = false;
    return result;
}

SongQueue::Step SongQueue::next(bool userAsked, const Exists &exists)
{
    return step(1, userAsked, exists);
}

SongQueue::Step SongQueue::previous(bool userAsked, const Exists &exists)
{
    return step(-1, userAsked, exists);
}

bool SongQueue::canGoNext() const
{
    return knownPlayable(1);
}

bool SongQueue::canGoPrevious() const
{
    return knownPlayable(-1);
}

bool SongQueue::knownPlayable(int direction) const
{
    // By the rows' last known state: a row marked missing counts as gone.
    QHash<QString, bool> missing;
    for (const QueueEntry &entry : m_entries)
        if (entry.missing)
            missing.insert(entry.path, true);
    return find(direction, true, [&](const QString &path) { return !missing.contains(path); }).row.has_value();
}

bool continuousPlayOn(int setting, int queueCount, RepeatMode repeat)
{
    if (setting == 0)
        return false;
    if (setting > 0)
        return true;
    return queueCount > 1 || repeat != RepeatMode::None;
}

bool songReachedEnd(const SongEndInputs &in)
{
    constexpr int kStop = 0;
    constexpr int kPlay = 1;
    if (in.state == kStop)
        return in.wasPlaying && in.totalTick > 0 && in.tick >= in.totalTick;
    if (in.state != kPlay)
        return false;
    const int needed = in.hasLoopPoint ? in.loopCountSetting : 1;
    return needed > 0 && in.loopCount >= needed;
}

bool isSongFileName(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"mid" || suffix == u"midi" || suffix == u"kar" || suffix == u"mml";
}

namespace {

// Names split into runs of digits and of other characters; digit runs compare by value.
int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = a[i].isDigit() && a[i].unicode() < 128;
        const bool digitB = b[j].isDigit() && b[j].unicode() < 128;
        if (digitA && digitB) {
            qsizetype endA = i;
            qsizetype endB = j;
            while (endA < a.size() && a[endA].isDigit() && a[endA].unicode() < 128)
                ++endA;
            while (endB < b.size() && b[endB].isDigit() && b[endB].unicode() < 128)
                ++endB;
            // Leading zeros do not count toward the value; the longer run is the larger.
            QStringView runA = QStringView(a).mid(i, endA - i);
            QStringView runB = QStringView(b).mid(j, endB - j);
            while (runA.size() > 1 && runA.front() == u'0')
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.front() == u'0')
                runB = runB.mid(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size() ? -1 : 1;
            if (const int order = runA.compare(runB); order != 0)
                return order;
            i = endA;
            j = endB;
            continue;
        }
        const int order = QStringView(a).mid(i, 1).compare(QStringView(b).mid(j, 1), Qt::CaseInsensitive);
        if (order != 0)
            return order;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Equal but for case or leading zeros: a fixed order all the same.
    return a.compare(b);
}

} // namespace

void sortNamesNaturally(QStringList &names)
{
    std::stable_sort(names.begin(), names.end(),
                     [](const QString &a, const QString &b) { return naturalCompare(a, b) < 0; });
}

QStringList songsInFolder(const QString &folder, bool recursive)
{
    // Names by their bytes: QDir would turn a name that is no UTF-8 into U+FFFD, which then
    // names no file.
    QStringList files;
    QStringList folders;
    const QByteArray base = encodeFileName(folder.endsWith(u'/') ? folder : folder + u'/');
    if (DIR *dir = ::opendir(base.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            struct stat status {};
            if (::stat((base + name).constData(), &status) != 0)
                continue;
            if (S_ISDIR(status.st_mode)) {
                struct stat link {};
                // Links to folders are not followed: they may lead back up.
                if (recursive && ::lstat((base + name).constData(), &link) == 0 && !S_ISLNK(link.st_mode))
                    folders << decodeFileName(name);
            } else if (S_ISREG(status.st_mode) && isSongFileName(decodeFileName(name))) {
                files << decodeFileName(name);
            }
        }
        ::closedir(dir);
    }
    sortNamesNaturally(files);
    sortNamesNaturally(folders);
    const QString prefix = decodeFileName(base);
    QStringList result;
    for (const QString &name : files)
        result << prefix + name;
    for (const QString &name : folders)
        result << songsInFolder(prefix + name, true);
    return result;
}

} // namespace tonelark
