// A helper program started for a test (socat, ser2net, a second library user),
// ended with the test unless it ends by itself.
#pragma once

#include <string>
#include <vector>

class ChildProcess {
public:
    // Starts the program found by locate(); running() tells whether it started.
    ChildProcess(const std::vector<std::string>& arguments, const std::string& logFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const;
    int pid() const { return pid_; }
    void signal(int number) const;
    // Waits for the program to end: its exit status, or 128 + the signal that ended
    // it (also when running() already saw it end); -1 when it never started.
    int wait();
    // The program's path: as given when it names a folder, else the first executable
    // on PATH and then in /usr/sbin and /sbin (daemons such as ser2net live there, and
    // Debian's PATH for ordinary users lacks them); empty when there is none.
    static std::string locate(const std::string& program);
    static bool onPath(const std::string& program) { return !locate(program).empty(); }

private:
    mutable int pid_ = -1;
    mutable int ended_ = -1;  // its status once reaped
};
