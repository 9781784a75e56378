// The TcpClient's side of Telnet with RFC 2217, without any I/O: what the library
// does with an adapter's bytes and what it sends to the adapter. The connection code
// hands it bytes and writes out what it answers; everything here is plain data in,
// data out, so it is tested at every byte boundary and fuzzed.
//  - On a new connection it offers BINARY and SUPPRESS-GO-AHEAD both ways and
//    COM-PORT-OPTION, and refuses every other option (answering each request at
//    most once, so two peers never loop).
//  - Once the adapter agrees to COM-PORT-OPTION it sends the baud rate, data size,
//    parity and stop size, and the modem lines when DTR/RTS is on.
//  - Without Telnet (raw TCP) bytes pass unchanged both ways.
#pragma once

#include "InitString.h"
#include "Rfc2217.h"
#include "Telnet.h"

#include <cstdint>
#include <span>
#include <vector>

namespace vsp {

class ClientProtocol {
public:
    // What one receive() brought, as bits.
    enum Event : unsigned {
        NoEvent = 0,
        PortControlSettled = 1u << 0,     // the adapter answered the COM-PORT-OPTION offer, yes or no
        SettingsAcknowledged = 1u << 1,   // the adapter confirmed a setting
        Notified = 1u << 2,               // NOTIFY-LINESTATE or NOTIFY-MODEMSTATE
    };

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
    // adapter does port control and DTR/RTS is on, otherwise once it agrees.
    void setModemLines(bool raised, std::vector<std::uint8_t>& out);
    // The application changed the line speed; sent when the adapter does port control.
    void setBaudRate(std::uint32_t baud, std::vector<std::uint8_t>& out);

    bool telnet() const { return telnet_; }
    // The adapter agreed to COM-PORT-OPTION on this connection.
    bool portControl() const;
    // The COM-PORT-OPTION offer is answered (always true for raw TCP).
    bool settled() const;
    // What the adapter confirmed and notified on this connection.
    const rfc2217::ServerState& server() const { return server_; }

private:
    unsigned handleEvents(std::vector<std::uint8_t>& out);

    bool telnet_;
    SerialSettings serial_;
    bool modemRaised_ = false;
    bool settingsSent_ = false;
    telnet::Decoder decoder_;
    telnet::Negotiator negotiator_;
    rfc2217::ServerState server_;
    std::vector<telnet::Event> events_;
};

}  // namespace vsp
