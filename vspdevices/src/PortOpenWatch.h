// Tells ports when an application opens or closes their terminal, without polling:
// one inotify instance for all ports (the kernel allows a user only 128 of them),
// watching each slave device node for opens and closes. An event only says "look
// again": whether anyone still holds a terminal is read from its master, so the
// library's own brief opens of a slave cannot mislead a port.
#pragma once

#include <asio.hpp>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace vsp {

class PortOpenWatch : public std::enable_shared_from_this<PortOpenWatch> {
public:
    using Handler = std::function<void()>;

    // nullptr when inotify is not available.
    static std::shared_ptr<PortOpenWatch> create(asio::io_context& io);

    // Calls handler (on the I/O thread) after the device node at path is opened or
    // closed; a watch id, or -1.
    int add(const std::string& path, Handler handler);
    void remove(int id);

private:
    PortOpenWatch(asio::io_context& io, int fd);
    void startReading();
    void onRead(std::size_t size);

    asio::posix::stream_descriptor inotify_;
    std::unordered_map<int, Handler> handlers_;
    alignas(8) std::array<char, 4096> buffer_{};
    bool reading_ = false;
};

}  // namespace vsp
