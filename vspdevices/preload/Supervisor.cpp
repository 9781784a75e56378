#include "Supervisor.h"

#include "PortCalls.h"
#include "PortLookup.h"
#include "Supervision.h"

#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace vsp::preload {
namespace {

#if defined(__x86_64__)
constexpr std::uint32_t nativeArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t nativeArch = AUDIT_ARCH_AARCH64;
#else
#error "the supervisor's filter needs this architecture's audit number"
#endif

constexpr unsigned int maxWaitingThreads = 256;

// Newer kernels (6.6) than Debian 12's headers know: the supervisor and the program
// take turns on one processor instead of waking each other across two, which
// shortens each round trip several times over. Older kernels refuse it harmlessly.
#ifndef SECCOMP_IOCTL_NOTIF_SET_FLAGS
#define SECCOMP_IOCTL_NOTIF_SET_FLAGS SECCOMP_IOW(4, __u64)
#endif
#ifndef SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP
#define SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP (1UL << 0)
#endif

// The requests the filter hands over: those portCall and the settings calls
// answer. Settings reads are among them, so a program reads back the framing it
// set (and the C library's tcsetattr, which checks what it set, believes it);
// each costs a supervised program a round trip to the supervisor, also on other
// terminals (an isatty), except the interposition library's own, which are marked.
constexpr unsigned int supervisedRequests[] = {
    TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC, TIOCMIWAIT, TIOCGICOUNT, TIOCSBRK, TIOCCBRK, TCSBRK, TCSBRKP,
    TIOCGSERIAL, TIOCSSERIAL, TIOCSERGETLSR, TIOCGRS485, TIOCSRS485, TIOCSERCONFIG,
    TCGETS, TCGETS2, TCSETS, TCSETSW, TCSETSF, TCSETS2, TCSETSW2, TCSETSF2};

bool isSettingsRead(unsigned int request)
{
    return request == TCGETS || request == TCGETS2;
}

bool isSettingsChange(unsigned int request)
{
    switch (request) {
    case TCSETS: case TCSETSW: case TCSETSF: case TCSETS2: case TCSETSW2: case TCSETSF2: return true;
    default: return false;
    }
}

// Requests that may take long: answered from a thread of their own.
bool waits(unsigned int request)
{
    switch (request) {
    case TIOCMIWAIT: case TCSBRK: case TCSBRKP: case TCSETSW: case TCSETSF: case TCSETSW2: case TCSETSF2: return true;
    default: return false;
    }
}

// Requests that act on the terminal itself, through a copy of the program's descriptor.
bool needsDescriptor(unsigned int request)
{
    return isSettingsChange(request) || isSettingsRead(request) || request == TCSBRK || request == TCSBRKP;
}

sock_filter statement(unsigned short code, unsigned int k)
{
    return BPF_STMT(code, k);
}
sock_filter jump(unsigned short code, unsigned int k, unsigned char yes, unsigned char no)
{
    return BPF_JUMP(code, k, yes, no);
}

std::vector<sock_filter> filterProgram()
{
    constexpr unsigned int argLow = offsetof(seccomp_data, args) + sizeof(std::uint64_t);  // args[1], little-endian
    constexpr unsigned int argHigh = argLow + 4;
    const auto count = static_cast<unsigned char>(std::size(supervisedRequests));
    std::vector<sock_filter> p;
    p.push_back(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, nativeArch, 1, 0));
    p.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    p.push_back(statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 1, 0));
    p.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    // The upper half: 0, or all ones for a sign-extended int, is a program's call;
    // anything else is the interposition library's mark.
    p.push_back(statement(BPF_LD | BPF_W | BPF_ABS, argHigh));
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, 0, 2, 0));
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, 0xFFFFFFFFu, 1, 0));
    p.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    p.push_back(statement(BPF_LD | BPF_W | BPF_ABS, argLow));
    for (unsigned char i = 0; i < count; ++i)  // a match jumps to the last statement
        p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, supervisedRequests[i], static_cast<unsigned char>(count - i), 0));
    p.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    p.push_back(statement(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    return p;
}

// The thread group (process) of a thread, from /proc.
pid_t processOf(pid_t thread)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", thread);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[1024];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0)
        return -1;
    text[n] = '\0';
    const char* line = strstr(text, "\nTgid:");
    return line ? static_cast<pid_t>(strtol(line + 6, nullptr, 10)) : -1;
}

// A descriptor of the same open file as the program's (not a new open, which the
// port would take for another application), or -1.
int copyOfDescriptor(pid_t thread, int fd)
{
    const pid_t process = processOf(thread);
    if (process <= 0)
        return -1;
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, process, 0));
    if (pidfd < 0)
        return -1;
    const int copy = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, fd, 0));
    close(pidfd);
    return copy;
}

// The program's memory. A program the supervisor may not look into (one that made
// itself undumpable) is denied: its call then runs as without the launcher, rather
// than failing as if its argument were bad.
struct Remote {
    pid_t thread;
    bool denied = false;
};

bool accessed(Remote* remote, ssize_t done, size_t size)
{
    if (done == static_cast<ssize_t>(size))
        return true;
    if (done < 0 && errno != EFAULT)
        remote->denied = true;
    return false;
}

bool readRemote(void* context, uintptr_t address, void* out, size_t size)
{
    const iovec local{out, size};
    const iovec remote{reinterpret_cast<void*>(address), size};
    auto* r = static_cast<Remote*>(context);
    return accessed(r, process_vm_readv(r->thread, &local, 1, &remote, 1, 0), size);
}

bool writeRemote(void* context, uintptr_t address, const void* in, size_t size)
{
    const iovec local{const_cast<void*>(in), size};
    const iovec remote{reinterpret_cast<void*>(address), size};
    auto* r = static_cast<Remote*>(context);
    return accessed(r, process_vm_writev(r->thread, &local, 1, &remote, 1, 0), size);
}

int plainIoctl(int fd, unsigned long request, void* arg)
{
    return ioctl(fd, request, arg);
}

struct WaitContext {
    const Supervisor* supervisor;
    std::uint64_t id;
};

bool stillWanted(void* context)
{
    const auto* wait = static_cast<const WaitContext*>(context);
    return wait->supervisor->stillWaiting(wait->id);
}

}  // namespace

bool Supervisor::available()
{
    std::uint32_t action = SECCOMP_RET_USER_NOTIF;
    return syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
}

int Supervisor::install()
{
    std::vector<sock_filter> program = filterProgram();
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return -1;
    // No speculation barriers for the program's sake: the filter guards nothing, it
    // only routes calls, and they would slow every call the program makes.
    const int listener = static_cast<int>(syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                                                  SECCOMP_FILTER_FLAG_NEW_LISTENER | SECCOMP_FILTER_FLAG_SPEC_ALLOW, &filter));
    if (listener < 0)
        return static_cast<int>(syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &filter));
    return listener;
}

Supervisor::Supervisor(int listener) : listener_(listener)
{
    if (listener_ >= 0)
        ioctl(listener_, SECCOMP_IOCTL_NOTIF_SET_FLAGS, SECCOMP_USER_NOTIF_FD_SYNC_WAKE_UP);
}

bool Supervisor::stillWaiting(std::uint64_t id) const
{
    {
        std::lock_guard lock(waitsLock_);
        if (!waits_.count(id))
            return false;  // answered meanwhile (interrupted)
    }
    std::uint64_t copy = id;
    return ioctl(listener_, SECCOMP_IOCTL_NOTIF_ID_VALID, &copy) == 0;
}

void Supervisor::respond(std::uint64_t id, int value, int error, bool continueCall) const
{
    seccomp_notif_resp response{};
    response.id = id;
    if (continueCall)
        response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    else if (value == -1)
        response.error = -error;
    else
        response.val = value;
    // Fails only when the call is no longer waiting (a signal ended it, or the program).
    ioctl(listener_, SECCOMP_IOCTL_NOTIF_SEND, &response);
}

void Supervisor::takeRequest()
{
    // A newer kernel may hand over a longer record than this build knows of: it is
    // taken into room enough, zeroed as the kernel requires, and read as far as known.
    static const std::size_t size = [] {
        seccomp_notif_sizes sizes{};
        return syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) == 0 ? std::size_t{sizes.seccomp_notif} : 0;
    }();
    std::vector<std::uint64_t> record((std::max(size, sizeof(seccomp_notif)) + 7) / 8, 0);
    if (ioctl(listener_, SECCOMP_IOCTL_NOTIF_RECV, record.data()) != 0)
        return;  // the call ended before it could be taken
    seccomp_notif request;
    memcpy(&request, record.data(), sizeof request);
    answer(request);
}

void Supervisor::answer(const seccomp_notif& request)
{
    const int fd = static_cast<int>(request.data.args[0]);
    const auto command = static_cast<unsigned int>(request.data.args[1]);
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/fd/%d", request.pid, fd);
    struct stat st {};
    const Port port = fd >= 0 && stat(path, &st) == 0 ? portOfFile(st) : Port{};
    std::uint64_t id = request.id;
    // Not a port (or the descriptor is no more): the kernel runs the call as it is.
    if (port.com == 0 || ioctl(listener_, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) != 0) {
        respond(request.id, 0, 0, true);
        return;
    }
    int copy = -1;
    if (needsDescriptor(command) && (copy = copyOfDescriptor(request.pid, fd)) < 0) {
        respond(request.id, 0, 0, true);  // not ours to reach: as without the launcher
        return;
    }
    if (waits(command)) {
        answerInThread(request, copy);
        return;
    }
    Remote remote{static_cast<pid_t>(request.pid)};
    const ArgumentAccess memory{readRemote, writeRemote, &remote};
    const PortCall call{copy, command, static_cast<uintptr_t>(request.data.args[2])};
    const PortCallResult result = isSettingsChange(command) ? setSettings(port, call, memory, plainIoctl)
                                  : isSettingsRead(command) ? getSettings(port, call, memory, plainIoctl)
                                                            : portCall(port, call, memory, plainIoctl);
    if (copy >= 0)
        close(copy);
    if (result.handled && !remote.denied)
        respond(request.id, result.value, result.error);
    else
        respond(request.id, 0, 0, true);
}

void Supervisor::answerInThread(const seccomp_notif& request, int copy)
{
    if (threads_.load() >= static_cast<int>(maxWaitingThreads)) {
        if (copy >= 0)
            close(copy);
        respond(request.id, -1, EBUSY);
        return;
    }
    {
        std::lock_guard lock(waitsLock_);
        waits_.insert(request.id);
    }
    ++threads_;
    std::thread([this, request, copy] {
        char path[64];
        snprintf(path, sizeof path, "/proc/%d/fd/%d", request.pid, static_cast<int>(request.data.args[0]));
        struct stat st {};
        const Port port = stat(path, &st) == 0 ? portOfFile(st) : Port{};
        Remote remote{static_cast<pid_t>(request.pid)};
        const ArgumentAccess memory{readRemote, writeRemote, &remote};
        const auto command = static_cast<unsigned int>(request.data.args[1]);
        const PortCall call{copy, command, static_cast<uintptr_t>(request.data.args[2])};
        WaitContext context{this, request.id};
        const StillWanted wanted{stillWanted, &context, 1000};
        PortCallResult result;
        if (port.com)
            result = isSettingsChange(command) ? setSettings(port, call, memory, plainIoctl)
                                               : portCall(port, call, memory, plainIoctl, &wanted);
        if (copy >= 0)
            close(copy);
        bool mine;
        {
            std::lock_guard lock(waitsLock_);
            mine = waits_.erase(request.id) == 1;
        }
        if (mine) {
            if (result.handled && !remote.denied)
                respond(request.id, result.value, result.error);
            else
                respond(request.id, 0, 0, true);
        }
        --threads_;
    }).detach();
}

void Supervisor::interruptWaits()
{
    std::lock_guard lock(waitsLock_);
    for (const std::uint64_t id : waits_)
        respond(id, -1, EINTR);
    waits_.clear();
}

}  // namespace vsp::preload
