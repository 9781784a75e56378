#include "PortOpenWatch.h"

#include <sys/inotify.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vsp {

std::shared_ptr<PortOpenWatch> PortOpenWatch::create(asio::io_context& io)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::shared_ptr<PortOpenWatch>(new PortOpenWatch(io, fd));
}

PortOpenWatch::PortOpenWatch(asio::io_context& io, int fd) : inotify_(io, fd) {}

int PortOpenWatch::add(const std::string& path, Handler handler)
{
    const int id = ::inotify_add_watch(inotify_.native_handle(), path.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
    if (id < 0)
        return -1;
    handlers_[id] = std::move(handler);
    startReading();
    return id;
}

void PortOpenWatch::remove(int id)
{
    if (handlers_.erase(id) > 0)
        ::inotify_rm_watch(inotify_.native_handle(), id);
}

void PortOpenWatch::startReading()
{
    if (reading_)
        return;
    reading_ = true;
    inotify_.async_read_some(asio::buffer(buffer_), [weak = weak_from_this()](const asio::error_code& error, std::size_t size) {
        const auto self = weak.lock();
        if (!self)
            return;
        self->reading_ = false;
        if (!error)
            self->onRead(size);
    });
}

void PortOpenWatch::onRead(std::size_t size)
{
    // Each port is told once per read however many events it had; a lost event
    // (queue overflow) makes every port look again.
    std::vector<int> ids;
    bool everyone = false;
    for (std::size_t at = 0; at + sizeof(inotify_event) <= size;) {
        inotify_event event;
        std::memcpy(&event, buffer_.data() + at, sizeof event);
        at += sizeof event + event.len;
        if (event.mask & IN_Q_OVERFLOW)
            everyone = true;
        else if (event.mask & IN_IGNORED)
            handlers_.erase(event.wd);  // the node went away
        else if (std::find(ids.begin(), ids.end(), event.wd) == ids.end())
            ids.push_back(event.wd);
    }
    if (everyone) {
        ids.clear();
        for (const auto& [id, handler] : handlers_)
            ids.push_back(id);
    }
    for (const int id : ids)
        if (const auto it = handlers_.find(id); it != handlers_.end()) {
            const Handler handler = it->second;  // it may remove itself or others
            handler();
        }
    if (!handlers_.empty())
        startReading();
}

}  // namespace vsp
