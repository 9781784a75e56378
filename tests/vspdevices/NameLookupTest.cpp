// Name look-ups off the I/O thread, with a look-up function that hangs the way the
// system's does behind a DNS server that never answers.
#include "NameLookup.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vsp::NameLookup;

// Holds every look-up of "slow.test" until opened; shared with look-up threads
// that may outlive the test's own variables.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<int> calls = 0;
    std::atomic<int> finished = 0;

    void release()
    {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
};

NameLookup::Blocking hangingOn(std::shared_ptr<Gate> gate)
{
    return [gate](const std::string& host, std::uint16_t port, NameLookup::Endpoints& out) -> std::error_code {
        ++gate->calls;
        if (host == "slow.test") {
            std::unique_lock lock(gate->mutex);
            gate->opened.wait(lock, [&] { return gate->open; });
        }
        out.emplace_back(asio::ip::make_address("127.0.0.1"), port);
        ++gate->finished;
        return {};
    };
}

// An I/O thread for the look-ups' answers.
struct IoThread {
    IoThread() : work(io.get_executor()), thread([this] { io.run(); }) {}
    ~IoThread()
    {
        work.reset();
        io.stop();
        thread.join();
    }
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
};

// One answer, waited for from the test's thread.
struct Answer {
    std::mutex mutex;
    std::condition_variable came;
    std::optional<std::error_code> error;
    NameLookup::Endpoints endpoints;

    NameLookup::Handler handler()
    {
        return [this](const std::error_code& e, const NameLookup::Endpoints& found) {
            std::lock_guard lock(mutex);
            error = e;
            endpoints = found;
            came.notify_all();
        };
    }
    bool wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex);
        return came.wait_for(lock, timeout, [this] { return error.has_value(); });
    }
};

// Runs f on the I/O thread and waits for it.
void onIo(asio::io_context& io, const std::function<void()>& f)
{
    std::promise<void> done;
    asio::post(io, [&] {
        f();
        done.set_value();
    });
    done.get_future().wait();
}

TEST(NameLookup, AddressesAreTakenAsTheyAreAndNeverLookedUp)
{
    auto gate = std::make_shared<Gate>();
    IoThread io;
    NameLookup v4(io.io, hangingOn(gate));
    NameLookup v6(io.io, hangingOn(gate));
    Answer a4, a6;
    onIo(io.io, [&] {
        v4.start("192.0.2.7", 3001, a4.handler());
        v6.start("::1", 3002, a6.handler());
    });
    ASSERT_TRUE(a4.wait(2s));
    ASSERT_TRUE(a6.wait(2s));
    EXPECT_FALSE(*a4.error);
    ASSERT_EQ(a4.endpoints.size(), 1u);
    EXPECT_EQ(a4.endpoints[0], asio::ip::tcp::endpoint(asio::ip::make_address("192.0.2.7"), 3001));
    EXPECT_EQ(a6.endpoints.at(0).address(), asio::ip::make_address("::1"));
    EXPECT_EQ(gate->calls, 0);
}

TEST(NameLookup, AHangingNameHoldsUpNeitherAnotherNameNorTheIoThread)
{
    auto gate = std::make_shared<Gate>();
    IoThread io;
    NameLookup slow(io.io, hangingOn(gate));
    NameLookup fast(io.io, hangingOn(gate));
    Answer slowAnswer, fastAnswer;
    onIo(io.io, [&] {
        slow.start("slow.test", 1, slowAnswer.handler());
        fast.start("fast.test", 2, fastAnswer.handler());
    });
    ASSERT_TRUE(fastAnswer.wait(5s));
    EXPECT_FALSE(*fastAnswer.error);
    onIo(io.io, [] {});  // the I/O thread answers while a look-up hangs
    EXPECT_FALSE(slowAnswer.wait(50ms));

    gate->release();
    ASSERT_TRUE(slowAnswer.wait(5s));
    EXPECT_FALSE(*slowAnswer.error);
}

TEST(NameLookup, ALookUpPastItsTimeLimitFailsAndARetryWaitsForTheSameThread)
{
    auto gate = std::make_shared<Gate>();
    IoThread io;
    NameLookup lookup(io.io, hangingOn(gate));
    Answer first;
    onIo(io.io, [&] { lookup.start("slow.test", 1, first.handler(), 100ms); });
    ASSERT_TRUE(first.wait(5s));
    EXPECT_EQ(*first.error, asio::error::timed_out);

    // Retried while the first look-up still hangs: no second thread, and its
    // answer serves the retry.
    Answer retry;
    onIo(io.io, [&] { lookup.start("slow.test", 1, retry.handler(), 5s); });
    EXPECT_FALSE(retry.wait(100ms));
    EXPECT_EQ(gate->calls, 1);
    gate->release();
    ASSERT_TRUE(retry.wait(5s));
    EXPECT_FALSE(*retry.error);
    EXPECT_EQ(retry.endpoints.size(), 1u);
}

TEST(NameLookup, CancelledOrDestroyedWhileHangingItNeverAnswersNorTouchesWhatIsGone)
{
    auto gate = std::make_shared<Gate>();
    std::atomic<int> answers = 0;
    {
        auto io = std::make_unique<IoThread>();
        auto kept = std::make_unique<NameLookup>(io->io, hangingOn(gate));
        auto dropped = std::make_unique<NameLookup>(io->io, hangingOn(gate));
        onIo(io->io, [&] {
            kept->start("slow.test", 1, [&](const std::error_code&, const NameLookup::Endpoints&) { ++answers; });
            dropped->start("slow.test", 2, [&](const std::error_code&, const NameLookup::Endpoints&) { ++answers; });
        });
        onIo(io->io, [&] {
            kept->cancel();
            dropped.reset();
        });
        kept.reset();
        // And the whole I/O context goes too, as at release, while both still hang.
        io.reset();
    }
    gate->release();
    ASSERT_TRUE(waitUntil([&] { return gate->finished == 2; }));
    std::this_thread::sleep_for(50ms);  // the threads' last steps after the look-up
    EXPECT_EQ(answers, 0);
}

}  // namespace
