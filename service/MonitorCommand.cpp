#include "service/MonitorCommand.h"

#include "monitor/MonitorConnection.h"
#include "monitor/PcapngWriter.h"
#include "monitor/TextView.h"
#include "service/PortStatus.h"
#include "service/Runner.h"
#include "vspdevices_holder.h"
#include "vspdevices_ports.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace service {
namespace {

void complain(const std::string& text)
{
    std::fprintf(stderr, "quorlinvcp-service: %s\n", text.c_str());
}

// Writes all of `text` to standard output; false when it is gone or failing.
bool print(const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string runningList(const std::string& dir)
{
    std::string list;
    for (const RunningPort& port : runningPorts(dir))
        list += (list.empty() ? "" : ", ") + vspdevices::portLinkName(port.com);
    return list.empty() ? "none" : list;
}
}  // namespace

std::optional<MonitorOptions> parseMonitorArguments(int argc, char** argv)
{
    MonitorOptions options;
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--hex") {
            options.hex = true;
        } else if (argument == "--pcapng" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.pcapng = argv[++i];
        } else if (options.com == 0 && !argument.empty() && argument[0] != '-') {
            std::string name = argument;
            if (name.size() > 3 && ::strncasecmp(name.c_str(), "com", 3) == 0)
                name.replace(0, 3, "COM");
            else
                name = "COM" + name;
            options.com = vspdevices::portLinkNumber(name).value_or(-1);
            if (options.com < 0)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    return options.com > 0 ? std::optional(options) : std::nullopt;
}

int runMonitor(const MonitorOptions& options)
{
    const std::string dir = vspdevices::portDirectory();
    const std::string name = vspdevices::portLinkName(options.com);
    if (const auto fault = vspdevices::portDirectoryFault(dir.c_str());
        fault != vspdevices::PortDirectoryFault::None && fault != vspdevices::PortDirectoryFault::Missing) {
        complain("not reading the port directory " + dir + ": the folder " + vspdevices::portDirectoryFaultText(dir));
        return exitStatus::directoryTaken;
    }
    if (!vspdevices::portDirectoryHolder(dir)) {
        complain("no QuorlinVCP program runs redirects on " + dir);
        return exitStatus::notRunning;
    }

    // Blocked before anything can take long, so that they arrive only through signalfd.
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&ending, signal);
    ::sigprocmask(SIG_BLOCK, &ending, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a reader of the view that went away ends it, below
    const int signals = ::signalfd(-1, &ending, SFD_CLOEXEC);
    if (signals < 0) {
        complain(std::string("cannot wait for signals: ") + std::strerror(errno));
        return exitStatus::failed;
    }

    auto connected = monitor::MonitorConnection::connect(options.com, 2000, dir);
    if (auto* refusal = std::get_if<monitor::MonitorConnection::Refusal>(&connected)) {
        using Reason = monitor::MonitorConnection::Refusal::Reason;
        if (refusal->reason == Reason::NotRunning)
            complain(name + " is not running on " + dir + " (running: " + runningList(dir) + ")");
        else
            complain(refusal->text);
        ::close(signals);
        return refusal->reason == Reason::Busy ? exitStatus::busy : exitStatus::unavailable;
    }
    auto& connection = std::get<monitor::MonitorConnection>(connected);

    // Created only once the port is being monitored: a refusal leaves no empty file.
    std::unique_ptr<std::ofstream> file;
    std::unique_ptr<monitor::PcapngWriter> capture;
    if (!options.pcapng.empty()) {
        file = std::make_unique<std::ofstream>(options.pcapng, std::ios::binary | std::ios::trunc);
        if (*file)
            capture = std::make_unique<monitor::PcapngWriter>(*file, name);
        if (!*file || !file->flush()) {
            complain("cannot write the capture " + options.pcapng + ": " + std::strerror(errno));
            ::close(signals);
            return exitStatus::cannotCreate;
        }
    }

    const std::time_t now = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S %z", std::localtime(&now));
    bool viewing = print("# " + name + " on " + dir + " from " + date +
                         ": > to the device, < from it, >> commands to the adapter, << its answers, ** events\n");

    monitor::TextView view(options.hex);
    std::vector<monitor::Record> records;
    std::string text;
    std::string end = "stopped";
    int status = exitStatus::stopped;
    while (true) {
        pollfd waits[2] = {{connection.fd(), POLLIN, 0}, {signals, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            end = std::string("ended: ") + std::strerror(errno);
            status = exitStatus::failed;
            break;
        }
        if (waits[0].revents) {
            records.clear();
            const auto read = connection.read(records);
            text.clear();
            for (const auto& record : records) {
                if (capture)
                    capture->write(record);
                view.add(record, text);
            }
            // The capture first: a view whose reader went away leaves it whole.
            if (file && !file->flush()) {
                complain("cannot write the capture " + options.pcapng + ": " + std::strerror(errno));
                end = "ended: the capture could not be written";
                status = exitStatus::ioError;
                break;
            }
            viewing = viewing && print(text);
            if (read == monitor::MonitorConnection::Read::Ended) {
                end = "ended: the program running the port stopped or removed it";
                break;
            }
            if (read == monitor::MonitorConnection::Read::Malformed) {
                complain(name + " sent a record that is not understood; stopping");
                end = "ended: a record was not understood";
                status = exitStatus::failed;
                break;
            }
            if (!viewing && !capture)
                break;  // nobody reads the view and there is no capture
        }
        signalfd_siginfo info{};
        if ((waits[1].revents & POLLIN) && ::read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            end = std::string("stopped on SIG") + sigabbrev_np(static_cast<int>(info.ssi_signo));
            break;
        }
    }
    if (viewing)
        print("# " + name + ": " + end + "; " + std::to_string(view.lost()) + " records lost\n");
    ::close(signals);
    return status;
}

}  // namespace service
