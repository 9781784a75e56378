// The TcpClient's side of Telnet with RFC 2217, without any I/O: what the library
// does with an adapter's bytes and what it sends to the adapter. The connection code
// hands it bytes and writes out what it answers; everything here is plain data in,
// data out, so it is tested at every byte boundary and fuzzed.
//  - On a new connection it offers BINARY and SUPPRESS-GO-AHEAD both ways and
//    COM-PORT-OPTION, and refuses every other option (answering each request at
//    most once, so two peers never loop).
//  - Once the adapter agrees to COM-PORT-OPTION it sends the baud rate, data size,
//    parity and stop size, and the modem lines when DTR/RTS is on.
//  - Every port setting and command the application makes is appended to the
//    caller's buffer at once, so several made together go out in one write, in the
//    order they were made, with no confirmation waited for. Settings made before the
//    adapter agrees, and all of them again on a new connection, are sent as they
//    stand once it agrees; momentary commands (break, purge, flow suspend/resume,
//    signature) without port control are dropped.
//  - Every answer and notification of the adapter is read into server() and listed,
//    in order, in messages().
//  - Without Telnet (raw TCP) bytes pass unchanged both ways.
#pragma once

#include "InitString.h"
#include "Rfc2217.h"
#include "Telnet.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vsp {

class ClientProtocol {
public:
    // What one receive() brought, as bits.
    enum Event : unsigned {
        NoEvent = 0,
        PortControlSettled = 1u << 0,     // the adapter answered the COM-PORT-OPTION offer, yes or no
        SettingsAcknowledged = 1u << 1,   // the adapter confirmed a setting
        Notified = 1u << 2,               // NOTIFY-LINESTATE or NOTIFY-MODEMSTATE (messages() tells which)
        FlowSuspended = 1u << 5,          // the adapter asks us to stop sending data
        FlowResumed = 1u << 6,
        SignatureReceived = 1u << 7,
        MaskAcknowledged = 1u << 8,       // SET-LINESTATE-MASK or SET-MODEMSTATE-MASK
        PurgeAcknowledged = 1u << 9,
    };
    // What this side sends when the adapter asks for its signature.
    static constexpr const char* signature = "QuorlinVCP";

    ClientProtocol(bool telnet, SerialSettings serial);

    // A new connection: forgets what the last one negotiated and appends the offer.
    void connected(std::vector<std::uint8_t>& out);
    // The adapter's bytes: serial data into `data`, answers into `out`; the events seen.
    unsigned receive(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data,
                     std::vector<std::uint8_t>& out);
    // The same in the read buffer itself: the serial data is moved to the front of
    // `bytes` and its length stored in `dataSize`.
    unsigned receiveInPlace(std::span<std::uint8_t> bytes, std::size_t& dataSize, std::vector<std::uint8_t>& out);
    // True when `input` is plain serial data as it stands (no Telnet command in it
    // nor one begun before it), so the caller may pass it on without receive().
    bool plainData(std::span<const std::uint8_t> input) const;
    // Serial data for the adapter (IAC doubled with Telnet).
    void encodeData(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out) const;
    // DTR and RTS follow whether an application holds the port; sent now when the
    // adapter does port control and DTR/RTS is on (or the application set them
    // itself), otherwise once it agrees.
    void setModemLines(bool raised, std::vector<std::uint8_t>& out);
    // The application changed the line speed; sent when the adapter does port control.
    void setBaudRate(std::uint32_t baud, std::vector<std::uint8_t>& out);
    void setDataSize(std::uint8_t bits, std::vector<std::uint8_t>& out);
    void setParity(Parity parity, std::vector<std::uint8_t>& out);
    void setStopSize(std::uint8_t code, std::vector<std::uint8_t>& out);  // 1, 2, or 3 for 1.5
    // DTR and RTS one at a time, as the application sets them; once either is set
    // this way both are kept and sent on every connection, whatever dtrRts says.
    // A line the adapter already has at that level on this connection is not sent
    // again (programs rewrite both lines to change one).
    void setDtr(bool on, std::vector<std::uint8_t>& out);
    void setRts(bool on, std::vector<std::uint8_t>& out);
    void setBreak(bool on, std::vector<std::uint8_t>& out);
    // Outbound (rfc2217::flowNone ... flowHardware, flowDcd ... flowDsr) or inbound
    // (inboundFlowNone ... inboundFlowHardware) flow control; other values are ignored.
    void setFlowControl(std::uint8_t value, std::vector<std::uint8_t>& out);
    // Asks the adapter for a current SET-CONTROL state (flowRequest, breakRequest,
    // dtrRequest, rtsRequest, inboundFlowRequest); the answer comes as an acknowledgement.
    void requestControl(std::uint8_t request, std::vector<std::uint8_t>& out);
    // Which NOTIFY-LINESTATE / NOTIFY-MODEMSTATE bits the adapter should report.
    void setLineStateMask(std::uint8_t mask, std::vector<std::uint8_t>& out);
    void setModemStateMask(std::uint8_t mask, std::vector<std::uint8_t>& out);
    // Discards what the adapter holds: rfc2217::purgeReceive, purgeTransmit or purgeBoth.
    void purge(std::uint8_t which, std::vector<std::uint8_t>& out);
    // Asks the adapter to stop or resume sending us data.
    void suspendFlow(std::vector<std::uint8_t>& out);
    void resumeFlow(std::vector<std::uint8_t>& out);
    // Sends our signature text, or with an empty one asks for the adapter's.
    void sendSignature(std::string_view text, std::vector<std::uint8_t>& out);

    bool telnet() const { return telnet_; }
    // The port's settings and output lines as the application last set them.
    const SerialSettings& serial() const { return serial_; }
    bool dtr() const { return dtr_; }
    bool rts() const { return rts_; }
    // The adapter agreed to COM-PORT-OPTION on this connection.
    bool portControl() const;
    // The COM-PORT-OPTION offer is answered (always true for raw TCP).
    bool settled() const;
    // What the adapter confirmed and notified on this connection.
    const rfc2217::ServerState& server() const { return server_; }
    // The adapter's COM-PORT-OPTION messages of the last receive(), in order.
    const std::vector<rfc2217::Message>& messages() const { return messages_; }

private:
    unsigned handleEvents(std::vector<std::uint8_t>& out);
    unsigned handleMessage(const rfc2217::Message& message, std::vector<std::uint8_t>& out);
    void sendState(std::vector<std::uint8_t>& out);
    // Port control is on and the settings went out: a command may go now.
    bool live() const { return settingsSent_ && portControl(); }

    bool telnet_;
    SerialSettings serial_;
    bool dtr_ = false;
    bool rts_ = false;
    bool linesSetApart_ = false;  // setDtr/setRts used
    // The level of each output line the adapter last heard on this connection.
    std::optional<bool> dtrSent_;
    std::optional<bool> rtsSent_;
    std::optional<std::uint8_t> outboundFlow_;
    std::optional<std::uint8_t> inboundFlow_;
    std::optional<std::uint8_t> lineStateMask_;
    std::optional<std::uint8_t> modemStateMask_;
    bool settingsSent_ = false;
    bool signatureAnswered_ = false;
    std::vector<rfc2217::Message> messages_;
    telnet::Decoder decoder_;
    telnet::Negotiator negotiator_;
    rfc2217::ServerState server_;
    std::vector<telnet::Event> events_;
};

}  // namespace vsp
