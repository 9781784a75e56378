// The service's two commands: running a configuration's redirects in the
// foreground until SIGTERM or SIGINT, and printing the running ports' states.
#pragma once

#include <string>

namespace service {

// Exit statuses, as the manual page lists them.
namespace exitStatus {
inline constexpr int stopped = 0;          // ended on SIGTERM, SIGINT or SIGHUP, ports removed
inline constexpr int failed = 1;           // emulation could not start
inline constexpr int usage = 2;            // wrong arguments
inline constexpr int missingFile = 3;      // the configuration file cannot be read
inline constexpr int refusedFile = 4;      // the library refuses the file's contents
inline constexpr int directoryTaken = 5;   // another program uses the port directory, or it is unusable
inline constexpr int notRunning = 3;       // status: no program runs on the port directory
}  // namespace exitStatus

int runConfiguration(const std::string& path);
int printStatus(bool pathsOnly);

// Why the port directory cannot be had, in words: who holds it, or what is wrong with it.
std::string directoryRefusal(const std::string& dir);

}  // namespace service
