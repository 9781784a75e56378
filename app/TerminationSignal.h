// SIGTERM (the system asking the program to end) delivered into the event loop:
// the signal is blocked in every thread and read from a signalfd, so nothing runs
// in signal context.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

// Blocks SIGTERM for this thread and the threads it will start; call it before any
// other thread exists. Every child process the program starts gets it unblocked again.
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
