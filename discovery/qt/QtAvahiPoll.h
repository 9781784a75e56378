// Avahi's event loop interface (AvahiPoll) on Qt's: its watches as socket
// notifiers, its timeouts as single-shot timers, so that an AdapterBrowser runs in
// the window's own thread without a loop of its own.
#pragma once

#include <avahi-common/watch.h>

#include <QObject>

class QtAvahiPoll {
public:
    QtAvahiPoll();
    QtAvahiPoll(const QtAvahiPoll&) = delete;
    QtAvahiPoll& operator=(const QtAvahiPoll&) = delete;

    // Valid as long as this object; it must outlive every client made with it.
    const AvahiPoll* poll() const { return &poll_; }

private:
    AvahiPoll poll_;
    // The watches and timeouts: whatever the event loop has not deleted yet goes with it.
    QObject owner_;
};
