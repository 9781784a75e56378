// port_bench's monitor: the tap_monitor program, started on the library's ports
// before they are opened, so it sees their traffic from the first byte. Its CPU
// time is its own process's, apart from the library's.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

class TapMonitor {
public:
    // mode "full" (reads every record as it comes) or "stalled" (reads none until
    // stop()); returns once it monitors every port, or throws BridgeFault.
    TapMonitor(const std::string& portDir, const std::string& mode, const std::vector<int>& coms);
    ~TapMonitor();
    TapMonitor(const TapMonitor&) = delete;
    TapMonitor& operator=(const TapMonitor&) = delete;

    struct Port {
        unsigned long long records = 0, data = 0, wire = 0, lost = 0, checked = 0;
    };
    struct Report {
        std::map<int, Port> ports;  // by COM number
        double cpuSeconds = 0;
    };
    // Lets it read what is left and returns what it saw; throws BridgeFault when it
    // found a wrong byte or a malformed record.
    Report stop();

private:
    std::string readLine(int timeoutMs);
    void end();  // closes the pipes, stops it if it runs

    pid_t pid_ = -1;
    int input_ = -1;   // its standard input: closed to stop it
    int output_ = -1;  // its standard output: "ready", then its report
    std::string buffered_;
};

}  // namespace bench
