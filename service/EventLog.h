// The service's log: one line per event on standard error, in a form the journal
// reads (a "<priority>" prefix when standard error is the journal's stream, a time
// stamp otherwise). A redirect whose adapter stays away fails the same way every
// few seconds; such a failure is logged once, until the redirect connects or fails
// differently.
#pragma once

#include "vspdevices.h"

#include <cstdio>
#include <map>
#include <optional>
#include <string>

namespace service {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

struct LogLine {
    Priority priority;
    std::string text;
};

class EventLog {
public:
    // The line for a library event, or nullopt when it repeats what is logged.
    std::optional<LogLine> line(const vsp_event& event);

private:
    struct Failure {
        int kind = 0;
        std::string text;
    };
    std::map<int, Failure> lastFailure_;  // by device id, since its last connection
};

// Writes lines to a stream (standard error).
class LogWriter {
public:
    // `journal`: the stream is the journal's (its "<priority>" prefixes are read).
    LogWriter(std::FILE* stream, bool journal) : stream_(stream), journal_(journal) {}
    void write(const LogLine& line);
    void write(Priority priority, const std::string& text) { write(LogLine{priority, text}); }

private:
    std::FILE* stream_;
    bool journal_;
};

// Whether standard error is the journal's stream ($JOURNAL_STREAM names its device and inode).
bool standardErrorIsJournal();

}  // namespace service
