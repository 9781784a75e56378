// One running instance per user. The first instance holds an exclusive lock on a file
// in a folder only this user may enter ($XDG_RUNTIME_DIR, else a 0700 folder of its
// own under /tmp); a second start finds the lock taken. The kernel drops the lock with
// the process, so neither a crash nor the file left behind blocks the next start, and
// no other user can reach the file to hold it.
//
// Beside the lock the first instance listens on a socket, <name>.socket in the same
// folder, from the moment it holds the lock: a later start hands its request
// (come to the front, open a file) over that socket and ends. Connections wait in
// the socket's queue until the program has a window to take them.
#pragma once

#include <QByteArray>
#include <QString>

// The folder for the lock: runtimeDir when it is an absolute path to a real folder
// (not a link) owned by this user and closed to everyone else; otherwise
// fallbackBase/<name>-<uid>, created with mode 0700 when missing and accepted under the
// same conditions. "" when neither qualifies (someone else made the fallback folder):
// the program then runs without the check rather than let another user stop it.
QString privateInstanceFolder(const QString& runtimeDir, const QString& fallbackBase, const QString& name);

class SingleInstance {
public:
    // name identifies the program; the folder comes from $XDG_RUNTIME_DIR or /tmp.
    explicit SingleInstance(const QString& name);
    // The lock lives in folder; an empty folder means "no check, this is the first".
    SingleInstance(const QString& name, const QString& folder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is the only instance (it holds the lock until it ends).
    bool isFirst() const { return first_; }

    // The first instance's listening socket, handed to whoever takes the requests
    // (it then closes it); -1 when there is none (no private folder, or not first).
    int takeListener();
    // A later start: delivers the message to the first instance; false when it
    // cannot (none listens, or it does not take it within a few seconds).
    bool handOver(const QByteArray& message) const;

private:
    QString socketPath_;
    int fd_ = -1;
    int listener_ = -1;
    bool first_ = true;
};
