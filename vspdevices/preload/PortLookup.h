// Tells whether a file descriptor is one of the library's virtual ports, cheaply
// and without disturbing anything: only a pseudo-terminal slave can be one, and
// its device is matched against the links COM<N> of the port directory. Results
// are kept by device number and creation time of the terminal (a reused terminal
// number is a new terminal), so a descriptor is looked up in the directory once.
// A directory the library would refuse (vspdevices_ports.h) holds no port of ours.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace vsp::preload {

struct Port {
    int com = 0;          // 0: not a port of ours
    dev_t terminal = 0;   // the descriptor's terminal, which the port's channel must serve
};

// The port fd is, if any.
Port portOf(int fd);
// The port a file of these attributes is, if any (the supervisor looks at another
// process's descriptor through /proc).
Port portOfFile(const struct stat& st);
// The port directory as the library finds it, written into out (false when too long).
bool portDirectory(char* out, size_t size);
// Called in a forked child: the lock may have been held by a thread that is gone.
void resetLookupAfterFork();

}  // namespace vsp::preload
