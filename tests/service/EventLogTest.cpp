// The service's log lines: what a user reads in the journal for each event, a
// dead adapter's failures logged once rather than every few seconds, texts from
// elsewhere kept to one line, and a log nobody reads that costs neither time nor memory.
#include "service/ConfigurationPath.h"
#include "service/EventLog.h"
#include "service/EventQueue.h"
#include "service/LogWriter.h"
#include "support/Waiting.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace service;
using namespace std::chrono_literals;

vsp_event event(int kind, int id, const char* text, int errorKind = VSP_ERROR_NONE)
{
    vsp_event e{};
    e.size = sizeof e;
    e.kind = kind;
    e.deviceId = id;
    e.com = id + 4;
    e.errorKind = errorKind;
    std::strncpy(e.text, text, sizeof e.text - 1);
    return e;
}

std::string textOf(const std::optional<LogLine>& line)
{
    return line ? line->text : "(none)";
}

TEST(EventLog, ARepeatedFailureIsLoggedOnceUntilTheRedirectConnectsOrFailsDifferently)
{
    EventLog log;
    const auto refused = event(VSP_EVENT_CONNECT_FAILED, 1, "connection: Connection refused", VSP_ERROR_REFUSED);
    const auto first = log.line(refused);
    EXPECT_EQ(textOf(first),
              "COM5: cannot connect: connection: Connection refused; retrying (the same failure is not logged again)");
    EXPECT_EQ(first.value_or(LogLine{Priority::Info, ""}).priority, Priority::Warning);
    EXPECT_FALSE(log.line(refused).has_value());
    EXPECT_TRUE(log.line(event(VSP_EVENT_CONNECT_FAILED, 2, "connection: Connection refused", VSP_ERROR_REFUSED))
                    .has_value());  // another redirect's failure is its own
    const auto timedOut = event(VSP_EVENT_CONNECT_FAILED, 1, "no answer to the connection within 5 s", VSP_ERROR_TIMED_OUT);
    EXPECT_TRUE(log.line(timedOut).has_value());
    EXPECT_FALSE(log.line(timedOut).has_value());

    EXPECT_EQ(textOf(log.line(event(VSP_EVENT_CONNECTED, 1, "10.0.0.7:3001"))), "COM5: connected to 10.0.0.7:3001");
    EXPECT_TRUE(log.line(timedOut).has_value());  // a new episode

    // A drop is always logged, and the same failure right after it is not news.
    EXPECT_EQ(textOf(log.line(event(VSP_EVENT_DROPPED, 1, "connection: End of file", VSP_ERROR_CLOSED_BY_PEER))),
              "COM5: connection dropped: connection: End of file; reconnecting");
    EXPECT_FALSE(log.line(event(VSP_EVENT_CONNECT_FAILED, 1, "connection: End of file", VSP_ERROR_CLOSED_BY_PEER))
                     .has_value());

    EXPECT_EQ(textOf(log.line(event(VSP_EVENT_SETTINGS_SENT, 1, "9600 baud, 7E2"))),
              "COM5: settings sent to the adapter: 9600 baud, 7E2");
    const auto lost = log.line(event(VSP_EVENT_DATA_LOST, 1, "stopped with 1000 bytes from the port not sent"));
    EXPECT_EQ(textOf(lost), "COM5: data lost: stopped with 1000 bytes from the port not sent");
    EXPECT_EQ(lost.value_or(LogLine{Priority::Info, ""}).priority, Priority::Warning);
    EXPECT_FALSE(log.line(event(99, 1, "from a later library")).has_value());

    // An unknown certificate: logged once, with the pin that would trust it.
    const std::string hex(64, 'c');
    const auto unknown =
        event(VSP_EVENT_CONNECT_FAILED, 1, ("untrusted certificate sha256:" + hex).c_str(), VSP_ERROR_CERTIFICATE_UNKNOWN);
    EXPECT_EQ(textOf(log.line(unknown)), "COM5: cannot connect: untrusted certificate sha256:" + hex + "; to trust it, add pin=" +
                                             hex + " to the redirect's TLS field or trust it in the window; retrying "
                                                   "(the same failure is not logged again)");
    EXPECT_FALSE(log.line(unknown).has_value());
}

TEST(EventLog, LinesKeepToOneLineAndCarryThePriorityOnlyForTheJournal)
{
    EXPECT_EQ(formatLine({Priority::Warning, "COM5: cannot connect: name bad\nhost\x1b[2J found"}, true),
              "<4>COM5: cannot connect: name bad host [2J found\n");
    // Elsewhere a UTC time stamp instead: "2026-12-08 13:45:01.123 stopped".
    const std::string stamped = formatLine({Priority::Info, "stopped"}, false);
    EXPECT_EQ(stamped.size(), 32u) << stamped;
    EXPECT_EQ(stamped.substr(23), " stopped\n");
}

TEST(LogWriter, AFullPipeNeitherHoldsUpTheWriterNorGrowsItsQueueAndTheLostLinesAreCounted)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(::fcntl(ends[1], F_SETPIPE_SZ, 4096), 4096);  // the smallest pipe: one page
    const std::string full = std::string(4095, '#') + "\n";
    ASSERT_EQ(::write(ends[1], full.data(), full.size()), 4096);  // and nobody reads it yet
    constexpr int lines = 400;  // 400 x 38 bytes, far beyond the queue
    {
        LogWriter log(ends[1], true, 2048);
        const auto before = std::chrono::steady_clock::now();
        for (int i = 0; i < lines; ++i)
            log.write(Priority::Info, "line " + std::to_string(1000 + i) + std::string(25, '.'));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "writes waited for the pipe";
        EXPECT_FALSE(log.drain(50ms));

        // Reading again: the queued lines come, then how many were lost.
        std::string text = readPipeUntil(ends[0], "dropped", 5s);
        char buffer[4096];
        EXPECT_TRUE(log.drain(1s));
        for (pollfd in{ends[0], POLLIN, 0}; ::poll(&in, 1, 0) == 1;)  // what came after the first notice
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(0, ::read(ends[0], buffer, sizeof buffer))));
        text.erase(0, full.size());
        // The lines, and a notice wherever lines were lost: at the end, and also in
        // between when the writing thread took a line (making room) only after some
        // had already been dropped.
        const std::string lost = " log lines were dropped: standard error did not take them";
        std::size_t written = 0, dropped = 0;
        std::istringstream in(text);
        std::string last;
        for (std::string line; std::getline(in, line); last = line)
            if (const auto at = line.find(lost); at != std::string::npos && line.rfind("<4>", 0) == 0)
                dropped += std::stoul(line.substr(3, at - 3));
            else
                ++written;
        EXPECT_EQ(written + dropped, static_cast<std::size_t>(lines)) << text;
        EXPECT_NE(last.find(lost), std::string::npos) << "the last line tells the loss: " << last;
        const std::size_t lineSize = text.find('\n') + 1;
        EXPECT_LE(written, 2048 / lineSize + 1) << "more lines than the queue holds";
        EXPECT_EQ(text.substr(0, 13), "<6>line 1000.");
    }
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(EventQueue, WakesItsReaderAndCountsWhatDidNotFitInsteadOfGrowing)
{
    EventQueue queue(2);
    pollfd p{queue.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    for (int i = 0; i < 5; ++i) {
        const vsp_event connected = event(VSP_EVENT_CONNECTED, i, "x");
        EventQueue::handler(&connected, &queue);
    }
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    std::size_t lost = 0;
    const auto taken = queue.take(lost);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[1].deviceId, 1);
    EXPECT_EQ(lost, 3u);
    EXPECT_EQ(::poll(&p, 1, 0), 0);

    // An older library's shorter event: what it lacks reads as zero.
    vsp_event shorter = event(VSP_EVENT_CLOSED, 1, "reinitialized");
    shorter.size = offsetof(vsp_event, errorKind);
    shorter.errorKind = 7;
    EventQueue::handler(&shorter, &queue);
    const auto one = queue.take(lost);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].errorKind, 0);
    EXPECT_EQ(one[0].text[0], '\0');
}

TEST(ConfigurationPath, FollowsTheWindowsFolderAndTellsANameFromAFile)
{
    EXPECT_EQ(chooseConfigurationFolder("/home/u/qv", true, false, "/x", "/home/u"), "/home/u/qv");
    EXPECT_EQ(chooseConfigurationFolder("/home/u/qv", true, true, "/x", "/home/u"), "/x/QuorlinVCP");
    EXPECT_EQ(chooseConfigurationFolder("/usr/bin", false, false, "", "/home/u"), "/home/u/.config/QuorlinVCP");
    EXPECT_EQ(chooseConfigurationFolder("/usr/bin", false, false, "relative", "/home/u"), "/home/u/.config/QuorlinVCP");

    EXPECT_EQ(configurationPath("lab", "/c"), "/c/lab.qlc");
    EXPECT_EQ(configurationPath("bench 2", "/c"), "/c/bench 2.qlc");
    EXPECT_EQ(configurationPath("lab.qlc", "/c"), "lab.qlc");
    EXPECT_EQ(configurationPath("./lab", "/c"), "./lab");
    EXPECT_EQ(configurationPath("/srv/lab.json", "/c"), "/srv/lab.json");
}

}  // namespace
