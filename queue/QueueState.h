#pragma once

#include "SongQueue.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// What the player keeps between runs in the user's state folder ($XDG_STATE_HOME/Tonelark,
// by default ~/.local/state/Tonelark), never next to the program: the queue and the recent
// files. A file there that cannot be read or is damaged is kept as it is and not written
// over for the rest of the run, as the settings file is: the user may still want what is
// in it.
namespace tonelark {

// $XDG_STATE_HOME/Tonelark, or ~/.local/state/Tonelark when the variable is unset or relative.
QString userStateFolder();

// One file of the state folder and the rule above.
class StateFile {
public:
    enum class Status { NotRead, Missing, Loaded, Damaged, Unreadable };

    explicit StateFile(QString path) : m_path(std::move(path)) {}
    QString path() const { return m_path; }

    // The file's bytes when it could be read (status Loaded or, after markDamaged, Damaged);
    // nothing when it is missing or unreadable.
    std::optional<QByteArray> read();
    // The reader found the bytes unusable.
    void markDamaged();
    Status status() const { return m_status; }
    // A note for the info area on why the file was not used and is kept; empty when it was.
    QString problem() const { return m_problem; }

    // Replaces the file by `bytes` (creating the folder), unless it was unreadable or damaged
    // when read. The reason as a sentence when nothing was written.
    std::optional<QString> write(QByteArrayView bytes);

private:
    QString m_path;
    Status m_status = Status::NotRead;
    QString m_problem;
};

// The queue as it is kept: a playlist with the current row in an extension line.
struct StoredQueue {
    QList<QueueEntry> entries;
    int current = -1;
};
QByteArray queueStateBytes(const StoredQueue &queue);
// Nothing when the bytes are no queue this program wrote (damaged).
std::optional<StoredQueue> parseQueueState(QByteArrayView bytes);

} // namespace tonelark
