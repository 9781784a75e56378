// tap_monitor: one monitor on each of the given ports, for port_bench --monitor.
//   tap_monitor DIR full|stalled COM...
// Asks each port's control socket in DIR to monitor it, then writes "ready". With
// "full" it reads every record as it comes; with "stalled" it reads nothing until
// the end, so the library has to drop records for it. The end is the end of its
// input: it then reads what is left until the ports fall quiet and writes, for each
// port, the records, the Data and Wire bytes, the records the library dropped
// (Lost) and the Data bytes checked, then its own CPU time. The Data bytes are the
// benchmark's streams (Pattern.h) from their first byte on, since the monitor starts
// before the port is opened: toward the device the up stream, from it the down
// stream. They are checked up to a port's first loss; a wrong byte ends the run
// with exit status 1.
#include "Pattern.h"
#include "monitor/MonitorConnection.h"

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Kind = vsp::monitor::Kind;

struct Port {
    int com = 0;
    monitor::MonitorConnection connection;
    bool open = true;
    std::uint64_t records = 0, data = 0, wire = 0, lost = 0, checked = 0;
    std::uint64_t offset[2] = {};  // of the up (toDevice) and down (fromDevice) stream
};

[[noreturn]] void fail(const std::string& what)
{
    std::printf("error %s\n", what.c_str());
    std::exit(1);
}

void account(Port& port, const monitor::Record& record)
{
    ++port.records;
    switch (record.header.kind) {
    case Kind::Wire: port.wire += record.payload.size(); break;
    case Kind::Lost: port.lost += vsp::monitor::lostCount(record.payload); break;
    case Kind::Data: {
        port.data += record.payload.size();
        if (port.lost)
            break;  // the stream's place is no longer known
        const int way = static_cast<int>(record.header.direction);
        std::uint64_t& at = port.offset[way];
        const std::size_t wrong = bench::Pattern::instance().firstMismatch(at, record.payload);
        if (wrong < record.payload.size())
            fail("COM" + std::to_string(port.com) + ": byte " + std::to_string(at + wrong) + " of the " +
                 (way == 0 ? "up" : "down") + " stream as monitored is wrong");
        at += record.payload.size();
        port.checked += record.payload.size();
        break;
    }
    default: break;
    }
}

// Reads what has come on the readable ports; false when nothing came.
bool readPorts(std::vector<Port>& ports, int timeoutMs)
{
    std::vector<pollfd> fds;
    for (const Port& port : ports)
        fds.push_back({port.open ? port.connection.fd() : -1, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
        return false;
    std::vector<monitor::Record> records;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const auto read = ports[i].connection.read(records);
        for (const auto& record : records)
            account(ports[i], record);
        records.clear();
        if (read == monitor::MonitorConnection::Read::Malformed)
            fail("COM" + std::to_string(ports[i].com) + " sent a malformed record");
        if (read == monitor::MonitorConnection::Read::Ended)
            ports[i].open = false;
    }
    return true;
}

bool inputEnded()
{
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (::poll(&in, 1, 0) <= 0)
        return false;
    char byte;
    return ::read(STDIN_FILENO, &byte, 1) <= 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[2] : "";
    if (argc < 4 || (mode != "full" && mode != "stalled")) {
        std::fprintf(stderr, "usage: %s DIR full|stalled COM...\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<Port> ports;
    for (int i = 3; i < argc; ++i) {
        const int com = std::atoi(argv[i]);
        // The port's control socket appears once the library has brought it up.
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            auto opened = monitor::MonitorConnection::open(com, 2000, argv[1]);
            if (auto* connection = std::get_if<monitor::MonitorConnection>(&opened)) {
                ports.push_back(Port{com, std::move(*connection)});
                break;
            }
            if (Clock::now() > deadline)
                fail(std::get<std::string>(opened));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::printf("ready\n");

    // Until the input ends: every record read as it comes, or none.
    for (;;) {
        if (mode == "full") {
            readPorts(ports, 100);
            if (inputEnded())
                break;
        } else {
            pollfd in{STDIN_FILENO, POLLIN, 0};
            ::poll(&in, 1, -1);
            if (inputEnded())
                break;
        }
    }
    // What is left, until the ports have been quiet for a while.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (readPorts(ports, 300) && Clock::now() < deadline) {
    }

    for (const Port& p : ports)
        std::printf("port %d records %llu data %llu wire %llu lost %llu checked %llu\n", p.com,
                    static_cast<unsigned long long>(p.records), static_cast<unsigned long long>(p.data),
                    static_cast<unsigned long long>(p.wire), static_cast<unsigned long long>(p.lost),
                    static_cast<unsigned long long>(p.checked));
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    const auto us = [](const timeval& t) { return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec; };
    std::printf("cpu_us %lld\n", us(use.ru_utime) + us(use.ru_stime));
    return 0;
}
