// What this process holds and uses, read from /proc and the CPU clock: the figures
// a soak run watches for leaks, runaway memory and spinning.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

namespace soak {

struct ProcessStats {
    std::size_t fds = 0;
    std::size_t threads = 0;
    std::uint64_t rssKiB = 0;

    static ProcessStats now()
    {
        ProcessStats s;
        s.fds = entries("/proc/self/fd");
        s.threads = entries("/proc/self/task");
        s.rssKiB = rss();
        return s;
    }

    static std::uint64_t rss()
    {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::stoull(line.substr(6));
        return 0;
    }

    // CPU time of the whole process so far, in seconds.
    static double cpuSeconds()
    {
        timespec t{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
    }

private:
    static std::size_t entries(const char* dir)
    {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
            ++n;
        return n;
    }
};

}  // namespace soak
