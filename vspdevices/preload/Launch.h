// Runs a program under the supervisor (Supervisor.h) as if it had been started
// directly: the program is the launcher's child in the same process group, so the
// terminal's job control (Ctrl+C, Ctrl+Z, fg) reaches both; a signal sent to the
// launcher alone is passed on to the program; the launcher stops when the program
// stops and goes on with it; and it ends as the program ends, with its exit status
// or by its signal. The supervisor lives in the launcher, an ancestor of everything
// the program starts, which is what a kernel that limits ptrace to descendants
// allows to read their memory. Descendants that outlive the program (a daemon it
// started) are supervised on by a detached copy of the launcher.
#pragma once

namespace vsp::preload {

// Never returns: exits as the program did. argv[0] is the program, looked up in PATH.
[[noreturn]] void runSupervised(char** argv);

}  // namespace vsp::preload
