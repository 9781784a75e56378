// Every port command of the TcpClient's side and every answer and notification of an
// adapter, on their own: what goes out for what the application does, and what the
// adapter's messages leave in the client's state, wherever the reads split them.
#include "support/ProtocolPeers.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vsp;
using namespace vsp::telnet;
using rfc2217::Message;

namespace {

using Bytes = std::vector<std::uint8_t>;

ClientProtocol agreedClient(AdapterProtocol& adapter)
{
    ClientProtocol client(true, SerialSettings{});
    Bytes offer;
    client.connected(offer);
    negotiate(client, adapter, offer);
    return client;
}

Bytes subnegotiation(Bytes payload)
{
    Bytes out;
    appendSubnegotiation(optComPort, payload, out);
    return out;
}

TEST(PortControlProtocol, ChangesMadeTogetherGoOutInOneBufferInTheOrderMade)
{
    AdapterProtocol adapter;
    ClientProtocol client = agreedClient(adapter);
    Bytes out;
    client.setDtr(false, out);
    client.setRts(true, out);
    client.setDtr(true, out);
    client.setBreak(true, out);
    client.setBreak(false, out);
    client.setDataSize(7, out);
    client.setParity(Parity::Even, out);
    client.setStopSize(2, out);
    client.setBaudRate(0xFFFFFF, out);  // value bytes that are IAC, escaped
    client.setFlowControl(rfc2217::flowHardware, out);
    client.setFlowControl(rfc2217::inboundFlowXonXoff, out);
    client.setFlowControl(rfc2217::dtrRequest, out);  // not a flow control: ignored
    client.setLineStateMask(0x1E, out);
    client.setModemStateMask(0xFF, out);
    client.purge(rfc2217::purgeBoth, out);
    client.purge(7, out);  // no such buffer: ignored
    client.suspendFlow(out);
    client.resumeFlow(out);
    client.sendSignature("port 5", out);
    client.requestControl(rfc2217::dtrRequest, out);
    client.requestControl(rfc2217::dtrOn, out);  // not a request: ignored
    client.encodeData(Bytes{'x'}, out);

    Bytes data, reply;
    adapter.receive(out, data, reply);
    EXPECT_EQ(data, Bytes{'x'});
    const std::vector<Message> expected = {
        {5, 9, {}},   {5, 11, {}}, {5, 8, {}},  {5, 5, {}},   {5, 6, {}},  {2, 7, {}},        {3, 3, {}},
        {4, 2, {}},   {1, 0xFFFFFF, {}},        {5, 3, {}},   {5, 15, {}}, {10, 0x1E, {}},    {11, 0xFF, {}},
        {12, 3, {}},  {8, 0, {}},  {9, 0, {}},  {0, 0, "port 5"},          {5, 7, {}}};
    EXPECT_EQ(adapter.commands(), expected);
    // A bare flow command is exactly IAC SB 44 8 IAC SE.
    const Bytes suspend = {IAC, SB, optComPort, 8, IAC, SE};
    EXPECT_NE(std::search(out.begin(), out.end(), suspend.begin(), suspend.end()), out.end());

    // The adapter's answers, read back as the confirmed state.
    data.clear();
    out.clear();
    EXPECT_EQ(client.receive(reply, data, out),
              ClientProtocol::SettingsAcknowledged | ClientProtocol::MaskAcknowledged |
                  ClientProtocol::PurgeAcknowledged | ClientProtocol::Notified);
    const rfc2217::ServerState& server = client.server();
    EXPECT_EQ(server.dtr, true);
    EXPECT_EQ(server.rts, true);
    EXPECT_EQ(server.breakOn, false);
    EXPECT_EQ(server.dataSize, 7);
    EXPECT_EQ(server.parity, 3);
    EXPECT_EQ(server.stopSize, 2);
    EXPECT_EQ(server.baud, 0xFFFFFFu);
    EXPECT_EQ(server.outboundFlow, rfc2217::flowHardware);
    EXPECT_EQ(server.inboundFlow, rfc2217::inboundFlowXonXoff);
    EXPECT_EQ(server.lineStateMask, 0x1E);
    EXPECT_EQ(server.modemStateMask, 0xFF);
    EXPECT_EQ(server.purged, rfc2217::purgeBoth);
    // The lines loop back: DTR gives DSR and DCD, RTS gives CTS.
    EXPECT_EQ(server.modemState, rfc2217::modemCts | rfc2217::modemDsr | rfc2217::modemDcd);
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(out.empty());
}

// An adapter's every kind of answer and notification, with data among them.
Bytes everyServerMessage()
{
    Bytes s = {'<'};
    auto add = [&s](Bytes payload) { appendSubnegotiation(optComPort, payload, s); };
    add({100, 's', 'i', 'm'});
    add({101, 0, 0, 0x4B, 0});
    add({102, 7});
    add({103, 2});
    add({104, 1});
    add({105, 9});
    add({105, 3});
    add({106, rfc2217::lineBreak | rfc2217::lineParityError});
    s.push_back(0xFF);  // a data byte 0xFF, doubled
    s.push_back(0xFF);
    add({107, 0x30 | 0x01});  // CTS and DSR high, CTS changed
    add({107, 0x10});         // DSR fell, and the adapter forgot to say so
    add({107, 0x14});         // a ring ended
    add({109});
    add({108});
    add({110, 0x10});
    add({111, 0xF0});
    add({112, 1});
    add({100});  // the adapter asks for our signature, twice
    add({100});
    s.push_back('>');
    return s;
}

TEST(PortControlProtocol, ReadsEveryAnswerAndNotificationWhereverTheAdapterIsSplit)
{
    AdapterProtocol adapter;
    const ClientProtocol agreed = agreedClient(adapter);
    const Bytes stream = everyServerMessage();
    Bytes signatureAnswer;
    rfc2217::appendSignature(0, ClientProtocol::signature, signatureAnswer);
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); b += 3) {
            SCOPED_TRACE(testing::Message() << "split at " << a << " and " << b);
            ClientProtocol client = agreed;
            Bytes data, out;
            std::vector<Message> messages;
            unsigned events = 0;
            std::size_t from = 0;
            for (std::size_t cut : {a, b, stream.size()}) {
                events |= client.receive({stream.data() + from, cut - from}, data, out);
                messages.insert(messages.end(), client.messages().begin(), client.messages().end());
                from = cut;
            }
            ASSERT_EQ(data, (Bytes{'<', 0xFF, '>'}));
            ASSERT_EQ(out, signatureAnswer);  // answered once
            ASSERT_EQ(messages.size(), 18u);
            ASSERT_EQ(messages[0], (Message{100, 0, "sim"}));
            ASSERT_EQ(messages[1], (Message{101, 19200, {}}));
            ASSERT_EQ(events, ClientProtocol::SignatureReceived | ClientProtocol::SettingsAcknowledged |
                                  ClientProtocol::Notified | ClientProtocol::FlowSuspended |
                                  ClientProtocol::FlowResumed | ClientProtocol::MaskAcknowledged |
                                  ClientProtocol::PurgeAcknowledged);
            const rfc2217::ServerState& server = client.server();
            ASSERT_EQ(server.signature, "sim");
            ASSERT_EQ(server.dtr, false);
            ASSERT_EQ(server.outboundFlow, rfc2217::flowHardware);
            ASSERT_EQ(server.control, 3);
            ASSERT_EQ(server.modemState, 0x14);
            ASSERT_EQ(server.lineState, rfc2217::lineBreak | rfc2217::lineParityError);
            ASSERT_TRUE(server.flowSuspended);
            ASSERT_EQ(server.lineStateMask, 0x10);
            ASSERT_EQ(server.modemStateMask, 0xF0);
            ASSERT_EQ(server.purged, rfc2217::purgeReceive);
            ASSERT_EQ(server.counters.cts, 1u);
            ASSERT_EQ(server.counters.dsr, 1u);
            ASSERT_EQ(server.counters.ring, 1u);
            ASSERT_EQ(server.counters.dcd, 0u);
            ASSERT_EQ(server.counters.breaks, 1u);
            ASSERT_EQ(server.counters.parityErrors, 1u);
            ASSERT_EQ(server.counters.overruns, 0u);
        }
    }
}

TEST(PortControlProtocol, MalformedAndMisdirectedMessagesChangeNothing)
{
    AdapterProtocol adapter;
    ClientProtocol client = agreedClient(adapter);
    Bytes in;
    for (const Bytes& payload : std::vector<Bytes>{{101, 0, 0, 0x25},           // baud rate short of a byte
                                                   {107, 0x30, 0x30},           // two modem states in one
                                                   {105},                       // control without a value
                                                   {113, 1},                    // no such command
                                                   {5, 8},                      // a client's command
                                                   {108, 1, 2}})                // a suspend with a tail
        appendSubnegotiation(optComPort, payload, in);
    Bytes data, out;
    EXPECT_EQ(client.receive(in, data, out), ClientProtocol::NoEvent);
    EXPECT_TRUE(client.messages().empty());
    EXPECT_FALSE(client.server().modemState);
    EXPECT_FALSE(client.server().control);
    EXPECT_FALSE(client.server().flowSuspended);
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(out.empty());

    // A long signature is kept cut, and ours is never sent longer than the bound.
    Bytes longSignature(1 + 300, 'x');
    longSignature[0] = 100;
    client.receive(subnegotiation(longSignature), data, out);
    EXPECT_EQ(client.server().signature->size(), rfc2217::maxSignature);
    client.sendSignature(std::string(300, 'y'), out);
    EXPECT_EQ(out.size(), 3 + 1 + rfc2217::maxSignature + 2);
}

TEST(PortControlProtocol, TheProgramsSettingsReachEveryNewConnectionAndMomentaryCommandsDoNot)
{
    ClientProtocol client(true, SerialSettings{});
    Bytes out;
    // Made while no adapter is connected: nothing goes out yet.
    client.setBaudRate(4800, out);
    client.setDataSize(7, out);
    client.setParity(Parity::Odd, out);
    client.setFlowControl(rfc2217::flowXonXoff, out);
    client.setDtr(true, out);
    client.setRts(false, out);
    client.setModemStateMask(0xB0, out);
    client.setBreak(true, out);
    client.purge(rfc2217::purgeReceive, out);
    client.suspendFlow(out);
    EXPECT_TRUE(out.empty());

    const std::vector<Message> state = {{1, 4800, {}}, {2, 7, {}}, {3, 2, {}}, {4, 1, {}}, {5, 2, {}},
                                        {5, 8, {}},    {5, 12, {}}, {11, 0xB0, {}}};
    for (int connection = 0; connection < 2; ++connection) {
        SCOPED_TRACE(connection);
        AdapterProtocol adapter;
        std::vector<Message> received;
        Bytes offer, toClient, data;
        client.connected(offer);
        adapter.receive(offer, data, toClient);
        out.clear();
        client.receive(toClient, data, out);
        adapter.receive(out, data, toClient);
        EXPECT_EQ(adapter.commands(), state);
        EXPECT_EQ(adapter.settings().baud, 4800u);
    }
}

TEST(PortControlProtocol, ALineGoesOutOnlyWhenTheAdapterHasItAtAnotherLevel)
{
    ClientProtocol client(true, SerialSettings{.dtrRts = true});
    // What the adapter hears from the client's bytes that `act` makes until both are quiet.
    auto heard = [&](AdapterProtocol& adapter, auto&& act) {
        Bytes toAdapter;
        act(toAdapter);
        return negotiate(client, adapter, toAdapter).commands;
    };
    auto connect = [&](Bytes& out) { client.connected(out); };
    AdapterProtocol first;
    heard(first, connect);  // the settings bring DTR and RTS off
    EXPECT_EQ(heard(first,
                    [&](Bytes& out) {
                        client.setDtr(false, out);  // a program's TIOCMSET raising RTS alone
                        client.setRts(true, out);
                        client.setDtr(false, out);  // the same again: nothing
                        client.setRts(true, out);
                        client.setModemLines(false, out);  // a close lowers both, as it always did
                        client.setDtr(true, out);
                    }),
              (std::vector<Message>{{5, 11, {}}, {5, 9, {}}, {5, 12, {}}, {5, 8, {}}}));
    // A new connection hears both lines with the settings, and they are not repeated after.
    AdapterProtocol second;
    const std::vector<Message> replayed = heard(second, connect);
    ASSERT_GE(replayed.size(), 2u);
    EXPECT_EQ(std::vector<Message>(replayed.end() - 2, replayed.end()), (std::vector<Message>{{5, 8, {}}, {5, 12, {}}}));
    EXPECT_EQ(heard(second,
                    [&](Bytes& out) {
                        client.setDtr(true, out);
                        client.setRts(false, out);
                        client.setRts(true, out);
                    }),
              (std::vector<Message>{{5, 11, {}}}));
}

TEST(PortControlProtocol, TheAdapterNotifiesOnlyTheModemLinesItsMaskAsksFor)
{
    AdapterProtocol adapter(false, {.dcd = false});
    ClientProtocol client = agreedClient(adapter);
    auto exchange = [&](auto&& act) {
        Bytes out, data, reply;
        act(out);
        adapter.receive(out, data, reply);
        out.clear();
        client.receive(reply, data, out);
        std::vector<std::uint8_t> states;
        for (const Message& m : client.messages())
            if (m.code == 107)
                states.push_back(static_cast<std::uint8_t>(m.value));
        return states;
    };
    // Nothing is notified before the mask asks; the mask brings the levels as they
    // stand. It covers the change bits too: CTS and DSR with their deltas.
    EXPECT_TRUE(exchange([&](Bytes& out) { client.setDtr(false, out); }).empty());
    EXPECT_EQ(exchange([&](Bytes& out) { client.setModemStateMask(0x33, out); }), Bytes{0x10});
    EXPECT_EQ(exchange([&](Bytes& out) { client.setDtr(true, out); }), Bytes{0x30 | rfc2217::modemDeltaDsr});
    EXPECT_EQ(exchange([&](Bytes& out) {
                  client.setRts(false, out);
                  client.setDtr(false, out);
              }),
              (Bytes{0x20 | rfc2217::modemDeltaCts, rfc2217::modemDeltaDsr}));
    EXPECT_TRUE(exchange([&](Bytes& out) { client.setBreak(true, out); }).empty());  // no line changed
    EXPECT_TRUE(adapter.breakActive());
    // DCD is held low: a mask asking only for it hears nothing of DTR.
    EXPECT_EQ(exchange([&](Bytes& out) { client.setModemStateMask(0x80, out); }), Bytes{0x00});
    EXPECT_TRUE(exchange([&](Bytes& out) { client.setDtr(true, out); }).empty());
    EXPECT_EQ(client.server().counters.dsr, 2u);
    EXPECT_EQ(client.server().counters.cts, 1u);
}

}  // namespace
