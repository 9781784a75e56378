#include "Setup.h"

#include "RawPort.h"

#include "vspdevices.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace bench {
namespace {

std::uint64_t clockNanoseconds(clockid_t clock)
{
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
}

// Voluntary context switches of one thread (a /proc/.../status file).
std::uint64_t sleepsIn(const std::string& statusPath)
{
    std::ifstream status(statusPath);
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::stoull(line.substr(line.find(':') + 1));
    return 0;
}

// Everything this process's threads other than the calling one have used: the
// device library's own threads.
Usage libraryUsage()
{
    Usage usage;
    usage.cpuNanoseconds = clockNanoseconds(CLOCK_PROCESS_CPUTIME_ID) - clockNanoseconds(CLOCK_THREAD_CPUTIME_ID);
    const std::string self = std::to_string(::gettid());
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ignored))
        if (task.path().filename() != self)
            usage.sleeps += sleepsIn(task.path() / "status");
    return usage;
}

[[noreturn]] void setupFailed(const std::string& what)
{
    throw BridgeFault("setting up: " + what);
}

// The application's end: the port opened as a serial program would, raw.
int openPort(const std::string& path)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        if (const int fd = openRawPort(path); fd >= 0)
            return fd;
        if (std::chrono::steady_clock::now() > deadline)
            setupFailed("cannot open " + path + ": " + std::strerror(errno));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Proves the path works both ways before anything is timed; the first byte up also
// waits until the bridge has taken note of the application's open.
void warmUp(Bridge& bridge)
{
    bridge.transfer(1, 0);
    bridge.transfer(0, 1);
    bridge.transfer(64 * 1024, 64 * 1024);
}

}  // namespace

Listener::Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        setupFailed(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
    port_ = ntohs(address.sin_port);
}

Listener::~Listener()
{
    ::close(fd_);
}

int Listener::accept(std::chrono::milliseconds timeout)
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        setupFailed("the bridge did not connect to port " + std::to_string(port_));
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        setupFailed(std::string("accept: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

LibraryBridges::LibraryBridges(const std::string& portDir, const std::function<void()>& started)
{
    ::setenv("VSP_PORT_DIR", portDir.c_str(), 1);
    if (!vsp_initialize())
        setupFailed("vsp_initialize failed for " + portDir);
    Listener telnetPeer;
    Listener rawPeer;
    auto tcpClient = [](const Listener& peer, int com, int telnet) {
        vsp_createDevice("Connector", (std::to_string(com) + ";0").c_str());
        const std::string init = "127.0.0.1;" + std::to_string(peer.port()) + ";" + std::to_string(com) + ";115200,0,8,1,0,0;" +
                                 std::to_string(telnet) + ";0;";
        const int id = vsp_createDevice("TcpClient", init.c_str());
        if (id < 0)
            setupFailed("vsp_createDevice refused " + init);
        return id;
    };
    const int telnetClient = tcpClient(telnetPeer, 5, 1);
    tcpClient(rawPeer, 6, 0);
    if (!vsp_startEmulation())
        setupFailed("vsp_startEmulation failed");
    if (started)
        started();

    telnet = std::make_unique<Bridge>("ours+Telnet", openPort(portDir + "/COM5"), telnetPeer.accept(std::chrono::seconds(5)),
                                      true, libraryUsage);
    raw = std::make_unique<Bridge>("ours raw", openPort(portDir + "/COM6"), rawPeer.accept(std::chrono::seconds(5)), false, libraryUsage);
    // Let negotiation finish (ok turns 1), so no option traffic runs during a measurement.
    for (int ok = 0, i = 0; !ok; ++i) {
        if (i == 150)
            setupFailed("the Telnet port never reported ok");
        telnet->serviceFor(std::chrono::milliseconds(20));
        int ready = 0;
        char type[VSP_TYPE_BUFFER];
        char init[VSP_INIT_BUFFER];
        vsp_getDeviceInfo(telnetClient, type, init, &ready, &ok);
    }
    warmUp(*telnet);
    warmUp(*raw);
}

LibraryBridges::~LibraryBridges()
{
    telnet.reset();
    raw.reset();
    vsp_release();
}

SocatBridge::SocatBridge(const std::string& linkPath)
{
    Listener peer;
    const std::string pty = "pty,raw,echo=0,link=" + linkPath;
    const std::string tcp = "tcp:127.0.0.1:" + std::to_string(peer.port()) + ",nodelay";
    char* argv[] = {const_cast<char*>("socat"), const_cast<char*>(pty.c_str()), const_cast<char*>(tcp.c_str()), nullptr};
    if (::posix_spawnp(&pid_, "socat", nullptr, nullptr, argv, environ) != 0)
        setupFailed("cannot start socat");
    const int peerFd = peer.accept(std::chrono::seconds(5));
    clockid_t clock{};
    if (::clock_getcpuclockid(pid_, &clock) != 0)
        setupFailed("cannot read socat's CPU time");
    const std::string status = "/proc/" + std::to_string(pid_) + "/status";
    bridge = std::make_unique<Bridge>("socat", openPort(linkPath), peerFd, false, [clock, status] {
        return Usage{clockNanoseconds(clock), sleepsIn(status)};
    });
    warmUp(*bridge);
}

SocatBridge::~SocatBridge()
{
    bridge.reset();
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool socatInstalled()
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/socat").c_str(), X_OK) == 0)
            return true;
    return false;
}

}  // namespace bench
