// Which process holds a port directory: one library instance at a time locks the
// file .vspdevices.lock in it (flock) and writes "<pid> <program name>" into it.
// The kernel's lock table (/proc/locks) tells whether the lock is held and by whom,
// so the text left behind by a process that was killed is never believed; the
// program's name comes from the file when its pid matches, else from /proc. A
// directory the library would refuse (another user's, open to others, a link) has
// no holder that counts: whoever locked it there is no instance of ours.
// Header-only, shared by the library and the programs that explain a refusal.
#ifndef VSPDEVICES_HOLDER_H
#define VSPDEVICES_HOLDER_H

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "vspdevices_ports.h"

namespace vspdevices {

inline constexpr const char* portDirectoryLockName = ".vspdevices.lock";

struct PortDirectoryHolder {
    long pid = 0;
    std::string program;  // its executable's name, e.g. "quorlinvcp"; empty when unknown
};

namespace detail {
// The first line of a small file, at most `limit` bytes of it.
inline std::string firstLine(const std::string& path, std::size_t limit = 256)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string text(limit, '\0');
    const ssize_t n = ::read(fd, text.data(), limit);
    ::close(fd);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text.substr(0, text.find('\n'));
}

// A program name as another process wrote it: letters, digits and ._+- only.
inline std::string programName(const std::string& text)
{
    std::string name;
    for (const char c : text.substr(0, 64)) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("._+-", c))
            return {};
        name += c;
    }
    return name;
}

// The pid holding an exclusive flock on the file (dev, inode); 0 when none does,
// -1 when the lock table cannot be read.
inline long flockHolder(dev_t device, ino_t inode)
{
    std::FILE* table = std::fopen("/proc/locks", "re");
    if (!table)
        return -1;
    char line[256];
    long holder = 0;
    while (!holder && std::fgets(line, sizeof line, table)) {
        char kind[16], mode[16], access[16];
        long pid = 0;
        unsigned major = 0, minor = 0;
        unsigned long long node = 0;
        // "1: FLOCK  ADVISORY  WRITE 2241 fe:00:409431 0 EOF"; a waiter's line has "->" and is skipped.
        if (std::sscanf(line, "%*d: %15s %15s %15s %ld %x:%x:%llu", kind, mode, access, &pid, &major, &minor, &node) == 7 &&
            !std::strcmp(kind, "FLOCK") && !std::strcmp(access, "WRITE") && node == inode &&
            major == ::major(device) && minor == ::minor(device))
            holder = pid;
    }
    std::fclose(table);
    return holder;
}
}  // namespace detail

// The process holding the directory's lock; nullopt when none does, or when the
// directory is not one the library would use.
inline std::optional<PortDirectoryHolder> portDirectoryHolder(const std::string& dir)
{
    if (portDirectoryFault(dir.c_str()) != PortDirectoryFault::None)
        return std::nullopt;
    const std::string lockPath = dir + "/" + portDirectoryLockName;
    struct stat st {};
    if (::lstat(lockPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const std::string text = detail::firstLine(lockPath);
    const std::size_t blank = text.find(' ');
    const long written = std::atol(text.substr(0, blank).c_str());
    long pid = detail::flockHolder(st.st_dev, st.st_ino);
    if (pid < 0)  // no lock table: the pid the holder wrote, while that process lives
        pid = written > 0 && (::kill(static_cast<pid_t>(written), 0) == 0 || errno == EPERM) ? written : 0;
    if (pid <= 0)
        return std::nullopt;
    PortDirectoryHolder holder{pid, {}};
    if (pid == written && blank != std::string::npos)
        holder.program = detail::programName(text.substr(blank + 1));
    else
        holder.program = detail::programName(detail::firstLine("/proc/" + std::to_string(pid) + "/comm"));
    return holder;
}

}  // namespace vspdevices

#endif
