// The pseudo-terminal's line settings, through termios2 so that any baud rate (not
// only the B-constants) can be set and read back. On a pty master these calls act on
// the slave side's settings, the ones the application sets.
#pragma once

#include <cstdint>
#include <optional>

namespace vsp {

// What a terminal's settings say about the line, as far as a pty keeps it: it keeps
// the speed, the stop bits and the flow control flags, and forces 8 data bits
// without parity.
struct TerminalSettings {
    std::uint32_t baud = 0;
    bool twoStopBits = false;  // CSTOPB
    bool rtsCts = false;       // CRTSCTS
    bool xonOutput = false;    // IXON: XON/XOFF from the other side stop our output
    bool xonInput = false;     // IXOFF: we send XON/XOFF to stop the other side
    bool reported = false;     // EXTPROC: each change is reported to the master
    std::uint8_t startChar = 0x11;  // c_cc[VSTART] (XON)
    std::uint8_t stopChar = 0x13;   // c_cc[VSTOP] (XOFF)
};

// Raw mode (no echo, no line editing, 8 bits) at the given speed: a standard rate
// by its own constant, any other by BOTHER.
bool makeRawWithSpeed(int fd, std::uint32_t baud, bool twoStopBits = false);
// Sets only the speed and stop bits, leaving every other setting as it is.
bool setSpeed(int fd, std::uint32_t baud, bool twoStopBits);
// The output speed an application set on the terminal.
std::optional<std::uint32_t> terminalSpeed(int fd);
std::optional<TerminalSettings> terminalSettings(int fd);
// Puts a pty master in packet mode and sets EXTPROC on its slave: from then on every
// settings change of the slave (tcsetattr) and every flush is reported as a status
// byte on the master's reads. Also used to put EXTPROC back when an application
// cleared it.
bool reportSettingChanges(int master);

}  // namespace vsp
