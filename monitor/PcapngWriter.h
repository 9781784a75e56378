// A monitor's records as a pcapng capture that Wireshark and tshark open as they are.
//
// The connection to the adapter is one interface of raw IP packets (LINKTYPE_RAW):
// every Wire record becomes one TCP segment between the connection's real
// addresses, with sequence and acknowledgement numbers that follow the bytes, a
// handshake at Connected, FINs at Dropped, and correct IP and TCP checksums. So
// Wireshark follows the stream, and its Telnet dissector decodes the negotiation
// and the COM-PORT-OPTION commands (SET-BAUDRATE, SET-CONTROL, NOTIFY-MODEMSTATE...).
// Wireshark chooses that dissector by TCP port 23 alone and a capture file cannot
// carry a "decode as", so a Telnet connection's adapter port is stored as 23; its
// real port is in the handshake's comment and in the connection's log entry. A raw
// TCP connection keeps its real port (its bytes are the data). Bytes of a connection
// made before the capture began have no known addresses: 192.0.2.1 (the computer)
// and 192.0.2.2 (the adapter), from the documentation range, stand for them.
//
// Everything the program's side sees goes in as log entries (the pcapng block for
// systemd's journal export format, which Wireshark shows with its message in the
// Info column): the serial data as the program wrote and got it
// (C-style escapes), opens, closes, connection events, state changes and lost
// records. A second interface of exported PDUs would have shown them only in the
// packet details, and tcpdump (libpcap) refuses a file whose interfaces differ in
// link type, while it skips these entries and still reads the packets.
//
// Times are the records' monotonic microseconds moved onto the wall clock by one
// offset taken when the writer starts. Each record makes at most a few blocks of at
// most 80 KiB; the writer keeps one connection's counters and nothing else. It does
// not check the stream: the caller looks at out's state (and flushes it).
#pragma once

#include "monitor/RecordReader.h"

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace monitor {

class PcapngWriter {
public:
    // Starts a capture in `out`: the section header and the interfaces. portName e.g. "COM5".
    PcapngWriter(std::ostream& out, const std::string& portName);
    // Stores what a record shows (nothing for the kinds it does not store).
    void write(const Record& record);

private:
    struct Connection {
        vsp::monitor::Endpoints ends;
        std::uint16_t adapterPort = 0;  // as stored: 23 for Telnet
        std::uint32_t localNext = 0, adapterNext = 0;  // the next sequence number each way
        bool open = false;
    };
    void connect(const Record& record);
    void connectUnknown(std::uint64_t timeUs);
    void close(std::uint64_t timeUs, std::string_view reason);
    void segment(bool fromAdapter, std::uint8_t flags, std::span<const std::uint8_t> payload, std::uint64_t timeUs,
                 std::string_view comment = {});
    void packet(std::span<const std::uint8_t> bytes, bool inbound, std::uint64_t timeUs, std::string_view comment);
    void logEntry(std::uint64_t timeUs, int priority, const std::string& message);
    void block(std::uint32_t type, std::span<const std::uint8_t> body);
    std::uint64_t wallUs(std::uint64_t monotonicUs) const;

    std::ostream& out_;
    std::string port_;
    std::int64_t wallOffsetUs_ = 0;
    Connection connection_;
    std::uint16_t ipId_ = 0;
    std::uint16_t unknownLocalPort_ = 49152;  // a new one for each stream of unknown addresses
    std::vector<std::uint8_t> packet_, body_;  // reused
};

}  // namespace monitor
