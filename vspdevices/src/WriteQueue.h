// Bytes waiting to be written to a socket or terminal, used in one of two ways:
//  - whole buffers: while one write is in flight new bytes gather in a single
//    buffer, so the next write carries all of them in one system call;
//  - in place: the writer writes from pending() itself and consume()s what went out.
// Buffers are reused once their write has completed, so a steady stream allocates
// nothing and the gathering buffer keeps its capacity from one write to the next.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vsp {

class WriteQueue {
public:
    using Buffer = std::shared_ptr<const std::vector<std::uint8_t>>;
    // A spare buffer larger than this is freed instead of kept, so one burst does
    // not hold its memory for good.
    static constexpr std::size_t keptCapacity = 64 * 1024;

    void append(std::span<const std::uint8_t> bytes)
    {
        if (head_ >= pendingSize())
            compact();  // more written than left: drop the written part first
        waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
    }
    // The buffer that gathers the next write, for encoders that append in place.
    std::vector<std::uint8_t>& waiting()
    {
        compact();
        return waiting_;
    }

    // Everything waiting, as the next write; null while a write is in flight or
    // nothing waits. The caller keeps the buffer alive until the write completes.
    Buffer takeNext()
    {
        if (inFlight_ || pendingSize() == 0)
            return nullptr;
        compact();
        std::shared_ptr<std::vector<std::uint8_t>> next = spare();
        next->swap(waiting_);  // waiting_ takes over the spare's capacity
        inFlight_ = std::move(next);
        return inFlight_;
    }

    // The write in flight completed (or failed).
    void written()
    {
        if (!inFlight_)
            return;
        inFlight_->clear();
        if (inFlight_->capacity() <= keptCapacity && spares_.size() < maxSpares)
            spares_.push_back(std::move(inFlight_));
        inFlight_.reset();
    }

    // The bytes waiting, oldest first, for a writer that writes them in place.
    std::span<const std::uint8_t> pending() const { return {waiting_.data() + head_, pendingSize()}; }
    // The first n pending bytes were written.
    void consume(std::size_t n)
    {
        head_ += std::min(n, pendingSize());
        if (head_ == waiting_.size()) {
            waiting_.clear();
            head_ = 0;
        }
    }

    // Drops what waits; a write in flight still completes with its own buffer.
    void dropWaiting()
    {
        waiting_.clear();
        head_ = 0;
    }

    bool writing() const { return inFlight_ != nullptr; }
    bool empty() const { return !inFlight_ && pendingSize() == 0; }
    std::size_t size() const { return pendingSize() + (inFlight_ ? inFlight_->size() : 0); }

private:
    static constexpr std::size_t maxSpares = 2;

    std::size_t pendingSize() const { return waiting_.size() - head_; }

    // Moves what is left after consume() to the front, before the buffer grows or
    // is handed out whole.
    void compact()
    {
        if (head_ == 0)
            return;
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }

    // A buffer for the next write: a spare no finished write's handler still holds,
    // else a new one.
    std::shared_ptr<std::vector<std::uint8_t>> spare()
    {
        for (auto it = spares_.begin(); it != spares_.end(); ++it) {
            if (it->use_count() == 1) {
                auto buffer = std::move(*it);
                spares_.erase(it);
                return buffer;
            }
        }
        return std::make_shared<std::vector<std::uint8_t>>();
    }

    std::vector<std::uint8_t> waiting_;
    std::size_t head_ = 0;  // bytes of waiting_ already written in place
    std::shared_ptr<std::vector<std::uint8_t>> inFlight_;
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> spares_;
};

}  // namespace vsp
