#include "service/EventLog.h"

#include <cstring>

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
        std::string advice;
        if (const auto at = text.find("sha256:"); event.errorKind == VSP_ERROR_CERTIFICATE_UNKNOWN && at != std::string::npos)
            advice = "; to trust it, add pin=" + text.substr(at + 7) +
                     " to the redirect's TLS field or trust it in the window";
        return LogLine{Priority::Warning,
                       port + "cannot connect: " + text + advice + "; retrying (the same failure is not logged again)"};
    }
    case VSP_EVENT_SETTINGS_SENT: return LogLine{Priority::Info, port + "settings sent to the adapter: " + text};
    case VSP_EVENT_CLOSED: return LogLine{Priority::Info, port + "connection closed: " + text};
    case VSP_EVENT_DATA_LOST: return LogLine{Priority::Warning, port + "data lost: " + text};
    default: return std::nullopt;  // a later library's event this service does not know
    }
}

}  // namespace service
