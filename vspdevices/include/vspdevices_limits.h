// A program that runs many ports needs many descriptors: each port holds its
// terminal, its connection and its control socket, and each program asking on the
// socket one more. The soft limit a session starts with (1,024 under systemd) is
// too few for 255 ports and their clients, while the hard limit is far above it;
// a program that runs the library raises its soft limit to the hard one at start.
// Header-only, for the programs on the library's interface.
#ifndef VSPDEVICES_LIMITS_H
#define VSPDEVICES_LIMITS_H

#include <sys/resource.h>

namespace vspdevices {

// Raises the soft limit on open descriptors to the hard one; false when it cannot.
inline bool raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur == limit.rlim_max)
        return true;
    limit.rlim_cur = limit.rlim_max;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace vspdevices

#endif
