// The program's event handler (vsp_setEventHandler) and the events it is given.
// Events are raised on the library's thread; setting the handler may happen on any
// other. A mutex held across each call lets set() promise that the handler it
// replaced is neither running nor called again once it returns.
#pragma once

#include "vspdevices.h"

#include <mutex>
#include <string_view>

namespace vsp {

class EventHook {
public:
    void set(vsp_event_handler handler, void* context);
    // Calls the handler, when one is set, with the event and its text (cut to fit
    // at a character boundary).
    void raise(int kind, int deviceId, int com, int errorKind, std::string_view text);

private:
    std::mutex mutex_;
    vsp_event_handler handler_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace vsp
