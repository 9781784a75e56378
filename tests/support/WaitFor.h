// Waits, without an event loop, until a condition holds: for tests that watch
// another process, a port or a display.
#pragma once

#include <QThread>
#include <functional>

inline bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000)
{
    for (int waited = 0; !condition(); waited += 20) {
        if (waited > milliseconds)
            return false;
        QThread::msleep(20);
    }
    return true;
}
