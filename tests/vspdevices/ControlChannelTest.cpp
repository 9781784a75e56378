// A port's control socket as the library serves it: the lines a program reads while
// the adapter comes and goes, the program's settings sent again to a new
// connection, the socket's life with the port, and clients that break the rules.
#include "AdapterServer.h"
#include "ControlChannel.h"
#include "vspdevices_control_diagnostics.h"
#include "vspdevices_descriptors.h"
#include "vspdevices_line_state.h"
#include "support/CommandLog.h"
#include "support/ControlSocket.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>

using namespace vsp::control;
using vsp::AdapterServer;

namespace {

class ControlChannel : public LibraryFixture {
protected:
    void startRedirect(std::uint16_t adapterPort)
    {
        ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
        tcp = vsp_createDevice("TcpClient", client(adapterPort, 5, "19200,1,8,1,0,0").c_str());
        ASSERT_EQ(vsp_startEmulation(), 1);
        ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }));
    }
    std::string socketPath() const { return portPath(5) + ".control"; }
    // The lines once they settle on `want` (the adapter's notifications take a moment).
    bool linesBecome(ControlSocket& c, std::uint32_t want)
    {
        return waitUntil([&] {
            const auto r = c.ask({Op::Query, 0, 0});
            return r && r->status == Status::Ok && r->lines == want;
        });
    }
    int tcp = -1;
};

TEST_F(ControlChannel, InputLinesReadLowWhileTheAdapterIsAwayAndItGetsTheProgramsStateBack)
{
    CommandLog log;
    AdapterServer adapter({.onCommand = [&log](int, const vsp::rfc2217::Message& m) { log.add(m); }});
    startRedirect(adapter.port());
    SerialApp app(portPath(5));
    ControlSocket control(socketPath());
    ASSERT_TRUE(control.connected());
    ASSERT_TRUE(linesBecome(control, lineDtr | lineRts | lineCts | lineDsr | lineDcd));

    ASSERT_EQ(control.ask({Op::SetLines, lineDtr, 0})->status, Status::Ok);
    ASSERT_EQ(control.ask({Op::SetFraming, 7, parityEven})->status, Status::Ok);
    ASSERT_TRUE(linesBecome(control, lineRts | lineCts));  // DSR and DCD follow DTR at the adapter
    const Counters before = control.ask({Op::Query, 0, 0})->counters;

    ControlSocket waiter(socketPath());
    ASSERT_TRUE(waiter.send({Op::WaitLines, lineCts, 0}));
    EXPECT_FALSE(waiter.reply(200).has_value());  // nothing changed yet
    adapter.stop();
    const auto woke = waiter.reply();
    ASSERT_TRUE(woke.has_value());
    EXPECT_EQ(woke->status, Status::Ok);
    EXPECT_EQ(woke->lines, lineRts);  // a device switched off: every input low
    EXPECT_EQ(woke->counters.cts, before.cts + 1);

    const std::size_t seen = log.texts().size();
    adapter.start();
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 1; }, std::chrono::seconds(8)));
    ASSERT_TRUE(adapter.waitFor([&] { return log.texts().size() >= seen + 7; }));
    const auto all = log.texts();
    const std::vector<std::string> again(all.begin() + static_cast<std::ptrdiff_t>(seen), all.begin() + static_cast<std::ptrdiff_t>(seen) + 7);
    EXPECT_EQ(again, (std::vector<std::string>{"SET-BAUDRATE 19200", "SET-DATASIZE 7", "SET-PARITY 3", "SET-STOPSIZE 1",
                                               "SET-CONTROL 9 (DTR off)", "SET-CONTROL 11 (RTS on)",
                                               "SET-MODEMSTATE-MASK 255 (0xFF)"}));
    EXPECT_TRUE(linesBecome(control, lineRts | lineCts));
    const auto framing = control.ask({Op::Query, 0, 0});
    EXPECT_EQ(framing->dataBits, 7);
    EXPECT_EQ(framing->parity, parityEven);
}

// What a launched program reads its lines from: a page that shows each change before
// the reply to it comes, that no program can write, and that says when its port went.
TEST_F(ControlChannel, TheLineStatePageFollowsEveryChangeIsReadOnlyAndSaysWhenThePortIsGone)
{
    AdapterServer adapter({});
    startRedirect(adapter.port());
    auto app = std::make_unique<SerialApp>(portPath(5));
    ControlSocket control(socketPath());
    ASSERT_TRUE(linesBecome(control, lineDtr | lineRts | lineCts | lineDsr | lineDcd));
    ASSERT_TRUE(control.send({Op::Watch, 0, 0}));
    pollfd ready{control.descriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 2000), 1);
    std::uint8_t record[recordSize];
    int memory = -1;
    ASSERT_EQ(vsp::receiveWithDescriptor(control.descriptor(), record, sizeof record, &memory, 0), 40);
    ASSERT_GE(memory, 0);
    EXPECT_EQ(::mmap(nullptr, pageSize, PROT_READ | PROT_WRITE, MAP_SHARED, memory, 0), MAP_FAILED);
    void* mapped = ::mmap(nullptr, pageSize, PROT_READ, MAP_SHARED, memory, 0);
    ::close(memory);
    ASSERT_NE(mapped, MAP_FAILED);
    const auto& page = *static_cast<const LineStatePage*>(mapped);
    const auto now = [&] {
        LineState state;
        EXPECT_TRUE(readLineState(page, state));
        return state;
    };
    EXPECT_EQ(now().status, Status::Ok);
    EXPECT_EQ(now().lines, lineDtr | lineRts | lineCts | lineDsr | lineDcd);
    const std::uint32_t ctsChanges = now().counters.cts;
    ASSERT_EQ(control.ask({Op::SetLines, lineRts, 0})->status, Status::Ok);
    ASSERT_EQ(control.ask({Op::SetFraming, 7, parityOdd})->status, Status::Ok);
    EXPECT_EQ(now().lines & outputLines, lineDtr);  // already when the reply came
    EXPECT_EQ(now().dataBits, 7);
    EXPECT_EQ(now().parity, parityOdd);
    EXPECT_TRUE(waitUntil([&] { return now().lines == (lineDtr | lineDsr | lineDcd) && now().counters.cts == ctsChanges + 1; }));
    app.reset();
    ASSERT_TRUE(waitUntil([&] { return vsp_stopEmulation() == 1; }));
    EXPECT_EQ(now().status, Status::Gone);
    ::munmap(mapped, pageSize);
}

// The Diagnose answer comes as a record of its own size, read here byte for byte.
std::optional<Diagnostics> diagnose(ControlSocket& control, const std::uint8_t* request)
{
    std::uint8_t answer[diagnosticsRecordSize];
    if (!control.sendBytes(request, recordSize))
        return std::nullopt;
    std::size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (got < sizeof answer && std::chrono::steady_clock::now() < deadline) {
        const auto reply = control.replyBytes(answer + got, sizeof answer - got);
        if (reply <= 0)
            return std::nullopt;
        got += static_cast<std::size_t>(reply);
    }
    return decodeDiagnostics(answer, got);
}

TEST_F(ControlChannel, ThePortWithoutAConnectionAnswersUnavailableEvenToDiagnoseAndTheSocketLivesWithThePort)
{
    // A socket left by an earlier run is replaced; anything else under the name is not ours.
    {
        asio::io_context io;
        asio::local::stream_protocol::acceptor stale(io, asio::local::stream_protocol::endpoint(socketPath()));
    }
    ASSERT_TRUE(std::filesystem::exists(socketPath()));
    ASSERT_GE(vsp_createDevice("Connector", "5;0"), 0);
    ASSERT_EQ(vsp_startEmulation(), 1);
    struct stat st {};
    ASSERT_EQ(::stat(socketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ControlSocket control(socketPath());
    const auto reply = control.ask({Op::SetLines, lineDtr, lineDtr});
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, Status::Unavailable);
    std::uint8_t request[recordSize];
    encode(Request{Op::Diagnose, 0, 0}, request);
    const auto answer = diagnose(control, request);
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->status, Status::Unavailable);

    ASSERT_EQ(vsp_stopEmulation(), 1);
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
    EXPECT_TRUE(control.closedByPeer());
}

TEST_F(ControlChannel, DiagnoseAnswersTheConnectionsStateAndBytesAndAMalformedRequestIsRefused)
{
    AdapterServer adapter({.echo = true});
    startRedirect(adapter.port());
    SerialApp app(portPath(5));
    app.write({1, 2, 3});
    ASSERT_EQ(app.read(3).size(), 3u);

    std::uint8_t request[recordSize];
    encode(Request{Op::Diagnose, 0, 0}, request);
    ControlSocket control(socketPath());
    const auto up = diagnose(control, request);
    ASSERT_TRUE(up.has_value());
    EXPECT_EQ(up->status, Status::Ok);
    EXPECT_EQ(up->state, VSP_STATE_UP);
    EXPECT_EQ(up->bytesToAdapter, 3u);
    EXPECT_EQ(up->bytesFromAdapter, 3u);
    EXPECT_TRUE(up->portHeld);
    EXPECT_EQ(up->errorKind, VSP_ERROR_NONE);
    // The same client goes on with other requests.
    ASSERT_TRUE(control.ask({Op::Query, 0, 0}).has_value());

    adapter.stop();
    ASSERT_TRUE(waitUntil([&] { return state(tcp).ok == 0; }));
    const auto down = diagnose(control, request);
    ASSERT_TRUE(down.has_value());
    EXPECT_NE(down->state, VSP_STATE_UP);
    EXPECT_NE(down->errorKind, VSP_ERROR_NONE);
    EXPECT_GT(std::strlen(down->lastErrorText), 0u);

    std::uint8_t malformed[recordSize];
    std::copy(std::begin(request), std::end(request), malformed);
    malformed[8] = 1;  // a Diagnose takes no value
    ControlSocket hostile(socketPath());
    ASSERT_TRUE(hostile.sendBytes(malformed, sizeof malformed));
    const auto refused = hostile.reply();
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->status, Status::Refused);
    EXPECT_TRUE(hostile.closedByPeer());
}

TEST_F(ControlChannel, HostileClientsAreEndedAndNeitherThePortNorOtherClientsSuffer)
{
    AdapterServer adapter({});
    startRedirect(adapter.port());
    SerialApp app(portPath(5));

    ControlSocket garbage(socketPath());
    std::uint8_t noise[recordSize];
    for (std::size_t i = 0; i < recordSize; ++i)
        noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
    ASSERT_TRUE(garbage.sendBytes(noise, sizeof noise));
    const auto refused = garbage.reply();
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->status, Status::Refused);
    EXPECT_TRUE(garbage.closedByPeer());

    ControlSocket flood(socketPath());  // a "length" of a megabyte: only one record is ever read
    const std::vector<std::uint8_t> megabyte(1 << 20, 0xFF);
    flood.sendBytes(megabyte.data(), 4096);
    EXPECT_TRUE(flood.closedByPeer());

    {
        ControlSocket half(socketPath());  // hangs up mid-record
        std::uint8_t record[recordSize];
        encode(Request{Op::SetLines, lineDtr, 0}, record);
        ASSERT_TRUE(half.sendBytes(record, 10));
    }
    {
        ControlSocket waiting(socketPath());  // hangs up during a wait
        ASSERT_TRUE(waiting.send({Op::WaitLines, lineRi, 0}));
    }

    // Afterwards the port works and a well-behaved client is served.
    EXPECT_TRUE(waitUntil([&] {
        ControlSocket good(socketPath());
        const auto r = good.ask({Op::Query, 0, 0});
        return r && r->status == Status::Ok && (r->lines & lineDtr);
    }));
    app.write({'o', 'k'});
    EXPECT_TRUE(adapter.waitFor([&] { return adapter.received() == std::vector<std::uint8_t>{'o', 'k'}; }));
}

}  // namespace

namespace {

// A full channel of clients that misbehave in one way each: a program asking next
// is still answered, at once when they are idle or waiting (the one idle or
// waiting longest makes room), within the stall limit when they stop in the middle
// of a record or stop reading (they are dropped then).
TEST_F(ControlChannel, ClientsThatStallOrCrowdTheChannelDoNotShutAProgramOut)
{
    AdapterServer adapter({});
    startRedirect(adapter.port());
    SerialApp app(portPath(5));
    struct Case {
        const char* what;
        std::function<void(ControlSocket&)> misbehave;
        std::chrono::milliseconds within;
        bool dropped;  // every one of them is ended by the channel
    } const cases[] = {
        {"idle", [](ControlSocket&) {}, std::chrono::milliseconds(500), false},
        {"waiting", [](ControlSocket& c) { c.send({Op::WaitLines, lineRi, 0}); }, std::chrono::milliseconds(500), false},
        {"half a record",
         [](ControlSocket& c) {
             std::uint8_t record[recordSize];
             encode(Request{Op::Query, 0, 0}, record);
             c.sendBytes(record, recordSize / 2);
         },
         vsp::ControlChannel::stallLimit + std::chrono::seconds(2), true},
        {"not reading", [](ControlSocket& c) { c.flood({Op::Query, 0, 0}); },
         vsp::ControlChannel::stallLimit + std::chrono::seconds(2), true},
    };
    for (const Case& c : cases) {
        std::vector<std::unique_ptr<ControlSocket>> crowd;
        for (std::size_t i = 0; i < vsp::ControlChannel::maxClients; ++i) {
            crowd.push_back(std::make_unique<ControlSocket>(socketPath()));
            c.misbehave(*crowd.back());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // all of them taken in
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(waitUntil(
            [&] {
                ControlSocket program(socketPath());
                const auto r = program.ask({Op::Query, 0, 0});
                return r && r->status == Status::Ok;
            },
            c.within))
            << c.what;
        std::cout << c.what << ": answered after "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count()
                  << " ms\n";
        if (c.dropped)
            for (auto& stalled : crowd)
                EXPECT_TRUE(stalled->hungUp(static_cast<int>(c.within.count()))) << c.what;
    }
    app.write({'o', 'k'});
    EXPECT_TRUE(adapter.waitFor([&] { return adapter.received() == std::vector<std::uint8_t>{'o', 'k'}; }));
}

}  // namespace
