#include "service/Runner.h"

#include "service/EventLog.h"
#include "service/EventQueue.h"
#include "service/LogWriter.h"
#include "service/PortStatus.h"
#include "vspdevices.h"
#include "vspdevices_holder.h"
#include "vspdevices_initstring.h"
#include "vspdevices_ports.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace service {
namespace {

std::string describeHolder(const vspdevices::PortDirectoryHolder& holder)
{
    const std::string pid = "pid " + std::to_string(holder.pid);
    if (holder.program == "quorlinvcp")
        return "the QuorlinVCP window (" + pid + ")";
    if (holder.program.empty())
        return "a program with " + pid;
    return holder.program + " (" + pid + ")";
}

// "COM5: <link> <-> host:port (Telnet)" for each redirect, from the devices' strings.
void logRedirects(LogWriter& log, const std::string& dir)
{
    const int count = vsp_getDevicesCount();
    int clients = 0;
    for (int index = 0; index < count; ++index) {
        const int id = vsp_getDeviceIdByIdx(index);
        char type[32] = {};
        std::string init(1024, '\0');
        int ready = 0, ok = 0;
        auto info = [&] {
            return vsp_getDeviceInfoEx(id, type, sizeof type, init.data(), static_cast<int>(init.size()), &ready, &ok);
        };
        const int size = info();
        if (size > static_cast<int>(init.size())) {  // a long host name: asked again with room for all of it
            init.assign(static_cast<std::size_t>(size), '\0');
            info();
        }
        if (size == 0 || std::strcmp(type, "TcpClient") != 0)
            continue;
        ++clients;
        // Every string here is one the library took, so the parser reads it.
        const auto client = vspdevices::parseTcpClient(init.c_str());
        if (!client)
            continue;
        const std::string link = dir + "/" + vspdevices::portLinkName(client->com);
        struct stat st {};
        const bool present = ::lstat(link.c_str(), &st) == 0;
        log.write(present ? Priority::Info : Priority::Error,
                  vspdevices::portLinkName(client->com) + ": " +
                      (present ? link : "no port (something else is at " + link + ")") + " <-> " + client->host +
                      ":" + std::to_string(client->port) + (client->telnet ? " (Telnet" : " (raw TCP") +
                      (client->onDemand ? ", on demand)" : ")"));
    }
    if (clients == 0)
        log.write(Priority::Warning, "the configuration has no redirect");
}

void logEvents(EventQueue& queue, EventLog& events, LogWriter& log)
{
    std::size_t lost = 0;
    for (const vsp_event& event : queue.take(lost))
        if (const auto line = events.line(event))
            log.write(*line);
    if (lost > 0)
        log.write(Priority::Warning, std::to_string(lost) + " events not logged: the log could not keep up");
}

}  // namespace

std::string directoryRefusal(const std::string& dir)
{
    // A folder the library refuses has no holder worth naming: whoever made it is
    // no program of ours.
    if (const auto fault = vspdevices::portDirectoryFault(dir.c_str());
        fault != vspdevices::PortDirectoryFault::None && fault != vspdevices::PortDirectoryFault::Missing)
        return "cannot use the port directory " + dir + ": the folder " + vspdevices::portDirectoryFaultText(dir) +
               "; it must be a folder of yours (not a link) that no one else may write to";
    if (const auto holder = vspdevices::portDirectoryHolder(dir))
        return describeHolder(*holder) + " is using the port directory " + dir +
               "; only one program at a time can run redirects there";
    return "cannot use the port directory " + dir +
           ": it must be a folder of yours (not a link) that no one else may write to";
}

int runConfiguration(const std::string& path)
{
    LogWriter log(STDERR_FILENO, standardErrorIsJournal());
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), R_OK) != 0) {
        log.write(Priority::Error, "cannot read the configuration " + path + ": " + std::strerror(errno));
        return exitStatus::missingFile;
    }
    if (!S_ISREG(st.st_mode)) {
        log.write(Priority::Error, "the configuration " + path + " is not a regular file");
        return exitStatus::missingFile;
    }

    // Blocked before the library starts its threads, so they inherit the mask and
    // the signals arrive only through signalfd, in the main loop.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &ending, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a log reader that went away is no reason to end
    const int signals = ::signalfd(-1, &ending, SFD_CLOEXEC);
    EventQueue queue;
    EventLog events;
    if (signals < 0 || queue.fd() < 0) {  // without them it could neither log nor end
        log.write(Priority::Error, std::string("cannot wait for signals and events: ") + std::strerror(errno));
        return exitStatus::failed;
    }
    vsp_setEventHandler(&EventQueue::handler, &queue);

    const std::string dir = vspdevices::portDirectory();
    if (vsp_initialize() == 0) {
        log.write(Priority::Error, directoryRefusal(dir));
        vsp_setEventHandler(nullptr, nullptr);
        return exitStatus::directoryTaken;
    }
    char why[256] = {};
    if (vsp_loadConfigurationEx(path.c_str(), why, sizeof why) == 0) {
        log.write(Priority::Error, "the configuration " + path + " was refused: " + why);
        vsp_release();
        vsp_setEventHandler(nullptr, nullptr);
        return exitStatus::refusedFile;
    }
    if (vsp_startEmulation() == 0) {
        log.write(Priority::Error, "emulation could not start");
        vsp_release();
        vsp_setEventHandler(nullptr, nullptr);
        return exitStatus::failed;
    }
    log.write(Priority::Notice, "running " + path + " on the port directory " + dir);
    logRedirects(log, dir);

    int ended = 0;
    while (ended == 0) {
        pollfd waits[2] = {{signals, POLLIN, 0}, {queue.fd(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (waits[1].revents & POLLIN)
            logEvents(queue, events, log);
        signalfd_siginfo info{};
        if ((waits[0].revents & POLLIN) && ::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            ended = static_cast<int>(info.ssi_signo);
    }
    log.write(Priority::Notice, std::string("stopping on ") + (ended ? std::string("SIG") + sigabbrev_np(ended) : std::string("an error")) +
                                    ": closing the connections and removing the ports");
    vsp_release();  // applications holding a port get a hang-up; every link and socket goes
    vsp_setEventHandler(nullptr, nullptr);
    logEvents(queue, events, log);
    log.write(Priority::Notice, "stopped");
    ::close(signals);
    return exitStatus::stopped;
}

int printStatus(bool pathsOnly)
{
    const std::string dir = vspdevices::portDirectory();
    if (const auto fault = vspdevices::portDirectoryFault(dir.c_str());
        fault != vspdevices::PortDirectoryFault::None && fault != vspdevices::PortDirectoryFault::Missing) {
        std::fprintf(stderr, "quorlinvcp-service: not reading the port directory %s: the folder %s\n", dir.c_str(),
                     vspdevices::portDirectoryFaultText(dir).c_str());
        return exitStatus::directoryTaken;
    }
    const auto holder = vspdevices::portDirectoryHolder(dir);
    if (!holder) {
        std::fprintf(stderr, "quorlinvcp-service: no QuorlinVCP program runs redirects on %s\n", dir.c_str());
        return exitStatus::notRunning;
    }
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    if (terminal && !pathsOnly)
        std::printf("# %s runs on %s\n# PORT\tSTATE\tPATH\tTO-ADAPTER\tFROM-ADAPTER\tLAST-ERROR\tTLS\tPEER-SUBJECT\tPEER-SHA256\n",
                    describeHolder(*holder).c_str(), dir.c_str());
    for (const RunningPort& port : runningPorts(dir)) {
        if (pathsOnly)
            std::printf("%s\n", port.path.c_str());
        else
            std::printf("%s\n",
                        statusLine(port, askDiagnostics(port.path + ".control"), askTls(port.path + ".control")).c_str());
    }
    return 0;
}

}  // namespace service
