#include "SessionOptIn.h"

#include "InstallPaths.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace vsp::preload {
namespace {

// Ends the one line ~/.xsessionrc gets, so that off finds exactly that line.
constexpr std::string_view marker = " # added by quorlinvcp-run --session on";
// The systemd generator expands this as a shell would: ours after any the session has.
constexpr std::string_view environmentPrefix = "LD_PRELOAD=${LD_PRELOAD:+$LD_PRELOAD:}";

struct SessionFiles {
    std::string environment;  // for the systemd user manager
    std::string xsessionrc;   // sourced by Debian's Xsession
};

std::string homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    const passwd* user = ::getpwuid(::getuid());
    return user && user->pw_dir && *user->pw_dir == '/' ? user->pw_dir : "";
}

// Where the systemd generator and Xsession look: a relative XDG_CONFIG_HOME is
// ignored, as the XDG base directory rules say.
SessionFiles sessionFiles(const std::string& home)
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string configHome = config && *config == '/' ? config : home + "/.config";
    return {configHome + "/environment.d/60-quorlinvcp.conf", home + "/.xsessionrc"};
}

// The loader splits LD_PRELOAD at blanks and colons, the generator expands '$' and
// '\', and the ~/.xsessionrc line is shell: only plain path characters are taken.
bool preloadablePath(const std::string& path)
{
    if (path.size() < 2 || path[0] != '/')
        return false;
    for (const char c : path)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("/._-+@,%=~", c))
            return false;
    return true;
}

std::string environmentContent(const std::string& library)
{
    return "# Added by quorlinvcp-run --session on, removed by quorlinvcp-run --session off:\n"
           "# every program of the session loads QuorlinVCP's interposition library.\n" +
           std::string(environmentPrefix) + library + "\n";
}

// Never fails, so Xsession (run with set -e) goes on, also once the library is gone.
std::string xsessionLine(const std::string& library)
{
    return "if [ -r " + library + " ]; then case \":$LD_PRELOAD:\" in *:" + library +
           ":*) ;; *) export LD_PRELOAD=\"${LD_PRELOAD:+$LD_PRELOAD:}" + library + "\";; esac; fi" +
           std::string(marker);
}

// The library a file of ours names, from what follows `prefix` up to `end`.
std::string namedLibrary(std::string_view text, std::string_view prefix, std::string_view end)
{
    const std::size_t at = text.find(prefix);
    if (at == std::string_view::npos)
        return "?";
    text.remove_prefix(at + prefix.size());
    return std::string(text.substr(0, text.find(end)));
}

// Symbolic links are followed, so a ~/.xsessionrc kept elsewhere stays a link.
std::string realFile(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? resolved : path;
}

// The whole file; nullopt when it does not exist or cannot be read (then `error`).
std::optional<std::string> readFile(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR)  // not there
            error = std::strerror(errno);
        return std::nullopt;
    }
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = std::strerror(errno);
        if (n <= 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!error.empty())
        return std::nullopt;
    return content;
}

// Writes beside the file and renames it into place, so a full disk or a crash
// leaves the old file whole.
bool writeAtomically(const std::string& path, const std::string& content, mode_t mode, std::string& error)
{
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok)
        error = std::strerror(errno);
    if (::close(fd) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

mode_t fileMode(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : newFileMode();
}

// The file without the lines ours ends; how many there were. A line of ours that
// ends the file without a newline follows the newline on put before it, so that
// newline goes too.
std::string withoutOurLines(const std::string& content, int& removed)
{
    std::string kept;
    removed = 0;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        const bool last = end == std::string::npos;
        if (last)
            end = content.size();
        if (std::string_view(content).substr(start, end - start).ends_with(marker)) {
            ++removed;
            if (last && !kept.empty() && kept.back() == '\n')
                kept.pop_back();
        } else {
            kept.append(content, start, end - start + (last ? 0 : 1));
        }
        start = end + 1;
    }
    return kept;
}

bool makeFolder(const std::string& path, mode_t mode)
{
    return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

int failed(const std::string& what, const std::string& path, const std::string& error)
{
    std::fprintf(stderr, "quorlinvcp-run: cannot %s %s: %s\n", what.c_str(), path.c_str(), error.c_str());
    return EX_CANTCREAT;
}

// Each file's state: whether it is there, and the ~/.xsessionrc line ours.
struct State {
    std::optional<std::string> environment;
    std::optional<std::string> xsessionrc;
    int ourLines = 0;
};

int turnOn(const SessionFiles& files, const State& state, const std::string& library)
{
    std::string error;
    bool changed = false;
    const std::string wanted = environmentContent(library);
    if (state.environment != wanted) {
        const std::string folder = files.environment.substr(0, files.environment.rfind('/'));
        for (const std::string& f : {folder.substr(0, folder.rfind('/')), folder})
            if (!makeFolder(f, f == folder ? 0755 : 0700))
                return failed("create the folder", f, std::strerror(errno));
        if (!writeAtomically(files.environment, wanted, newFileMode(), error))
            return failed("write", files.environment, error);
        changed = true;
    }
    const std::string rc = realFile(files.xsessionrc);
    int removed = 0;
    const std::string kept = withoutOurLines(state.xsessionrc.value_or(""), removed);
    const bool endsLine = kept.empty() || kept.back() == '\n';
    const std::string withLine = kept + (endsLine ? "" : "\n") + xsessionLine(library) + (endsLine ? "\n" : "");
    if (state.xsessionrc != withLine) {
        if (!writeAtomically(rc, withLine, fileMode(rc), error))
            return failed("write", rc, error);
        changed = true;
    }
    if (!changed) {
        std::printf("The session opt-in is already on: every program of your next sessions loads %s.\n",
                    library.c_str());
        return EX_OK;
    }
    std::printf("The session opt-in is on from your next login: every program of the session loads\n"
                "%s.\n"
                "In:      %s (systemd user sessions)\n"
                "         %s, one line (X sessions started through Xsession)\n"
                "After logging in again, check it with\n"
                "    systemctl --user show-environment | grep LD_PRELOAD\n"
                "and for a running program with\n"
                "    grep quorlinvcp /proc/PID/maps\n"
                "Turn it off with quorlinvcp-run --session off (before uninstalling QuorlinVCP, too).\n",
                library.c_str(), files.environment.c_str(), rc.c_str());
    return EX_OK;
}

int turnOff(const SessionFiles& files, const State& state)
{
    std::string error;
    std::string done;
    if (state.environment) {
        if (::unlink(files.environment.c_str()) != 0 && errno != ENOENT)
            return failed("remove", files.environment, std::strerror(errno));
        done += "Removed: " + files.environment + "\n";
    }
    if (state.ourLines > 0) {
        const std::string rc = realFile(files.xsessionrc);
        int removed = 0;
        const std::string kept = withoutOurLines(*state.xsessionrc, removed);
        if (kept.empty() ? ::unlink(rc.c_str()) != 0 : !writeAtomically(rc, kept, fileMode(rc), error))
            return failed(kept.empty() ? "remove" : "write", rc, error.empty() ? std::strerror(errno) : error);
        done += (kept.empty() ? "Removed: " : "Removed the line of quorlinvcp-run from ") + rc + "\n";
    }
    if (done.empty())
        std::printf("The session opt-in is already off: neither %s nor %s loads the library.\n",
                    files.environment.c_str(), files.xsessionrc.c_str());
    else
        std::printf("The session opt-in is off from your next login.\n%s", done.c_str());
    return EX_OK;
}

// Whether an LD_PRELOAD list names the library: by its path, or by its file name
// when no path is known.
bool lists(const char* preload, const std::string& library)
{
    const std::string list = preload ? preload : "";
    const std::string name = "/" + std::string(QVCP_PRELOAD_LIBRARY);
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find_first_of(": ", start), list.size());
        const std::string_view item = std::string_view(list).substr(start, end - start);
        if (library.empty() ? item.ends_with(name) : item == library)
            return true;
        start = end + 1;
    }
    return false;
}

int showStatus(const SessionFiles& files, const State& state, const std::string& library)
{
    std::string on;
    const auto add = [&](const std::string& file, const std::string& named, const char* what) {
        on += "  " + file + " loads " + named + " (" + what + ")" +
              (!library.empty() && named != library ? ": another copy than this launcher's" : "") + "\n";
    };
    if (state.environment)
        add(files.environment, namedLibrary(*state.environment, environmentPrefix, "\n"), "systemd user sessions");
    if (state.ourLines > 0)
        add(files.xsessionrc, namedLibrary(*state.xsessionrc, "if [ -r ", " ]"), "X sessions started through Xsession");
    if (on.empty())
        std::printf("Next login: off (quorlinvcp-run --session on turns it on)\n");
    else
        std::printf("Next login: on\n%s", on.c_str());
    std::printf("This process: LD_PRELOAD %s the interposition library\n",
                lists(std::getenv("LD_PRELOAD"), library) ? "lists" : "does not list");
    return EX_OK;
}

}  // namespace

int sessionCommand(const char* action, const std::string& libraryPath)
{
    const std::string verb = action ? action : "status";
    if (verb != "on" && verb != "off" && verb != "status") {
        std::fprintf(stderr, "Usage: quorlinvcp-run --session [on|off|status]\n");
        return EX_USAGE;
    }
    const std::string home = homeFolder();
    if (home.empty()) {
        std::fprintf(stderr, "quorlinvcp-run: cannot find your home folder: HOME is not set\n");
        return EX_CANTCREAT;
    }
    const SessionFiles files = sessionFiles(home);
    State state;
    std::string error;
    state.environment = readFile(files.environment, error);
    if (!error.empty())
        return failed("read", files.environment, error);
    state.xsessionrc = readFile(files.xsessionrc, error);
    if (!error.empty())
        return failed("read", files.xsessionrc, error);
    withoutOurLines(state.xsessionrc.value_or(""), state.ourLines);

    if (verb == "off")
        return turnOff(files, state);
    if (verb == "status")
        return showStatus(files, state, libraryPath);
    if (libraryPath.empty()) {
        std::fprintf(stderr, "quorlinvcp-run: %s is missing beside this launcher: nothing to turn on\n",
                     QVCP_PRELOAD_LIBRARY);
        return EX_CANTCREAT;
    }
    if (!preloadablePath(libraryPath)) {
        std::fprintf(stderr,
                     "quorlinvcp-run: cannot load %s into the session: its path must be absolute and have\n"
                     "only letters, digits and / . _ - + @ , %% = ~ (no blank, colon or quote)\n",
                     libraryPath.c_str());
        return EX_CANTCREAT;
    }
    return turnOn(files, state, libraryPath);
}

}  // namespace vsp::preload
