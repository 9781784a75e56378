#include "WriteQueue.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace vsp;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes counting(std::size_t count, std::uint8_t first = 0)
{
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// A writer that writes in place, a few bytes at a time, while more keep coming,
// gets every byte once and in order.
TEST(WriteQueue, InPlaceWritesKeepOrderWhileBytesKeepComing)
{
    WriteQueue queue;
    const Bytes stream = counting(5000);
    Bytes written;
    std::size_t fed = 0;
    for (std::size_t step = 1; written.size() < stream.size(); step = step % 97 + 13) {
        const std::size_t more = std::min(step * 2, stream.size() - fed);
        queue.append({stream.data() + fed, more});
        fed += more;
        const auto pending = queue.pending();
        ASSERT_EQ(pending.size(), fed - written.size());
        const std::size_t n = std::min(step, pending.size());
        written.insert(written.end(), pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        queue.consume(n);
    }
    EXPECT_EQ(written, stream);
    EXPECT_TRUE(queue.empty());
}

// Whole-buffer writes carry everything waiting, in order, and a steady stream
// reuses its buffers: the one that gathers the next write keeps its room.
TEST(WriteQueue, WholeBuffersKeepOrderAndAreReused)
{
    WriteQueue queue;
    Bytes sent;
    Bytes expected;
    for (int i = 0; i < 50; ++i) {
        const Bytes part = counting(100, static_cast<std::uint8_t>(i));
        queue.append(part);
        expected.insert(expected.end(), part.begin(), part.end());
        WriteQueue::Buffer buffer = queue.takeNext();
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(queue.takeNext(), nullptr) << "one write in flight at a time";
        if (i > 0)
            EXPECT_GE(queue.waiting().capacity(), 100u) << "round " << i;
        queue.append(Bytes{0xFF});  // gathers while the write is in flight
        expected.push_back(0xFF);
        sent.insert(sent.end(), buffer->begin(), buffer->end());
        queue.written();  // the completion handler still holds its buffer here
        buffer = queue.takeNext();
        ASSERT_NE(buffer, nullptr);
        sent.insert(sent.end(), buffer->begin(), buffer->end());
        queue.written();
    }
    EXPECT_EQ(sent, expected);
}

// A buffer that one burst made large is not kept once its write is done.
TEST(WriteQueue, ABurstsBufferIsFreedAfterItsWrite)
{
    WriteQueue queue;
    queue.append(Bytes(4 * WriteQueue::keptCapacity));
    std::weak_ptr<const Bytes> burst = queue.takeNext();
    queue.written();
    EXPECT_TRUE(burst.expired());
    EXPECT_EQ(queue.size(), 0u);
}

// A write in flight keeps its own bytes when the rest is dropped, and the queue's
// size counts both until it completes.
TEST(WriteQueue, DroppingWaitingBytesLeavesTheWriteInFlight)
{
    WriteQueue queue;
    queue.append(counting(10));
    const WriteQueue::Buffer inFlight = queue.takeNext();
    queue.append(counting(5));
    EXPECT_EQ(queue.size(), 15u);
    queue.dropWaiting();
    EXPECT_EQ(queue.size(), 10u);
    EXPECT_EQ(*inFlight, counting(10));
    EXPECT_TRUE(queue.writing());
    queue.written();
    EXPECT_TRUE(queue.empty());
}

}  // namespace
