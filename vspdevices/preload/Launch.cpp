#include "Launch.h"

#include "vspdevices_descriptors.h"

#include "ControlClient.h"
#include "PortCalls.h"
#include "PortLookup.h"
#include "Supervision.h"
#include "Supervisor.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vsp::preload {
namespace {

// Signals the launcher takes as events: passed on, or (SIGCHLD) the program's
// news. Faults of the launcher's own (SIGSEGV and the like) keep their default.
sigset_t relayedSignals()
{
    sigset_t set;
    sigfillset(&set);
    for (const int own : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT, SIGKILL, SIGSTOP})
        sigdelset(&set, own);
    return set;
}

void sendDescriptor(int socket, int fd)
{
    const char byte = fd >= 0 ? 1 : 0;
    while (sendWithDescriptor(socket, &byte, 1, fd, 0) < 0 && errno == EINTR) {
    }
}

int receiveDescriptor(int socket)
{
    char byte = 0;
    int fd = -1;
    ssize_t n;
    while ((n = receiveWithDescriptor(socket, &byte, 1, &fd, 0)) < 0 && errno == EINTR) {
    }
    if (n == 1 && byte == 1)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// The program's side: the filter, then the program itself.
[[noreturn]] void startProgram(char** argv, int socket, const sigset_t& mask)
{
    const int listener = Supervisor::install();
    if (listener >= 0)
        setenv(supervisedVariable, "1", 1);
    sendDescriptor(socket, listener);
    if (listener >= 0)
        close(listener);
    close(socket);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    execvp(argv[0], argv);
    const int error = errno;
    fprintf(stderr, "quorlinvcp-run: %s: %s\n", argv[0], strerror(error));
    _exit(error == ENOENT ? 127 : 126);
}

// Ends the launcher the way the program ended.
[[noreturn]] void endAs(int status)
{
    if (WIFEXITED(status))
        _exit(WEXITSTATUS(status));
    const int signal = WTERMSIG(status);
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);  // the program's core, if any, is the one that counts
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    _exit(128 + signal);
}

bool hungUp(int listener)
{
    pollfd p{listener, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN);
}

// Serves the supervisor's requests until nothing runs under its filter any more.
void serveUntilHungUp(Supervisor& supervisor)
{
    for (;;) {
        pollfd p{supervisor.descriptor(), POLLIN, -1};
        if (poll(&p, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p.revents & POLLIN)
            supervisor.takeRequest();
        else if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return;
    }
}

// The program ended but some of its descendants still run under the filter: a
// detached copy (its own session, so the terminal's signals pass it by) serves
// them, and waits in progress are told to ask again, of that copy.
void handOver(Supervisor& supervisor)
{
    supervisor.interruptWaits();
    const pid_t copy = fork();
    if (copy != 0)
        return;
    setsid();
    if (fork() != 0)
        _exit(0);  // not the launcher's child: nobody need wait for it
    // Holds no end of the program's pipes or terminal: a reader waiting for their end
    // waits for the program's descendants alone.
    if (const int null = open("/dev/null", O_RDWR | O_CLOEXEC); null >= 0)
        for (int fd = 0; fd < 3; ++fd)
            dup2(null, fd);
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
    // Only this thread came along: locks other threads held are reset, and a
    // supervisor of its own starts with none.
    resetLookupAfterFork();
    resetConnectionsAfterFork();
    resetPortCallsAfterFork();
    Supervisor successor(supervisor.descriptor());
    serveUntilHungUp(successor);
    _exit(0);
}

}  // namespace

void runSupervised(char** argv)
{
    if (!Supervisor::available()) {
        execvp(argv[0], argv);
        fprintf(stderr, "quorlinvcp-run: %s: %s\n", argv[0], strerror(errno));
        _exit(errno == ENOENT ? 127 : 126);
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        perror("quorlinvcp-run: socketpair");
        _exit(71);
    }
    const sigset_t relayed = relayedSignals();
    sigset_t original;
    sigprocmask(SIG_BLOCK, &relayed, &original);
    const pid_t program = fork();
    if (program < 0) {
        perror("quorlinvcp-run: fork");
        _exit(71);
    }
    if (program == 0) {
        close(pair[0]);
        startProgram(argv, pair[1], original);
    }
    close(pair[1]);
    const int listener = receiveDescriptor(pair[0]);
    close(pair[0]);
    const int signals = signalfd(-1, &relayed, SFD_CLOEXEC);
    Supervisor supervisor(listener);
    bool serving = listener >= 0;
    for (;;) {
        pollfd p[2] = {{signals, POLLIN, 0}, {listener, POLLIN, 0}};
        if (poll(p, serving ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            perror("quorlinvcp-run: poll");
            _exit(71);
        }
        if (serving && (p[1].revents & POLLIN))
            supervisor.takeRequest();
        else if (serving && (p[1].revents & (POLLHUP | POLLERR)))
            serving = false;  // nothing runs under the filter now: the program's end follows
        if (!(p[0].revents & POLLIN))
            continue;
        signalfd_siginfo info{};
        if (read(signals, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        const int signal = static_cast<int>(info.ssi_signo);
        if (signal == SIGCHLD) {
            int status = 0;
            for (pid_t child; (child = waitpid(program, &status, WNOHANG | WUNTRACED | WCONTINUED)) == program;) {
                if (WIFSTOPPED(status)) {
                    // Stopped (Ctrl+Z, or a signal to the program): so is the launcher, as the
                    // shell expects of the job; when it goes on, so does the program.
                    kill(getpid(), SIGSTOP);
                    kill(program, SIGCONT);
                } else if (WIFEXITED(status) || WIFSIGNALED(status)) {
                    if (listener >= 0 && !hungUp(listener))
                        handOver(supervisor);
                    endAs(status);
                }
            }
            continue;
        }
        // The terminal's own signals (Ctrl+C, a hang-up, a window size change) reach
        // the program directly, being of the same process group; what was sent to the
        // launcher alone is passed on. SIGPIPE is the launcher's own.
        if (signal != SIGPIPE && info.ssi_code <= 0)
            kill(program, signal);
    }
}

}  // namespace vsp::preload
