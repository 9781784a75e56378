#include "app/TerminationSignal.h"

#include <QSocketNotifier>
#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t terminationSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    return set;
}

// In a new child process (the desktop's document viewer, any helper program): the
// signal is blocked only for this process's signalfd, and a child that kept it
// blocked could not be ended normally.
void unblockInChild()
{
    const sigset_t set = terminationSet();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}
}  // namespace

void blockTerminationSignal()
{
    static const bool handlerInstalled = pthread_atfork(nullptr, nullptr, unblockInChild) == 0;
    (void)handlerInstalled;
    const sigset_t set = terminationSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignal::TerminationSignal()
{
    const sigset_t set = terminationSet();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info{};
        while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        emit received();
    });
}

TerminationSignal::~TerminationSignal()
{
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}
