// The start-up routine of the program.
#pragma once

// Refuses a second instance (silently) and, with a message, a start while
// quorlinvcp-service runs the ports; fixes where the settings file lies, takes a
// configuration file from the command line and shows the main window. Returns the
// process's exit code once the main window has closed.
int Main(int argc, char** argv);

// The last step of start-up: hides the shown main window into the notification area
// when the settings ask for it (LoadInSysTray 1). A failure is logged under "Main".
void hideWhenAskedAtStart(class frmMain& window);

// Why the program cannot show a window, or "" when it can: without a display server
// (no DISPLAY, no WAYLAND_DISPLAY and no platform chosen) Qt would abort obscurely.
const char* missingDisplayReason();
