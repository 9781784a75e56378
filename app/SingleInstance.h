// One running instance per user. The first instance holds an exclusive lock on a file
// in a folder only this user may enter ($XDG_RUNTIME_DIR, else a 0700 folder of its
// own under /tmp); a second start finds the lock taken. The kernel drops the lock with
// the process, so neither a crash nor the file left behind blocks the next start, and
// no other user can reach the file to hold it.
#pragma once

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

private:
    int fd_ = -1;
    bool first_ = true;
};
