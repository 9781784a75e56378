#include "ClientProtocol.h"

#include <cstring>

namespace vsp {
namespace {
telnet::Negotiator clientNegotiator()
{
    return telnet::Negotiator({telnet::optBinary, telnet::optSuppressGoAhead, telnet::optComPort},
                              {telnet::optBinary, telnet::optSuppressGoAhead});
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
    dtrSent_ = rtsSent_ = std::nullopt;
    signatureAnswered_ = false;
    messages_.clear();
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
    messages_.clear();
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
        } else if (event.kind == telnet::Event::Kind::Subnegotiation && event.option == telnet::optComPort) {
            if (const auto message = server_.apply(event.payload))
                seen |= handleMessage(*message, out);
        }
    }
    if (!settingsSent_ && portControl()) {
        settingsSent_ = true;
        sendState(out);
    }
    if (!wasSettled && settled())
        seen |= PortControlSettled;
    return seen;
}

unsigned ClientProtocol::handleMessage(const rfc2217::Message& message, std::vector<std::uint8_t>& out)
{
    messages_.push_back(message);
    switch (message.code - rfc2217::serverOffset) {
    case rfc2217::Signature:
        if (!message.text.empty())
            return SignatureReceived;
        // The adapter asks for ours: answered once a connection, so a flood of
        // requests cannot make us send more than it does.
        if (portControl() && !signatureAnswered_) {
            signatureAnswered_ = true;
            rfc2217::appendSignature(rfc2217::Signature, signature, out);
        }
        return NoEvent;
    case rfc2217::SetBaudRate:
    case rfc2217::SetDataSize:
    case rfc2217::SetParity:
    case rfc2217::SetStopSize:
    case rfc2217::SetControl: return SettingsAcknowledged;
    case rfc2217::NotifyLineState:
    case rfc2217::NotifyModemState: return Notified;
    case rfc2217::FlowControlSuspend: return FlowSuspended;
    case rfc2217::FlowControlResume: return FlowResumed;
    case rfc2217::SetLineStateMask:
    case rfc2217::SetModemStateMask: return MaskAcknowledged;
    case rfc2217::PurgeData: return PurgeAcknowledged;
    default: return NoEvent;
    }
}

// The port's state as it stands, once the adapter agrees to port control.
void ClientProtocol::sendState(std::vector<std::uint8_t>& out)
{
    rfc2217::appendSerialSettings(serial_, out);
    if (outboundFlow_)
        rfc2217::appendCommand(rfc2217::SetControl, *outboundFlow_, out);
    if (inboundFlow_)
        rfc2217::appendCommand(rfc2217::SetControl, *inboundFlow_, out);
    if (serial_.dtrRts || linesSetApart_) {
        rfc2217::appendCommand(rfc2217::SetControl, dtr_ ? rfc2217::dtrOn : rfc2217::dtrOff, out);
        rfc2217::appendCommand(rfc2217::SetControl, rts_ ? rfc2217::rtsOn : rfc2217::rtsOff, out);
        dtrSent_ = dtr_;
        rtsSent_ = rts_;
    }
    if (lineStateMask_)
        rfc2217::appendCommand(rfc2217::SetLineStateMask, *lineStateMask_, out);
    if (modemStateMask_)
        rfc2217::appendCommand(rfc2217::SetModemStateMask, *modemStateMask_, out);
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
    dtr_ = rts_ = raised;
    if (live() && (serial_.dtrRts || linesSetApart_)) {
        rfc2217::appendModemLines(raised, out);
        dtrSent_ = rtsSent_ = raised;
    }
}

void ClientProtocol::setBaudRate(std::uint32_t baud, std::vector<std::uint8_t>& out)
{
    serial_.baud = baud;
    if (live())
        rfc2217::appendBaudRate(baud, out);
}

void ClientProtocol::setDataSize(std::uint8_t bits, std::vector<std::uint8_t>& out)
{
    serial_.dataBits = bits;
    if (live())
        rfc2217::appendCommand(rfc2217::SetDataSize, bits, out);
}

void ClientProtocol::setParity(Parity parity, std::vector<std::uint8_t>& out)
{
    serial_.parity = parity;
    if (live())
        rfc2217::appendCommand(rfc2217::SetParity, rfc2217::parityCode(parity), out);
}

void ClientProtocol::setStopSize(std::uint8_t code, std::vector<std::uint8_t>& out)
{
    serial_.stopBits = code;
    if (live())
        rfc2217::appendCommand(rfc2217::SetStopSize, code, out);
}

void ClientProtocol::setDtr(bool on, std::vector<std::uint8_t>& out)
{
    dtr_ = on;
    linesSetApart_ = true;
    if (live() && dtrSent_ != on) {
        rfc2217::appendCommand(rfc2217::SetControl, on ? rfc2217::dtrOn : rfc2217::dtrOff, out);
        dtrSent_ = on;
    }
}

void ClientProtocol::setRts(bool on, std::vector<std::uint8_t>& out)
{
    rts_ = on;
    linesSetApart_ = true;
    if (live() && rtsSent_ != on) {
        rfc2217::appendCommand(rfc2217::SetControl, on ? rfc2217::rtsOn : rfc2217::rtsOff, out);
        rtsSent_ = on;
    }
}

void ClientProtocol::setBreak(bool on, std::vector<std::uint8_t>& out)
{
    if (live())
        rfc2217::appendCommand(rfc2217::SetControl, on ? rfc2217::breakOn : rfc2217::breakOff, out);
}

void ClientProtocol::setFlowControl(std::uint8_t value, std::vector<std::uint8_t>& out)
{
    using namespace rfc2217;
    if ((value >= flowNone && value <= flowHardware) || (value >= flowDcd && value <= flowDsr))
        outboundFlow_ = value;
    else if (value >= inboundFlowNone && value <= inboundFlowHardware)
        inboundFlow_ = value;
    else
        return;
    if (live())
        appendCommand(SetControl, value, out);
}

void ClientProtocol::requestControl(std::uint8_t request, std::vector<std::uint8_t>& out)
{
    using namespace rfc2217;
    const bool isRequest = request == flowRequest || request == breakRequest || request == dtrRequest ||
                           request == rtsRequest || request == inboundFlowRequest;
    if (isRequest && live())
        appendCommand(SetControl, request, out);
}

void ClientProtocol::setLineStateMask(std::uint8_t mask, std::vector<std::uint8_t>& out)
{
    lineStateMask_ = mask;
    if (live())
        rfc2217::appendCommand(rfc2217::SetLineStateMask, mask, out);
}

void ClientProtocol::setModemStateMask(std::uint8_t mask, std::vector<std::uint8_t>& out)
{
    modemStateMask_ = mask;
    if (live())
        rfc2217::appendCommand(rfc2217::SetModemStateMask, mask, out);
}

void ClientProtocol::purge(std::uint8_t which, std::vector<std::uint8_t>& out)
{
    if (live() && which >= rfc2217::purgeReceive && which <= rfc2217::purgeBoth)
        rfc2217::appendCommand(rfc2217::PurgeData, which, out);
}

void ClientProtocol::suspendFlow(std::vector<std::uint8_t>& out)
{
    if (live())
        rfc2217::appendBare(rfc2217::FlowControlSuspend, out);
}

void ClientProtocol::resumeFlow(std::vector<std::uint8_t>& out)
{
    if (live())
        rfc2217::appendBare(rfc2217::FlowControlResume, out);
}

void ClientProtocol::sendSignature(std::string_view text, std::vector<std::uint8_t>& out)
{
    if (live())
        rfc2217::appendSignature(rfc2217::Signature, text, out);
}

}  // namespace vsp
