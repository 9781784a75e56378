// Where a program finds the device library's files from its own place. A portable
// folder (and the build tree) keeps them all beside the commands; the system layout
// keeps the commands in bin/, the libraries in lib/quorlinvcp/ and the manual in
// share/doc/quorlinvcp/, found from the commands' folder by fixed relative paths, so
// either layout works wherever its root is. The window, the runner and the launcher
// all decide it here. The names and relative paths come from InstallPaths.h, which
// the build generates for every program. Header-only, no allocation beyond strings.
#ifndef VSPDEVICES_INSTALL_H
#define VSPDEVICES_INSTALL_H

#include "InstallPaths.h"

#include <algorithm>
#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vspdevices::install {

// The running program's own file, from /proc/self/exe (no link left in it); "" when
// it cannot be read.
inline std::string executablePath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// The folder of the running program's file.
inline std::string executableDir()
{
    const std::string exe = executablePath();
    const std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : slash == 0 ? std::string("/") : exe.substr(0, slash);
}

// dir/relative with "." and ".." taken out by their names: "/usr/bin" and
// "../lib/quorlinvcp" give "/usr/lib/quorlinvcp". dir holds no link (it comes from
// /proc/self/exe), so the names say the same as the file system would.
inline std::string below(std::string dir, const std::string& relative)
{
    std::size_t at = 0;
    while (at <= relative.size()) {
        const std::size_t end = std::min(relative.find('/', at), relative.size());
        const std::string part = relative.substr(at, end - at);
        if (part == "..") {
            const std::size_t slash = dir.rfind('/');
            if (slash == std::string::npos)
                dir.clear();
            else
                dir.erase(slash == 0 ? 1 : slash);  // the root is its own parent
        } else if (!part.empty() && part != ".") {
            dir += (dir.empty() || dir.back() != '/' ? "/" : "") + part;
        }
        at = end + 1;
    }
    return dir;
}

inline std::string systemLibraryDir(const std::string& programDir)
{
    return below(programDir, QVCP_LIBRARY_DIR_FROM_PROGRAM);
}

inline std::string systemManualDir(const std::string& programDir)
{
    return below(programDir, QVCP_MANUAL_DIR_FROM_PROGRAM);
}

// Whether a path is a regular file, links followed.
inline bool isFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folder a companion file lies in: the program's own when it holds it, else the
// system layout's library folder when that does; "" when neither. has(path) says
// whether the file at path will do.
template <class Has>
std::string companionDir(const std::string& programDir, const std::string& name, Has has)
{
    if (has(programDir + "/" + name))
        return programDir;
    const std::string system = systemLibraryDir(programDir);
    return has(system + "/" + name) ? system : std::string();
}

struct Layout {
    bool portable = true;    // a portable folder keeps the user's files beside the program
    std::string libraryDir;  // the device library's folder
    std::string manualDir;   // the manual's folder
};

// The layout of a program in programDir: the system layout when the device library
// is not beside the program but in the system layout's library folder; otherwise a
// portable folder (a build tree before its library is built is one too).
template <class Has>
Layout layoutOf(const std::string& programDir, Has has)
{
    const std::string library = companionDir(programDir, QVCP_DEVICE_LIBRARY, has);
    if (!library.empty() && library != programDir)
        return {false, library, systemManualDir(programDir)};
    return {true, programDir, programDir};
}

inline Layout layoutOf(const std::string& programDir)
{
    return layoutOf(programDir, isFile);
}

}  // namespace vspdevices::install

#endif
