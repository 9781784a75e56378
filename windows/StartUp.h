// The start-up routine of the program.
#pragma once

// A second start hands its command line's file to the running instance and ends
// (silently); a start while quorlinvcp-service runs the ports is refused with a
// message. Otherwise fixes where the settings file lies, takes a configuration file
// from the command line, shows the main window and takes later starts' requests.
// Returns the process's exit code once the main window has closed.
int Main(int argc, char** argv);

// The last step of start-up: hides the shown main window into the notification area
// when the settings ask for it (LoadInSysTray 1). A failure is logged under "Main".
void hideWhenAskedAtStart(class frmMain& window, const struct ProgramState& state);

// Why the program cannot show a window, or "" when it can: without a display server
// (no DISPLAY, no WAYLAND_DISPLAY and no platform chosen) Qt would abort obscurely.
const char* missingDisplayReason();
