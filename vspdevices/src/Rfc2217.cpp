#include "Rfc2217.h"

#include "Telnet.h"

namespace vsp::rfc2217 {

std::uint8_t parityCode(Parity parity)
{
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(parity) + 1);
}

void appendBaudRate(std::uint32_t baud, std::vector<std::uint8_t>& out)
{
    const std::uint8_t payload[] = {SetBaudRate, static_cast<std::uint8_t>(baud >> 24),
                                    static_cast<std::uint8_t>(baud >> 16), static_cast<std::uint8_t>(baud >> 8),
                                    static_cast<std::uint8_t>(baud)};
    telnet::appendSubnegotiation(telnet::optComPort, payload, out);
}

void appendCommand(Command command, std::uint8_t value, std::vector<std::uint8_t>& out)
{
    const std::uint8_t payload[] = {command, value};
    telnet::appendSubnegotiation(telnet::optComPort, payload, out);
}

void appendSerialSettings(const SerialSettings& serial, std::vector<std::uint8_t>& out)
{
    appendBaudRate(serial.baud, out);
    appendCommand(SetDataSize, serial.dataBits, out);
    appendCommand(SetParity, parityCode(serial.parity), out);
    appendCommand(SetStopSize, serial.stopBits, out);
}

void appendModemLines(bool raised, std::vector<std::uint8_t>& out)
{
    appendCommand(SetControl, raised ? dtrOn : dtrOff, out);
    appendCommand(SetControl, raised ? rtsOn : rtsOff, out);
}

bool ServerState::apply(std::span<const std::uint8_t> payload)
{
    if (payload.empty() || payload[0] < serverOffset)
        return false;
    const auto code = static_cast<std::uint8_t>(payload[0] - serverOffset);
    if (code == SetBaudRate) {
        if (payload.size() != 5)
            return false;
        baud = static_cast<std::uint32_t>(payload[1]) << 24 | static_cast<std::uint32_t>(payload[2]) << 16 |
               static_cast<std::uint32_t>(payload[3]) << 8 | payload[4];
        return true;
    }
    if (payload.size() != 2)
        return code == Signature;
    const std::uint8_t value = payload[1];
    switch (code) {
    case SetDataSize: dataSize = value; return true;
    case SetParity: parity = value; return true;
    case SetStopSize: stopSize = value; return true;
    case SetControl: control = value; return true;
    case NotifyLineState: lineState = value; return true;
    case NotifyModemState: modemState = value; return true;
    default: return code == Signature;
    }
}

}  // namespace vsp::rfc2217
