// Reading a whole reply from a port's control socket before a deadline: the status
// command's diagnostics and a monitor's first answer. A signal does not cut it short.
#pragma once

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <poll.h>
#include <sys/socket.h>

namespace monitor {

// Reads exactly `size` bytes before the deadline; false on time-out, hang-up or error.
inline bool readExactly(int fd, std::uint8_t* into, std::size_t size, std::chrono::steady_clock::time_point deadline)
{
    std::size_t got = 0;
    while (got < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(fd, into + got, size - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace monitor
