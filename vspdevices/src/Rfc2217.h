// RFC 2217 (Telnet COM-PORT-OPTION): the client's port settings as subnegotiations,
// and the server's notifications and answers read back.
#pragma once

#include "InitString.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

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

// SET-CONTROL values for the modem lines.
inline constexpr std::uint8_t dtrOn = 8;
inline constexpr std::uint8_t dtrOff = 9;
inline constexpr std::uint8_t rtsOn = 11;
inline constexpr std::uint8_t rtsOff = 12;

// The wire value of a parity: none 1, odd 2, even 3, mark 4, space 5.
std::uint8_t parityCode(Parity parity);

void appendBaudRate(std::uint32_t baud, std::vector<std::uint8_t>& out);
void appendCommand(Command command, std::uint8_t value, std::vector<std::uint8_t>& out);
// Baud rate, data size, parity and stop size, in that order.
void appendSerialSettings(const SerialSettings& serial, std::vector<std::uint8_t>& out);
// DTR and RTS raised (SET-CONTROL 8 and 11) or dropped (9 and 12).
void appendModemLines(bool raised, std::vector<std::uint8_t>& out);

// What the server last told: its notifications and the settings it confirmed.
struct ServerState {
    std::optional<std::uint8_t> lineState;
    std::optional<std::uint8_t> modemState;
    std::optional<std::uint32_t> baud;
    std::optional<std::uint8_t> dataSize;
    std::optional<std::uint8_t> parity;
    std::optional<std::uint8_t> stopSize;
    std::optional<std::uint8_t> control;

    // Takes in the payload of a COM-PORT-OPTION subnegotiation; false when it is not
    // a server message this side understands (it is then ignored).
    bool apply(std::span<const std::uint8_t> payload);
};

}  // namespace vsp::rfc2217
