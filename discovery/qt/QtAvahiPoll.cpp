#include "discovery/qt/QtAvahiPoll.h"

#include <avahi-common/timeval.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <limits>

// Avahi frees its watches and timeouts from inside their own callbacks, so they are
// deleted later, by the event loop (or with the poll), and a freed one never calls
// back again.
struct AvahiWatch : QObject {
    AvahiWatch(int fd, AvahiWatchEvent events, AvahiWatchCallback callback, void* userdata)
        : fd(fd), read(fd, QSocketNotifier::Read), write(fd, QSocketNotifier::Write), callback(callback),
          userdata(userdata)
    {
        QObject::connect(&read, &QSocketNotifier::activated, this, [this] { dispatch(AVAHI_WATCH_IN); });
        QObject::connect(&write, &QSocketNotifier::activated, this, [this] { dispatch(AVAHI_WATCH_OUT); });
        watch(events);
    }
    void watch(AvahiWatchEvent events)
    {
        read.setEnabled(events & AVAHI_WATCH_IN);
        write.setEnabled(events & AVAHI_WATCH_OUT);
    }
    void dispatch(AvahiWatchEvent event)
    {
        if (freed)
            return;
        happened = event;
        callback(this, fd, event, userdata);
        happened = AvahiWatchEvent(0);
    }

    int fd;
    QSocketNotifier read;
    QSocketNotifier write;
    AvahiWatchCallback callback;
    void* userdata;
    AvahiWatchEvent happened = AvahiWatchEvent(0);
    bool freed = false;
};

struct AvahiTimeout : QObject {
    AvahiTimeout(AvahiTimeoutCallback callback, void* userdata) : callback(callback), userdata(userdata)
    {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, this, [this] {
            if (!freed)
                this->callback(this, this->userdata);
        });
    }
    // Due at the absolute time `when`; never when it is null.
    void schedule(const timeval* when)
    {
        timer.stop();
        if (!when)
            return;
        // avahi_age: how long ago `when` was, in microseconds (negative: still to come).
        const AvahiUsec due = std::max<AvahiUsec>(0, -avahi_age(when));
        const AvahiUsec ms = std::min<AvahiUsec>((due + 999) / 1000, std::numeric_limits<int>::max());
        timer.start(static_cast<int>(ms));
    }

    QTimer timer;
    AvahiTimeoutCallback callback;
    void* userdata;
    bool freed = false;
};

namespace {

AvahiWatch* watchNew(const AvahiPoll* poll, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata)
{
    auto* watch = new AvahiWatch(fd, events, callback, userdata);
    watch->setParent(static_cast<QObject*>(poll->userdata));
    return watch;
}
void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events)
{
    watch->watch(events);
}
AvahiWatchEvent watchGetEvents(AvahiWatch* watch)
{
    return watch->happened;
}
void watchFree(AvahiWatch* watch)
{
    watch->freed = true;
    watch->watch(AvahiWatchEvent(0));
    watch->deleteLater();
}

AvahiTimeout* timeoutNew(const AvahiPoll* poll, const timeval* when, AvahiTimeoutCallback callback, void* userdata)
{
    auto* timeout = new AvahiTimeout(callback, userdata);
    timeout->setParent(static_cast<QObject*>(poll->userdata));
    timeout->schedule(when);
    return timeout;
}
void timeoutUpdate(AvahiTimeout* timeout, const timeval* when)
{
    timeout->schedule(when);
}
void timeoutFree(AvahiTimeout* timeout)
{
    timeout->freed = true;
    timeout->timer.stop();
    timeout->deleteLater();
}

}  // namespace

QtAvahiPoll::QtAvahiPoll()
    : poll_{&owner_, watchNew, watchUpdate, watchGetEvents, watchFree, timeoutNew, timeoutUpdate, timeoutFree}
{
}
