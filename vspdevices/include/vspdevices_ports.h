// Where the virtual ports appear: the link COM<N> in the port directory points to
// the pseudo-terminal of COM port N while emulation runs. The directory is
// $VSP_PORT_DIR when set, else $XDG_RUNTIME_DIR/vspdevices, else /tmp/vspdevices-<uid>.
// The library creates it with mode 0700; an existing one is used unchanged and must
// be the user's own and writable by no one else (a shared folder such as /tmp is
// refused). One library instance at a time uses it. Every program that reads the
// directory (the launcher, a status command, a check for its holder) applies the
// same rule before it believes anything found there: a folder another user made
// first (/tmp/vspdevices-<uid> can be) holds their links and sockets, not ours.
// Header-only so that the library and the programs that look for its ports share
// one definition of the rule and of the links' names; portDirectoryFault and
// portLinkNumber use nothing but system calls and plain code, so the interposition
// library, which links only libc, shares them too.
#ifndef VSPDEVICES_PORTS_H
#define VSPDEVICES_PORTS_H

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace vspdevices {

// What is wrong with a port directory, if anything.
enum class PortDirectoryFault {
    None,
    Missing,       // nothing there (the library makes it)
    NotAFolder,    // a link, a file, ...: never followed
    OtherOwner,    // another user's folder
    OpenToOthers,  // others may write there: they could put links under the ports' names
};

inline PortDirectoryFault portDirectoryFault(const char* dir)
{
    struct stat st {};
    if (::lstat(dir, &st) != 0)
        return PortDirectoryFault::Missing;
    if (!S_ISDIR(st.st_mode))
        return PortDirectoryFault::NotAFolder;
    if (st.st_uid != ::geteuid())
        return PortDirectoryFault::OtherOwner;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return PortDirectoryFault::OpenToOthers;
    return PortDirectoryFault::None;
}

// The fault in words, to follow the directory's name: "belongs to another user (uid 65534)".
inline std::string portDirectoryFaultText(const std::string& dir)
{
    struct stat st {};
    switch (portDirectoryFault(dir.c_str())) {
    case PortDirectoryFault::None: return {};
    case PortDirectoryFault::Missing: return "does not exist";
    case PortDirectoryFault::NotAFolder: return "is not a folder (a link is not followed)";
    case PortDirectoryFault::OtherOwner:
        ::lstat(dir.c_str(), &st);
        return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    case PortDirectoryFault::OpenToOthers: return "may be written by other users";
    }
    return {};
}

inline std::string portDirectory()
{
    if (const char* dir = std::getenv("VSP_PORT_DIR"); dir && *dir)
        return dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/vspdevices";
    return "/tmp/vspdevices-" + std::to_string(::getuid());
}

// The COM numbers the library runs ports for.
inline constexpr int minComNumber = 1;
inline constexpr int maxComNumber = 255;

inline std::string portLinkName(int com)
{
    return "COM" + std::to_string(com);
}

// The COM number of a link name: exactly "COM<n>", n in decimal with no leading
// zero, minComNumber..highest; none for anything else ("com5", "COM05", "COM5.control").
// Wine's port mapping, which runs to COM256, asks with its own highest number.
// (No substr: the interposition library has no C++ runtime to throw from.)
inline std::optional<int> portLinkNumber(std::string_view name, int highest = maxComNumber)
{
    if (name.size() < 4 || name[0] != 'C' || name[1] != 'O' || name[2] != 'M' || name[3] == '0')
        return std::nullopt;
    int com = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || com > highest)
            return std::nullopt;
        com = com * 10 + (name[i] - '0');
    }
    if (com < minComNumber || com > highest)
        return std::nullopt;
    return com;
}

inline std::string portLinkPath(int com)
{
    return portDirectory() + "/" + portLinkName(com);
}

}  // namespace vspdevices

#endif
