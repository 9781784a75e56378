#include "ClientProtocol.h"

#include <cstring>

namespace vsp {
namespace {
telnet::Negotiator clientNegotiator()
{
    return telnet::Negotiator({telnet::optBinary, telnet::optSuppressGoAhead, telnet::optComPort},
                              {telnet::optBinary, telnet::optSuppressGoAhead});
}

// The event a COM-PORT-OPTION message from the adapter stands for.
unsigned eventOf(std::span<const std::uint8_t> payload)
{
    switch (payload[0] - rfc2217::serverOffset) {
    case rfc2217::SetBaudRate:
    case rfc2217::SetDataSize:
    case rfc2217::SetParity:
    case rfc2217::SetStopSize:
    case rfc2217::SetControl: return ClientProtocol::SettingsAcknowledged;
    case rfc2217::NotifyLineState:
    case rfc2217::NotifyModemState: return ClientProtocol::Notified;
    default: return ClientProtocol::NoEvent;
    }
}
}  // namespace

ClientProtocol::ClientProtocol(bool telnet, SerialSettings serial)
    : telnet_(telnet), serial_(serial), negotiator_(clientNegotiator())
{
}

void ClientProtocol::connected(std::vector<std::uint8_t>& out)
{
    decoder_ = telnet::Decoder();
    negotiator_ = clientNegotiator();
    server_ = rfc2217::ServerState();
    settingsSent_ = false;
    if (!telnet_)
        return;
    negotiator_.requestLocal(telnet::optBinary, out);
    negotiator_.requestRemote(telnet::optBinary, out);
    negotiator_.requestLocal(telnet::optSuppressGoAhead, out);
    negotiator_.requestRemote(telnet::optSuppressGoAhead, out);
    negotiator_.requestLocal(telnet::optComPort, out);
}

bool ClientProtocol::portControl() const
{
    return telnet_ && negotiator_.local(telnet::optComPort) == telnet::Negotiator::State::Yes;
}

bool ClientProtocol::settled() const
{
    return !telnet_ || negotiator_.local(telnet::optComPort) != telnet::Negotiator::State::WantYes;
}

unsigned ClientProtocol::receive(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data,
                                 std::vector<std::uint8_t>& out)
{
    const std::size_t before = data.size();
    data.insert(data.end(), input.begin(), input.end());
    std::size_t dataSize = 0;
    const unsigned events = receiveInPlace({data.data() + before, input.size()}, dataSize, out);
    data.resize(before + dataSize);
    return events;
}

unsigned ClientProtocol::receiveInPlace(std::span<std::uint8_t> bytes, std::size_t& dataSize,
                                        std::vector<std::uint8_t>& out)
{
    if (!telnet_) {
        dataSize = bytes.size();
        return NoEvent;
    }
    events_.clear();
    dataSize = decoder_.decodeInPlace(bytes, events_);
    return handleEvents(out);
}

unsigned ClientProtocol::handleEvents(std::vector<std::uint8_t>& out)
{
    const bool wasSettled = settled();
    unsigned seen = NoEvent;
    for (const telnet::Event& event : events_) {
        if (event.kind == telnet::Event::Kind::Negotiation) {
            negotiator_.receive(event.command, event.option, out);
        } else if (event.kind == telnet::Event::Kind::Subnegotiation && event.option == telnet::optComPort &&
                   server_.apply(event.payload)) {
            seen |= eventOf(event.payload);
        }
    }
    if (!settingsSent_ && portControl()) {
        settingsSent_ = true;
        rfc2217::appendSerialSettings(serial_, out);
        if (serial_.dtrRts)
            rfc2217::appendModemLines(modemRaised_, out);
    }
    if (!wasSettled && settled())
        seen |= PortControlSettled;
    return seen;
}

bool ClientProtocol::plainData(std::span<const std::uint8_t> input) const
{
    return !telnet_ || input.empty() ||
           (decoder_.betweenCommands() && std::memchr(input.data(), telnet::IAC, input.size()) == nullptr);
}

void ClientProtocol::encodeData(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) const
{
    if (telnet_)
        telnet::escape(data, out);
    else
        out.insert(out.end(), data.begin(), data.end());
}

void ClientProtocol::setModemLines(bool raised, std::vector<std::uint8_t>& out)
{
    modemRaised_ = raised;
    if (settingsSent_ && portControl() && serial_.dtrRts)
        rfc2217::appendModemLines(raised, out);
}

void ClientProtocol::setBaudRate(std::uint32_t baud, std::vector<std::uint8_t>& out)
{
    serial_.baud = baud;
    if (settingsSent_ && portControl())
        rfc2217::appendBaudRate(baud, out);
}

}  // namespace vsp
