// The pieces every soak run shares: the library on a port directory of its own,
// and an application on a virtual port that checks bytes through an echoing adapter.
#pragma once

#include "WaitUntil.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace soak {

// The library initialized on a fresh temporary port directory; released and
// removed on destruction.
class Library {
public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool ready() const { return ready_; }
    std::string portPath(int com) const { return dir_ + "/ports/COM" + std::to_string(com); }
    // A Connector and a TcpClient on COM<com> to 127.0.0.1:port; the client's id or -1.
    static int addRedirect(int com, std::uint16_t port, bool telnet = true);
    static bool ok(int id);

private:
    std::string dir_;
    bool ready_ = false;
};

// An application holding a virtual port open, raw and non-blocking.
class PortApp {
public:
    explicit PortApp(const std::string& path);
    ~PortApp();
    PortApp(const PortApp&) = delete;
    PortApp& operator=(const PortApp&) = delete;
    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Writes `size` bytes (0xFF among them) and expects them back, unchanged, from an
    // echoing adapter within the time limit.
    bool echoes(std::size_t size, std::chrono::milliseconds timeout);
    // Reads and drops whatever is there; the number of bytes.
    std::size_t drain();

private:
    int fd_ = -1;
    std::uint32_t seed_ = 1;
};

}  // namespace soak
