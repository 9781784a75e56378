// The window and quorlinvcp-service, which runs redirects without it, cannot both
// use one port directory. The library refuses the second of them; the window
// finds out before that and tells the user why, instead of coming up without ports.
#pragma once

#include <string>

class MessageBoxes;

// When quorlinvcp-service holds the port directory, shows a message box that says
// so (with its pid and how to stop it) and returns true: the window must not start.
// Any other holder leaves the window's start-up as it is.
bool refuseWhileServiceRuns(MessageBoxes& messages, const std::string& portDirectory);
