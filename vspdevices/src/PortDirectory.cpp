#include "PortDirectory.h"

#include "vspdevices_ports.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vsp {
namespace {

std::optional<std::string> linkTarget(const std::string& path)
{
    char buffer[256];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

bool isTerminalPath(const std::string& target)
{
    const std::string prefix = "/dev/pts/";
    if (target.size() <= prefix.size() || target.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < target.size(); ++i)
        if (target[i] < '0' || target[i] > '9')
            return false;
    return true;
}

bool isPortName(const char* name)
{
    if (name[0] != 'C' || name[1] != 'O' || name[2] != 'M' || name[3] == '\0')
        return false;
    for (const char* c = name + 3; *c; ++c)
        if (*c < '0' || *c > '9')
            return false;
    return true;
}

// "COM<n>.control": a port's control socket.
bool isControlSocketName(const std::string& name)
{
    const std::string suffix = ".control";
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           isPortName(name.substr(0, name.size() - suffix.size()).c_str());
}

bool isSocket(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

bool isOurLink(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    const auto target = linkTarget(path);
    return target && isTerminalPath(*target);
}

}  // namespace

bool preparePortDirectory(const std::string& dir)
{
    if (dir.empty())
        return false;
    const bool created = ::mkdir(dir.c_str(), 0700) == 0;
    if (!created && errno != EEXIST)
        return false;
    // An existing folder is never changed, only refused: the rule every reader of
    // the directory applies (vspdevices_ports.h).
    if (vspdevices::portDirectoryFault(dir.c_str()) != vspdevices::PortDirectoryFault::None)
        return false;
    struct stat st {};
    if (created && (::lstat(dir.c_str(), &st) != 0 ||
                    ((st.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0)))  // whatever the umask took away
        return false;
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

int lockPortDirectory(const std::string& dir)
{
    const std::string path = dir + "/" + portDirectoryLockName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    char holder[128];
    const int length = std::snprintf(holder, sizeof holder, "%d %s\n", static_cast<int>(::getpid()),
                                     program_invocation_short_name);
    if (::ftruncate(fd, 0) == 0 && length > 0)
        // The holder's name is a courtesy for the refusal's message; the lock holds without it.
        [[maybe_unused]] const ssize_t written =
            ::pwrite(fd, holder, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof holder - 1), 0);
    return fd;
}

void unlockPortDirectory(int lock)
{
    if (lock < 0)
        return;
    [[maybe_unused]] const int cleared = ::ftruncate(lock, 0);  // it names no holder any more
    ::close(lock);  // the file stays: removing it could let two instances lock different files
}

void removeStaleLinks(const std::string& dir)
{
    DIR* folder = ::opendir(dir.c_str());
    if (!folder)
        return;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string path = dir + "/" + entry->d_name;
        if ((isPortName(entry->d_name) && isOurLink(path)) || (isControlSocketName(entry->d_name) && isSocket(path)))
            ::unlink(path.c_str());
    }
    ::closedir(folder);
}

bool createPortLink(const std::string& linkPath, const std::string& terminal)
{
    if (::symlink(terminal.c_str(), linkPath.c_str()) == 0)
        return true;
    if (errno != EEXIST || !isOurLink(linkPath))
        return false;
    const std::string temporary = linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(terminal.c_str(), temporary.c_str()) != 0)
        return false;
    if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

void removePortLink(const std::string& linkPath, const std::string& terminal)
{
    if (linkTarget(linkPath) == terminal)
        ::unlink(linkPath.c_str());
}

}  // namespace vsp
