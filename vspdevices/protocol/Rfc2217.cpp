#include "Rfc2217.h"

#include "Telnet.h"

#include <algorithm>
#include <cstdio>

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

void appendSignature(std::uint8_t code, std::string_view text, std::vector<std::uint8_t>& out)
{
    std::vector<std::uint8_t> payload{code};
    text = text.substr(0, maxSignature);
    payload.insert(payload.end(), text.begin(), text.end());
    telnet::appendSubnegotiation(telnet::optComPort, payload, out);
}

void appendBare(std::uint8_t code, std::vector<std::uint8_t>& out)
{
    const std::uint8_t payload[] = {code};
    telnet::appendSubnegotiation(telnet::optComPort, payload, out);
}

std::uint32_t readBaud(std::span<const std::uint8_t, 4> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
}

std::optional<Message> parse(std::span<const std::uint8_t> payload, bool fromServer)
{
    const std::uint8_t offset = fromServer ? serverOffset : 0;
    if (payload.empty() || payload[0] < offset || payload[0] - offset > PurgeData)
        return std::nullopt;
    Message message{payload[0], 0, {}};
    switch (payload[0] - offset) {
    case Signature: {
        const auto text = payload.subspan(1, std::min(payload.size() - 1, maxSignature));
        message.text.assign(text.begin(), text.end());
        return message;
    }
    case SetBaudRate:
        if (payload.size() != 5)
            return std::nullopt;
        message.value = readBaud(payload.subspan<1, 4>());
        return message;
    case FlowControlSuspend:
    case FlowControlResume:
        // Bare by the protocol; some peers add a value byte, which means nothing.
        return payload.size() <= 2 ? std::optional(message) : std::nullopt;
    default:
        if (payload.size() != 2)
            return std::nullopt;
        message.value = payload[1];
        return message;
    }
}

namespace {
const char* commandName(std::uint8_t code)
{
    static const char* names[] = {"SIGNATURE",         "SET-BAUDRATE",       "SET-DATASIZE",         "SET-PARITY",
                                  "SET-STOPSIZE",      "SET-CONTROL",        "NOTIFY-LINESTATE",     "NOTIFY-MODEMSTATE",
                                  "FLOWCONTROL-SUSPEND", "FLOWCONTROL-RESUME", "SET-LINESTATE-MASK", "SET-MODEMSTATE-MASK",
                                  "PURGE-DATA"};
    return code <= PurgeData ? names[code] : "?";
}

const char* controlName(std::uint32_t value)
{
    static const char* names[] = {"flow control?", "no flow control", "XON/XOFF flow control", "hardware flow control",
                                  "break?",        "break on",        "break off",             "DTR?",
                                  "DTR on",        "DTR off",         "RTS?",                  "RTS on",
                                  "RTS off",       "inbound flow control?", "no inbound flow control",
                                  "inbound XON/XOFF flow control", "inbound hardware flow control",
                                  "DCD flow control", "DTR flow control", "DSR flow control"};
    return value <= flowDsr ? names[value] : "unknown";
}

const char* purgeName(std::uint32_t value)
{
    return value == purgeReceive ? "receive buffer" : value == purgeTransmit ? "transmit buffer"
                                 : value == purgeBoth    ? "both buffers" : "unknown";
}
}  // namespace

std::string describe(const Message& message)
{
    const std::uint8_t code = message.code >= serverOffset ? message.code - serverOffset : message.code;
    std::string text = commandName(code);
    switch (code) {
    case Signature: return text + " \"" + message.text + "\"";
    case FlowControlSuspend:
    case FlowControlResume: return text;
    case SetControl: return text + " " + std::to_string(message.value) + " (" + controlName(message.value) + ")";
    case PurgeData: return text + " " + std::to_string(message.value) + " (" + purgeName(message.value) + ")";
    default: break;
    }
    text += " " + std::to_string(message.value);
    if (code == NotifyModemState || code == NotifyLineState || code == SetLineStateMask || code == SetModemStateMask) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " (0x%02X)", static_cast<unsigned>(message.value));
        text += hex;
    }
    return text;
}

std::optional<Message> ServerState::apply(std::span<const std::uint8_t> payload)
{
    std::optional<Message> message = parse(payload, true);
    if (!message)
        return message;
    const auto value = static_cast<std::uint8_t>(message->value);
    switch (message->code - serverOffset) {
    case Signature:
        if (!message->text.empty())  // an empty one asks for ours
            signature = message->text;
        break;
    case SetBaudRate: baud = message->value; break;
    case SetDataSize: dataSize = value; break;
    case SetParity: parity = value; break;
    case SetStopSize: stopSize = value; break;
    case SetControl:
        control = value;
        if (value == dtrOn || value == dtrOff)
            dtr = value == dtrOn;
        else if (value == rtsOn || value == rtsOff)
            rts = value == rtsOn;
        else if (value == breakOn || value == breakOff)
            breakOn = value == breakOn;
        else if ((value >= flowNone && value <= flowHardware) || (value >= flowDcd && value <= flowDsr))
            outboundFlow = value;
        else if (value >= inboundFlowNone && value <= inboundFlowHardware)
            inboundFlow = value;
        break;
    case NotifyLineState:
        counters.breaks += (value & lineBreak) != 0;
        counters.overruns += (value & lineOverrun) != 0;
        counters.parityErrors += (value & lineParityError) != 0;
        counters.framingErrors += (value & lineFramingError) != 0;
        lineState = value;
        break;
    case NotifyModemState: {
        // A line counts as changed when the server says so or when its level differs
        // from the last one told, whichever the server reports.
        const std::uint8_t before = modemState.value_or(value);
        const auto changed = [&](std::uint8_t delta, std::uint8_t level) {
            return (value & delta) != 0 || ((before ^ value) & level) != 0;
        };
        counters.cts += changed(modemDeltaCts, modemCts);
        counters.dsr += changed(modemDeltaDsr, modemDsr);
        counters.ring += (value & modemRiTrailingEdge) != 0;
        counters.dcd += changed(modemDeltaDcd, modemDcd);
        modemState = value;
        break;
    }
    case FlowControlSuspend: flowSuspended = true; break;
    case FlowControlResume: flowSuspended = false; break;
    case SetLineStateMask: lineStateMask = value; break;
    case SetModemStateMask: modemStateMask = value; break;
    case PurgeData: purged = value; break;
    default: break;
    }
    return message;
}

}  // namespace vsp::rfc2217
