// The TcpClient's side of Telnet with RFC 2217 on its own: an adapter's scripted
// bytes in, the data, answers and events out, wherever the reads split them.
#include "support/ProtocolPeers.h"

#include <gtest/gtest.h>

using namespace vsp;
using namespace vsp::telnet;

namespace {

using Bytes = std::vector<std::uint8_t>;

SerialSettings serial9600E72()
{
    SerialSettings serial;
    serial.baud = 9600;
    serial.dataBits = 7;
    serial.parity = Parity::Even;
    serial.stopBits = 2;
    serial.dtrRts = true;
    return serial;
}

// An adapter agreeing to our offers, asking for an option we refuse, then
// confirming the settings and notifying, with data (0xFF among it) in between.
Bytes adapterStream()
{
    Bytes s = {IAC, DO, optBinary, IAC, WILL, optBinary, 'a', IAC, IAC, IAC, DO, 24, IAC, DO, optComPort, 'b'};
    appendSubnegotiation(optComPort, Bytes{101, 0x00, 0x00, 0x25, 0x80}, s);
    appendSubnegotiation(optComPort, Bytes{102, 7}, s);
    appendSubnegotiation(optComPort, Bytes{103, 3}, s);
    s.push_back(0xFF);  // doubled below by hand: IAC IAC
    s.push_back(0xFF);
    appendSubnegotiation(optComPort, Bytes{104, 2}, s);
    appendSubnegotiation(optComPort, Bytes{106, 0x60}, s);
    s.push_back('z');
    return s;
}

// What the client answers to adapterStream(): the refusal of option 24, then the
// settings and the modem lines once port control is agreed.
Bytes expectedAnswers()
{
    Bytes out = {IAC, WONT, 24};
    rfc2217::appendSerialSettings(serial9600E72(), out);
    rfc2217::appendModemLines(true, out);
    return out;
}

struct Outcome {
    Bytes data;
    Bytes answers;
    unsigned events = 0;
};

// The stream cut into reads; `inPlace` decodes each read in its own buffer, as the
// connection does with its socket reads.
Outcome feed(ClientProtocol& protocol, const Bytes& stream, std::initializer_list<std::size_t> cuts, bool inPlace)
{
    Outcome o;
    std::vector<std::size_t> ends(cuts);
    ends.push_back(stream.size());
    std::size_t from = 0;
    for (std::size_t to : ends) {
        if (inPlace) {
            Bytes read(stream.begin() + static_cast<std::ptrdiff_t>(from), stream.begin() + static_cast<std::ptrdiff_t>(to));
            std::size_t dataSize = 0;
            o.events |= protocol.receiveInPlace(read, dataSize, o.answers);
            EXPECT_LE(dataSize, read.size());
            o.data.insert(o.data.end(), read.begin(), read.begin() + static_cast<std::ptrdiff_t>(dataSize));
        } else {
            o.events |= protocol.receive({stream.data() + from, to - from}, o.data, o.answers);
        }
        from = to;
    }
    return o;
}

ClientProtocol connectedClient()
{
    ClientProtocol protocol(true, serial9600E72());
    Bytes offer;
    protocol.connected(offer);
    protocol.setModemLines(true, offer);
    return protocol;
}

TEST(ClientProtocol, GivesTheSameDataAnswersAndEventsWhereverTheAdapterIsSplit)
{
    const Bytes stream = adapterStream();
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            for (const bool inPlace : {false, true}) {
                SCOPED_TRACE(testing::Message() << "split at " << a << " and " << b << (inPlace ? " in place" : ""));
                ClientProtocol protocol = connectedClient();
                const Outcome o = feed(protocol, stream, {a, b}, inPlace);
                ASSERT_EQ(o.data, (Bytes{'a', 0xFF, 'b', 0xFF, 'z'}));
                ASSERT_EQ(o.answers, expectedAnswers());
                ASSERT_EQ(o.events, ClientProtocol::PortControlSettled | ClientProtocol::SettingsAcknowledged |
                                        ClientProtocol::Notified);
                ASSERT_TRUE(protocol.portControl());
                ASSERT_EQ(protocol.server().baud, 9600u);
                ASSERT_EQ(protocol.server().parity, 3);
                ASSERT_EQ(protocol.server().stopSize, 2);
                ASSERT_EQ(protocol.server().lineState, 0x60);
            }
        }
    }
}

TEST(ClientProtocol, OffersOnEveryConnectionAndTheAdapterSideAgrees)
{
    ClientProtocol client(true, serial9600E72());
    AdapterProtocol adapter;
    Bytes offer, toClient, data;
    client.connected(offer);
    EXPECT_FALSE(client.settled());
    EXPECT_TRUE(negotiate(client, adapter, offer).data.empty());
    EXPECT_TRUE(client.settled());
    EXPECT_TRUE(client.portControl());
    EXPECT_EQ(adapter.settings().baud, 9600u);
    EXPECT_EQ(adapter.settings().controls, (Bytes{9, 12}));  // no application yet
    EXPECT_EQ(client.server().stopSize, 2);                   // the adapter's confirmation

    Bytes out;
    client.setBaudRate(115200, out);
    client.setModemLines(true, out);
    client.encodeData(Bytes{'x', 0xFF}, out);
    adapter.receive(out, data, toClient);
    EXPECT_EQ(adapter.settings().baud, 115200u);
    EXPECT_EQ(adapter.settings().controls, (Bytes{9, 12, 8, 11}));
    EXPECT_EQ(data, (Bytes{'x', 0xFF}));

    // A new connection starts over: offered again, nothing confirmed yet.
    out.clear();
    client.connected(out);
    EXPECT_EQ(out.size(), 15u);  // five offers
    EXPECT_FALSE(client.portControl());
    EXPECT_FALSE(client.server().baud.has_value());
}

TEST(ClientProtocol, AnAdapterWithoutPortControlGetsNoSettings)
{
    ClientProtocol client(true, serial9600E72());
    Bytes out, data;
    client.connected(out);
    out.clear();
    const unsigned events = client.receive(Bytes{IAC, DONT, optComPort}, data, out);
    EXPECT_EQ(events, ClientProtocol::PortControlSettled);
    EXPECT_TRUE(client.settled());
    EXPECT_FALSE(client.portControl());
    client.setBaudRate(4800, out);
    client.setModemLines(true, out);
    EXPECT_TRUE(out.empty());
    // A confirmation it never asked for is still only data-free noise.
    Bytes ack;
    appendSubnegotiation(optComPort, Bytes{101, 0, 0, 0x12, 0xC0}, ack);
    client.receive(ack, data, out);
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(out.empty());
}

TEST(ClientProtocol, RawTcpPassesEveryByteUnchangedBothWays)
{
    ClientProtocol raw(false, serial9600E72());
    Bytes out, data;
    raw.connected(out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(raw.settled());
    const Bytes bytes = {IAC, DO, optComPort, IAC, IAC, 'q'};
    EXPECT_EQ(raw.receive(bytes, data, out), ClientProtocol::NoEvent);
    EXPECT_EQ(data, bytes);
    EXPECT_TRUE(out.empty());
    Bytes read = bytes;
    std::size_t dataSize = 0;
    EXPECT_EQ(raw.receiveInPlace(read, dataSize, out), ClientProtocol::NoEvent);
    EXPECT_EQ(dataSize, bytes.size());
    EXPECT_EQ(read, bytes);
    raw.encodeData(bytes, out);
    EXPECT_EQ(out, bytes);
}

TEST(ClientProtocol, OnlyReadsWithoutAnyTelnetCommandCountAsPlainData)
{
    ClientProtocol client = connectedClient();
    Bytes data, out;
    EXPECT_TRUE(client.plainData(Bytes{'a', 'b', 0x00, 0xFE}));
    EXPECT_FALSE(client.plainData(Bytes{'a', IAC, IAC}));
    client.receive(Bytes{'a', IAC}, data, out);  // a command split across reads
    EXPECT_FALSE(client.plainData(Bytes{DO, 24}));
    client.receive(Bytes{DO, 24}, data, out);
    EXPECT_TRUE(client.plainData(Bytes{'c'}));
    client.receive(Bytes{IAC, SB, optComPort, 106}, data, out);  // inside a subnegotiation
    EXPECT_FALSE(client.plainData(Bytes{0x60}));
    EXPECT_EQ(data, Bytes{'a'});
    EXPECT_TRUE(ClientProtocol(false, {}).plainData(Bytes{IAC, DO, 1}));
}

TEST(ClientProtocol, AnswersNeverOutgrowTheRequestsThatCausedThem)
{
    ClientProtocol client = connectedClient();
    Bytes flood, data, out;
    for (int i = 0; i < 1000; ++i) {
        const std::uint8_t option = static_cast<std::uint8_t>(i % 256);
        flood.insert(flood.end(), {IAC, static_cast<std::uint8_t>(i % 2 ? DO : DONT), option, IAC,
                                   static_cast<std::uint8_t>(i % 3 ? WILL : WONT), option});
    }
    client.receive(flood, data, out);
    const Bytes settings = expectedAnswers();  // sent once, when BINARY/COM-PORT turn on
    EXPECT_LE(out.size(), flood.size() + settings.size());
    EXPECT_TRUE(data.empty());
}

}  // namespace
