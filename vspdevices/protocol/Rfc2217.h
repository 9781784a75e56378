// RFC 2217 (Telnet COM-PORT-OPTION): the client's port settings as subnegotiations,
// and the server's notifications and answers read back.
#pragma once

#include "vspdevices_initstring.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vsp {
// The serial settings as the public initialization string names them (as InitString.h).
using vspdevices::Parity;
using vspdevices::SerialSettings;
}  // namespace vsp

namespace vsp::rfc2217 {

// Client-to-server command codes; the server answers with the code + 100.
enum Command : std::uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t serverOffset = 100;

// SET-CONTROL values. The "request" values ask the server for the current state,
// which it answers with one of the others.
inline constexpr std::uint8_t flowRequest = 0;
inline constexpr std::uint8_t flowNone = 1;
inline constexpr std::uint8_t flowXonXoff = 2;
inline constexpr std::uint8_t flowHardware = 3;
inline constexpr std::uint8_t breakRequest = 4;
inline constexpr std::uint8_t breakOn = 5;
inline constexpr std::uint8_t breakOff = 6;
inline constexpr std::uint8_t dtrRequest = 7;
inline constexpr std::uint8_t dtrOn = 8;
inline constexpr std::uint8_t dtrOff = 9;
inline constexpr std::uint8_t rtsRequest = 10;
inline constexpr std::uint8_t rtsOn = 11;
inline constexpr std::uint8_t rtsOff = 12;
inline constexpr std::uint8_t inboundFlowRequest = 13;
inline constexpr std::uint8_t inboundFlowNone = 14;
inline constexpr std::uint8_t inboundFlowXonXoff = 15;
inline constexpr std::uint8_t inboundFlowHardware = 16;
inline constexpr std::uint8_t flowDcd = 17;
inline constexpr std::uint8_t flowDtr = 18;
inline constexpr std::uint8_t flowDsr = 19;

// PURGE-DATA values: the server's receive buffer (data from the serial line not yet
// sent to the client), its transmit buffer (data from the client not yet sent on the
// line), or both.
inline constexpr std::uint8_t purgeReceive = 1;
inline constexpr std::uint8_t purgeTransmit = 2;
inline constexpr std::uint8_t purgeBoth = 3;

// NOTIFY-MODEMSTATE bits: the lines' levels in the high nibble, what changed since
// the last notification in the low one.
inline constexpr std::uint8_t modemDeltaCts = 0x01;
inline constexpr std::uint8_t modemDeltaDsr = 0x02;
inline constexpr std::uint8_t modemRiTrailingEdge = 0x04;
inline constexpr std::uint8_t modemDeltaDcd = 0x08;
inline constexpr std::uint8_t modemCts = 0x10;
inline constexpr std::uint8_t modemDsr = 0x20;
inline constexpr std::uint8_t modemRi = 0x40;
inline constexpr std::uint8_t modemDcd = 0x80;

// NOTIFY-LINESTATE bits.
inline constexpr std::uint8_t lineDataReady = 0x01;
inline constexpr std::uint8_t lineOverrun = 0x02;
inline constexpr std::uint8_t lineParityError = 0x04;
inline constexpr std::uint8_t lineFramingError = 0x08;
inline constexpr std::uint8_t lineBreak = 0x10;
inline constexpr std::uint8_t lineTransmitHoldingEmpty = 0x20;
inline constexpr std::uint8_t lineTransmitShiftEmpty = 0x40;
inline constexpr std::uint8_t lineTimeout = 0x80;

// The longest signature text kept or sent.
inline constexpr std::size_t maxSignature = 64;

// The wire value of a parity: none 1, odd 2, even 3, mark 4, space 5.
std::uint8_t parityCode(Parity parity);

void appendBaudRate(std::uint32_t baud, std::vector<std::uint8_t>& out);
void appendCommand(Command command, std::uint8_t value, std::vector<std::uint8_t>& out);
// Baud rate, data size, parity and stop size, in that order.
void appendSerialSettings(const SerialSettings& serial, std::vector<std::uint8_t>& out);
// DTR and RTS raised (SET-CONTROL 8 and 11) or dropped (9 and 12).
void appendModemLines(bool raised, std::vector<std::uint8_t>& out);
// SIGNATURE with a text (cut to maxSignature); an empty one asks for the peer's.
void appendSignature(std::uint8_t code, std::string_view text, std::vector<std::uint8_t>& out);
// A command without a value (FLOWCONTROL-SUSPEND / -RESUME).
void appendBare(std::uint8_t code, std::vector<std::uint8_t>& out);
// The 32-bit big-endian value of SET-BAUDRATE.
std::uint32_t readBaud(std::span<const std::uint8_t, 4> bytes);

// One COM-PORT-OPTION message as read: its code (as sent, server codes with the
// offset), its value (the baud rate for SET-BAUDRATE, 0 for a bare command) and the
// text of a SIGNATURE.
struct Message {
    std::uint8_t code = 0;
    std::uint32_t value = 0;
    std::string text;
    bool operator==(const Message&) const = default;
};
// Reads a COM-PORT-OPTION payload of the given direction's codes (0-12, or 100-112
// with fromServer); nullopt for an unknown code or a malformed length.
std::optional<Message> parse(std::span<const std::uint8_t> payload, bool fromServer);
// A message for a log: "SET-CONTROL 8 (DTR on)", "SET-BAUDRATE 9600".
std::string describe(const Message& message);

// How often each modem line changed and the error conditions the server reported,
// counted over every notification (as a serial driver's interrupt counters).
struct Counters {
    std::uint32_t cts = 0, dsr = 0, ring = 0, dcd = 0;
    std::uint32_t breaks = 0, overruns = 0, parityErrors = 0, framingErrors = 0;
};

// What the server last told: its notifications and the settings it confirmed.
struct ServerState {
    std::optional<std::uint8_t> lineState;
    std::optional<std::uint8_t> modemState;
    std::optional<std::uint32_t> baud;
    std::optional<std::uint8_t> dataSize;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> stopSize;
    std::optional<std::uint8_t> control;  // the last SET-CONTROL value confirmed
    // The confirmed state by kind of SET-CONTROL value.
    std::optional<bool> dtr, rts, breakOn;
    std::optional<std::uint8_t> outboundFlow;  // flowNone ... flowHardware, flowDcd ... flowDsr
    std::optional<std::uint8_t> inboundFlow;   // inboundFlowNone ... inboundFlowHardware
    std::optional<std::uint8_t> lineStateMask;
    std::optional<std::uint8_t> modemStateMask;
    std::optional<std::uint8_t> purged;  // the last PURGE-DATA confirmed
    std::optional<std::string> signature;
    bool flowSuspended = false;  // the server asked us to stop sending data
    Counters counters;

    // Takes in the payload of a COM-PORT-OPTION subnegotiation; the message, or
    // nullopt when it is not a server message this side understands (it is then ignored).
    std::optional<Message> apply(std::span<const std::uint8_t> payload);
};

}  // namespace vsp::rfc2217
