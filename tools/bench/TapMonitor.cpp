#include "TapMonitor.h"

#include "Bridge.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

TapMonitor::TapMonitor(const std::string& portDir, const std::string& mode, const std::vector<int>& coms)
{
    const std::string program = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tap_monitor").string();
    std::vector<std::string> args{program, portDir, mode};
    for (const int com : coms)
        args.push_back(std::to_string(com));
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw BridgeFault(std::string("monitor: pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (spawned != 0) {
        pid_ = -1;
        throw BridgeFault("monitor: cannot start " + program + ": " + std::strerror(spawned));
    }
    if (const std::string line = readLine(15000); line != "ready") {
        end();
        throw BridgeFault("monitor: " + (line.empty() ? "did not start" : line));
    }
}

TapMonitor::~TapMonitor()
{
    end();
}

void TapMonitor::end()
{
    if (input_ >= 0)
        ::close(input_);
    if (output_ >= 0)
        ::close(output_);
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    input_ = output_ = -1;
}

std::string TapMonitor::readLine(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{output_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char bytes[4096];
        const ssize_t n = ::read(output_, bytes, sizeof bytes);
        if (n <= 0)
            return {};
        buffered_.append(bytes, static_cast<std::size_t>(n));
    }
}

TapMonitor::Report TapMonitor::stop()
{
    ::close(input_);
    input_ = -1;
    Report report;
    for (std::string line; !(line = readLine(30000)).empty();) {
        std::istringstream fields(line);
        std::string word;
        fields >> word;
        if (word == "port") {
            int com = 0;
            Port port;
            std::string records, data, wire, lost, checked;
            fields >> com >> records >> port.records >> data >> port.data >> wire >> port.wire >> lost >> port.lost >> checked >>
                port.checked;
            report.ports[com] = port;
        } else if (word == "cpu_us") {
            long long us = 0;
            fields >> us;
            report.cpuSeconds = static_cast<double>(us) / 1e6;
        } else {
            throw BridgeFault("monitor: " + line);
        }
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || report.ports.empty())
        throw BridgeFault("monitor: ended without its report");
    return report;
}

}  // namespace bench
