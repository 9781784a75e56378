// port_bench: the device library's virtual port against socat's pty-to-tcp bridge,
// on loopback, in one run. Each round runs every test on every bridge in turn (the
// order rotating from round to round), so a busy machine slows all of them alike;
// the figures are medians over the rounds. Every byte that crosses a bridge is
// checked; a wrong, lost or extra byte ends the run with exit status 1.
//   port_bench [--quick] [--rounds N] [--megabytes M] [--pings N] [--no-socat] [--no-telnet] [--no-raw]
//              [--only TEST] [--corrupt-at N] [--monitor full|stalled]
// --quick: a smoke run (few rounds, 1 MiB). --only latency|upload|download|duplex and
// --no-telnet/--no-raw/--no-socat: that test or those bridges alone, to profile one
// path (strace -c, perf) while it runs.
// --corrupt-at N: the peer sends a wrong byte at offset N of each download stream;
// the run must then fail.
// --monitor full|stalled: one monitor (tap_monitor) on each of the library's ports
// from before they are opened, reading every record as it comes or none until the
// end; it reports what it saw and lost, and checks the data it saw while it lost
// none. Every run ends with the process's peak memory and the library it loaded.
#include "Setup.h"
#include "TapMonitor.h"
#include "vspdevices.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

enum Test { Upload, Download, Duplex, transferTests };
const char* const testNames[transferTests] = {"upload", "download", "duplex"};

struct Options {
    int rounds = 7;
    std::uint64_t megabytes = 10;
    int pings = 500;
    bool socat = true;
    bool telnet = true;
    bool raw = true;
    std::uint64_t corruptAt = 0;
    bool corrupt = false;
    int only = -1;  // a Test, transferTests for latency, -1 for all
    std::string monitor;  // "full", "stalled" or none
};

struct Figures {
    std::vector<double> latencyUs;
    std::vector<double> megabytesPerSecond[transferTests];
    std::vector<double> cpuMsPerMegabyte[transferTests];
    std::vector<double> sleepsPerMegabyte[transferTests];
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double percentile(std::vector<double> values, int p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * static_cast<std::size_t>(p) / 100)];
}

void ping(bench::Bridge& bridge, int count, Figures& figures)
{
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        bridge.transfer(1, 0);  // the peer answers each byte with one of its own
        bridge.transfer(0, 1);
        figures.latencyUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
}

void measure(bench::Bridge& bridge, Test test, std::uint64_t bytes, Figures& figures)
{
    const bench::Usage before = bridge.usage();
    const auto start = Clock::now();
    bridge.transfer(test == Download ? 0 : bytes, test == Upload ? 0 : bytes);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bench::Usage after = bridge.usage();
    const double cpuMs = static_cast<double>(after.cpuNanoseconds - before.cpuNanoseconds) / 1e6;
    const double megabytes = static_cast<double>(test == Duplex ? 2 * bytes : bytes) / 1e6;
    figures.megabytesPerSecond[test].push_back(megabytes / seconds);
    figures.cpuMsPerMegabyte[test].push_back(cpuMs / megabytes);
    figures.sleepsPerMegabyte[test].push_back(static_cast<double>(after.sleeps - before.sleeps) / megabytes);
}

// Ours against socat, round by round: the median of the per-round ratios and their range.
struct Ratio {
    double median = 0, low = 0, high = 0;
};

Ratio pairedRatio(const std::vector<double>& ours, const std::vector<double>& theirs)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i)
        if (theirs[i] > 0)
            ratios.push_back(ours[i] / theirs[i]);
    if (ratios.empty())
        return {};
    const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
    return {median(ratios), *low, *high};
}

void printRow(const char* label, const std::vector<Figures*>& all, bool withSocat,
              const std::function<double(const Figures&)>& value, const std::function<std::vector<double>(const Figures&)>& perRound)
{
    std::printf("%-22s", label);
    for (const Figures* f : all)
        std::printf(" %12.2f", value(*f));
    if (withSocat) {
        const Figures& socat = *all.back();
        for (std::size_t i = 0; i + 1 < all.size(); ++i) {
            if (perRound) {
                const Ratio r = pairedRatio(perRound(*all[i]), perRound(socat));
                std::printf("   %5.2f [%4.2f-%4.2f]", r.median, r.low, r.high);
            } else {
                std::printf("   %5.2f%12s", value(*all[i]) / value(socat), "");
            }
        }
    }
    std::printf("\n");
}

void report(const Options& options, const std::vector<bench::Bridge*>& bridges, const std::vector<Figures*>& all,
            std::uint64_t checkedBytes)
{
    std::printf("\n%d rounds, %llu MiB per transfer, %d pings per round, bridges interleaved; %.1f MB checked, all correct\n\n",
                options.rounds, static_cast<unsigned long long>(options.megabytes), options.pings,
                static_cast<double>(checkedBytes) / 1e6);
    std::printf("%-22s", "");
    for (const bench::Bridge* b : bridges)
        std::printf(" %12s", b->name().c_str());
    if (options.socat)
        for (std::size_t i = 0; i + 1 < bridges.size(); ++i)
            std::printf("   %-17s", (bridges[i]->name() + "/socat").c_str());
    std::printf("\n");
    auto ran = [&](int test) { return options.only < 0 || options.only == test; };
    if (ran(transferTests)) {
        printRow("latency p50 (us)", all, options.socat, [](const Figures& f) { return percentile(f.latencyUs, 50); }, nullptr);
        printRow("latency p99 (us)", all, options.socat, [](const Figures& f) { return percentile(f.latencyUs, 99); }, nullptr);
    }
    for (int t = 0; t < transferTests; ++t) {
        if (!ran(t))
            continue;
        const std::string label = std::string(testNames[t]) + " (MB/s)";
        printRow(label.c_str(), all, options.socat, [t](const Figures& f) { return median(f.megabytesPerSecond[t]); },
                 [t](const Figures& f) { return f.megabytesPerSecond[t]; });
    }
    for (int t = 0; t < transferTests; ++t) {
        if (!ran(t))
            continue;
        const std::string label = std::string(testNames[t]) + " CPU (ms/MB)";
        printRow(label.c_str(), all, options.socat, [t](const Figures& f) { return median(f.cpuMsPerMegabyte[t]); },
                 [t](const Figures& f) { return f.cpuMsPerMegabyte[t]; });
    }
    for (int t = 0; t < transferTests; ++t) {
        if (!ran(t))
            continue;
        const std::string label = std::string(testNames[t]) + " sleeps/MB";
        printRow(label.c_str(), all, options.socat, [t](const Figures& f) { return median(f.sleepsPerMegabyte[t]); },
                 [t](const Figures& f) { return f.sleepsPerMegabyte[t]; });
    }
}

void explain()
{
    std::printf("\nMB/s: medians over the rounds; duplex moves both ways at once and counts both.\n"
                "CPU: the bridge's own time (the library's threads; socat's process) per MB moved.\n"
                "Sleeps: the times the bridge's threads waited for an event (voluntary context\n"
                "switches) per MB moved; each wake-up costs CPU time of its own.\n"
                "Ratios: ours/socat, the median of the per-round ratios [lowest-highest round];\n"
                "better is higher for MB/s, lower for latency and CPU.\n");
}

// The monitor's rows, for the library's bridges (socat has no monitor); fails the
// run when it saw more data than the port moved, or less while it lost nothing.
void reportMonitor(const std::vector<std::pair<bench::Bridge*, int>>& ports, const bench::TapMonitor::Report& report)
{
    const auto row = [&](const char* label, const std::function<double(const bench::TapMonitor::Port&)>& value) {
        std::printf("%-22s", label);
        for (const auto& [bridge, com] : ports)
            std::printf(" %12.2f", value(report.ports.at(com)));
        std::printf("\n");
    };
    row("monitor records", [](const auto& p) { return static_cast<double>(p.records); });
    row("monitor Data (MB)", [](const auto& p) { return static_cast<double>(p.data) / 1e6; });
    row("monitor Wire (MB)", [](const auto& p) { return static_cast<double>(p.wire) / 1e6; });
    row("monitor lost records", [](const auto& p) { return static_cast<double>(p.lost); });
    row("monitor checked (MB)", [](const auto& p) { return static_cast<double>(p.checked) / 1e6; });
    double moved = 0;
    for (const auto& [bridge, com] : ports) {
        const auto& seen = report.ports.at(com);
        moved += static_cast<double>(bridge->checkedBytes()) / 1e6;
        if (seen.data > bridge->checkedBytes() || (seen.lost == 0 && seen.data != bridge->checkedBytes()))
            throw bench::BridgeFault(bridge->name() + ": the monitor saw " + std::to_string(seen.data) + " bytes of data, " +
                                     std::to_string(seen.lost) + " records lost, of " + std::to_string(bridge->checkedBytes()) +
                                     " moved");
    }
    std::printf("\nmonitor CPU (ms/MB): %.2f\n", report.cpuSeconds * 1e3 / moved);
}

void explainMonitor()
{
    std::printf("Monitor: its records, the port's data and connection bytes they carried, the\n"
                "records the library dropped for it (Lost) and the data bytes checked against the\n"
                "streams before its first loss, over the whole run (warm-up included); its CPU per\n"
                "MB the ports moved is its own process's, not counted in the library's.\n");
}

// The process's peak resident memory (VmHWM) in MiB.
double peakMemoryMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024;
    return 0;
}

std::string loadedLibrary()
{
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&vsp_initialize), &info) || !info.dli_fname)
        return "?";
    std::error_code ignored;
    const auto path = std::filesystem::canonical(info.dli_fname, ignored);
    return path.empty() ? info.dli_fname : path.string();
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            options.rounds = 3;
            options.megabytes = 1;
            options.pings = 50;
        } else if (arg == "--no-socat") {
            options.socat = false;
        } else if (arg == "--no-telnet") {
            options.telnet = false;
        } else if (arg == "--no-raw") {
            options.raw = false;
        } else if (arg == "--rounds" && hasValue) {
            options.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--megabytes" && hasValue) {
            options.megabytes = std::max(1ull, std::strtoull(argv[++i], nullptr, 10));
        } else if (arg == "--pings" && hasValue) {
            options.pings = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--only" && hasValue) {
            const std::string test = argv[++i];
            options.only = test == "latency" ? transferTests : -1;
            for (int t = 0; t < transferTests; ++t)
                if (test == testNames[t])
                    options.only = t;
            if (options.only < 0)
                return false;
        } else if (arg == "--monitor" && hasValue) {
            options.monitor = argv[++i];
            if (options.monitor != "full" && options.monitor != "stalled")
                return false;
        } else if (arg == "--corrupt-at" && hasValue) {
            options.corrupt = true;
            options.corruptAt = std::strtoull(argv[++i], nullptr, 10);
        } else {
            return false;
        }
    }
    return options.telnet || options.raw || options.socat;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [--quick] [--rounds N] [--megabytes M] [--pings N] [--no-socat] [--no-telnet] [--no-raw]\n"
                     "          [--only latency|upload|download|duplex] [--corrupt-at N] [--monitor full|stalled]\n",
                     argv[0]);
        return 2;
    }
    if (options.socat && !bench::socatInstalled()) {
        std::fprintf(stderr, "port_bench: socat is not installed; measuring the library alone\n");
        options.socat = false;
    }
    std::signal(SIGPIPE, SIG_IGN);  // a bridge that hangs up shows as a write error
    char pattern[] = "/tmp/port-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    int status = 0;
    try {
        std::unique_ptr<bench::TapMonitor> monitor;  // outlives the library: it is stopped while the ports run
        bench::LibraryBridges library(dir + "/ports", [&] {
            if (!options.monitor.empty())
                monitor = std::make_unique<bench::TapMonitor>(dir + "/ports", options.monitor, std::vector<int>{5, 6});
        });
        std::unique_ptr<bench::SocatBridge> socat;
        if (options.socat)
            socat = std::make_unique<bench::SocatBridge>(dir + "/socat-port");
        std::vector<bench::Bridge*> bridges;
        if (options.telnet)
            bridges.push_back(library.telnet.get());
        if (options.raw)
            bridges.push_back(library.raw.get());
        if (socat)
            bridges.push_back(socat->bridge.get());
        std::vector<Figures> figures(bridges.size());
        for (auto* b : bridges)
            if (options.corrupt)
                b->corruptDownAt(options.corruptAt);

        const std::uint64_t bytes = options.megabytes << 20;
        for (int round = 0; round < options.rounds; ++round) {
            std::fprintf(stderr, "round %d/%d\r", round + 1, options.rounds);
            auto inTurn = [&](const std::function<void(bench::Bridge&, Figures&)>& run) {
                for (std::size_t k = 0; k < bridges.size(); ++k) {
                    const std::size_t i = (k + static_cast<std::size_t>(round)) % bridges.size();
                    run(*bridges[i], figures[i]);
                }
            };
            if (options.only < 0 || options.only == transferTests)
                inTurn([&](bench::Bridge& b, Figures& f) { ping(b, options.pings, f); });
            for (int t = 0; t < transferTests; ++t)
                if (options.only < 0 || options.only == t)
                    inTurn([&](bench::Bridge& b, Figures& f) { measure(b, static_cast<Test>(t), bytes, f); });
        }
        std::vector<Figures*> all;
        for (auto& f : figures)
            all.push_back(&f);
        std::uint64_t checked = 0;
        for (const auto* b : bridges)
            checked += b->checkedBytes();
        report(options, bridges, all, checked);
        if (monitor) {
            std::vector<std::pair<bench::Bridge*, int>> ports;
            for (auto* b : bridges)
                if (b == library.telnet.get() || b == library.raw.get())
                    ports.emplace_back(b, b == library.telnet.get() ? 5 : 6);
            reportMonitor(ports, monitor->stop());
        }
        std::printf("%speak RSS (MiB): %.1f\nlibrary: %s\n", monitor ? "" : "\n", peakMemoryMiB(), loadedLibrary().c_str());
        explain();
        if (monitor)
            explainMonitor();
    } catch (const bench::BridgeFault& fault) {
        std::fprintf(stderr, "\nport_bench: FAILED: %s\n", fault.what());
        status = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
