// wait_bench: what Windows programs that only wait on their ports cost the device
// library. N copies of comm_wait.exe (win32/comm_wait.c) run under Wine through the
// launcher, each blocked in WaitCommEvent on a port of its own, while Wine reads
// the port's modem lines and counters about every millisecond. Each line read is
// answered from the page the library keeps current ("page", the default) or asked
// of the library over its control socket ("ask", QUORLINVCP_LINE_PAGE=0). Over a
// few seconds: wake-ups and CPU time of the library's I/O thread, CPU time of the
// prefix's Wine processes (the programs, wineserver and Wine's services) and of the
// launchers. The modes take turns round by round; the figures are medians.
//   wait_bench [--rounds N] [--seconds N] [--programs 1,10,64]
#include "AdapterServer.h"
#include "Redirects.h"
#include "ThreadUse.h"
#include "vspdevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using bench::cpuTicks;
using bench::ioThreadUse;
using bench::ThreadUse;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// CPU ticks of every process started with this prefix in its environment, the
// launchers (and any copy a launcher left serving) apart from Wine's own.
struct PrefixUse {
    std::map<int, unsigned long long> wine, launchers;
};

PrefixUse prefixUse(const std::string& prefixSetting, const std::string& launcher)
{
    PrefixUse use;
    DIR* proc = ::opendir("/proc");
    while (const dirent* entry = proc ? ::readdir(proc) : nullptr) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        std::ifstream environment(dir + "/environ", std::ios::binary);
        bool ours = false;
        for (std::string item; !ours && std::getline(environment, item, '\0');)
            ours = item == prefixSetting;
        if (!ours)
            continue;
        std::error_code error;
        const bool isLauncher = fs::read_symlink(dir + "/exe", error) == launcher;
        (isLauncher ? use.launchers : use.wine)[pid] = cpuTicks(dir + "/stat");
    }
    if (proc)
        ::closedir(proc);
    return use;
}

// Ticks spent between two snapshots by the processes of the later one.
unsigned long long spent(const std::map<int, unsigned long long>& before, const std::map<int, unsigned long long>& after)
{
    unsigned long long sum = 0;
    for (const auto& [pid, ticks] : after) {
        const auto was = before.find(pid);
        const unsigned long long start = was == before.end() ? 0 : was->second;
        sum += ticks > start ? ticks - start : 0;
    }
    return sum;
}

std::string ownFolder()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string exe(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/'));
}

// Starts a program with its output in `log`, its environment this one's plus `extra`.
pid_t start(const std::vector<std::string>& arguments, const std::string& log, const std::string& extra = {})
{
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    if (!extra.empty())
        envp.push_back(const_cast<char*>(extra.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int finish(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string contents(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Figures {
    double wakeups = 0;   // of the I/O thread, per second
    double ioCpu = 0;     // percent of one core
    double wineCpu = 0;
    double launcherCpu = 0;
};

class Bench {
public:
    Bench(std::string folder, std::string prefix, std::string ports)
        : folder_(std::move(folder)), prefix_(std::move(prefix)), ports_(std::move(ports)),
          launcher_(ownFolder() + "/quorlinvcp-run")
    {
    }

    // N programs in one mode; false when one of them did not come to wait.
    bool run(int programs, bool ask, int seconds, Figures& out)
    {
        std::vector<pid_t> pids;
        std::vector<std::string> logs;
        for (int com = 1; com <= programs; ++com) {
            logs.push_back(folder_ + "/comm_wait-" + std::to_string(com) + ".log");
            pids.push_back(start({launcher_, VSP_WINE, VSP_COMM_WAIT, "COM" + std::to_string(com)}, logs.back(),
                                 ask ? "QUORLINVCP_LINE_PAGE=0" : ""));
        }
        bool waiting = false;
        for (const auto deadline = Clock::now() + std::chrono::minutes(3); !waiting && Clock::now() < deadline;) {
            waiting = true;
            for (std::size_t i = 0; i < logs.size(); ++i) {
                const std::string text = contents(logs[i]);
                if (text.find("FAIL") != std::string::npos || ::waitpid(pids[i], nullptr, WNOHANG) != 0) {
                    std::fprintf(stderr, "wait_bench: comm_wait.exe on COM%zu failed:\n%s\n", i + 1, text.c_str());
                    stop(pids);
                    return false;
                }
                waiting = waiting && text.find("waiting") != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (!waiting) {
            std::fprintf(stderr, "wait_bench: %d programs did not all come to wait within 3 minutes\n", programs);
            stop(pids);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));  // started up, settled

        const std::string setting = "WINEPREFIX=" + prefix_;
        const ThreadUse io0 = ioThreadUse();
        const PrefixUse p0 = prefixUse(setting, launcher_);
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const ThreadUse io1 = ioThreadUse();
        const PrefixUse p1 = prefixUse(setting, launcher_);
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        stop(pids);

        const double percent = 100.0 / static_cast<double>(::sysconf(_SC_CLK_TCK)) / elapsed;
        out.wakeups = static_cast<double>(io1.switches - io0.switches) / elapsed;
        out.ioCpu = static_cast<double>(io1.ticks - io0.ticks) * percent;
        out.wineCpu = static_cast<double>(spent(p0.wine, p1.wine)) * percent;
        out.launcherCpu = static_cast<double>(spent(p0.launchers, p1.launchers)) * percent;
        return true;
    }

private:
    // The launchers pass the signal on to their programs and end with them.
    static void stop(const std::vector<pid_t>& pids)
    {
        for (const pid_t pid : pids)
            if (pid > 0)
                ::kill(pid, SIGTERM);
        for (const pid_t pid : pids)
            if (pid > 0)
                finish(pid);
    }

    std::string folder_, prefix_, ports_, launcher_;
};

std::vector<int> numbers(const char* list)
{
    std::vector<int> out;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (std::atoi(item.c_str()) > 0)
            out.push_back(std::atoi(item.c_str()));
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 3;
    int seconds = 10;
    std::vector<int> counts{1, 10, 64};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--programs"))
            counts = numbers(argv[i + 1]);
    }
    const int ports = counts.empty() ? 0 : std::min(255, *std::max_element(counts.begin(), counts.end()));
    if (ports == 0)
        return 2;

    char pattern[] = "/tmp/wait-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string folder = pattern;
    const std::string portDir = folder + "/ports";
    const std::string prefix = folder + "/prefix";
    ::setenv("VSP_PORT_DIR", portDir.c_str(), 1);
    ::unsetenv("QUORLINVCP_LINE_PAGE");
    // A prefix of the bench's own, headless, without Wine's Mono and Gecko installers.
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");

    if (vsp_initialize() != 1)
        return 1;
    vsp::AdapterServer::Options options;
    options.lines = static_cast<std::size_t>(ports);
    vsp::AdapterServer adapter(options);
    if (!bench::startRedirects(adapter, ports)) {
        std::fprintf(stderr, "wait_bench: the redirects did not come up\n");
        return 1;
    }

    std::printf("making a Wine prefix in %s\n", prefix.c_str());
    std::fflush(stdout);
    if (finish(start({VSP_WINE, "wineboot", "-i"}, folder + "/wineboot.log")) != 0 || !fs::is_directory(prefix + "/dosdevices")) {
        std::fprintf(stderr, "wait_bench: wineboot failed:\n%s\n", contents(folder + "/wineboot.log").c_str());
        return 1;
    }
    for (int com = 1; com <= ports; ++com) {
        const fs::path link = fs::path(prefix) / "dosdevices" / ("com" + std::to_string(com));
        fs::remove(link);
        fs::create_symlink(portDir + "/COM" + std::to_string(com), link);
    }
    // A program outside the launchers keeps wineserver and Wine's services running
    // between the runs, started by none of the programs measured.
    const pid_t keeper = start({VSP_WINE, VSP_COMM_WAIT}, folder + "/keeper.log");
    std::this_thread::sleep_for(std::chrono::seconds(3));

    Bench bench(folder, prefix, portDir);
    const char* const modes[] = {"page", "ask"};
    bool ok = true;
    std::vector<std::string> table;
    for (const int programs : counts) {
        std::vector<Figures> figures[2];
        for (int r = 0; r < rounds && ok; ++r) {
            for (int turn = 0; turn < 2 && ok; ++turn) {
                const int mode = (r + turn) % 2;  // page ask, ask page, ...
                Figures f;
                ok = bench.run(programs, mode == 1, seconds, f);
                if (!ok)
                    break;
                figures[mode].push_back(f);
                std::printf("%2d programs, %-4s round %d: I/O thread %8.0f wake-ups/s %5.1f %% CPU; Wine %6.1f %%; "
                            "launchers %5.1f %%\n",
                            programs, modes[mode], r + 1, f.wakeups, f.ioCpu, f.wineCpu, f.launcherCpu);
                std::fflush(stdout);
            }
        }
        if (!ok)
            break;
        auto med = [&](int mode, double Figures::*field) {
            std::vector<double> v;
            for (const Figures& f : figures[mode])
                v.push_back(f.*field);
            return median(v);
        };
        for (int mode = 0; mode < 2; ++mode) {
            char line[256];
            std::snprintf(line, sizeof line, "| %2d | %-4s | %8.0f | %7.1f | %6.1f | %6.1f | %6.1f |", programs, modes[mode],
                          med(mode, &Figures::wakeups), med(mode, &Figures::wakeups) / programs,
                          med(mode, &Figures::ioCpu), med(mode, &Figures::wineCpu), med(mode, &Figures::launcherCpu));
            table.push_back(line);
        }
        auto ratio = [&](double Figures::*field) {
            const double page = med(0, field), ask = med(1, field);
            char text[32];
            if (page > 0)
                std::snprintf(text, sizeof text, "%.1f", ask / page);
            else
                std::snprintf(text, sizeof text, "%s", ask > 0 ? "inf" : "-");
            return std::string(text);
        };
        char line[256];
        std::snprintf(line, sizeof line, "| %2d | ask/page | %s | | %s | %s | %s |", programs,
                      ratio(&Figures::wakeups).c_str(), ratio(&Figures::ioCpu).c_str(), ratio(&Figures::wineCpu).c_str(),
                      ratio(&Figures::launcherCpu).c_str());
        table.push_back(line);
    }
    if (ok) {
        std::printf("\nmedians of %d rounds of %d s (CPU in %% of one core)\n", rounds, seconds);
        std::printf("| programs | mode | I/O wake-ups/s | per program | I/O CPU %% | Wine CPU %% | launchers CPU %% |\n");
        std::printf("|---|---|---|---|---|---|---|\n");
        for (const std::string& line : table)
            std::printf("%s\n", line.c_str());
    }

    ::kill(keeper, SIGTERM);
    finish(keeper);
    finish(start({VSP_WINESERVER, "-k"}, folder + "/wineserver.log"));
    vsp_release();
    fs::remove_all(folder);
    return ok ? 0 : 1;
}
