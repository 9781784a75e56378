#include "AdapterProtocol.h"

#include "Rfc2217.h"

namespace vsp {
namespace {
std::vector<std::uint8_t> remoteOptions(bool refuseComPort)
{
    std::vector<std::uint8_t> options{telnet::optBinary, telnet::optSuppressGoAhead};
    if (!refuseComPort)
        options.push_back(telnet::optComPort);
    return options;
}
}  // namespace

AdapterProtocol::AdapterProtocol(bool refuseComPort)
    : negotiator_({telnet::optBinary, telnet::optSuppressGoAhead}, remoteOptions(refuseComPort))
{
}

bool AdapterProtocol::comPortEnabled() const
{
    return negotiator_.remote(telnet::optComPort) == telnet::Negotiator::State::Yes;
}

void AdapterProtocol::receive(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data,
                              std::vector<std::uint8_t>& reply)
{
    events_.clear();
    decoder_.decode(input, data, events_);
    for (const telnet::Event& event : events_) {
        if (event.kind == telnet::Event::Kind::Negotiation)
            negotiator_.receive(event.command, event.option, reply);
        else if (event.kind == telnet::Event::Kind::Subnegotiation && event.option == telnet::optComPort &&
                 comPortEnabled())
            handleComPort(event.payload, reply);
    }
}

void AdapterProtocol::handleComPort(const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& reply)
{
    if (payload.empty())
        return;
    const std::uint8_t command = payload[0];
    if (command == rfc2217::SetBaudRate && payload.size() == 5) {
        settings_.baud = static_cast<std::uint32_t>(payload[1]) << 24 | static_cast<std::uint32_t>(payload[2]) << 16 |
                         static_cast<std::uint32_t>(payload[3]) << 8 | payload[4];
    } else if (payload.size() == 2) {
        switch (command) {
        case rfc2217::SetDataSize: settings_.dataSize = payload[1]; break;
        case rfc2217::SetParity: settings_.parity = payload[1]; break;
        case rfc2217::SetStopSize: settings_.stopSize = payload[1]; break;
        case rfc2217::SetControl: settings_.controls.push_back(payload[1]); break;
        default: break;
        }
    } else {
        return;
    }
    ++settingsCount_;
    // Acknowledge with the same value, as adapters do.
    std::vector<std::uint8_t> answer(payload);
    answer[0] = static_cast<std::uint8_t>(command + rfc2217::serverOffset);
    telnet::appendSubnegotiation(telnet::optComPort, answer, reply);
}

}  // namespace vsp
