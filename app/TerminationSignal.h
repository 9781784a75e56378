// SIGTERM (the system asking the program to end) delivered into the event loop:
// the signal is blocked in every thread and read from a signalfd, so nothing runs
// in signal context.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

// Blocks SIGTERM for this thread and the threads it will start; call it before any
// other thread exists. A child process started with fork() (as Qt starts the
// desktop's document opener) gets it unblocked again. QProcess::start() spawns
// without fork handlers: a child started that way must unblock it itself.
void blockTerminationSignal();

class TerminationSignal : public QObject {
    Q_OBJECT
public:
    TerminationSignal();
    ~TerminationSignal() override;

signals:
    void received();

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};
