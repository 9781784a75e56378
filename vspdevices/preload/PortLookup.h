// Tells whether a file descriptor is one of the library's virtual ports, cheaply
// and without disturbing anything: only a pseudo-terminal slave can be one, and
// its device is matched against the links COM<N> of the port directory. Results
// are kept by device number and creation time of the terminal (a reused terminal
// number is a new terminal), so a descriptor is looked up in the directory once.
#pragma once

#include <sys/types.h>

namespace vsp::preload {

// The COM number of the port fd is, or 0 when fd is no port of ours.
int portOf(int fd);
// The port directory as the library finds it, written into out (false when too long).
bool portDirectory(char* out, size_t size);
// Called in a forked child: the lock may have been held by a thread that is gone.
void resetLookupAfterFork();

}  // namespace vsp::preload
