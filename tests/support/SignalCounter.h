// Counts a signal's emissions and waits for the next one in an event loop.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>

class SignalCounter {
public:
    template <class Sender, class Signal>
    SignalCounter(Sender* sender, Signal signal)
    {
        QObject::connect(sender, signal, &context_, [this] {
            ++count_;
            loop_.quit();
        });
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, &loop_, &QEventLoop::quit);
    }

    int count() const { return count_; }
    // Runs the event loop until the signal comes again or the time is up; true when it came.
    bool wait(int milliseconds)
    {
        const int before = count_;
        timer_.start(milliseconds);
        loop_.exec();
        timer_.stop();
        return count_ > before;
    }

private:
    QObject context_;
    QEventLoop loop_;
    QTimer timer_;
    int count_ = 0;
};
