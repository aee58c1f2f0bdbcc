#pragma once

#include <QString>

#include <optional>

// One running instance per user: a lock file held with flock for the life of the first
// instance. The kernel drops the lock with its owner, crash included, so a lock file left
// behind by a killed process never blocks the next start.
namespace tonelark {

// Where the first instance's lock and hand-over server live for the current user.
struct InstanceNames {
    QString folder;
    QString lockFile;
    QString server;   // a socket path for QLocalServer / QLocalSocket

    // $XDG_RUNTIME_DIR when it names a folder private to the user, else the folder
    // "tonelark-<uid>" in the temp folder, created with mode 0700 and used only while it is
    // the user's own and closed to everyone else. Empty names (and `error` set) when no
    // private folder can be had: another user must never hold our lock or receive our paths.
    static InstanceNames forCurrentUser(QString *error = nullptr);
    // The names inside `folder`; `userId` keeps users apart in a shared folder.
    static InstanceNames inFolder(const QString &folder, unsigned userId);

    bool isValid() const { return !folder.isEmpty(); }
};

// Why `folder` is no place for per-user names, or nothing when it is a real folder (not a
// link) owned by the effective user that group and others cannot enter. With `create`, a
// missing folder is made with mode 0700 first.
std::optional<QString> privateFolderProblem(const QString &folder, bool create);

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
