// quorlinvcp-run --session on|off|status: loads the interposition library into every
// program of the user's desktop session from the next login, through the session's
// own environment files: ~/.config/environment.d/60-quorlinvcp.conf for the systemd
// user manager and all it starts, and one marked line in ~/.xsessionrc for X sessions
// started through Debian's Xsession. Off by default.
#pragma once

#include <string>

namespace vsp::preload {

// Carries out `--session ACTION` ("on", "off", "status"; nullptr is "status") for the
// library at libraryPath (absolute, as the launcher found it; "" when it found none).
// Returns the exit status: 0, EX_USAGE (64) for an unknown action, EX_CANTCREAT (73)
// when a file cannot be written or removed or the library cannot be preloaded from
// its path. Messages name the files.
int sessionCommand(const char* action, const std::string& libraryPath);

}  // namespace vsp::preload
