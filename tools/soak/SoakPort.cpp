#include "SoakPort.h"

#include "RawPort.h"
#include "vspdevices.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace soak {

Library::Library()
{
    char pattern[] = "/tmp/port-soak-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return;
    dir_ = pattern;
    ::setenv("VSP_PORT_DIR", (dir_ + "/ports").c_str(), 1);
    ready_ = vsp_initialize() == 1;
}

Library::~Library()
{
    if (ready_)
        vsp_release();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

int Library::addRedirect(int com, std::uint16_t port, bool telnet)
{
    vsp_createDevice("Connector", (std::to_string(com) + ";0").c_str());
    const std::string init = "127.0.0.1;" + std::to_string(port) + ";" + std::to_string(com) + ";115200,0,8,1,0,0;" +
                             (telnet ? "1" : "0") + ";0;";
    return vsp_createDevice("TcpClient", init.c_str());
}

bool Library::ok(int id)
{
    char type[VSP_TYPE_BUFFER];
    char init[VSP_INIT_BUFFER];
    int ready = 0;
    int ok = 0;
    return vsp_getDeviceInfo(id, type, init, &ready, &ok) == 1 && ok == 1;
}

PortApp::PortApp(const std::string& path)
{
    waitUntil([&] { return (fd_ = openRawPort(path)) >= 0; }, std::chrono::seconds(5));
    if (fd_ < 0)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // long enough for the port to count it as opened
}

PortApp::~PortApp()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool PortApp::echoes(std::size_t size, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> sent(size);
    for (auto& byte : sent) {
        seed_ = seed_ * 1103515245u + 12345u;
        byte = (seed_ >> 16) % 8 == 0 ? 0xFF : static_cast<std::uint8_t>(seed_ >> 16);
    }
    std::vector<std::uint8_t> got(size);
    std::size_t written = 0;
    std::size_t read = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (read < size) {
        pollfd p{fd_, static_cast<short>(POLLIN | (written < size ? POLLOUT : 0)), 0};
        ::poll(&p, 1, 20);
        if (written < size && (p.revents & POLLOUT)) {
            const ssize_t n = ::write(fd_, sent.data() + written, size - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
        }
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(fd_, got.data() + read, size - read);
            if (n > 0)
                read += static_cast<std::size_t>(n);
            else if (n == 0 || errno != EAGAIN)
                return false;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    }
    return got == sent;
}

std::size_t PortApp::drain()
{
    std::size_t total = 0;
    std::uint8_t buffer[65536];
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;)
        total += static_cast<std::size_t>(n);
    return total;
}

}  // namespace soak
