#include "service/EventQueue.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace service {

EventQueue::EventQueue(std::size_t limit) : limit_(limit), fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EventQueue::~EventQueue()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void EventQueue::push(const vsp_event& event)
{
    {
        std::lock_guard lock(mutex_);
        if (events_.size() >= limit_) {
            ++lost_;
            return;
        }
        // Only what both sides know: a later library's event may be longer.
        vsp_event copy{};
        std::memcpy(&copy, &event, std::min<std::size_t>(event.size, sizeof copy));
        copy.size = sizeof copy;
        copy.text[sizeof copy.text - 1] = '\0';
        events_.push_back(copy);
    }
    const std::uint64_t one = 1;
    // An eventfd's counter cannot overflow from these few events: nothing to handle.
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

std::vector<vsp_event> EventQueue::take(std::size_t& lost)
{
    std::uint64_t count = 0;
    // Cleared before taking, so no wake-up is missed; nothing pending reads as EAGAIN.
    [[maybe_unused]] const ssize_t cleared = ::read(fd_, &count, sizeof count);
    std::lock_guard lock(mutex_);
    std::vector<vsp_event> taken(events_.begin(), events_.end());
    events_.clear();
    lost = std::exchange(lost_, 0);
    return taken;
}

void EventQueue::handler(const vsp_event* event, void* context)
{
    if (event && context)
        static_cast<EventQueue*>(context)->push(*event);
}

}  // namespace service
