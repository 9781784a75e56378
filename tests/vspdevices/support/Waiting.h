// Waiting for what another thread or process does, each wait bounded.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

// Polls `condition` until it holds (true) or `timeout` passes (false).
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// What a pipe's reader got until its text holds `wanted` or `timeout` passes.
inline std::string readPipeUntil(int fd, const std::string& wanted, std::chrono::milliseconds timeout)
{
    std::string text;
    char buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (text.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, 100) == 1)
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(0, ::read(fd, buffer, sizeof buffer))));
    }
    return text;
}

// A whole file as it is now; empty when it cannot be read.
inline std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
