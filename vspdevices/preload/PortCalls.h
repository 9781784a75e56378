// The serial requests a pseudo-terminal cannot carry, answered for the library's
// ports: modem lines (TIOCMGET/SET/BIS/BIC, TIOCMIWAIT, TIOCGICOUNT), break
// (TIOCSBRK/TIOCCBRK, TCSBRK 0, TCSBRKP), waiting for the output to reach the
// adapter (TCSBRK with an argument, as tcdrain makes it), the serial driver's own
// requests (TIOCGSERIAL/TIOCSSERIAL, TIOCSERGETLSR, TIOCGRS485/TIOCSRS485,
// TIOCSERCONFIG) as a 16550A UART without RS-485 answers them, and the data size
// and parity of a settings change (TCSETS*, their termios2 forms). Line reads come
// from the port's shared page, so polling them costs the library nothing.
// Used in two places: inside a program (the interposition library: the argument is
// in its own memory) and in the launcher's supervisor (the argument is in the
// supervised program's memory, and the descriptor a copy of the program's).
#pragma once

#include "ControlClient.h"
#include "PortLookup.h"

#include <stddef.h>
#include <stdint.h>

namespace vsp::preload {

// Where a call's argument lives: read and write size bytes at an address; false
// when the address is not the program's to use (the call then fails with EFAULT).
struct ArgumentAccess {
    bool (*read)(void* context, uintptr_t address, void* out, size_t size) = nullptr;
    bool (*write)(void* context, uintptr_t address, const void* in, size_t size) = nullptr;
    void* context = nullptr;
};

// The terminal's own call on a descriptor: result and errno as ioctl gives them.
using RawIoctl = int (*)(int fd, unsigned long request, void* arg);

struct PortCall {
    int fd = -1;                // a descriptor of the program's open terminal
    unsigned int request = 0;   // as the kernel reads it
    uintptr_t arg = 0;          // the argument, an address for most requests
    // For TIOCSERGETLSR: the program wrote nothing to the port since the library last
    // said its output had left, so the page's word on the library's queues is enough
    // (bytes just written may still wait in the terminal, where only asking sees them).
    bool noWriteSinceSent = false;
};

struct PortCallResult {
    bool handled = false;  // false: pass the call on as it is
    int value = 0;         // the call's result when handled
    int error = 0;         // its errno when value is -1
};

// Whether the request is one that portCall takes (settings reads are not: the
// interposition library patches them itself).
bool isPortRequest(unsigned int request);
// Answers a request on a port of ours. Waits end on a signal (inside a program) or
// when stillWanted says so (in the supervisor).
PortCallResult portCall(const Port& port, const PortCall& call, const ArgumentAccess& memory, RawIoctl raw,
                        const StillWanted* stillWanted = nullptr);

// A termios-style settings change on a port: applied to the terminal (which keeps
// 8 bits without parity whatever it is given) with the port's change reporting
// kept on, and its data size and parity sent to the library; passed on when no
// connection serves the port.
PortCallResult setSettings(const Port& port, const PortCall& call, const ArgumentAccess& memory, RawIoctl raw);

// A settings read on a port: the terminal's settings with the program's data size
// and parity in place of the 8 bits without parity the terminal keeps.
PortCallResult getSettings(const Port& port, const PortCall& call, const ArgumentAccess& memory, RawIoctl raw);

// Called in a forked child: a lock may have been held by a thread that is gone.
void resetPortCallsAfterFork();

// The framing bits of c_cflag.
unsigned int parityOf(unsigned int cflag);
unsigned int cflagOfFraming(unsigned int dataBits, unsigned int parity);
// Asks for, or reads from the page, the port's state: false when nothing answers.
bool portState(const Port& port, control::LineState& state, int* failure);
// A break of the given length once the output has left.
Answer timedBreak(int fd, const Port& port, uint32_t ms, RawIoctl raw);
// Sends the framing of c_cflag to the library.
Answer sendFraming(const Port& port, unsigned int cflag);

inline constexpr int defaultBreakMs = 250;  // a break of "no particular length", as the serial drivers send
inline constexpr int quickLimitMs = 1000;

// The error an answer ends the call with, as the program sees it; 0 when the
// call is done (replied) or goes on as without the launcher.
int failureOf(const Answer& answer);
bool replied(const Answer& answer);

}  // namespace vsp::preload
