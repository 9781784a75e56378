#include "AdapterProtocol.h"

namespace vsp {
namespace {
std::vector<std::uint8_t> remoteOptions(bool refuseComPort)
{
    std::vector<std::uint8_t> options{telnet::optBinary, telnet::optSuppressGoAhead};
    if (!refuseComPort)
        options.push_back(telnet::optComPort);
    return options;
}

void answer(std::uint8_t command, std::uint8_t value, std::vector<std::uint8_t>& reply)
{
    rfc2217::appendCommand(static_cast<rfc2217::Command>(command + rfc2217::serverOffset), value, reply);
}
}  // namespace

AdapterProtocol::AdapterProtocol(bool refuseComPort, ModemLines fixed)
    : negotiator_({telnet::optBinary, telnet::optSuppressGoAhead}, remoteOptions(refuseComPort)), fixed_(fixed)
{
}

bool AdapterProtocol::comPortEnabled() const
{
    return negotiator_.remote(telnet::optComPort) == telnet::Negotiator::State::Yes;
}

std::uint8_t AdapterProtocol::modemLevels() const
{
    std::uint8_t levels = 0;
    if (fixed_.cts.value_or(rts_))
        levels |= rfc2217::modemCts;
    if (fixed_.dsr.value_or(dtr_))
        levels |= rfc2217::modemDsr;
    if (fixed_.ri.value_or(false))
        levels |= rfc2217::modemRi;
    if (fixed_.dcd.value_or(dtr_))
        levels |= rfc2217::modemDcd;
    return levels;
}

void AdapterProtocol::receive(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data,
                              std::vector<std::uint8_t>& reply)
{
    events_.clear();
    commands_.clear();
    decoder_.decode(input, data, events_);
    for (const telnet::Event& event : events_) {
        if (event.kind == telnet::Event::Kind::Negotiation)
            negotiator_.receive(event.command, event.option, reply);
        else if (event.kind == telnet::Event::Kind::Subnegotiation && event.option == telnet::optComPort &&
                 comPortEnabled())
            handleComPort(event.payload, reply);
    }
}

// What a SET-CONTROL value leaves the port in: a request is answered with the state
// it asks about, anything else is taken and confirmed as it came.
std::uint8_t AdapterProtocol::answerControl(std::uint8_t value)
{
    using namespace rfc2217;
    switch (value) {
    case flowRequest: return outboundFlow_;
    case breakRequest: return breakOn_ ? rfc2217::breakOn : breakOff;
    case dtrRequest: return dtr_ ? dtrOn : dtrOff;
    case rtsRequest: return rts_ ? rtsOn : rtsOff;
    case inboundFlowRequest: return inboundFlow_;
    case rfc2217::breakOn:
    case breakOff: breakOn_ = value == rfc2217::breakOn; break;
    case dtrOn:
    case dtrOff: dtr_ = value == dtrOn; break;
    case rtsOn:
    case rtsOff: rts_ = value == rtsOn; break;
    default:
        if ((value >= flowNone && value <= flowHardware) || (value >= flowDcd && value <= flowDsr))
            outboundFlow_ = value;
        else if (value >= inboundFlowNone && value <= inboundFlowHardware)
            inboundFlow_ = value;
        break;
    }
    return value;
}

// NOTIFY-MODEMSTATE for the lines the mask asks about, with the changes since the
// last notification; sent only on a change unless `always`.
void AdapterProtocol::notifyModemState(bool always, std::vector<std::uint8_t>& reply)
{
    const std::uint8_t levels = modemLevels();
    const std::uint8_t changed = (levels ^ reported_) & modemMask_;
    if (!modemMask_ || (!always && !(changed & 0xF0)))
        return;
    std::uint8_t deltas = 0;
    if (changed & rfc2217::modemCts)
        deltas |= rfc2217::modemDeltaCts;
    if (changed & rfc2217::modemDsr)
        deltas |= rfc2217::modemDeltaDsr;
    if ((changed & rfc2217::modemRi) && !(levels & rfc2217::modemRi))
        deltas |= rfc2217::modemRiTrailingEdge;
    if (changed & rfc2217::modemDcd)
        deltas |= rfc2217::modemDeltaDcd;
    reported_ = levels;
    answer(rfc2217::NotifyModemState, static_cast<std::uint8_t>((levels | (always ? 0 : deltas)) & modemMask_), reply);
}

void AdapterProtocol::handleComPort(const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& reply)
{
    const auto message = rfc2217::parse(payload, false);
    if (!message)
        return;
    commands_.push_back(*message);
    const auto value = static_cast<std::uint8_t>(message->value);
    switch (message->code) {
    case rfc2217::Signature:
        if (message->text.empty())
            rfc2217::appendSignature(rfc2217::Signature + rfc2217::serverOffset, "adapter-sim", reply);
        return;
    case rfc2217::SetBaudRate:
        settings_.baud = message->value;
        // Acknowledge with the same value, as adapters do.
        {
            std::vector<std::uint8_t> same(payload);
            same[0] = rfc2217::SetBaudRate + rfc2217::serverOffset;
            telnet::appendSubnegotiation(telnet::optComPort, same, reply);
        }
        break;
    case rfc2217::SetDataSize: settings_.dataSize = value; answer(message->code, value, reply); break;
    case rfc2217::SetParity: settings_.parity = value; answer(message->code, value, reply); break;
    case rfc2217::SetStopSize: settings_.stopSize = value; answer(message->code, value, reply); break;
    case rfc2217::SetControl:
        settings_.controls.push_back(value);
        answer(message->code, answerControl(value), reply);
        notifyModemState(false, reply);
        break;
    case rfc2217::FlowControlSuspend: flowSuspended_ = true; return;
    case rfc2217::FlowControlResume: flowSuspended_ = false; return;
    case rfc2217::SetLineStateMask: answer(message->code, value, reply); return;
    case rfc2217::SetModemStateMask:
        modemMask_ = value;
        answer(message->code, value, reply);
        notifyModemState(true, reply);  // the levels as they stand
        return;
    case rfc2217::PurgeData: answer(message->code, value, reply); return;
    default: return;  // notifications are the adapter's to send
    }
    ++settingsCount_;
}

}  // namespace vsp
