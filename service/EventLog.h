// The service's log lines for the library's events (LogWriter writes them). A
// redirect whose adapter stays away fails the same way every few seconds; such a
// failure is logged once, until the redirect connects or fails differently.
#pragma once

#include "vspdevices.h"

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

}  // namespace service
