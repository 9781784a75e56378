// The way from the port to the connection, alone: what reaches the connection,
// in which order, and what is kept, dropped and counted, as the application writes,
// changes settings and flushes while the connection comes and goes.
#include "PortBridge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vsp;

namespace {

// Takes what the bridge sends and writes it down in order.
struct Log : PortBridge::Target {
    bool isStopped = false;
    bool up = true;
    std::string sent;
    bool stopped() const override { return isStopped; }
    bool takesData() const override { return up; }
    void sendData(std::span<const std::uint8_t> data) override { sent += "data " + std::to_string(data.size()) + ";"; }
    void sendSettings(const PortSettings& now, const PortSettings&) override { sent += "baud " + std::to_string(now.baud) + ";"; }
    void sendPurge(bool input, bool output) override { sent += std::string("purge") + (input ? " in" : "") + (output ? " out" : "") + ";"; }
    bool queueFull() const override { return false; }
    bool queueDrained() const override { return true; }
    void waitingChanged() override {}
};

enum class Op { Write, Baud, FlushOut, FlushIn, Up, Abandon, Stop };
struct Step {
    Op op;
    std::size_t n = 0;  // bytes written, or the baud rate
};
struct Case {
    const char* name;
    double readTimeoutMs;  // long enough never to pass here: bytes stay gathered
    bool up;               // the connection takes data from the start
    std::vector<Step> steps;
    std::string sent;
    std::uint64_t held;
    std::uint64_t dropped;
};

TEST(PortBridge, SendsInTheApplicationsOrderAndKeepsOrCountsTheRest)
{
    const std::size_t limit = PortBridge::preConnectLimit;
    const Case cases[] = {
        {"a setting and a flush follow the bytes before them", 1000, true,
         {{Op::Write, 2}, {Op::Baud, 9600}, {Op::Write, 3}, {Op::FlushOut}, {Op::Write, 1}, {Op::FlushIn}},
         "data 2;baud 9600;purge out;purge in;", 1, 0},
        {"gathered bytes go together at the limit", 1000, true, {{Op::Write, 4000}, {Op::Write, 96}, {Op::Write, 1}},
         "data 4096;", 1, 0},
        {"without a read timeout each write goes at once", 0, true, {{Op::Write, 5}, {Op::Write, 6}}, "data 5;data 6;", 0, 0},
        {"before the connection bytes wait up to the limit, then go at once", 0, false,
         {{Op::Write, limit - 10}, {Op::Write, 30}, {Op::Up}}, "data " + std::to_string(limit) + ";", 0, 20},
        {"a setting before the connection goes before the bytes written after it", 0, false,
         {{Op::Baud, 4800}, {Op::Write, 7}, {Op::Up}}, "baud 4800;data 7;", 0, 0},
        {"an output flush discards what waits for the connection", 0, false, {{Op::Write, 100}, {Op::FlushOut}, {Op::Up}},
         "purge out;", 0, 0},
        {"bytes waiting when no connection is wanted any more are counted", 0, false, {{Op::Write, 100}, {Op::Abandon}},
         "", 0, 100},
        {"stopping counts what waited for the connection and discards what was gathered", 1000, false,
         {{Op::Write, 50}, {Op::Baud, 9600}, {Op::Write, 8}, {Op::Stop}}, "baud 9600;", 0, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        asio::io_context io;
        Log log;
        log.up = c.up;
        PortBridge bridge(io, log, c.readTimeoutMs, PortSettings{19200});
        for (const Step& step : c.steps) {
            switch (step.op) {
            case Op::Write: bridge.data(std::vector<std::uint8_t>(step.n, 'x')); break;
            case Op::Baud: bridge.settingsChanged(PortSettings{static_cast<std::uint32_t>(step.n)}); break;
            case Op::FlushOut: bridge.flushed(false, true); break;
            case Op::FlushIn: bridge.flushed(true, false); break;
            case Op::Up: log.up = true; bridge.releaseWaiting(); break;
            case Op::Abandon: bridge.dropWaiting(); break;
            case Op::Stop: bridge.stop(); log.isStopped = true; break;
            }
        }
        EXPECT_EQ(log.sent, c.sent);
        EXPECT_EQ(bridge.held(), c.held);
        EXPECT_EQ(bridge.dropped(), c.dropped);
    }
}

}  // namespace
