// The adapter simulator's serial lines as a client meets them over TCP: the commands
// it logs, the modem lines it loops back or holds, break, and the data it holds for a
// client that suspends the flow until a purge discards it.
#include "AdapterServer.h"
#include "ClientProtocol.h"
#include "support/CommandLog.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>

using namespace vsp;
using rfc2217::Message;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A TcpClient's protocol scripted over a real connection to the simulator.
class ScriptedClient {
public:
    explicit ScriptedClient(std::uint16_t port) : socket_(io_), protocol_(true, SerialSettings{})
    {
        socket_.connect({asio::ip::make_address("127.0.0.1"), port});
        Bytes offer;
        protocol_.connected(offer);
        send(offer);
        readUntil([this] { return protocol_.settled(); });
    }

    // Runs the protocol calls in `act` and sends what they made in one write.
    template <typename Act> void act(Act&& act)
    {
        Bytes out;
        act(protocol_, out);
        send(out);
    }

    // Reads until pred() holds or two seconds pass; false then.
    template <typename Pred> bool readUntil(Pred&& pred)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!pred()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{socket_.native_handle(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return pred();
            std::array<std::uint8_t, 4096> buffer;
            asio::error_code error;
            const std::size_t n = socket_.read_some(asio::buffer(buffer), error);
            if (error)
                return pred();
            Bytes out;
            protocol_.receive({buffer.data(), n}, data, out);
            messages.insert(messages.end(), protocol_.messages().begin(), protocol_.messages().end());
            send(out);
        }
        return true;
    }

    // The modem states notified so far.
    Bytes modemStates() const
    {
        Bytes states;
        for (const Message& m : messages)
            if (m.code == rfc2217::NotifyModemState + rfc2217::serverOffset)
                states.push_back(static_cast<std::uint8_t>(m.value));
        return states;
    }

    const ClientProtocol& protocol() const { return protocol_; }
    Bytes data;
    std::vector<Message> messages;

private:
    void send(const Bytes& bytes)
    {
        if (!bytes.empty())
            asio::write(socket_, asio::buffer(bytes));
    }

    asio::io_context io_;
    asio::ip::tcp::socket socket_;
    ClientProtocol protocol_;
};

TEST(AdapterLines, LogsEveryCommandAndLoopsDtrRtsBackToTheModemLines)
{
    CommandLog log;
    AdapterServer adapter({.onCommand = [&log](int line, const Message& m) { if (line == 1) log.add(m); }});
    ScriptedClient client(adapter.port());
    client.act([](ClientProtocol& p, Bytes& out) { p.setModemStateMask(0xFF, out); });
    ASSERT_TRUE(client.readUntil([&] { return client.modemStates().size() == 1; }));
    EXPECT_EQ(client.modemStates()[0], rfc2217::modemCts | rfc2217::modemDsr | rfc2217::modemDcd);

    // A boot loader's reset: two changes in one segment, each notified in turn.
    client.act([](ClientProtocol& p, Bytes& out) {
        p.setDtr(false, out);
        p.setRts(false, out);
    });
    ASSERT_TRUE(client.readUntil([&] { return client.modemStates().size() == 3; }));
    EXPECT_EQ(client.modemStates()[1], rfc2217::modemCts | rfc2217::modemDeltaDsr | rfc2217::modemDeltaDcd);
    EXPECT_EQ(client.modemStates()[2], rfc2217::modemDeltaCts);
    EXPECT_EQ(client.protocol().server().dtr, false);

    client.act([](ClientProtocol& p, Bytes& out) {
        p.setBreak(true, out);
        p.setBreak(false, out);
        p.setDataSize(7, out);
    });
    ASSERT_TRUE(client.readUntil([&] { return client.protocol().server().dataSize == 7; }));
    EXPECT_EQ(client.protocol().server().breakOn, false);
    EXPECT_EQ(client.modemStates().size(), 3u);  // break moves no modem line
    // The settings a new connection gets first, then the script's commands.
    ASSERT_TRUE(adapter.waitFor([&] { return log.texts().size() == 10; }));  // logged after they are recorded
    EXPECT_EQ(adapter.commands(1).size(), 10u);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SET-BAUDRATE 19200", "SET-DATASIZE 8", "SET-PARITY 1", "SET-STOPSIZE 1",
                                                     "SET-MODEMSTATE-MASK 255 (0xFF)", "SET-CONTROL 9 (DTR off)",
                                                     "SET-CONTROL 12 (RTS off)", "SET-CONTROL 5 (break on)",
                                                     "SET-CONTROL 6 (break off)", "SET-DATASIZE 7"}));
}

TEST(AdapterLines, FixedLinesStayPutWhateverTheClientDoes)
{
    AdapterServer adapter({.modemLines = {.cts = false, .ri = true}});
    ScriptedClient client(adapter.port());
    client.act([](ClientProtocol& p, Bytes& out) { p.setModemStateMask(0xFF, out); });
    ASSERT_TRUE(client.readUntil([&] { return client.modemStates().size() == 1; }));
    EXPECT_EQ(client.modemStates()[0], rfc2217::modemRi | rfc2217::modemDsr | rfc2217::modemDcd);
    client.act([](ClientProtocol& p, Bytes& out) {
        p.setRts(false, out);  // CTS is held: nothing to tell
        p.setDtr(false, out);
    });
    ASSERT_TRUE(client.readUntil([&] { return client.modemStates().size() == 2; }));
    EXPECT_EQ(client.modemStates()[1], rfc2217::modemRi | rfc2217::modemDeltaDsr | rfc2217::modemDeltaDcd);
}

TEST(AdapterLines, HoldsDataWhileTheClientSuspendsAndAPurgeDiscardsIt)
{
    AdapterServer adapter({.echo = true});
    ScriptedClient client(adapter.port());
    client.act([](ClientProtocol& p, Bytes& out) {
        p.suspendFlow(out);
        p.encodeData(Bytes{'a', 0xFF}, out);  // the echo is held
    });
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.receivedCount() == 2; }));
    adapter.send({'b'});
    EXPECT_FALSE(client.readUntil([&] { return !client.data.empty(); }));
    client.act([](ClientProtocol& p, Bytes& out) { p.resumeFlow(out); });
    ASSERT_TRUE(client.readUntil([&] { return client.data.size() == 3; }));
    EXPECT_EQ(client.data, (Bytes{'a', 0xFF, 'b'}));

    client.data.clear();
    client.act([](ClientProtocol& p, Bytes& out) {
        p.suspendFlow(out);
        p.encodeData(Bytes{'x'}, out);
    });
    ASSERT_TRUE(adapter.waitFor([&] { return adapter.receivedCount() == 3; }));
    client.act([](ClientProtocol& p, Bytes& out) {
        p.purge(rfc2217::purgeReceive, out);
        p.resumeFlow(out);
        p.encodeData(Bytes{'y'}, out);
    });
    ASSERT_TRUE(client.readUntil([&] { return !client.data.empty(); }));
    EXPECT_EQ(client.data, Bytes{'y'});  // the held 'x' was discarded
    EXPECT_EQ(client.protocol().server().purged, rfc2217::purgeReceive);
}

// The wait gives up in time even when its condition asks the server for its records.
TEST(AdapterLines, AWaitThatTimesOutReturnsFalse)
{
    AdapterServer adapter({});
    EXPECT_FALSE(adapter.waitFor([&] { return adapter.receivedCount() > 0; }, std::chrono::milliseconds(50)));
}
}  // namespace
