#include "Bridge.h"

#include "Pattern.h"
#include "Telnet.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace bench {
namespace {
constexpr std::size_t chunkSize = 64 * 1024;
constexpr auto stallLimit = std::chrono::seconds(10);

std::string hex(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}
}  // namespace

Bridge::Bridge(std::string name, int appFd, int peerFd, bool telnet, std::function<Usage()> usage)
    : name_(std::move(name)), appFd_(appFd), peerFd_(peerFd), telnet_(telnet), usage_(std::move(usage)),
      readBuffer_(chunkSize)
{
}

Bridge::~Bridge()
{
    ::close(appFd_);
    ::close(peerFd_);
}

void Bridge::fail(const std::string& what) const
{
    throw BridgeFault(name_ + ": " + what);
}

void Bridge::transfer(std::uint64_t up, std::uint64_t down)
{
    const std::uint64_t upEnd = upSent_ + up;
    const std::uint64_t downEnd = downSent_ + down;
    auto lastProgress = std::chrono::steady_clock::now();
    std::uint64_t progress = upChecked_ + downChecked_;
    while (upChecked_ < upEnd || downChecked_ < downEnd) {
        step(upEnd, downEnd, 200);
        const auto now = std::chrono::steady_clock::now();
        if (upChecked_ + downChecked_ != progress) {
            progress = upChecked_ + downChecked_;
            lastProgress = now;
        } else if (now - lastProgress > stallLimit) {
            fail("stalled: " + std::to_string(upEnd - upChecked_) + " bytes up and " + std::to_string(downEnd - downChecked_) +
                 " bytes down never arrived");
        }
    }
}

void Bridge::serviceFor(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end)
        step(upSent_, downSent_, 10);
}

void Bridge::step(std::uint64_t upEnd, std::uint64_t downEnd, int timeoutMs)
{
    stagePeerOutput(downEnd);
    pollfd fds[2] = {{appFd_, POLLIN, 0}, {peerFd_, POLLIN, 0}};
    if (upSent_ < upEnd)
        fds[0].events |= POLLOUT;
    if (peerOutDone_ < peerOut_.size())
        fds[1].events |= POLLOUT;
    if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
        fail(std::string("poll: ") + std::strerror(errno));

    if (fds[0].revents & POLLOUT) {
        const auto bytes = Pattern::instance().chunk(upSent_, std::min<std::uint64_t>(upEnd - upSent_, chunkSize));
        const ssize_t n = ::write(appFd_, bytes.data(), bytes.size());
        if (n > 0)
            upSent_ += static_cast<std::uint64_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            fail(std::string("writing the port: ") + std::strerror(errno));
    }
    if (fds[1].revents & POLLOUT) {
        const ssize_t n = ::write(peerFd_, peerOut_.data() + peerOutDone_, peerOut_.size() - peerOutDone_);
        if (n > 0)
            peerOutDone_ += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            fail(std::string("writing the peer's socket: ") + std::strerror(errno));
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR))
        readApp();
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
        readPeer();
}

void Bridge::stagePeerOutput(std::uint64_t downEnd)
{
    if (peerOutDone_ == peerOut_.size()) {
        peerOut_.clear();
        peerOutDone_ = 0;
    }
    if (downSent_ >= downEnd || peerOut_.size() - peerOutDone_ >= chunkSize)
        return;
    const auto bytes = Pattern::instance().chunk(downSent_, std::min<std::uint64_t>(downEnd - downSent_, chunkSize));
    const std::size_t start = peerOut_.size();
    if (telnet_)
        vsp::telnet::escape(bytes, peerOut_);
    else
        peerOut_.insert(peerOut_.end(), bytes.begin(), bytes.end());
    if (corruptAt_ >= downSent_ && corruptAt_ < downSent_ + bytes.size()) {
        // Flip the low bit of the chosen data byte: it stays a plain data byte
        // (0xFE/0xFF would change the Telnet framing instead).
        std::size_t at = start;
        for (std::uint64_t k = downSent_; k < corruptAt_; ++k)
            at += (telnet_ && bytes[k - downSent_] == vsp::telnet::IAC) ? 2 : 1;
        if (peerOut_[at] < 0xFE)
            peerOut_[at] ^= 1;
        else
            peerOut_[at] = 0x00;
        if (telnet_ && bytes[corruptAt_ - downSent_] == vsp::telnet::IAC)
            peerOut_.erase(peerOut_.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    }
    downSent_ += bytes.size();
}

void Bridge::readApp()
{
    const ssize_t n = ::read(appFd_, readBuffer_.data(), readBuffer_.size());
    if (n > 0)
        check("down", downChecked_, downSent_, {readBuffer_.data(), static_cast<std::size_t>(n)});
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        fail(std::string("the port hung up: ") + (n == 0 ? "end of file" : std::strerror(errno)));
}

void Bridge::readPeer()
{
    const ssize_t n = ::read(peerFd_, readBuffer_.data(), readBuffer_.size());
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        fail(std::string("the bridge closed its connection: ") + (n == 0 ? "end of file" : std::strerror(errno)));
    if (n < 0)
        return;
    const std::span<const std::uint8_t> bytes(readBuffer_.data(), static_cast<std::size_t>(n));
    if (!telnet_) {
        check("up", upChecked_, upSent_, bytes);
        return;
    }
    data_.clear();
    reply_.clear();
    protocol_.receive(bytes, data_, reply_);
    check("up", upChecked_, upSent_, data_);
    peerOut_.insert(peerOut_.end(), reply_.begin(), reply_.end());
}

void Bridge::check(const char* stream, std::uint64_t& checked, std::uint64_t sent, std::span<const std::uint8_t> got)
{
    const std::size_t wrong = Pattern::instance().firstMismatch(checked, got);
    const std::uint64_t at = checked + wrong;
    if (wrong < got.size() && at < sent)
        fail(std::string("byte ") + std::to_string(at) + " of the " + stream + " stream is " + hex(got[wrong]) + ", expected " +
             hex(Pattern::instance().at(at)));
    if (checked + got.size() > sent)
        fail(std::string("the ") + stream + " stream delivered " + std::to_string(checked + got.size() - sent) +
             " bytes more than were sent");
    checked += got.size();
}

}  // namespace bench
