// A monitor's connection to a running port: it finds the port's control socket in
// the port directory, asks to monitor, and then reads the port's traffic records
// (vspdevices_monitor.h). Plain system calls on one descriptor, so a terminal
// command polls it and a window watches it with its event loop alike.
#pragma once

#include "monitor/RecordReader.h"

#include <string>
#include <variant>
#include <vector>

namespace monitor {

class MonitorConnection {
public:
    // Why a monitor could not begin, and the words for it.
    struct Refusal {
        enum class Reason {
            NotRunning,  // no control socket answers for the port
            Busy,        // the port has as many monitors as it takes
            Other,       // another user's socket, no answer, another format, a refusal
        } reason;
        std::string text;
    };
    // Connects to COM<com>'s control socket in the user's port directory (or `dir`),
    // waiting at most timeoutMs for the answer; why not when that fails.
    static std::variant<MonitorConnection, Refusal> connect(int com, int timeoutMs = 2000, std::string dir = {});
    // The same with the refusal's words alone.
    static std::variant<MonitorConnection, std::string> open(int com, int timeoutMs = 2000, std::string dir = {});
    MonitorConnection(MonitorConnection&& other) noexcept;
    MonitorConnection& operator=(MonitorConnection&& other) noexcept;
    ~MonitorConnection();

    // Non-blocking; readable when records have come.
    int fd() const { return fd_; }
    enum class Read { More, Ended, Malformed };
    // Reads what has come (at most about 256 KiB) and appends the whole records.
    Read read(std::vector<Record>& out);

private:
    explicit MonitorConnection(int fd) : fd_(fd) {}
    int fd_ = -1;
    RecordReader reader_;
};

}  // namespace monitor
