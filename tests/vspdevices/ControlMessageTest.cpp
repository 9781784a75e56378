// The control channel's records: what one side encodes the other reads back, and
// every record that is not exactly right is refused (it comes from another process).
#include "vspdevices_control_diagnostics.h"

#include <array>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

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
                            Request{Op::SetFraming, 5, paritySpace}, Request{Op::SetFraming, 8, parityNone},
                            Request{Op::Watch, 0, 0}, Request{Op::Drain, 0, 0}, Request{Op::Monitor, 0, 0},
                            Request{Op::Tls, 0, 0}, Request{Op::Query, 0, 0, 0xFFEEDDCCBBAA9988}}) {
        const auto back = roundTrip(r);
        ASSERT_TRUE(back.has_value()) << static_cast<int>(r.op);
        EXPECT_EQ(back->op, r.op);
        EXPECT_EQ(back->a, r.a);
        EXPECT_EQ(back->b, r.b);
        EXPECT_EQ(back->terminal, r.terminal);
    }
    Reply reply{Op::WaitLines, Status::Gone, lineDtr | lineCts | lineRi, {1, 2, 3, 0xFFFFFFFF}, 7, parityMark,
                replyOutputPending, 0x8877665544332211};
    std::uint8_t bytes[recordSize];
    encode(reply, bytes);
    const auto back = decodeReply(bytes, sizeof bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->status, Status::Gone);
    EXPECT_EQ(back->terminal, reply.terminal);  // the terminal the channel serves, all 64 bits
    EXPECT_EQ(back->lines, reply.lines);
    EXPECT_EQ(back->counters.dcd, 0xFFFFFFFFu);
    EXPECT_EQ(back->dataBits, 7);
    EXPECT_EQ(back->parity, parityMark);
    EXPECT_EQ(back->flags, replyOutputPending);
}

TEST(ControlMessage, RefusesValuesOutOfRangeAndAnyRecordNotExactlyRight)
{
    for (const Request r : {Request{Op::Query, 1, 0}, Request{Op::SetLines, 0, 0}, Request{Op::SetLines, lineCts, lineCts},
                            Request{Op::SetLines, lineDtr, lineRts}, Request{Op::WaitLines, 0, 0},
                            Request{Op::WaitLines, lineDtr, 0}, Request{Op::Break, breakTimed, maxBreakMs + 1},
                            Request{Op::Break, breakOn, 5}, Request{Op::Break, 3, 0}, Request{Op::SetFraming, 4, 0},
                            Request{Op::SetFraming, 9, 0}, Request{Op::SetFraming, 8, paritySpace + 1},
                            Request{Op::Diagnose, 1, 0}, Request{Op::Diagnose, 0, 1}, Request{Op::Drain, 1, 0},
                            Request{Op::Watch, 0, 1}, Request{Op::Monitor, 1, 0}, Request{Op::Tls, 0, 1},
                            Request{static_cast<Op>(0), 0, 0}, Request{static_cast<Op>(11), 0, 0}})
        EXPECT_FALSE(roundTrip(r).has_value()) << static_cast<int>(r.op) << " " << r.a << " " << r.b;

    std::uint8_t good[recordSize];
    encode(Request{Op::Query, 0, 0}, good);
    ASSERT_TRUE(decodeRequest(good, sizeof good).has_value());
    EXPECT_FALSE(decodeRequest(good, sizeof good - 1).has_value());
    for (std::size_t at : {0u, 4u, 5u, 7u, 24u, 31u, 39u}) {  // magic, version, status, reserved bytes
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
    reply.dataBits = 8;
    reply.status = Status::Busy;
    encode(reply, bytes);
    ASSERT_TRUE(decodeReply(bytes, sizeof bytes).has_value());
    for (const auto [at, value] : {std::pair{7u, 5}, {30u, 2}, {31u, 1}}) {  // a status past Busy, unknown flags, reserved byte
        std::uint8_t bad[recordSize];
        std::copy(std::begin(bytes), std::end(bytes), bad);
        bad[at] = static_cast<std::uint8_t>(value);
        EXPECT_FALSE(decodeReply(bad, sizeof bad).has_value()) << at;
    }
}

Diagnostics failedConnection()
{
    Diagnostics d;
    d.state = 7;  // retry-wait
    d.errorKind = 1;
    d.portHeld = true;
    d.reconnects = 0xFFFFFFFF;
    d.bytesToAdapter = 0x0102030405060708;
    d.bytesFromAdapter = 1;
    d.bytesDropped = 2;
    d.lastErrorTimeMs = 1765000000123;
    d.upTimeMs = 0;
    setText(d, "connection: Connection refused", 30);
    return d;
}

std::array<std::uint8_t, diagnosticsRecordSize> bytesOf(const Diagnostics& d)
{
    std::uint8_t bytes[diagnosticsRecordSize];
    encode(d, bytes);
    std::array<std::uint8_t, diagnosticsRecordSize> out;
    std::copy(std::begin(bytes), std::end(bytes), out.begin());
    return out;
}

TEST(ControlMessage, DiagnosticsReadBackAsSentWithTheirTextCleanedOnTheWayIn)
{
    const Diagnostics sent = failedConnection();
    const auto bytes = bytesOf(sent);
    const auto back = decodeDiagnostics(bytes.data(), bytes.size());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->state, 7);
    EXPECT_EQ(back->reconnects, 0xFFFFFFFFu);
    EXPECT_EQ(back->bytesToAdapter, 0x0102030405060708u);
    EXPECT_EQ(back->lastErrorTimeMs, 1765000000123u);
    EXPECT_TRUE(back->portHeld);
    EXPECT_STREQ(back->lastErrorText, "connection: Connection refused");

    // A tab, an escape and bytes that are no UTF-8 become '?'; whole characters stay.
    Diagnostics d = failedConnection();
    const char odd[] = "h\xc3\xa9\tx\x1b[2J\xff\xc0\x80\xed\xa0\x80.";
    setText(d, odd, sizeof odd - 1);
    EXPECT_STREQ(d.lastErrorText, "h\xc3\xa9?x?[2J??????.");
    EXPECT_TRUE(decodeDiagnostics(bytesOf(d).data(), diagnosticsRecordSize).has_value());
    // A long text is cut before the last whole character that fits.
    std::string accents;
    for (int i = 0; i < 60; ++i)
        accents += "\xc3\xa9";
    setText(d, accents.data(), accents.size());
    EXPECT_EQ(std::string(d.lastErrorText), accents.substr(0, 94));
    EXPECT_TRUE(decodeDiagnostics(bytesOf(d).data(), diagnosticsRecordSize).has_value());
}

TEST(ControlMessage, DiagnosticsNotExactlyRightAreRefused)
{
    const auto good = bytesOf(failedConnection());
    ASSERT_TRUE(decodeDiagnostics(good.data(), good.size()).has_value());
    EXPECT_FALSE(decodeDiagnostics(good.data(), good.size() - 1).has_value());
    const auto refusedWith = [&](std::size_t at, std::uint8_t value) {
        auto bad = good;
        bad[at] = value;
        return !decodeDiagnostics(bad.data(), bad.size()).has_value();
    };
    EXPECT_TRUE(refusedWith(6, static_cast<std::uint8_t>(Op::Query)));    // not a diagnostics record
    EXPECT_TRUE(refusedWith(7, static_cast<std::uint8_t>(Status::Gone)));
    EXPECT_TRUE(refusedWith(8, maxConnectionState + 1));                    // state
    EXPECT_TRUE(refusedWith(9, maxErrorKind + 1));                          // error kind
    EXPECT_TRUE(refusedWith(10, 2));                                        // port held
    EXPECT_TRUE(refusedWith(11, 1));                                        // reserved
    EXPECT_TRUE(refusedWith(diagnosticsRecordSize - 1, 1));                 // reserved
    EXPECT_TRUE(refusedWith(47, 0x40));                                     // an error time past any clock
    EXPECT_TRUE(refusedWith(56 + 3, 0x07));                                 // a control character
    EXPECT_TRUE(refusedWith(56 + 3, 0xFF));                                 // no UTF-8
    EXPECT_TRUE(refusedWith(56 + 60, 'x'));                                 // something after the text's end
    auto unterminated = good;
    std::fill(unterminated.begin() + 56, unterminated.begin() + 56 + diagnosticsTextSize, 'x');
    EXPECT_FALSE(decodeDiagnostics(unterminated.data(), unterminated.size()).has_value());

    Diagnostics noError = failedConnection();
    noError.errorKind = 0;  // yet a text and a time
    EXPECT_FALSE(decodeDiagnostics(bytesOf(noError).data(), diagnosticsRecordSize).has_value());
    Diagnostics unavailable;
    unavailable.status = Status::Unavailable;
    EXPECT_TRUE(decodeDiagnostics(bytesOf(unavailable).data(), diagnosticsRecordSize).has_value());
    unavailable.bytesFromAdapter = 1;  // no connection, yet bytes
    EXPECT_FALSE(decodeDiagnostics(bytesOf(unavailable).data(), diagnosticsRecordSize).has_value());
}

// The TLS record: read back as sent; one byte not right in any field, refused.
TEST(ControlMessage, TlsRecordsReadBackAsSentAndAnyWrongByteIsRefused)
{
    Tls sent;
    sent.tls = true;
    std::strcpy(sent.version, "TLSv1.3");
    std::strcpy(sent.subject, "CN=adapter \xc3\xa9,O=Lab");
    std::memset(sent.fingerprint, 'a', 64);
    std::uint8_t good[tlsRecordSize];
    encode(sent, good);
    const auto back = decodeTls(good, sizeof good);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->tls);
    EXPECT_STREQ(back->version, sent.version);
    EXPECT_STREQ(back->subject, sent.subject);
    EXPECT_EQ(std::string(back->fingerprint), std::string(64, 'a'));
    EXPECT_FALSE(decodeTls(good, sizeof good - 1).has_value());
    const std::pair<std::size_t, std::uint8_t> wrong[] = {
        {6, static_cast<std::uint8_t>(Op::Diagnose)}, {7, static_cast<std::uint8_t>(Status::Gone)}, {8, 2}, {9, 1},
        {16 + 15, 'x'},   // something after the version's end
        {32 + 3, 0x1b},   // a control character in the subject
        {32 + 14, 0xFF},  // no UTF-8
        {128 + 5, 'A'},   // a fingerprint's digit not lowercase hex
        {128 + 64, '0'},  // 65 digits
        {128 + 63, 0},    // 63 digits
    };
    for (const auto& [at, value] : wrong) {
        std::uint8_t bad[tlsRecordSize];
        std::memcpy(bad, good, sizeof bad);
        bad[at] = value;
        EXPECT_FALSE(decodeTls(bad, sizeof bad).has_value()) << "byte " << at;
    }
    Tls none;  // no TLS: no texts
    none.status = Status::Unavailable;
    encode(none, good);
    EXPECT_TRUE(decodeTls(good, sizeof good).has_value());
    std::strcpy(none.version, "TLSv1.3");
    encode(none, good);
    EXPECT_FALSE(decodeTls(good, sizeof good).has_value());
}

}  // namespace
