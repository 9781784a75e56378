// Bringing bridges up for a benchmark: the device library (one port with Telnet,
// one raw) and socat (pty to tcp), each connected to a loopback listener of ours
// that plays the adapter, with the application's end of the port opened raw.
#pragma once

#include "Bridge.h"

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

namespace bench {

// A listening socket on 127.0.0.1, any free port.
class Listener {
public:
    Listener();
    ~Listener();
    std::uint16_t port() const { return port_; }
    // The next connection, non-blocking; throws when none comes in time.
    int accept(std::chrono::milliseconds timeout);

private:
    int fd_;
    std::uint16_t port_ = 0;
};

// The device library with COM5 (Telnet) and COM6 (raw TCP) under portDir. Its CPU
// time is the process's minus the calling thread's: the benchmark drives both ends
// from the calling thread, everything else is the library's. started, when given,
// runs once the ports exist and before they are opened (to attach a monitor).
class LibraryBridges {
public:
    explicit LibraryBridges(const std::string& portDir, const std::function<void()>& started = {});
    ~LibraryBridges();
    std::unique_ptr<Bridge> telnet;
    std::unique_ptr<Bridge> raw;
};

// socat pty,raw,echo=0 to tcp with no-delay, like the library's sockets.
class SocatBridge {
public:
    explicit SocatBridge(const std::string& linkPath);
    ~SocatBridge();
    std::unique_ptr<Bridge> bridge;

private:
    pid_t pid_ = -1;
};

bool socatInstalled();

}  // namespace bench
