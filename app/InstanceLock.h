#pragma once

#include <QString>

// One running instance per user: a lock file held with flock for the life of the first
// instance. The kernel drops the lock with its owner, crash included, so a lock file left
// behind by a killed process never blocks the next start.
namespace tonelark {

// Where the first instance's lock and hand-over server live for the current user.
struct InstanceNames {
    QString folder;
    QString lockFile;
    QString server;   // a socket path for QLocalServer / QLocalSocket

    // $XDG_RUNTIME_DIR when it names an existing folder (it is private to the user), else the
    // temp folder; the user id is part of each name either way.
    static InstanceNames forCurrentUser();
    // The names inside `folder`; `userId` keeps users apart in a shared folder.
    static InstanceNames inFolder(const QString &folder, unsigned userId);
};

class InstanceLock {
public:
    enum class State {
        Acquired,       // this process is the first instance
        HeldElsewhere,  // another instance holds the lock
        Error,          // the lock file could not be opened or locked
    };

    // Opens (creating it when missing) and locks `lockFile` without waiting.
    explicit InstanceLock(const QString &lockFile);
    // Releases the lock when this object holds it.
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    State state() const { return m_state; }
    // The system's reason when state() is Error.
    QString errorString() const { return m_error; }

private:
    int m_fd = -1;
    State m_state = State::Error;
    QString m_error;
};

} // namespace tonelark
