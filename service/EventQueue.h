// Hands the library's events from its thread to the service's main thread. The
// library's side only copies the event and wakes the main thread through an
// eventfd, so a slow log (a stuck journal) never holds up the ports; the main
// thread sleeps in poll() until the eventfd is readable. At most `limit` events
// wait; more are counted as lost rather than queued.
#pragma once

#include "vspdevices.h"

#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace service {

class EventQueue {
public:
    explicit EventQueue(std::size_t limit = 1024);
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Readable while events wait.
    int fd() const { return fd_; }
    void push(const vsp_event& event);
    // The waiting events, oldest first; `lost` gets how many did not fit since the last take.
    std::vector<vsp_event> take(std::size_t& lost);

    // The library's handler: context is the queue.
    static void handler(const vsp_event* event, void* context);

private:
    std::size_t limit_;
    int fd_ = -1;
    std::mutex mutex_;
    std::deque<vsp_event> events_;
    std::size_t lost_ = 0;
};

}  // namespace service
