#include "AdapterProtocol.h"
#include "Rfc2217.h"
#include "Telnet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>

using namespace vsp;
using namespace vsp::telnet;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A stream mixing data (0xFF above all), negotiations, a subnegotiation holding an
// escaped IAC, and a bare command.
Bytes sampleStream()
{
    Bytes s = {'a', IAC, IAC, 'b', IAC, DO, optBinary, 0x00, 0xFE};
    appendSubnegotiation(optComPort, Bytes{rfc2217::SetBaudRate + 100, 0x00, 0x00, 0xFF, 0xFF}, s);
    s.insert(s.end(), {IAC, NOP, IAC, WILL, optComPort, 'z', IAC, IAC});
    return s;
}

void expectSampleDecoded(const Bytes& data, const std::vector<Event>& events)
{
    EXPECT_EQ(data, (Bytes{'a', 0xFF, 'b', 0x00, 0xFE, 'z', 0xFF}));
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, Event::Kind::Negotiation);
    EXPECT_EQ(events[0].command, DO);
    EXPECT_EQ(events[1].kind, Event::Kind::Subnegotiation);
    EXPECT_EQ(events[1].payload, (Bytes{101, 0x00, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(events[2].kind, Event::Kind::Command);
    EXPECT_EQ(events[2].command, NOP);
    EXPECT_EQ(events[3].option, optComPort);
}

// Decodes `wire` in place in reads of random sizes up to `maxRead`, each read in its
// own buffer as a socket read leaves it; only the front the decoder reports counts.
Bytes decodeInReads(Decoder& decoder, const Bytes& wire, std::mt19937& random, std::size_t maxRead, std::vector<Event>& events)
{
    Bytes got;
    for (std::size_t at = 0; at < wire.size();) {
        const std::size_t size = std::min<std::size_t>(1 + random() % maxRead, wire.size() - at);
        Bytes read(wire.begin() + static_cast<std::ptrdiff_t>(at), wire.begin() + static_cast<std::ptrdiff_t>(at + size));
        const std::size_t kept = decoder.decodeInPlace(read, events);
        EXPECT_LE(kept, read.size());
        got.insert(got.end(), read.begin(), read.begin() + static_cast<std::ptrdiff_t>(kept));
        at += size;
    }
    return got;
}

TEST(TelnetDecoder, GivesTheSameResultWhereverTheStreamIsSplitCopyingOrInPlace)
{
    const Bytes stream = sampleStream();
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            for (const bool inPlace : {false, true}) {
                SCOPED_TRACE(testing::Message() << "split at " << a << " and " << b << (inPlace ? " in place" : ""));
                Decoder decoder;
                Bytes data;
                std::vector<Event> events;
                for (auto [from, to] : {std::pair{std::size_t{0}, a}, {a, b}, {b, stream.size()}}) {
                    if (!inPlace) {
                        decoder.decode({stream.data() + from, to - from}, data, events);
                        continue;
                    }
                    // Each read in its own buffer; only the front the decoder reports may count.
                    Bytes read(stream.begin() + static_cast<std::ptrdiff_t>(from), stream.begin() + static_cast<std::ptrdiff_t>(to));
                    const std::size_t kept = decoder.decodeInPlace(read, events);
                    ASSERT_LE(kept, read.size());
                    data.insert(data.end(), read.begin(), read.begin() + static_cast<std::ptrdiff_t>(kept));
                }
                expectSampleDecoded(data, events);
            }
        }
    }
}

TEST(TelnetDecoder, LongStreamsDenseWithIacSurviveEscapingAndDecodingInPlace)
{
    // Runs of every length between 0xFF bytes, doubled 0xFF at read ends, reads of
    // odd sizes: what one side escapes the other gets back byte for byte.
    std::mt19937 random(12);
    Bytes sent(200000);
    for (std::uint8_t& byte : sent)
        byte = random() % 8 == 0 ? IAC : static_cast<std::uint8_t>(random());
    Bytes wire;
    for (std::size_t at = 0; at < sent.size(); at += 1000)  // escaped piece by piece, as writes go
        escape({sent.data() + at, std::min<std::size_t>(1000, sent.size() - at)}, wire);
    EXPECT_EQ(wire.size(), sent.size() + static_cast<std::size_t>(std::count(sent.begin(), sent.end(), IAC)));

    Decoder decoder;
    std::vector<Event> events;
    const Bytes got = decodeInReads(decoder, wire, random, 4099, events);
    EXPECT_TRUE(events.empty());
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
}

// Events as text, so two decodings compare whole and a difference prints readably.
std::vector<std::string> describe(const std::vector<Event>& events)
{
    std::vector<std::string> out;
    for (const Event& e : events) {
        std::string text = std::to_string(static_cast<int>(e.kind)) + ":" + std::to_string(e.command) + ":" +
                           std::to_string(e.option) + ":";
        for (const std::uint8_t byte : e.payload)
            text += std::to_string(byte) + ",";
        out.push_back(text);
    }
    return out;
}

TEST(TelnetDecoder, LargeReadsDecodeAsByteByByteWhateverTheMixOfDataAndCommands)
{
    // Large reads take the 64-byte block path; a byte at a time never does. Data
    // with runs of 0xFF of every length (odd runs too, so pairs straddle blocks)
    // and commands, negotiations and subnegotiations at every offset of a block.
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 random(seed);
        const unsigned density = 2 + seed % 7;  // one 0xFF in 2 ... 8 data bytes
        Bytes wire;
        while (wire.size() < 30000) {
            Bytes data(random() % 150);
            for (std::uint8_t& byte : data)
                byte = random() % density == 0 ? IAC : static_cast<std::uint8_t>(random() % 255);
            escape(data, wire);
            switch (random() % 12) {
            case 0: wire.insert(wire.end(), {IAC, NOP}); break;
            case 1: wire.insert(wire.end(), {IAC, static_cast<std::uint8_t>(WILL + random() % 4), 44}); break;
            case 2: appendSubnegotiation(optComPort, Bytes{107, IAC, 1, IAC}, wire); break;
            default: break;
            }
        }
        Decoder reference;
        Bytes expected;
        std::vector<Event> expectedEvents;
        for (const std::uint8_t byte : wire)
            reference.decode({&byte, 1}, expected, expectedEvents);

        Decoder decoder;
        std::vector<Event> events;
        const Bytes got = decodeInReads(decoder, wire, random, 3000, events);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected);
        EXPECT_EQ(describe(events), describe(expectedEvents));
    }
}

TEST(TelnetDecoder, EscapeRoundTripsEveryByteAndLongSubnegotiationsAreCut)
{
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    Bytes wire;
    escape(all, wire);
    EXPECT_EQ(wire.size(), 257u);
    Decoder decoder;
    Bytes data;
    std::vector<Event> events;
    decoder.decode(wire, data, events);
    EXPECT_EQ(data, all);

    Bytes longSub(1000, 'x');
    wire.clear();
    appendSubnegotiation(optComPort, longSub, wire);
    wire.push_back('!');
    data.clear();
    decoder.decode(wire, data, events);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].payload.size(), Decoder::maxSubnegotiation);
    EXPECT_EQ(data, Bytes{'!'});
}

TEST(TelnetNegotiator, RefusesUnknownOptionsAndNeverLoops)
{
    Negotiator client({optBinary, optSuppressGoAhead, optComPort}, {optBinary, optSuppressGoAhead});
    Bytes out;
    client.receive(DO, 24, out);  // terminal type: refused
    EXPECT_EQ(out, (Bytes{IAC, WONT, 24}));
    out.clear();
    client.receive(DONT, 24, out);  // already off: no answer
    client.receive(WONT, 1, out);
    EXPECT_TRUE(out.empty());

    client.requestLocal(optComPort, out);
    EXPECT_EQ(out, (Bytes{IAC, WILL, optComPort}));
    out.clear();
    client.receive(DO, optComPort, out);  // the answer to our request: no reply
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(client.local(optComPort), Negotiator::State::Yes);
    client.receive(DO, optComPort, out);  // repeated: still no reply
    EXPECT_TRUE(out.empty());
}

// Hands each side's three-byte negotiations to the other until both fall silent.
int exchange(Negotiator& a, Negotiator& b, Bytes toB)
{
    int rounds = 0;
    for (Bytes toA; !toB.empty() && rounds < 20; ++rounds) {
        toA.clear();
        for (std::size_t i = 0; i + 3 <= toB.size(); i += 3)
            b.receive(toB[i + 1], toB[i + 2], toA);
        toB.clear();
        for (std::size_t i = 0; i + 3 <= toA.size(); i += 3)
            a.receive(toA[i + 1], toA[i + 2], toB);
    }
    return rounds;
}

TEST(TelnetNegotiator, ClientAndAdapterSettleWithEveryOfferAnswered)
{
    Negotiator client({optBinary, optSuppressGoAhead, optComPort}, {optBinary, optSuppressGoAhead});
    Negotiator adapter({optBinary, optSuppressGoAhead}, {optBinary, optSuppressGoAhead});  // no port control
    Bytes offers;
    client.requestLocal(optBinary, offers);
    client.requestRemote(optBinary, offers);
    client.requestLocal(optComPort, offers);
    client.requestRemote(optSuppressGoAhead, offers);
    EXPECT_LT(exchange(client, adapter, offers), 3);
    EXPECT_EQ(client.local(optBinary), Negotiator::State::Yes);
    EXPECT_EQ(client.remote(optBinary), Negotiator::State::Yes);
    EXPECT_EQ(client.remote(optSuppressGoAhead), Negotiator::State::Yes);
    EXPECT_EQ(client.local(optComPort), Negotiator::State::No);  // refused, and settled
}

TEST(Rfc2217, SettingsAreSubnegotiationsWithIacInValuesDoubled)
{
    Bytes out;
    rfc2217::appendBaudRate(0x0001C2FF, out);  // a value byte equal to IAC
    EXPECT_EQ(out, (Bytes{IAC, SB, optComPort, 1, 0x00, 0x01, 0xC2, 0xFF, 0xFF, IAC, SE}));
    out.clear();
    SerialSettings serial;
    serial.baud = 9600;
    serial.dataBits = 7;
    serial.parity = Parity::Even;
    serial.stopBits = 2;
    rfc2217::appendSerialSettings(serial, out);
    rfc2217::appendModemLines(true, out);

    AdapterProtocol adapter;
    Bytes data;
    Bytes reply;
    Bytes offer = {IAC, WILL, optComPort};
    adapter.receive(offer, data, reply);
    EXPECT_EQ(reply, (Bytes{IAC, DO, optComPort}));
    adapter.receive(out, data, reply);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(adapter.settings().baud, 9600u);
    EXPECT_EQ(adapter.settings().dataSize, 7);
    EXPECT_EQ(adapter.settings().parity, 3);  // even
    EXPECT_EQ(adapter.settings().stopSize, 2);
    EXPECT_EQ(adapter.settings().controls, (Bytes{8, 11}));

    rfc2217::ServerState state;
    EXPECT_TRUE(state.apply(Bytes{106, 0x60}));
    EXPECT_TRUE(state.apply(Bytes{101, 0, 0, 0x25, 0x80}));
    EXPECT_FALSE(state.apply(Bytes{101, 0}));
    EXPECT_FALSE(state.apply(Bytes{}));
    EXPECT_EQ(state.lineState, 0x60);
    EXPECT_EQ(state.baud, 9600u);
}

}  // namespace
