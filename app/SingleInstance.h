// One running instance per user: the first instance binds a socket in the abstract
// namespace; a second bind of the same name fails while the first lives. The kernel
// drops the name with the process, so a crash leaves nothing that blocks the next start.
#pragma once

#include <QString>

class SingleInstance {
public:
    // name identifies the program; the user's id is appended, so users don't collide.
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is the only instance (it holds the name until it ends).
    bool isFirst() const { return first_; }

private:
    int fd_ = -1;
    bool first_ = true;
};
