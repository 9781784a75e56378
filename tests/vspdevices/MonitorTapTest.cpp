// A port's monitors, as the library serves them: the conversation and the events in
// order, a stalled monitor that loses records without slowing the port, and
// another user turned away.
#include "AdapterServer.h"
#include "monitor/Conversation.h"
#include "monitor/MonitorConnection.h"
#include "support/ControlSocket.h"
#include "support/LibraryFixture.h"
#include "support/SerialApp.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using vsp::AdapterServer;
using Kind = vsp::monitor::Kind;
using Direction = vsp::monitor::Direction;

class MonitorTap : public LibraryFixture {
protected:
    monitor::MonitorConnection open(int com)
    {
        auto opened = monitor::MonitorConnection::open(com, 2000, portDir);
        if (auto* error = std::get_if<std::string>(&opened))
            ADD_FAILURE() << *error;
        return std::move(std::get<monitor::MonitorConnection>(opened));
    }
    // Reads records until `done` holds for what came so far, or the time is up.
    static bool readUntil(monitor::MonitorConnection& m, std::vector<monitor::Record>& records,
                          const std::function<bool()>& done, std::chrono::milliseconds limit = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            pollfd p{m.fd(), POLLIN, 0};
            ::poll(&p, 1, 50);
            if (m.read(records) != monitor::MonitorConnection::Read::More)
                return done();
        }
        return true;
    }
    static std::string bytes(const std::vector<monitor::Record>& records, Kind kind, Direction direction)
    {
        std::string all;
        for (const auto& r : records)
            if (r.header.kind == kind && r.header.direction == direction)
                all.append(r.payload.begin(), r.payload.end());
        return all;
    }
    static std::vector<Kind> events(const std::vector<monitor::Record>& records)
    {
        std::vector<Kind> kinds;
        for (const auto& r : records)
            if (r.header.kind != Kind::Data && r.header.kind != Kind::Wire && r.header.kind != Kind::State)
                kinds.push_back(r.header.kind);
        return kinds;
    }
};

TEST_F(MonitorTap, SeesTheProgramsDataTheEchoSettingsLinesBreakAndADropInOrder)
{
    AdapterServer adapter({.echo = true});
    vsp_createDevice("Connector", "5;0");
    vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return adapter.settings().baud == 19200; }));
    auto m = open(5);
    std::vector<monitor::Record> records;
    {
        SerialApp app(portPath(5));
        app.write({'h', 'i', 0xFF});
        EXPECT_EQ(app.read(3).size(), 3u);
        ASSERT_TRUE(app.setSpeed(9600));
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 9600; }));
        ControlSocket control(portPath(5) + ".control");
        ASSERT_TRUE(control.send({vsp::control::Op::SetLines, vsp::control::lineDtr, 0}));
        ASSERT_TRUE(control.reply());
        ASSERT_TRUE(control.send({vsp::control::Op::SetLines, vsp::control::lineDtr, vsp::control::lineDtr}));
        ASSERT_TRUE(control.reply());
        ASSERT_TRUE(control.send({vsp::control::Op::Break, vsp::control::breakTimed, 50}));
        ASSERT_TRUE(control.reply());
        adapter.dropClient();
        ASSERT_TRUE(readUntil(m, records, [&] {
            const auto kinds = events(records);
            return std::count(kinds.begin(), kinds.end(), Kind::Connected) == 2;
        }));
    }
    // The port's close, and the adapter's answer to the new connection's offer (IAC DO COM-PORT-OPTION).
    ASSERT_TRUE(readUntil(m, records, [&] {
        return events(records).back() == Kind::PortClosed &&
               bytes(records, Kind::Wire, Direction::FromDevice).find("\xFF\xFD\x2C") != std::string::npos;
    }));

    // It starts from the connection up already and the state; then what happened.
    EXPECT_EQ(records.at(1).header.kind, Kind::State);
    EXPECT_EQ(events(records), (std::vector<Kind>{Kind::Connected, Kind::PortOpened, Kind::Dropped, Kind::Connecting,
                                                 Kind::Connected, Kind::PortClosed}));
    EXPECT_EQ(bytes(records, Kind::Data, Direction::ToDevice), "hi\xFF");
    EXPECT_EQ(bytes(records, Kind::Data, Direction::FromDevice), "hi\xFF");
    // On the wire: the data with IAC doubled, the commands as the adapter was sent them.
    const std::string out = bytes(records, Kind::Wire, Direction::ToDevice);
    EXPECT_NE(out.find("hi\xFF\xFF"), std::string::npos);
    for (const std::string command : {std::string("\xFF\xFA\x2C\x01\x00\x00\x25\x80\xFF\xF0", 10),  // SET-BAUDRATE 9600
                                      std::string("\xFF\xFA\x2C\x05\x09\xFF\xF0", 7),  // DTR off
                                      std::string("\xFF\xFA\x2C\x05\x08\xFF\xF0", 7),  // DTR on
                                      std::string("\xFF\xFA\x2C\x05\x05\xFF\xF0", 7),  // break on
                                      std::string("\xFF\xFA\x2C\x05\x06\xFF\xF0", 7)})  // break off
        EXPECT_NE(out.find(command), std::string::npos);
    // Read back as commands sent and the adapter's answers.
    monitor::Conversation conversation;
    std::vector<monitor::Entry> entries;
    for (const auto& r : records)
        conversation.add(r, entries);
    std::vector<std::string> sent, answered;
    for (const auto& e : entries)
        if (e.kind == monitor::Entry::Kind::CommandSent || e.kind == monitor::Entry::Kind::CommandReceived)
            (e.kind == monitor::Entry::Kind::CommandSent ? sent : answered).push_back(e.text);
    const auto has = [](const std::vector<std::string>& texts, const char* text) {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    };
    EXPECT_TRUE(has(sent, "WILL COM-PORT-OPTION"));  // the offer on the new connection
    EXPECT_TRUE(has(answered, "DO COM-PORT-OPTION"));
    for (const char* command : {"SET-BAUDRATE 9600", "SET-CONTROL 9 (DTR off)", "SET-CONTROL 5 (break on)"})
        EXPECT_TRUE(has(sent, command) && has(answered, command)) << command;
    // The state followed the speed and DTR; time never runs backwards.
    std::vector<std::uint32_t> bauds;
    bool dtrDropped = false;
    for (const auto& r : records)
        if (r.header.kind == Kind::State) {
            const auto state = *vsp::monitor::decodeState(r.payload);
            bauds.push_back(state.baud);
            dtrDropped = dtrDropped || !(state.lines & vsp::control::lineDtr);
        }
    EXPECT_NE(std::find(bauds.begin(), bauds.end(), 9600u), bauds.end());
    EXPECT_TRUE(dtrDropped);
    EXPECT_TRUE(std::is_sorted(records.begin(), records.end(),
                               [](const auto& a, const auto& b) { return a.header.timeUs < b.header.timeUs; }));
    for (const auto& r : records)
        if (r.header.kind == Kind::Connected) {
            const auto ends = *vsp::monitor::decodeEndpoints(r.payload);
            EXPECT_EQ(ends.remotePort, adapter.port());
            EXPECT_EQ(std::vector<int>(ends.remote, ends.remote + 4), (std::vector<int>{127, 0, 0, 1}));
        }
}

TEST_F(MonitorTap, AStalledMonitorLosesRecordsWithACountAndThePortKeepsItsPace)
{
    AdapterServer adapter({});
    vsp_createDevice("Connector", "5;0");
    vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    ASSERT_TRUE(waitUntil([&] { return adapter.settings().baud == 19200; }));
    auto stalled = open(5);  // never read until the end
    SerialApp app(portPath(5));
    const std::vector<std::uint8_t> block(64 * 1024, 'x');
    for (int i = 0; i < 64; ++i)  // 4 MiB, far beyond what the monitor's queue and socket hold
        app.write(block);
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.receivedCount() == 64 * block.size(); }, 20s));
    std::vector<monitor::Record> records;
    readUntil(stalled, records, [] { return false; }, 1s);
    std::uint64_t lost = 0, seen = 0;
    for (const auto& r : records) {
        lost += r.header.kind == Kind::Lost ? vsp::monitor::lostCount(r.payload) : 0;
        seen += r.header.kind == Kind::Data ? r.payload.size() : 0;
    }
    EXPECT_GT(lost, 0u) << seen << " bytes seen in " << records.size() << " records";
    EXPECT_LT(seen, 64 * block.size());
}

// Several monitors at once up to their limit; another user is turned away even
// where the socket's folder lets them reach it.
TEST_F(MonitorTap, ServesItsUsersMonitorsUpToTheLimitAndNoOtherUser)
{
    AdapterServer adapter({});
    vsp_createDevice("Connector", "5;0");
    vsp_createDevice("TcpClient", client(adapter.port(), 5).c_str());
    ASSERT_EQ(vsp_startEmulation(), 1);
    std::vector<monitor::MonitorConnection> monitors;
    for (std::size_t i = 0; i < vsp::monitor::maxMonitors; ++i)
        monitors.push_back(open(5));
    const auto refused = monitor::MonitorConnection::open(5, 2000, portDir);
    ASSERT_TRUE(std::holds_alternative<std::string>(refused));
    EXPECT_NE(std::get<std::string>(refused).find("as many monitors"), std::string::npos);
    monitors.pop_back();
    ASSERT_TRUE(waitUntil([&] { return std::holds_alternative<monitor::MonitorConnection>(
                                    monitor::MonitorConnection::open(5, 2000, portDir)); }));

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can connect as another user";
    const std::string parent = portDir.substr(0, portDir.rfind('/'));
    ASSERT_EQ(::chmod(parent.c_str(), 0711), 0);
    ASSERT_EQ(::chmod(portDir.c_str(), 0711), 0);
    const std::string socketPath = portPath(5) + ".control";
    ASSERT_EQ(::chmod(socketPath.c_str(), 0666), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            ::_exit(4);
        std::uint8_t request[vsp::control::recordSize];
        vsp::control::encode(vsp::control::Request{vsp::control::Op::Monitor, 0, 0}, request);
        ::send(fd, request, sizeof request, MSG_NOSIGNAL);
        std::uint8_t answer[1];
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 2000);
        const ssize_t n = ::recv(fd, answer, 1, MSG_DONTWAIT);
        ::_exit(n == 0 || (n < 0 && errno == ECONNRESET) ? 0 : 5);  // closed without a word
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::chmod(portDir.c_str(), 0700);
}

}  // namespace
