// Writes the service's log lines to standard error on a thread of its own, so that
// a standard error nobody reads (a stalled journal, a paused terminal, a pipe whose
// reader sleeps) never holds up the main thread: its signals, its events, its stop.
// Lines wait in a queue of bounded size; what does not fit is dropped and counted,
// and once standard error takes lines again the log says how many it lost.
#pragma once

#include "service/EventLog.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace service {

// The line as written: "<priority>" first for the journal, the UTC time otherwise,
// and a text from elsewhere (a host name, a system message) kept to one line.
std::string formatLine(const LogLine& line, bool journal);

class LogWriter {
public:
    // `journal`: the descriptor is the journal's stream (its "<priority>" prefixes are read).
    LogWriter(int fd, bool journal, std::size_t maxQueuedBytes = 64 * 1024);
    // Waits at most `closeWait` for the queued lines to be written; a descriptor that
    // takes nothing keeps what remains and the writing thread is left behind.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues the line; never waits for the descriptor.
    void write(const LogLine& line);
    void write(Priority priority, const std::string& text) { write(LogLine{priority, text}); }
    // Waits until every queued line is written or the time is up; whether all were.
    bool drain(std::chrono::milliseconds timeout);

    static constexpr std::chrono::milliseconds closeWait{500};

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

// Whether standard error is the journal's stream ($JOURNAL_STREAM names its device and inode).
bool standardErrorIsJournal();

}  // namespace service
