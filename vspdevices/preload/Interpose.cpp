// The calls a serial program makes that a pseudo-terminal cannot carry, taken over
// for the library's ports: modem lines (TIOCMGET/SET/BIS/BIC, TIOCMIWAIT,
// TIOCGICOUNT), break (TIOCSBRK/TIOCCBRK, TCSBRK/TCSBRKP, tcsendbreak) and the data
// size and parity in the terminal settings (TCGETS/TCSETS*, their termios2 forms,
// tcgetattr/tcsetattr: the C library sends those straight to the kernel, so the
// ioctl alone would miss them). The pseudo-terminal always keeps 8 bits without
// parity; the library keeps what the program set and it is patched into what the
// program reads back. Every other call, and every call on another descriptor,
// goes straight to the C library; so does every call when the port's control
// channel does not answer, so a program is never worse off than without this. A
// descriptor of a port that went away (its channel now serves another terminal
// under the port's name) fails with EIO, as a hung-up serial port does; a channel
// that cannot take the program now (too many clients, no descriptors) fails the
// call with EBUSY rather than letting it pass as a plain terminal's ENOTTY.
#include "ControlClient.h"
#include "PortLookup.h"

#include <asm/termios.h>
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <time.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace vsp;
using namespace vsp::preload;

namespace {

constexpr int quickLimitMs = 1000;
constexpr int defaultBreakMs = 250;  // a break of "no particular length", as the serial drivers send

// The C library's own calls, found once.
template <typename F>
F real(const char* name)
{
    static_assert(sizeof(F) == sizeof(void*));
    void* f = dlsym(RTLD_NEXT, name);
    F out;
    __builtin_memcpy(&out, &f, sizeof out);
    return out;
}
// The C library's struct termios (this file sees the kernel's under that name).
struct LibcTermios {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[32];
    speed_t c_ispeed, c_ospeed;
};
static_assert(sizeof(LibcTermios) == 60 && offsetof(LibcTermios, c_cflag) == 8);

using IoctlFn = int (*)(int, unsigned long, ...);
using TcGetFn = int (*)(int, LibcTermios*);
using TcSetFn = int (*)(int, int, const LibcTermios*);
using TcBreakFn = int (*)(int, int);
IoctlFn realIoctl = nullptr;
TcGetFn realTcgetattr = nullptr;
TcSetFn realTcsetattr = nullptr;
TcBreakFn realTcsendbreak = nullptr;

void findRealCalls()
{
    realIoctl = real<IoctlFn>("ioctl");
    realTcgetattr = real<TcGetFn>("tcgetattr");
    realTcsetattr = real<TcSetFn>("tcsetattr");
    realTcsendbreak = real<TcBreakFn>("tcsendbreak");
}

__attribute__((constructor)) void start()
{
    findRealCalls();
    pthread_atfork(nullptr, nullptr, [] {
        resetLookupAfterFork();
        resetConnectionsAfterFork();
    });
}

// Another library's constructor may call before ours has run.
inline void ensureRealCalls()
{
    if (__builtin_expect(realIoctl == nullptr, 0))
        findRealCalls();
}

// The kernel's termios and termios2 keep c_cflag third and c_lflag fourth, as the C library's does.
static_assert(offsetof(termios, c_cflag) == 8 && offsetof(termios2, c_cflag) == 8);
static_assert(offsetof(termios, c_lflag) == 12 && offsetof(termios2, c_lflag) == 12);

// The library sets EXTPROC on each port's terminal (the kernel then reports every
// change of setting to it), and a set call here keeps it there; other terminals
// practically never have it. So settings read back without EXTPROC are no port's,
// and the look-up (an fstat per call) is spared for the reads that programs make
// most, often on their own terminal. A set call cannot be judged by what it sets
// (a program may clear c_lflag wholesale on a port), only by what the terminal
// holds before it.
inline bool maybePort(tcflag_t lflag)
{
    return (lflag & EXTPROC) != 0;
}

constexpr tcflag_t framingFlags = CSIZE | PARENB | PARODD | CMSPAR;

std::uint32_t parityOf(tcflag_t cflag)
{
    if (!(cflag & PARENB))
        return control::parityNone;
    if (cflag & CMSPAR)
        return (cflag & PARODD) ? control::parityMark : control::paritySpace;
    return (cflag & PARODD) ? control::parityOdd : control::parityEven;
}

tcflag_t cflagOf(const control::Reply& r)
{
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tcflag_t flags = sizes[r.dataBits - 5];
    switch (r.parity) {
    case control::parityOdd: flags |= PARENB | PARODD; break;
    case control::parityEven: flags |= PARENB; break;
    case control::parityMark: flags |= PARENB | CMSPAR | PARODD; break;
    case control::paritySpace: flags |= PARENB | CMSPAR; break;
    default: break;
    }
    return flags;
}

int tiocmOf(std::uint32_t lines)
{
    int bits = 0;
    if (lines & control::lineDtr) bits |= TIOCM_DTR;
    if (lines & control::lineRts) bits |= TIOCM_RTS;
    if (lines & control::lineCts) bits |= TIOCM_CTS;
    if (lines & control::lineDsr) bits |= TIOCM_DSR;
    if (lines & control::lineDcd) bits |= TIOCM_CAR;
    if (lines & control::lineRi) bits |= TIOCM_RNG;
    return bits;
}

std::uint32_t linesOf(unsigned long tiocm)
{
    std::uint32_t lines = 0;
    if (tiocm & TIOCM_DTR) lines |= control::lineDtr;
    if (tiocm & TIOCM_RTS) lines |= control::lineRts;
    if (tiocm & TIOCM_CTS) lines |= control::lineCts;
    if (tiocm & TIOCM_DSR) lines |= control::lineDsr;
    if (tiocm & TIOCM_CAR) lines |= control::lineDcd;
    if (tiocm & TIOCM_RNG) lines |= control::lineRi;
    return lines;
}

Answer quick(const Port& port, control::Op op, std::uint32_t a = 0, std::uint32_t b = 0)
{
    return ask(port, {op, a, b}, quickLimitMs);
}

bool replied(const Answer& answer)
{
    return answer.kind == Answer::Replied && answer.reply.status == control::Status::Ok;
}

// The error an answer ends the call with, as the program sees it; 0 when the
// call is done (replied) or goes on as without the launcher.
int failureOf(const Answer& answer)
{
    switch (answer.kind) {
    case Answer::DeadPort: return EIO;
    case Answer::Busy: return EBUSY;
    default: return 0;
    }
}

// Whether the answer settles the call: done (*result 0) or failed (-1 with errno).
bool settled(const Answer& answer, int* result)
{
    if (replied(answer)) {
        *result = 0;
        return true;
    }
    if (const int error = failureOf(answer)) {
        *result = -1;
        errno = error;
        return true;
    }
    return false;
}

// Sets the output lines.
Answer setLines(const Port& port, std::uint32_t mask, std::uint32_t levels)
{
    mask &= control::outputLines;
    if (mask == 0)
        return quick(port, control::Op::Query);  // nothing to change, but only on a served port
    return quick(port, control::Op::SetLines, mask, levels & mask);
}

Answer sendFraming(const Port& port, tcflag_t cflag)
{
    const std::uint32_t bits = 5 + ((cflag & CSIZE) >> 4);
    return quick(port, control::Op::SetFraming, bits, parityOf(cflag));
}

void patchFraming(const Port& port, tcflag_t& cflag)
{
    const Answer answer = quick(port, control::Op::Query);
    if (replied(answer))
        cflag = (cflag & ~framingFlags) | cflagOf(answer.reply);
}

// A program's set call on a served port that cleared EXTPROC (c_lflag set
// wholesale) is made again with it, so the port keeps reporting changes and reads
// stay judged by it (the kernel's termios is the start of its termios2).
void keepReporting(int fd, unsigned int request, const void* arg)
{
    if (maybePort(static_cast<const termios*>(arg)->c_lflag))
        return;
    const bool two = request == TCSETS2 || request == TCSETSW2 || request == TCSETSF2;
    termios2 again{};
    __builtin_memcpy(&again, arg, two ? sizeof(termios2) : sizeof(termios));
    again.c_lflag |= EXTPROC;
    realIoctl(fd, two ? TCSETS2 : TCSETS, &again);
}

// A break of the given length, after what the program wrote has gone out.
Answer timedBreak(int fd, const Port& port, std::uint32_t ms)
{
    realIoctl(fd, TCSBRK, 1);  // waits until the library has taken the written bytes
    return ask(port, {control::Op::Break, control::breakTimed, ms}, static_cast<int>(ms) + quickLimitMs);
}

// Handles a line or break request on one of our ports: true with *result set when handled,
// false to pass the call on unchanged.
bool portIoctl(int fd, const Port& port, unsigned long request, void* arg, int* result)
{
    *result = 0;
    switch (request) {
    case TIOCMGET: {
        const Answer answer = quick(port, control::Op::Query);
        if (!settled(answer, result))
            return false;
        if (*result == 0)
            *static_cast<int*>(arg) = tiocmOf(answer.reply.lines);
        return true;
    }
    case TIOCMSET:
        return settled(setLines(port, control::outputLines, linesOf(static_cast<unsigned>(*static_cast<int*>(arg)))), result);
    case TIOCMBIS: {
        const std::uint32_t lines = linesOf(static_cast<unsigned>(*static_cast<int*>(arg)));
        return settled(setLines(port, lines, lines), result);
    }
    case TIOCMBIC: return settled(setLines(port, linesOf(static_cast<unsigned>(*static_cast<int*>(arg))), 0), result);
    case TIOCMIWAIT: {
        const std::uint32_t mask = linesOf(reinterpret_cast<unsigned long>(arg)) & control::inputLines;
        if (mask == 0)
            return false;
        const Answer answer = ask(port, {control::Op::WaitLines, mask, 0}, 0, Wait::Unlimited);
        if (answer.kind == Answer::None || (answer.kind == Answer::Replied && answer.reply.status == control::Status::Unavailable))
            return false;
        if (answer.kind == Answer::Interrupted) {
            *result = -1;
            errno = EINTR;
        } else if (!settled(answer, result)) {
            *result = -1;
            errno = EIO;  // the port went away, as a hung-up serial port answers
        }
        return true;
    }
    case TIOCGICOUNT: {
        const Answer answer = quick(port, control::Op::Query);
        if (!settled(answer, result))
            return false;
        if (*result != 0)
            return true;
        serial_icounter_struct counts{};
        counts.cts = static_cast<int>(answer.reply.counters.cts);
        counts.dsr = static_cast<int>(answer.reply.counters.dsr);
        counts.rng = static_cast<int>(answer.reply.counters.ring);
        counts.dcd = static_cast<int>(answer.reply.counters.dcd);
        __builtin_memcpy(arg, &counts, sizeof counts);
        return true;
    }
    case TIOCSBRK: return settled(quick(port, control::Op::Break, control::breakOn), result);
    case TIOCCBRK: return settled(quick(port, control::Op::Break, control::breakOff), result);
    case TCSBRK:  // a non-zero argument only waits for the output: the terminal does that
        return reinterpret_cast<unsigned long>(arg) == 0 && settled(timedBreak(fd, port, defaultBreakMs), result);
    case TCSBRKP: {
        const unsigned long tenths = reinterpret_cast<unsigned long>(arg);
        const std::uint32_t ms = tenths == 0 ? defaultBreakMs : static_cast<std::uint32_t>(tenths > 100 ? 100 : tenths) * 100;
        return settled(timedBreak(fd, port, ms), result);
    }
    default: return false;
    }
}

// Requests on the modem lines and break: answered by the port's channel.
bool lineRequest(unsigned int request)
{
    switch (request) {
    case TIOCMGET: case TIOCMSET: case TIOCMBIS: case TIOCMBIC: case TIOCMIWAIT: case TIOCGICOUNT:
    case TIOCSBRK: case TIOCCBRK: case TCSBRK: case TCSBRKP:
        return true;
    default: return false;
    }
}

// Requests on the terminal settings: made as they are, then the framing is patched
// or passed on. 0 when the request is none of them, 1 a read, 2 a write.
int settingsRequest(unsigned int request)
{
    switch (request) {
    case TCGETS: case TCGETS2: return 1;
    case TCSETS: case TCSETSW: case TCSETSF: case TCSETS2: case TCSETSW2: case TCSETSF2: return 2;
    default: return 0;
    }
}

}  // namespace

EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    ensureRealCalls();
    // The kernel reads the request as 32 bits: a caller's sign-extended int is the same request.
    const unsigned int command = static_cast<unsigned int>(request);
    if (const int settings = settingsRequest(command)) {
        // A read is judged by what it gives back, a set by what the terminal holds
        // before it (see maybePort); then the call is made as it is.
        const int saved = errno;
        termios before{};
        const bool reporting = settings == 2 && realIoctl(fd, TCGETS, &before) == 0 && maybePort(before.c_lflag);
        errno = saved;
        const int result = realIoctl(fd, request, arg);
        if (result != 0 || !(settings == 1 ? maybePort(static_cast<const termios*>(arg)->c_lflag) : reporting))
            return result;
        if (const Port port = portOf(fd); port.com) {
            if (settings == 1)
                patchFraming(port, static_cast<termios*>(arg)->c_cflag);
            else if (replied(sendFraming(port, static_cast<const termios*>(arg)->c_cflag)))
                keepReporting(fd, command, arg);
        }
        errno = saved;
        return 0;
    }
    if (!lineRequest(command))
        return realIoctl(fd, request, arg);
    const int saved = errno;
    const Port port = portOf(fd);
    int result = 0;
    if (port.com == 0 || !portIoctl(fd, port, command, arg, &result)) {
        errno = saved;
        return realIoctl(fd, request, arg);
    }
    if (result == 0)
        errno = saved;
    return result;
}

EXPORT int tcgetattr(int fd, LibcTermios* t)
{
    ensureRealCalls();
    const int result = realTcgetattr(fd, t);
    if (result != 0 || !maybePort(t->c_lflag))
        return result;
    const int saved = errno;
    if (const Port port = portOf(fd); port.com)
        patchFraming(port, t->c_cflag);
    errno = saved;
    return 0;
}

EXPORT int tcsetattr(int fd, int action, const LibcTermios* t)
{
    ensureRealCalls();
    // Judged by the settings it holds now (see maybePort): a read costs less than the look-up.
    const int saved = errno;
    termios now{};
    const bool reporting = realIoctl(fd, TCGETS, &now) == 0 && maybePort(now.c_lflag);
    const Port port = reporting ? portOf(fd) : Port{};
    errno = saved;
    if (port.com == 0)
        return realTcsetattr(fd, action, t);
    // The pseudo-terminal holds 8 bits without parity whatever it is given, and the
    // C library reports that as EINVAL: it is given what it holds, and the program's
    // own framing goes to the library.
    LibcTermios held = *t;
    held.c_cflag = (held.c_cflag & ~framingFlags) | CS8 | CREAD;
    held.c_lflag |= EXTPROC;  // where the library put it
    const int result = realTcsetattr(fd, action, &held);
    if (result != 0)
        return result;
    const Answer answer = sendFraming(port, t->c_cflag);
    int outcome = 0;
    if (settled(answer, &outcome)) {
        if (outcome == 0)
            errno = saved;
        return outcome;
    }
    return realTcsetattr(fd, action, t);  // no channel: as without the launcher
}

EXPORT int tcsendbreak(int fd, int duration)
{
    ensureRealCalls();
    const int saved = errno;
    if (const Port port = portOf(fd); port.com) {
        // As the C library does: no length is the default, otherwise in tenths of a second.
        const std::uint32_t ms = duration <= 0 ? defaultBreakMs : static_cast<std::uint32_t>((duration > 10000 ? 10000 : duration) + 99) / 100 * 100;
        int outcome = 0;
        if (settled(timedBreak(fd, port, ms), &outcome)) {
            if (outcome == 0)
                errno = saved;
            return outcome;
        }
    }
    errno = saved;
    return realTcsendbreak(fd, duration);
}
