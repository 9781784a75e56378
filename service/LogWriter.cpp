#include "service/LogWriter.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace service {

std::string formatLine(const LogLine& line, bool journal)
{
    std::string text = line.text;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    if (journal)
        return "<" + std::to_string(static_cast<int>(line.priority)) + ">" + text + "\n";
    timeval now{};
    ::gettimeofday(&now, nullptr);
    std::tm utc{};
    ::gmtime_r(&now.tv_sec, &utc);
    char stamp[48];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
    std::snprintf(stamp + length, sizeof stamp - length, ".%03d ", static_cast<int>(now.tv_usec / 1000));
    return stamp + text + "\n";
}

struct LogWriter::Shared {
    int fd;
    bool journal;
    std::size_t maxQueuedBytes;
    std::mutex mutex;
    std::condition_variable wake;     // lines to write, or the end
    std::condition_variable drained;  // nothing waits any more
    std::deque<std::string> queue;
    std::size_t queuedBytes = 0;
    std::size_t dropped = 0;  // since the last line that fitted
    bool writing = false;
    bool stop = false;
    std::thread thread;

    bool idle() const { return queue.empty() && dropped == 0 && !writing; }

    // The count of the lines lost, where they were lost: before the next line that fits.
    void queueDropNotice()
    {
        const std::string notice = formatLine(
            {Priority::Warning, std::to_string(dropped) + " log lines were dropped: standard error did not take them"},
            journal);
        queuedBytes += notice.size();
        queue.push_back(notice);
        dropped = 0;
    }

    void writeAll(const std::string& text) const
    {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n >= 0) {
                done += static_cast<std::size_t>(n);
            } else if (errno == EAGAIN) {  // someone made the descriptor non-blocking
                pollfd out{fd, POLLOUT, 0};
                ::poll(&out, 1, -1);
            } else if (errno != EINTR) {
                return;  // no reader any more, or a broken stream: the line is lost
            }
        }
    }

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stop || !queue.empty() || dropped > 0; });
            if (stop)
                return;
            if (queue.empty())
                queueDropNotice();
            const std::string text = std::move(queue.front());
            queue.pop_front();
            queuedBytes -= text.size();
            writing = true;
            lock.unlock();
            writeAll(text);
            lock.lock();
            writing = false;
            if (idle())
                drained.notify_all();
        }
    }
};

LogWriter::LogWriter(int fd, bool journal, std::size_t maxQueuedBytes)
    : shared_(std::make_shared<Shared>())
{
    shared_->fd = fd;
    shared_->journal = journal;
    shared_->maxQueuedBytes = maxQueuedBytes;
    // Started with every signal blocked: SIGTERM and SIGINT are the main thread's,
    // taken through its signalfd, and must never end the program on this thread.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    shared_->thread = std::thread([shared = shared_] { shared->run(); });
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

LogWriter::~LogWriter()
{
    drain(closeWait);
    bool idle = false;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
        idle = shared_->idle();
    }
    shared_->wake.notify_all();
    // A thread stuck in write() is left to the end of the program; it holds what it uses.
    if (idle)
        shared_->thread.join();
    else
        shared_->thread.detach();
}

void LogWriter::write(const LogLine& line)
{
    std::string text = formatLine(line, shared_->journal);
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->queuedBytes + text.size() > shared_->maxQueuedBytes) {
            ++shared_->dropped;
            return;
        }
        if (shared_->dropped > 0)
            shared_->queueDropNotice();
        shared_->queuedBytes += text.size();
        shared_->queue.push_back(std::move(text));
    }
    shared_->wake.notify_one();
}

bool LogWriter::drain(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(shared_->mutex);
    return shared_->drained.wait_for(lock, timeout, [this] { return shared_->idle(); });
}

bool standardErrorIsJournal()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (!stream)
        return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    struct stat st {};
    return ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

}  // namespace service
