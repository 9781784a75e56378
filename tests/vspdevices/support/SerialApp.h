// An application on the other side of a virtual port: opens COM<N> the way serial
// tools do and reads and writes with time limits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class SerialApp {
public:
    explicit SerialApp(const std::string& path);
    ~SerialApp();
    SerialApp(const SerialApp&) = delete;
    SerialApp& operator=(const SerialApp&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close();
    void write(const std::vector<std::uint8_t>& bytes);
    // Reads until `count` bytes came or the time is up.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True when the port was hung up (the device went away).
    bool hungUp(std::chrono::milliseconds timeout = std::chrono::seconds(2));
    bool setSpeed(unsigned baud);
    // Any rate, through termios2, as programs that set non-standard speeds do.
    bool setAnySpeed(unsigned baud);
    // The speed constant (B9600 ...) that tcgetattr gives, as stty and Wine read it.
    unsigned speedConstant() const;

private:
    int fd_ = -1;
};

// An application that holds the port long enough to count as opened.
std::unique_ptr<SerialApp> openHeld(const std::string& path);

// A thread that writes `block` to the port until all is taken or the port hangs
// up, waiting while it is full; `accepted` counts what write() took.
std::thread writeUntilHungUp(int fd, const std::vector<std::uint8_t>& block, std::atomic<std::size_t>& accepted);

// Every byte value, 0 to 255, `rounds` times.
std::vector<std::uint8_t> everyByte(int rounds = 1);
