// What a thread or process has cost so far, read from /proc: for the benchmarks
// that count the library's I/O thread's wake-ups and CPU time.
#pragma once

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>

namespace bench {

// CPU ticks (user + system) of a /proc/.../stat file: the fields after the command
// name, whose utime and stime are fields 14 and 15.
inline unsigned long long cpuTicks(const std::string& statPath)
{
    std::string stat;
    std::getline(std::ifstream(statPath), stat);
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream fields(stat.substr(end + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
}

struct ThreadUse {
    unsigned long long switches = 0;  // voluntary + involuntary: each is a wake-up or more
    unsigned long long ticks = 0;     // user + system CPU time
};

// The library's I/O thread ("vspdevices-io") in this process.
inline ThreadUse ioThreadUse()
{
    ThreadUse use;
    DIR* tasks = ::opendir("/proc/self/task");
    while (const dirent* entry = tasks ? ::readdir(tasks) : nullptr) {
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(task + "/comm"), name);
        if (name != "vspdevices-io")
            continue;
        std::ifstream status(task + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                use.switches += std::stoull(line.substr(line.find(':') + 1));
        use.ticks = cpuTicks(task + "/stat");
    }
    if (tasks)
        ::closedir(tasks);
    return use;
}

}  // namespace bench
