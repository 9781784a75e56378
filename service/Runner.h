// The service's commands: running a configuration's redirects in the foreground
// until SIGTERM or SIGINT, and printing the running ports' states (the monitor
// command is in MonitorCommand.h).
#pragma once

#include <string>
#include <sysexits.h>

namespace service {

// Exit statuses, as the manual page lists them: sysexits.h's, which systemd and
// shells read as what they are (status=66/NOINPUT), not as its own 1-7 (3 would show
// as NOTIMPLEMENTED). The unit's RestartPreventExitStatus lists those that starting
// again does not mend.
namespace exitStatus {
inline constexpr int stopped = 0;          // ended on SIGTERM, SIGINT or SIGHUP, ports removed
inline constexpr int failed = 1;           // emulation could not start
inline constexpr int usage = EX_USAGE;                // 64: wrong arguments
inline constexpr int refusedFile = EX_DATAERR;        // 65: the file's contents are refused (format, size, nesting)
inline constexpr int missingFile = EX_NOINPUT;        // 66: the configuration cannot be read, or is no regular file
inline constexpr int directoryTaken = EX_UNAVAILABLE; // 69: another program uses the port directory, or it is unusable
inline constexpr int notRunning = 3;       // status, monitor: no program runs on the port directory (LSB's "not running")
inline constexpr int unavailable = EX_UNAVAILABLE;    // 69: monitor: the port is not running, or did not let itself be monitored
inline constexpr int cannotCreate = EX_CANTCREAT;     // 73: monitor: the capture file cannot be made
inline constexpr int ioError = EX_IOERR;              // 74: monitor: the capture file could not be written to its end
inline constexpr int busy = EX_TEMPFAIL;              // 75: monitor: the port has as many monitors as it takes, or no room now
}  // namespace exitStatus

int runConfiguration(const std::string& path);
int printStatus(bool pathsOnly);

// Why the port directory cannot be had, in words: who holds it, or what is wrong with it.
std::string directoryRefusal(const std::string& dir);

}  // namespace service
