// Waiting for what another thread or process does, bounded: the soak runs and the
// tests poll the same way.
#pragma once

#include <chrono>
#include <thread>

// Polls `condition` every 5 ms until it holds (true) or `timeout` passes (false).
template <class Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
