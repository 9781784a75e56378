// Waiting for what another thread or process does, each wait bounded.
#pragma once

#include "WaitUntil.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

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
