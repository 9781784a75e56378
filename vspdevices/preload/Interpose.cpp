// The calls a serial program makes that a pseudo-terminal cannot carry, taken over
// for the library's ports (PortCalls.h says which), and the data size and parity in
// the terminal settings (TCGETS/TCSETS*, their termios2 forms, tcgetattr/tcsetattr:
// the C library sends those straight to the kernel, so the ioctl alone would miss
// them; tcdrain and tcsendbreak likewise). The pseudo-terminal always keeps 8 bits
// without parity; the library keeps what the program set and it is patched into
// what the program reads back. Every other call, and every call on another
// descriptor, goes straight to the C library; so does every call when the port's
// control channel does not answer, so a program is never worse off than without
// this. A descriptor of a port that went away (its channel now serves another
// terminal under the port's name) fails with EIO, as a hung-up serial port does; a
// channel that cannot take the program now (too many clients, no descriptors)
// fails the call with EBUSY rather than letting it pass as a plain terminal's ENOTTY.
// Under the launcher's supervisor the library's own calls to the kernel carry its
// mark (Supervision.h), so the supervisor lets them pass without a second look.
// write and writev are watched only to count the writes to a port's descriptor
// (one table look-up each), so that "transmitter empty" is read from the port's
// shared page while nothing new was written, and asked of the library otherwise.
#include "ControlClient.h"
#include "PortCalls.h"
#include "PortLookup.h"
#include "Supervision.h"

#include <asm/termios.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

#define EXPORT extern "C" __attribute__((visibility("default")))

using namespace vsp;
using namespace vsp::preload;

namespace {

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
using TcIntFn = int (*)(int, int);
using TcDrainFn = int (*)(int);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using WritevFn = ssize_t (*)(int, const struct iovec*, int);
IoctlFn realIoctl = nullptr;
TcGetFn realTcgetattr = nullptr;
TcSetFn realTcsetattr = nullptr;
TcIntFn realTcsendbreak = nullptr;
TcDrainFn realTcdrain = nullptr;
WriteFn realWrite = nullptr;
WritevFn realWritev = nullptr;
unsigned long callMark = 0;  // the supervisor's mark on this library's own calls, when supervised

void findRealCalls()
{
    realIoctl = real<IoctlFn>("ioctl");
    realTcgetattr = real<TcGetFn>("tcgetattr");
    realTcsetattr = real<TcSetFn>("tcsetattr");
    realTcsendbreak = real<TcIntFn>("tcsendbreak");
    realTcdrain = real<TcDrainFn>("tcdrain");
    realWrite = real<WriteFn>("write");
    realWritev = real<WritevFn>("writev");
    if (const char* supervised = getenv(supervisedVariable); supervised && !strcmp(supervised, "1"))
        callMark = supervisedCallMark;
}

__attribute__((constructor)) void start()
{
    findRealCalls();
    pthread_atfork(nullptr, nullptr, [] {
        resetLookupAfterFork();
        resetConnectionsAfterFork();
        resetPortCallsAfterFork();
    });
}

// Another library's constructor may call before ours has run.
inline void ensureRealCalls()
{
    if (__builtin_expect(realIoctl == nullptr, 0))
        findRealCalls();
}

// The ports seen on descriptors (COM number by descriptor, 0 for none or unknown),
// the writes made to each port through them, and for each port the count of writes
// at which the library last said its output had left (bit 32: it has said so).
constexpr int watchedDescriptors = 4096;
uint8_t portByDescriptor[watchedDescriptors];
uint32_t writesTo[256];
uint64_t sentAtWrites[256];

Port lookUp(int fd)
{
    const Port port = portOf(fd);
    if (static_cast<unsigned>(fd) < watchedDescriptors)
        __atomic_store_n(&portByDescriptor[fd], static_cast<uint8_t>(port.com), __ATOMIC_RELAXED);
    return port;
}

inline void noteWrite(int fd)
{
    if (static_cast<unsigned>(fd) >= watchedDescriptors)
        return;
    if (const uint8_t com = __atomic_load_n(&portByDescriptor[fd], __ATOMIC_RELAXED))
        __atomic_add_fetch(&writesTo[com], 1, __ATOMIC_RELAXED);
}

// The kernel's call, made by this library (marked for the supervisor).
int rawIoctl(int fd, unsigned long request, void* arg)
{
    return realIoctl(fd, (request & 0xFFFFFFFFul) | callMark, arg);
}

bool readOwn(void*, uintptr_t address, void* out, size_t size)
{
    __builtin_memcpy(out, reinterpret_cast<const void*>(address), size);
    return true;
}
bool writeOwn(void*, uintptr_t address, const void* in, size_t size)
{
    __builtin_memcpy(reinterpret_cast<void*>(address), in, size);
    return true;
}
// A program's own argument is used as the kernel would: a bad address is its fault.
constexpr ArgumentAccess ownMemory{readOwn, writeOwn, nullptr};

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

void patchFraming(const Port& port, tcflag_t& cflag)
{
    control::LineState state;
    int failure = 0;
    if (portState(port, state, &failure))
        cflag = (cflag & ~framingFlags) | cflagOfFraming(state.dataBits, state.parity);
}

// The terminal's settings now: a port's (reporting changes) or not.
bool reportingNow(int fd)
{
    termios now{};
    return rawIoctl(fd, TCGETS, &now) == 0 && maybePort(now.c_lflag);
}

// Ends a call the way portCall decided: its result, with errno only on failure.
int finish(const PortCallResult& result, int savedErrno)
{
    errno = result.value == -1 ? result.error : savedErrno;
    return result.value;
}

// Requests on the terminal settings: 0 when the request is none of them, 1 a read, 2 a write.
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
    const int saved = errno;
    if (const int settings = settingsRequest(command)) {
        // A read is judged by what it gives back, a set by what the terminal holds before it.
        if (settings == 1) {
            const int result = rawIoctl(fd, command, arg);
            if (result != 0 || !maybePort(static_cast<const termios*>(arg)->c_lflag))
                return result;
            if (const Port port = lookUp(fd); port.com)
                patchFraming(port, static_cast<termios*>(arg)->c_cflag);
            errno = saved;
            return 0;
        }
        const Port port = reportingNow(fd) ? lookUp(fd) : Port{};
        errno = saved;
        if (port.com == 0)
            return rawIoctl(fd, command, arg);
        const PortCall call{fd, command, reinterpret_cast<uintptr_t>(arg)};
        if (const PortCallResult result = setSettings(port, call, ownMemory, rawIoctl); result.handled)
            return finish(result, saved);
        errno = saved;
        return rawIoctl(fd, command, arg);
    }
    if (!isPortRequest(command))
        return rawIoctl(fd, request, arg);
    const Port port = lookUp(fd);
    errno = saved;
    if (port.com) {
        PortCall call{fd, command, reinterpret_cast<uintptr_t>(arg)};
        const uint32_t writes = __atomic_load_n(&writesTo[port.com], __ATOMIC_RELAXED);
        call.noWriteSinceSent = __atomic_load_n(&sentAtWrites[port.com], __ATOMIC_RELAXED) == (writes | 1ull << 32);
        const PortCallResult result = portCall(port, call, ownMemory, rawIoctl);
        if (command == TIOCSERGETLSR && result.handled && result.value == 0 && !call.noWriteSinceSent &&
            (*static_cast<unsigned int*>(arg) & TIOCSER_TEMT))
            __atomic_store_n(&sentAtWrites[port.com], writes | 1ull << 32, __ATOMIC_RELAXED);
        if (result.handled)
            return finish(result, saved);
    }
    errno = saved;
    return rawIoctl(fd, request, arg);
}

// The C library's tcgetattr, made with the kernel's call carrying the supervisor's
// mark (glibc's own conversion of the kernel's settings).
static int markedTcgetattr(int fd, LibcTermios* t)
{
    termios k{};
    if (rawIoctl(fd, TCGETS, &k) != 0)
        return -1;
    t->c_iflag = k.c_iflag;
    t->c_oflag = k.c_oflag;
    t->c_cflag = k.c_cflag;
    t->c_lflag = k.c_lflag;
    t->c_line = k.c_line;
    __builtin_memset(t->c_cc, 0, sizeof t->c_cc);  // the characters the kernel has not: disabled
    __builtin_memcpy(t->c_cc, k.c_cc, sizeof k.c_cc);
    t->c_ispeed = t->c_ospeed = k.c_cflag & (CBAUD | CBAUDEX);
    return 0;
}

// The C library's tcsetattr (glibc's, including its check that a TCSANOW set took
// the size and parity), made with the kernel's calls carrying the supervisor's mark.
static int markedTcsetattr(int fd, int action, const LibcTermios* t)
{
    static constexpr unsigned int requests[] = {TCSETS, TCSETSW, TCSETSF};  // TCSANOW, TCSADRAIN, TCSAFLUSH
    constexpr tcflag_t inputSpeedZero = 020000000000;  // the C library's own mark, never the kernel's
    if (action < 0 || action > 2) {
        errno = EINVAL;
        return -1;
    }
    termios k{};
    k.c_iflag = t->c_iflag & ~inputSpeedZero;
    k.c_oflag = t->c_oflag;
    k.c_cflag = t->c_cflag;
    k.c_lflag = t->c_lflag;
    k.c_line = t->c_line;
    __builtin_memcpy(k.c_cc, t->c_cc, sizeof k.c_cc);
    const int result = rawIoctl(fd, requests[action], &k);
    if (result != 0 || action != 0)
        return result;
    const int saved = errno;
    termios back{};
    if (rawIoctl(fd, TCGETS, &back) != 0) {
        errno = saved;
        return 0;
    }
    if ((t->c_cflag & (PARENB | CREAD)) != (back.c_cflag & (PARENB | CREAD)) ||
        ((t->c_cflag & CSIZE) && (t->c_cflag & CSIZE) != (back.c_cflag & CSIZE))) {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

EXPORT int tcgetattr(int fd, LibcTermios* t)
{
    ensureRealCalls();
    const int result = callMark ? markedTcgetattr(fd, t) : realTcgetattr(fd, t);
    if (result != 0 || !maybePort(t->c_lflag))
        return result;
    const int saved = errno;
    if (const Port port = lookUp(fd); port.com)
        patchFraming(port, t->c_cflag);
    errno = saved;
    return 0;
}

EXPORT int tcsetattr(int fd, int action, const LibcTermios* t)
{
    ensureRealCalls();
    // Judged by the settings it holds now (see maybePort): a read costs less than the look-up.
    const int saved = errno;
    const Port port = reportingNow(fd) ? lookUp(fd) : Port{};
    errno = saved;
    if (port.com == 0)
        return callMark ? markedTcsetattr(fd, action, t) : realTcsetattr(fd, action, t);
    // Made as the kernel's own call, as the C library would make it: the C library
    // would also read the settings back and call the 8 bits without parity that the
    // pseudo-terminal keeps an error, while the program's framing goes to the library.
    static constexpr unsigned int requests[] = {TCSETS, TCSETSW, TCSETSF};  // TCSANOW, TCSADRAIN, TCSAFLUSH
    if (action < 0 || action > 2) {
        errno = EINVAL;
        return -1;
    }
    termios k{};
    k.c_iflag = t->c_iflag;
    k.c_oflag = t->c_oflag;
    k.c_cflag = t->c_cflag;
    k.c_lflag = t->c_lflag;
    k.c_line = t->c_line;
    __builtin_memcpy(k.c_cc, t->c_cc, sizeof k.c_cc);
    const PortCall call{fd, requests[action], reinterpret_cast<uintptr_t>(&k)};
    if (const PortCallResult result = setSettings(port, call, ownMemory, rawIoctl); result.handled)
        return finish(result, saved);
    errno = saved;
    return callMark ? markedTcsetattr(fd, action, t) : realTcsetattr(fd, action, t);
}

EXPORT int tcsendbreak(int fd, int duration)
{
    ensureRealCalls();
    const int saved = errno;
    if (const Port port = lookUp(fd); port.com) {
        // As the C library does: no length is the default, otherwise in tenths of a second.
        const uint32_t ms = duration <= 0 ? defaultBreakMs : static_cast<uint32_t>((duration > 10000 ? 10000 : duration) + 99) / 100 * 100;
        const Answer answer = timedBreak(fd, port, ms, rawIoctl);
        if (replied(answer)) {
            errno = saved;
            return 0;
        }
        if (const int error = failureOf(answer)) {
            errno = error;
            return -1;
        }
    }
    errno = saved;
    return realTcsendbreak(fd, duration);
}

EXPORT int tcdrain(int fd)
{
    ensureRealCalls();
    const int saved = errno;
    if (const Port port = lookUp(fd); port.com) {
        const PortCall call{fd, TCSBRK, 1};
        if (const PortCallResult result = portCall(port, call, ownMemory, rawIoctl); result.handled)
            return finish(result, saved);
    }
    errno = saved;
    return realTcdrain(fd);
}

EXPORT ssize_t write(int fd, const void* data, size_t size)
{
    ensureRealCalls();
    noteWrite(fd);
    return realWrite(fd, data, size);
}

EXPORT ssize_t writev(int fd, const struct iovec* parts, int count)
{
    ensureRealCalls();
    noteWrite(fd);
    return realWritev(fd, parts, count);
}
