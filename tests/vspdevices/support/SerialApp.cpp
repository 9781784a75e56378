#include "support/SerialApp.h"

#include "PtyTermios.h"
#include "RawPort.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <termios.h>
#include <unistd.h>

SerialApp::SerialApp(const std::string& path) : fd_(openRawPort(path)) {}

SerialApp::~SerialApp()
{
    close();
}

void SerialApp::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void SerialApp::write(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

std::vector<std::uint8_t> SerialApp::read(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[4096];
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, 20);
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        else if (n == 0 || (n < 0 && errno != EAGAIN))
            break;
    }
    return bytes;
}

bool SerialApp::hungUp(std::chrono::milliseconds timeout)
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    std::uint8_t byte;
    return (p.revents & POLLHUP) != 0 || ::read(fd_, &byte, 1) <= 0;
}

bool SerialApp::setSpeed(unsigned baud)
{
    termios t{};
    ::tcgetattr(fd_, &t);
    const speed_t speed = baud == 115200 ? B115200 : baud == 9600 ? B9600 : baud == 57600 ? B57600 : B38400;
    ::cfsetspeed(&t, speed);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool SerialApp::setAnySpeed(unsigned baud) { return vsp::makeRawWithSpeed(fd_, baud); }

unsigned SerialApp::speedConstant() const
{
    termios t{};
    if (::tcgetattr(fd_, &t) != 0)
        return 0;
    return ::cfgetospeed(&t);
}

std::unique_ptr<SerialApp> openHeld(const std::string& path)
{
    auto app = std::make_unique<SerialApp>(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return app;
}

std::thread writeUntilHungUp(int fd, const std::vector<std::uint8_t>& block, std::atomic<std::size_t>& accepted)
{
    return std::thread([fd, &block, &accepted] {
        while (accepted < block.size()) {
            const ssize_t n = ::write(fd, block.data() + accepted, block.size() - accepted);
            if (n > 0) {
                accepted += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return;  // hung up
            }
        }
    });
}

std::vector<std::uint8_t> everyByte(int rounds)
{
    std::vector<std::uint8_t> bytes;
    for (int r = 0; r < rounds; ++r)
        for (int b = 0; b < 256; ++b)
            bytes.push_back(static_cast<std::uint8_t>(b));
    return bytes;
}
