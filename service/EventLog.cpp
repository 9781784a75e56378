#include "service/EventLog.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace service {

std::optional<LogLine> EventLog::line(const vsp_event& event)
{
    const std::string port = "COM" + std::to_string(event.com) + ": ";
    const std::string text(event.text, strnlen(event.text, sizeof event.text));
    switch (event.kind) {
    case VSP_EVENT_CONNECTED:
        lastFailure_.erase(event.deviceId);
        return LogLine{Priority::Info, port + "connected to " + text};
    case VSP_EVENT_DROPPED:
        lastFailure_[event.deviceId] = {event.errorKind, text};
        return LogLine{Priority::Warning, port + "connection dropped: " + text + "; reconnecting"};
    case VSP_EVENT_CONNECT_FAILED: {
        Failure& last = lastFailure_[event.deviceId];
        if (last.kind == event.errorKind && last.text == text)
            return std::nullopt;
        last = {event.errorKind, text};
        return LogLine{Priority::Warning, port + "cannot connect: " + text + "; retrying (the same failure is not logged again)"};
    }
    case VSP_EVENT_SETTINGS_SENT: return LogLine{Priority::Info, port + "settings sent to the adapter: " + text};
    case VSP_EVENT_CLOSED: return LogLine{Priority::Info, port + "connection closed: " + text};
    default: return std::nullopt;  // a later library's event this service does not know
    }
}

void LogWriter::write(const LogLine& line)
{
    // One line each: a text from elsewhere (a host name, a system message) never
    // starts a line of its own nor moves a terminal's cursor.
    std::string text = line.text;
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    if (journal_) {
        std::fprintf(stream_, "<%d>%s\n", static_cast<int>(line.priority), text.c_str());
    } else {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        std::tm utc{};
        ::gmtime_r(&now.tv_sec, &utc);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
        std::fprintf(stream_, "%s.%03d %s\n", stamp, static_cast<int>(now.tv_usec / 1000), text.c_str());
    }
    std::fflush(stream_);
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
