// quorlinvcp-run [--no-supervisor] PROGRAM [ARGUMENTS...]: runs a program with the
// interposition library that lets it set and read the virtual ports' modem lines,
// break, data size and parity, and under the supervisor (Launch.h) that does the
// same for the calls the library cannot see (Go and statically linked programs);
// --no-supervisor leaves the supervisor out (its no_new_privs keeps set-user-ID
// programs from gaining their privilege). The library is the one installed with this launcher: beside it
// in a portable folder, in lib/quorlinvcp/ in the system layout. It is added to
// LD_PRELOAD after any the user already has. A port directory the library would
// refuse (another user's, or open to others) is named on standard error: the
// program then runs, but the interposition library believes nothing found there.
#include "InstallPaths.h"
#include "Launch.h"
#include "SessionOptIn.h"
#include "Supervision.h"
#include "vspdevices_install.h"
#include "vspdevices_ports.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {
constexpr const char* libraryName = QVCP_PRELOAD_LIBRARY;

// The interposition library beside the launcher, else in the system layout's library
// folder, by its canonical path; "" when neither holds it.
std::string ownLibrary()
{
    char resolved[PATH_MAX];
    const auto readable = [&resolved](const std::string& path) {
        return ::access(path.c_str(), R_OK) == 0 && ::realpath(path.c_str(), resolved);
    };
    const std::string folder =
        vspdevices::install::companionDir(vspdevices::install::executableDir(), libraryName, readable);
    return folder.empty() ? std::string() : std::string(resolved);
}

bool listed(const std::string& list, const std::string& item)
{
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = list.find_first_of(": ", start);
        if (list.substr(start, end == std::string::npos ? std::string::npos : end - start) == item)
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fprintf(argc < 2 ? stderr : stdout,
                     "Usage: quorlinvcp-run [--no-supervisor] PROGRAM [ARGUMENTS...]\n"
                     "       quorlinvcp-run --session [on|off|status]\n"
                     "Runs PROGRAM so that on QuorlinVCP's ports it can set DTR and RTS, read CTS,\n"
                     "DSR, DCD and RI, send a break and set the data size and parity, and answers\n"
                     "the serial driver's own requests; Go and statically linked programs as well,\n"
                     "unless --no-supervisor is given (set-user-ID programs started from PROGRAM\n"
                     "then keep their privilege).\n"
                     "--session on does the same for every program of your desktop session from the\n"
                     "next login (off by default); off undoes it; status tells whether it is on.\n");
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--session"))
        return vsp::preload::sessionCommand(argc > 3 ? "" : argv[2], ownLibrary());
    char** program = argv + 1;
    const bool supervise = std::strcmp(program[0], "--no-supervisor") != 0;
    if (!supervise && !*++program) {
        std::fprintf(stderr, "quorlinvcp-run: no program to run\n");
        return 2;
    }
    const std::string library = ownLibrary();
    if (library.empty()) {
        std::fprintf(stderr, "quorlinvcp-run: %s is missing beside %s\n", libraryName,
                     vspdevices::install::executableDir().c_str());
        return 127;
    }
    // The loader splits LD_PRELOAD at blanks and colons.
    if (library.find_first_of(": \t") != std::string::npos) {
        std::fprintf(stderr, "quorlinvcp-run: cannot preload from a folder whose name has a blank or colon: %s\n",
                     library.c_str());
        return 127;
    }
    const std::string ports = vspdevices::portDirectory();
    if (const auto fault = vspdevices::portDirectoryFault(ports.c_str());
        fault != vspdevices::PortDirectoryFault::None && fault != vspdevices::PortDirectoryFault::Missing)
        std::fprintf(stderr, "quorlinvcp-run: not using the ports in %s: the folder %s\n", ports.c_str(),
                     vspdevices::portDirectoryFaultText(ports).c_str());
    const char* existing = std::getenv("LD_PRELOAD");
    std::string preload = existing ? existing : "";
    if (!listed(preload, library))
        preload = preload.empty() ? library : preload + ":" + library;
    ::setenv("LD_PRELOAD", preload.c_str(), 1);
    ::unsetenv(vsp::preload::supervisedVariable);  // said again by the supervisor when there is one
    if (supervise)
        vsp::preload::runSupervised(program);
    ::execvp(program[0], program);
    std::fprintf(stderr, "quorlinvcp-run: %s: %s\n", program[0], std::strerror(errno));
    return errno == ENOENT ? 127 : 126;
}
