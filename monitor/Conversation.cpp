#include "monitor/Conversation.h"

#include "monitor/EventText.h"

#include "Rfc2217.h"

namespace monitor {
namespace {
namespace m = vsp::monitor;
namespace telnet = vsp::telnet;

std::string optionName(std::uint8_t option)
{
    switch (option) {
    case telnet::optBinary: return "BINARY";
    case telnet::optSuppressGoAhead: return "SUPPRESS-GO-AHEAD";
    case telnet::optComPort: return "COM-PORT-OPTION";
    default: return "option " + std::to_string(option);
    }
}

std::string verbName(std::uint8_t command)
{
    switch (command) {
    case telnet::WILL: return "WILL";
    case telnet::WONT: return "WONT";
    case telnet::DO: return "DO";
    case telnet::DONT: return "DONT";
    default: return "command " + std::to_string(command);
    }
}
}  // namespace

std::string describe(const telnet::Event& event, bool fromAdapter)
{
    switch (event.kind) {
    case telnet::Event::Kind::Negotiation: return verbName(event.command) + " " + optionName(event.option);
    case telnet::Event::Kind::Command: return "Telnet " + verbName(event.command);
    case telnet::Event::Kind::Subnegotiation:
        if (event.option == telnet::optComPort) {
            if (const auto message = vsp::rfc2217::parse(event.payload, fromAdapter)) {
                // The adapter's signature is its own text: escaped, so that none of it
                // reaches a terminal or a log as a control character.
                const std::uint8_t code = message->code % vsp::rfc2217::serverOffset;
                if (code == vsp::rfc2217::Signature && !message->text.empty())
                    return "SIGNATURE \"" + escaped({reinterpret_cast<const std::uint8_t*>(message->text.data()),
                                                      message->text.size()}) + "\"";
                return vsp::rfc2217::describe(*message);
            }
            return "COM-PORT-OPTION, not understood (" + std::to_string(event.payload.size()) + " bytes)";
        }
        return "subnegotiation of " + optionName(event.option);
    }
    return {};
}

void Conversation::add(const Record& record, std::vector<Entry>& out)
{
    using K = Entry::Kind;
    const auto& h = record.header;
    const auto entry = [&](K kind, std::string text = {}) { out.push_back({kind, h.timeUs, {}, std::move(text)}); };
    switch (h.kind) {
    case m::Kind::Data:
        out.push_back({h.direction == m::Direction::ToDevice ? K::ToDevice : K::FromDevice, h.timeUs, record.payload, {}});
        break;
    case m::Kind::Wire: decodeWire(record, out); break;
    case m::Kind::PortOpened: entry(K::PortOpened); break;
    case m::Kind::PortClosed: entry(K::PortClosed); break;
    case m::Kind::Connecting: entry(K::Connecting, std::string(m::textOf(h, record.payload))); break;
    case m::Kind::Connected:
        // A new connection: its Telnet streams start afresh.
        toDevice_ = {};
        fromDevice_ = {};
        telnet_ = m::decodeEndpoints(record.payload)->telnet;  // checked when read
        entry(K::Connected, std::string(m::textOf(h, record.payload)));
        break;
    case m::Kind::Dropped: entry(K::Dropped, std::string(m::textOf(h, record.payload))); break;
    case m::Kind::State: state_ = m::decodeState(record.payload); break;
    case m::Kind::Lost:
        // A command may have been cut: read the streams from their next command on.
        toDevice_ = {};
        fromDevice_ = {};
        entry(K::Lost, std::to_string(m::lostCount(record.payload)) + " records lost");
        break;
    }
}

void Conversation::decodeWire(const Record& record, std::vector<Entry>& out)
{
    if (!telnet_)
        return;  // raw TCP: the bytes are the data, shown as such
    const bool fromAdapter = record.header.direction == m::Direction::FromDevice;
    Side& side = fromAdapter ? fromDevice_ : toDevice_;
    scratch_.clear();
    events_.clear();
    side.decoder.decode(record.payload, scratch_, events_);
    for (const auto& event : events_)
        out.push_back({fromAdapter ? Entry::Kind::CommandReceived : Entry::Kind::CommandSent, record.header.timeUs, {},
                       describe(event, fromAdapter)});
}

}  // namespace monitor
