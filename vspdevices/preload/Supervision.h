// What the launcher's supervisor and the interposition library agree on. The
// supervisor sees a program's serial requests as the kernel gets them (seccomp user
// notification), including the interposition library's own calls; that library
// marks them in the request's upper 32 bits, which the kernel ignores (it reads the
// request as 32 bits), so the supervisor's filter lets them pass at once instead of
// looking at a request the library has already answered.
#pragma once

namespace vsp::preload {

// Set to "1" in a supervised program's environment.
inline constexpr const char* supervisedVariable = "QUORLINVCP_SUPERVISED";
inline constexpr unsigned long supervisedCallMark = 0x51565043ul << 32;  // "QVPC"

}  // namespace vsp::preload
