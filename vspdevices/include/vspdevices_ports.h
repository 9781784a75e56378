// Where the virtual ports appear: the link COM<N> in the port directory points to
// the pseudo-terminal of COM port N while emulation runs. The directory is
// $VSP_PORT_DIR when set, else $XDG_RUNTIME_DIR/vspdevices, else /tmp/vspdevices-<uid>.
// The library creates it with mode 0700; an existing one is used unchanged and must
// be the user's own and writable by no one else (a shared folder such as /tmp is
// refused). One library instance at a time uses it.
// Header-only so that the library and the programs that look for its ports share
// one definition of the rule.
#ifndef VSPDEVICES_PORTS_H
#define VSPDEVICES_PORTS_H

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace vspdevices {

inline std::string portDirectory()
{
    if (const char* dir = std::getenv("VSP_PORT_DIR"); dir && *dir)
        return dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/vspdevices";
    return "/tmp/vspdevices-" + std::to_string(::getuid());
}

inline std::string portLinkName(int com)
{
    return "COM" + std::to_string(com);
}

inline std::string portLinkPath(int com)
{
    return portDirectory() + "/" + portLinkName(com);
}

}  // namespace vspdevices

#endif
