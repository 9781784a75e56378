// The control channel's records: what one side encodes the other reads back, and
// every record that is not exactly right is refused (it comes from another process).
#include "ControlMessage.h"

#include <gtest/gtest.h>

using namespace vsp::control;

namespace {

std::optional<Request> roundTrip(const Request& r)
{
    std::uint8_t bytes[recordSize];
    encode(r, bytes);
    return decodeRequest(bytes, sizeof bytes);
}

TEST(ControlMessage, EveryValidRequestAndReplyReadsBackAsSent)
{
    for (const Request r : {Request{Op::Query, 0, 0}, Request{Op::SetLines, lineDtr | lineRts, lineRts},
                            Request{Op::SetLines, lineDtr, 0}, Request{Op::WaitLines, inputLines, 0},
                            Request{Op::Break, breakTimed, maxBreakMs}, Request{Op::Break, breakOff, 0},
                            Request{Op::SetFraming, 5, paritySpace}, Request{Op::SetFraming, 8, parityNone}}) {
        const auto back = roundTrip(r);
        ASSERT_TRUE(back.has_value()) << static_cast<int>(r.op);
        EXPECT_EQ(back->op, r.op);
        EXPECT_EQ(back->a, r.a);
        EXPECT_EQ(back->b, r.b);
    }
    Reply reply{Op::WaitLines, Status::Gone, lineDtr | lineCts | lineRi, {1, 2, 3, 0xFFFFFFFF}, 7, parityMark};
    std::uint8_t bytes[recordSize];
    encode(reply, bytes);
    const auto back = decodeReply(bytes, sizeof bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->status, Status::Gone);
    EXPECT_EQ(back->lines, reply.lines);
    EXPECT_EQ(back->counters.dcd, 0xFFFFFFFFu);
    EXPECT_EQ(back->dataBits, 7);
    EXPECT_EQ(back->parity, parityMark);
}

TEST(ControlMessage, RefusesValuesOutOfRangeAndAnyRecordNotExactlyRight)
{
    for (const Request r : {Request{Op::Query, 1, 0}, Request{Op::SetLines, 0, 0}, Request{Op::SetLines, lineCts, lineCts},
                            Request{Op::SetLines, lineDtr, lineRts}, Request{Op::WaitLines, 0, 0},
                            Request{Op::WaitLines, lineDtr, 0}, Request{Op::Break, breakTimed, maxBreakMs + 1},
                            Request{Op::Break, breakOn, 5}, Request{Op::Break, 3, 0}, Request{Op::SetFraming, 4, 0},
                            Request{Op::SetFraming, 9, 0}, Request{Op::SetFraming, 8, paritySpace + 1},
                            Request{static_cast<Op>(0), 0, 0}, Request{static_cast<Op>(6), 0, 0}})
        EXPECT_FALSE(roundTrip(r).has_value()) << static_cast<int>(r.op) << " " << r.a << " " << r.b;

    std::uint8_t good[recordSize];
    encode(Request{Op::Query, 0, 0}, good);
    ASSERT_TRUE(decodeRequest(good, sizeof good).has_value());
    EXPECT_FALSE(decodeRequest(good, sizeof good - 1).has_value());
    for (std::size_t at : {0u, 4u, 5u, 7u, 16u, 31u}) {  // magic, version, status, reserved bytes
        std::uint8_t bad[recordSize];
        std::copy(std::begin(good), std::end(good), bad);
        bad[at] ^= 0x40;
        EXPECT_FALSE(decodeRequest(bad, sizeof bad).has_value()) << at;
    }
    Reply reply;
    reply.dataBits = 4;
    std::uint8_t bytes[recordSize];
    encode(reply, bytes);
    EXPECT_FALSE(decodeReply(bytes, sizeof bytes).has_value());
}

}  // namespace
