// Bytes waiting to be written to a socket or terminal. While one write is in flight
// new bytes gather in a single buffer, so the next write carries all of them in one
// system call instead of one call per small chunk.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vsp {

class WriteQueue {
public:
    using Buffer = std::shared_ptr<const std::vector<std::uint8_t>>;

    void append(std::span<const std::uint8_t> bytes) { waiting_.insert(waiting_.end(), bytes.begin(), bytes.end()); }
    // The buffer that gathers the next write, for encoders that append in place.
    std::vector<std::uint8_t>& waiting() { return waiting_; }

    // Everything waiting, as the next write; null while a write is in flight or
    // nothing waits. The caller keeps the buffer alive until the write completes.
    Buffer takeNext()
    {
        if (inFlight_ || waiting_.empty())
            return nullptr;
        auto next = std::make_shared<std::vector<std::uint8_t>>();
        next->swap(waiting_);
        inFlight_ = next;
        return inFlight_;
    }

    // The write in flight completed (or failed).
    void written() { inFlight_.reset(); }

    // Drops what waits; a write in flight still completes with its own buffer.
    void dropWaiting() { waiting_.clear(); }

    bool writing() const { return inFlight_ != nullptr; }
    bool empty() const { return !inFlight_ && waiting_.empty(); }
    std::size_t size() const { return waiting_.size() + (inFlight_ ? inFlight_->size() : 0); }

private:
    std::vector<std::uint8_t> waiting_;
    Buffer inFlight_;
};

}  // namespace vsp
