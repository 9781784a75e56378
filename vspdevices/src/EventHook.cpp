#include "EventHook.h"

#include <algorithm>
#include <cstring>

namespace vsp {

void EventHook::set(vsp_event_handler handler, void* context)
{
    std::lock_guard lock(mutex_);
    handler_ = handler;
    context_ = context;
}

void EventHook::raise(int kind, int deviceId, int com, int errorKind, std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (!handler_)
        return;
    vsp_event event{};
    event.size = sizeof event;
    event.kind = kind;
    event.deviceId = deviceId;
    event.com = com;
    event.errorKind = errorKind;
    std::size_t length = std::min(text.size(), sizeof event.text - 1);
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;  // not inside a UTF-8 character
    std::memcpy(event.text, text.data(), length);
    handler_(&event, context_);
}

}  // namespace vsp
