#include "PortCalls.h"

#include <asm/termbits.h>
#include <errno.h>
#include <linux/serial.h>
#include <linux/tty_flags.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vsp::preload {
namespace {

PortCallResult done(int value = 0)
{
    return {true, value, 0};
}
PortCallResult failed(int error)
{
    return {true, -1, error};
}
constexpr PortCallResult passOn{};

// What an answer makes of the call: done, failed, or passed on (no channel).
PortCallResult resultOf(const Answer& answer)
{
    if (replied(answer))
        return done();
    if (const int error = failureOf(answer))
        return failed(error);
    return passOn;
}

Answer quick(const Port& port, control::Op op, uint32_t a = 0, uint32_t b = 0)
{
    return ask(port, {op, a, b, 0}, quickLimitMs);
}

int tiocmOf(uint32_t lines)
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

uint32_t linesOf(unsigned int tiocm)
{
    uint32_t lines = 0;
    if (tiocm & TIOCM_DTR) lines |= control::lineDtr;
    if (tiocm & TIOCM_RTS) lines |= control::lineRts;
    if (tiocm & TIOCM_CTS) lines |= control::lineCts;
    if (tiocm & TIOCM_DSR) lines |= control::lineDsr;
    if (tiocm & TIOCM_CAR) lines |= control::lineDcd;
    if (tiocm & TIOCM_RNG) lines |= control::lineRi;
    return lines;
}

Answer setLines(const Port& port, uint32_t mask, uint32_t levels)
{
    mask &= control::outputLines;
    if (mask == 0)
        return quick(port, control::Op::Query);  // nothing to change, but only on a served port
    return quick(port, control::Op::SetLines, mask, levels & mask);
}

// What a 16550A UART keeps of TIOCSSERIAL for its user: the flags a user may set
// and the divisor for a custom speed, per port, for as long as the program runs.
struct SerialUserSettings {
    int flags = 0;
    int customDivisor = 0;
};
SerialUserSettings serialSettings[256];
pthread_mutex_t serialLock = PTHREAD_MUTEX_INITIALIZER;

serial_struct serialInfo(const Port& port)
{
    pthread_mutex_lock(&serialLock);
    const SerialUserSettings user = serialSettings[port.com];
    pthread_mutex_unlock(&serialLock);
    serial_struct info{};
    info.type = PORT_16550A;
    info.line = port.com - 1;
    info.flags = ASYNC_SKIP_TEST | ASYNC_BOOT_AUTOCONF | user.flags;
    info.xmit_fifo_size = 16;
    info.baud_base = 115200;
    info.close_delay = 50;     // half a second, in hundredths
    info.closing_wait = 3000;  // 30 seconds, in hundredths
    info.custom_divisor = user.customDivisor;
    info.io_type = SERIAL_IO_PORT;
    return info;
}

// As the serial core answers a user without CAP_SYS_ADMIN: the user's flags and
// the divisor change; anything else that differs is refused.
PortCallResult setSerialInfo(const Port& port, const serial_struct& wanted)
{
    const serial_struct now = serialInfo(port);
    if (wanted.type != now.type || wanted.irq != now.irq || wanted.port != now.port || wanted.port_high != now.port_high ||
        wanted.iomem_base != now.iomem_base || wanted.baud_base != now.baud_base || wanted.close_delay != now.close_delay ||
        wanted.closing_wait != now.closing_wait ||
        (wanted.xmit_fifo_size != 0 && wanted.xmit_fifo_size != now.xmit_fifo_size) ||
        (wanted.flags & ~ASYNC_USR_MASK) != (now.flags & ~ASYNC_USR_MASK))
        return geteuid() == 0 ? done() : failed(EPERM);  // root may; there is no hardware to change
    pthread_mutex_lock(&serialLock);
    serialSettings[port.com] = {static_cast<int>(wanted.flags & ASYNC_USR_MASK), wanted.custom_divisor};
    pthread_mutex_unlock(&serialLock);
    return done();
}

template <typename T>
PortCallResult readArgument(const ArgumentAccess& memory, uintptr_t address, T& out)
{
    return memory.read(memory.context, address, &out, sizeof out) ? done() : failed(EFAULT);
}

template <typename T>
PortCallResult writeArgument(const ArgumentAccess& memory, uintptr_t address, const T& in)
{
    return memory.write(memory.context, address, &in, sizeof in) ? done() : failed(EFAULT);
}

// Waits until the output has left toward the adapter, as tcdrain does on a UART.
PortCallResult drain(const Port& port, const StillWanted* stillWanted)
{
    const Answer answer = ask(port, {control::Op::Drain, 0, 0, 0}, 0, Wait::Unlimited, stillWanted);
    if (answer.kind == Answer::Interrupted)
        return failed(EINTR);
    if (answer.kind == Answer::Replied && answer.reply.status == control::Status::Gone)
        return failed(EIO);
    return resultOf(answer);
}

PortCallResult waitForLines(const Port& port, uintptr_t arg, const StillWanted* stillWanted)
{
    const uint32_t mask = linesOf(static_cast<unsigned int>(arg)) & control::inputLines;
    if (mask == 0)
        return passOn;
    const Answer answer = ask(port, {control::Op::WaitLines, mask, 0, 0}, 0, Wait::Unlimited, stillWanted);
    if (answer.kind == Answer::None || (answer.kind == Answer::Replied && answer.reply.status == control::Status::Unavailable))
        return passOn;
    if (answer.kind == Answer::Interrupted)
        return failed(EINTR);
    const PortCallResult result = resultOf(answer);
    return result.handled ? result : failed(EIO);  // the port went away, as a hung-up serial port answers
}

}  // namespace

void resetPortCallsAfterFork()
{
    pthread_mutex_init(&serialLock, nullptr);
}

bool replied(const Answer& answer)
{
    return answer.kind == Answer::Replied && answer.reply.status == control::Status::Ok;
}

int failureOf(const Answer& answer)
{
    switch (answer.kind) {
    case Answer::DeadPort: return EIO;
    case Answer::Busy: return EBUSY;
    default: return 0;
    }
}

unsigned int parityOf(unsigned int cflag)
{
    if (!(cflag & PARENB))
        return control::parityNone;
    if (cflag & CMSPAR)
        return (cflag & PARODD) ? control::parityMark : control::paritySpace;
    return (cflag & PARODD) ? control::parityOdd : control::parityEven;
}

unsigned int cflagOfFraming(unsigned int dataBits, unsigned int parity)
{
    static constexpr unsigned int sizes[] = {CS5, CS6, CS7, CS8};
    unsigned int flags = sizes[(dataBits < 5 || dataBits > 8 ? 8 : dataBits) - 5];
    switch (parity) {
    case control::parityOdd: flags |= PARENB | PARODD; break;
    case control::parityEven: flags |= PARENB; break;
    case control::parityMark: flags |= PARENB | CMSPAR | PARODD; break;
    case control::paritySpace: flags |= PARENB | CMSPAR; break;
    default: break;
    }
    return flags;
}

bool portState(const Port& port, control::LineState& state, int* failure)
{
    *failure = 0;
    if (lineState(port, state)) {
        if (state.status == control::Status::Ok)
            return true;
        if (state.status == control::Status::Unavailable)
            return false;  // no connection: the terminal as it is
    }
    const Answer answer = quick(port, control::Op::Query);
    if (!replied(answer)) {
        *failure = failureOf(answer);
        return false;
    }
    state.status = control::Status::Ok;
    state.lines = answer.reply.lines;
    state.counters = answer.reply.counters;
    state.dataBits = answer.reply.dataBits;
    state.parity = answer.reply.parity;
    state.flags = answer.reply.flags;
    state.terminal = answer.reply.terminal;
    return true;
}

Answer sendFraming(const Port& port, unsigned int cflag)
{
    const uint32_t bits = 5 + ((cflag & CSIZE) >> 4);
    return quick(port, control::Op::SetFraming, bits, parityOf(cflag));
}

Answer timedBreak(int fd, const Port& port, uint32_t ms, RawIoctl raw)
{
    raw(fd, TCSBRK, reinterpret_cast<void*>(1));  // as the serial core does first
    // What the program wrote goes out before the break: the library sends it first.
    const Answer drained = ask(port, {control::Op::Drain, 0, 0, 0}, quickLimitMs);
    if (failureOf(drained))
        return drained;
    return ask(port, {control::Op::Break, control::breakTimed, ms, 0}, static_cast<int>(ms) + quickLimitMs);
}

bool isPortRequest(unsigned int request)
{
    switch (request) {
    case TIOCMGET: case TIOCMSET: case TIOCMBIS: case TIOCMBIC: case TIOCMIWAIT: case TIOCGICOUNT:
    case TIOCSBRK: case TIOCCBRK: case TCSBRK: case TCSBRKP:
    case TIOCGSERIAL: case TIOCSSERIAL: case TIOCSERGETLSR: case TIOCGRS485: case TIOCSRS485: case TIOCSERCONFIG:
        return true;
    default: return false;
    }
}

PortCallResult portCall(const Port& port, const PortCall& call, const ArgumentAccess& memory, RawIoctl raw,
                        const StillWanted* stillWanted)
{
    const uintptr_t arg = call.arg;
    switch (call.request) {
    case TIOCMGET:
    case TIOCGICOUNT:
    case TIOCSERGETLSR: {
        control::LineState state;
        int failure = 0;
        if (call.request == TIOCSERGETLSR) {
            if (!call.noWriteSinceSent || !lineState(port, state) || state.status != control::Status::Ok) {
                const Answer answer = quick(port, control::Op::Query);
                if (!replied(answer))
                    return resultOf(answer);
                state.flags = answer.reply.flags;
            }
            const unsigned int lsr = (state.flags & control::replyOutputPending) ? 0 : TIOCSER_TEMT;
            return writeArgument(memory, arg, lsr);
        }
        if (!portState(port, state, &failure))
            return failure ? failed(failure) : passOn;
        if (call.request == TIOCMGET)
            return writeArgument(memory, arg, tiocmOf(state.lines));
        serial_icounter_struct counts{};
        counts.cts = static_cast<int>(state.counters.cts);
        counts.dsr = static_cast<int>(state.counters.dsr);
        counts.rng = static_cast<int>(state.counters.ring);
        counts.dcd = static_cast<int>(state.counters.dcd);
        return writeArgument(memory, arg, counts);
    }
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC: {
        int bits = 0;
        if (const PortCallResult read = readArgument(memory, arg, bits); read.value != 0)
            return read;
        const uint32_t lines = linesOf(static_cast<unsigned int>(bits));
        if (call.request == TIOCMSET)
            return resultOf(setLines(port, control::outputLines, lines));
        return resultOf(setLines(port, lines, call.request == TIOCMBIS ? lines : 0));
    }
    case TIOCMIWAIT: return waitForLines(port, arg, stillWanted);
    case TIOCSBRK: return resultOf(quick(port, control::Op::Break, control::breakOn));
    case TIOCCBRK: return resultOf(quick(port, control::Op::Break, control::breakOff));
    case TCSBRK:
        if (arg != 0) {
            raw(call.fd, TCSBRK, reinterpret_cast<void*>(arg));  // the terminal's own wait first
            return drain(port, stillWanted);
        }
        return resultOf(timedBreak(call.fd, port, defaultBreakMs, raw));
    case TCSBRKP: {
        const uint32_t ms = arg == 0 ? defaultBreakMs : static_cast<uint32_t>(arg > 100 ? 100 : arg) * 100;
        return resultOf(timedBreak(call.fd, port, ms, raw));
    }
    case TIOCGSERIAL: return writeArgument(memory, arg, serialInfo(port));
    case TIOCSSERIAL: {
        serial_struct wanted{};
        if (const PortCallResult read = readArgument(memory, arg, wanted); read.value != 0)
            return read;
        return setSerialInfo(port, wanted);
    }
    case TIOCGRS485: return writeArgument(memory, arg, serial_rs485{});  // a UART without RS-485: all off
    case TIOCSRS485: return failed(ENOTTY);
    case TIOCSERCONFIG: return geteuid() == 0 ? done() : failed(EPERM);
    default: return passOn;
    }
}

PortCallResult getSettings(const Port& port, const PortCall& call, const ArgumentAccess& memory, RawIoctl raw)
{
    termios2 held{};
    if (raw(call.fd, call.request, &held) != 0)
        return failed(errno);
    control::LineState state;
    int failure = 0;
    constexpr unsigned int framing = CSIZE | PARENB | PARODD | CMSPAR;
    if (portState(port, state, &failure))
        held.c_cflag = (held.c_cflag & ~framing) | cflagOfFraming(state.dataBits, state.parity);
    const size_t size = call.request == TCGETS2 ? sizeof(termios2) : sizeof(termios);
    return memory.write(memory.context, call.arg, &held, size) ? done() : failed(EFAULT);
}

PortCallResult setSettings(const Port& port, const PortCall& call, const ArgumentAccess& memory, RawIoctl raw)
{
    const bool two = call.request == TCSETS2 || call.request == TCSETSW2 || call.request == TCSETSF2;
    termios2 wanted{};
    if (!memory.read(memory.context, call.arg, &wanted, two ? sizeof(termios2) : sizeof(termios)))
        return failed(EFAULT);
    control::LineState state;
    int failure = 0;
    if (!portState(port, state, &failure))  // not served now: the call as it is
        return failure ? failed(failure) : passOn;
    termios2 applied = wanted;
    applied.c_lflag |= EXTPROC;  // the library's report of every change stays on
    if (raw(call.fd, call.request, &applied) != 0)
        return failed(errno);
    const Answer answer = sendFraming(port, wanted.c_cflag);
    if (const int error = failureOf(answer))
        return failed(error);
    return done();
}

}  // namespace vsp::preload
