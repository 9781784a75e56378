// The port probe: tells whether COM port n could be opened, the way a serial
// application would open it. COM port n is the link COM<n> in the device library's
// port directory (one definition of that rule, shared with the library).
#pragma once

#include <cstdint>
#include <string>

class PortScanner {
public:
    ~PortScanner();

    void setCommPort(int port) { port_ = port; }
    int commPort() const { return port_; }
    // Opening means read and write, without becoming the controlling terminal and
    // without blocking; any failure leaves the port closed.
    void setPortOpen(bool open);
    bool portOpen() const { return fd_ >= 0; }

    static std::string devicePath(int port);

private:
    int port_ = 1;
    int fd_ = -1;
};

// Lets pending window events through once, then opens port n and closes it again;
// true when it opened. Every failure counts as "could not be opened".
bool probePortOpens(std::uint8_t port, PortScanner& scanner);
