#include "monitor/PcapngWriter.h"

#include "monitor/EventText.h"
#include "monitor/WallClock.h"

#include <algorithm>

namespace monitor {
namespace {
namespace m = vsp::monitor;

constexpr std::uint32_t sectionHeader = 0x0A0D0D0A, interfaceDescription = 1, enhancedPacket = 6, journalExport = 9;
constexpr std::uint16_t linktypeRaw = 101;
constexpr std::uint16_t optEnd = 0, optComment = 1, optUserApplication = 4, optInterfaceName = 2,
                        optInterfaceDescription = 3, optPacketFlags = 2;
constexpr std::uint8_t tcpFin = 0x01, tcpSyn = 0x02, tcpPush = 0x08, tcpAck = 0x10;
constexpr std::uint16_t telnetPort = 23;
// A segment's payload fits an IPv4 packet's 16-bit length with both headers.
constexpr std::size_t maxSegment = 65535 - 60 - 20;

void put16le(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32le(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16le(out, v & 0xFFFF);
    put16le(out, v >> 16);
}
void put16be(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
void put32be(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16be(out, v >> 16);
    put16be(out, v & 0xFFFF);
}
void pad4(std::vector<std::uint8_t>& out)
{
    while (out.size() % 4)
        out.push_back(0);
}
void option(std::vector<std::uint8_t>& out, std::uint16_t code, std::string_view value)
{
    put16le(out, code);
    put16le(out, static_cast<std::uint32_t>(std::min<std::size_t>(value.size(), 0xFFFF)));
    out.insert(out.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(value.size(), 0xFFFF)));
    pad4(out);
}

// The Internet checksum's one's-complement sum, to be folded.
std::uint32_t sum(std::span<const std::uint8_t> bytes, std::uint32_t total = 0)
{
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        total += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (bytes.size() % 2)
        total += static_cast<std::uint32_t>(bytes.back() << 8);
    return total;
}
std::uint16_t fold(std::uint32_t total)
{
    while (total >> 16)
        total = (total & 0xFFFF) + (total >> 16);
    return static_cast<std::uint16_t>(~total);
}
}  // namespace

PcapngWriter::PcapngWriter(std::ostream& out, const std::string& portName)
    : out_(out), port_(portName.substr(0, 64)), wallOffsetUs_(wallClockOffsetUs())
{
    for (char& c : port_)  // it goes into texts that hold no control character
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    body_.clear();
    put32le(body_, 0x1A2B3C4D);  // byte-order magic
    put16le(body_, 1);           // version 1.0
    put16le(body_, 0);
    put32le(body_, 0xFFFFFFFF);  // section length unknown: the capture is written as it goes
    put32le(body_, 0xFFFFFFFF);
    option(body_, optUserApplication, "QuorlinVCP");
    option(body_, optEnd, {});
    block(sectionHeader, body_);

    body_.clear();
    put16le(body_, linktypeRaw);
    put16le(body_, 0);
    put32le(body_, 0);  // no snapshot limit
    option(body_, optInterfaceName, port_);
    option(body_, optInterfaceDescription,
           port_ + "'s connection to its adapter (a Telnet adapter's port is shown as 23, where Wireshark reads Telnet)");
    option(body_, optEnd, {});
    block(interfaceDescription, body_);
}

void PcapngWriter::write(const Record& record)
{
    const auto& h = record.header;
    switch (h.kind) {
    case m::Kind::Wire: {
        if (!connection_.open)
            connectUnknown(h.timeUs);
        const bool fromAdapter = h.direction == m::Direction::FromDevice;
        std::span<const std::uint8_t> bytes(record.payload);
        while (!bytes.empty()) {
            const std::size_t size = std::min(bytes.size(), maxSegment);
            segment(fromAdapter, tcpPush | tcpAck, bytes.first(size), h.timeUs);
            bytes = bytes.subspan(size);
        }
        return;
    }
    case m::Kind::Data:
        logEntry(h.timeUs, 6,
                 (h.direction == m::Direction::ToDevice ? "to the device: " : "from the device: ") + escaped(record.payload));
        return;
    case m::Kind::Connected:
        logEntry(h.timeUs, 6, eventText(record));
        connect(record);
        return;
    case m::Kind::Dropped:
        logEntry(h.timeUs, 4, eventText(record));
        close(h.timeUs, m::textOf(h, record.payload));
        return;
    case m::Kind::Lost: logEntry(h.timeUs, 4, eventText(record)); return;
    default: logEntry(h.timeUs, 6, eventText(record)); return;
    }
}

void PcapngWriter::connect(const Record& record)
{
    const auto ends = m::decodeEndpoints(record.payload);
    if (!ends)
        return;  // its bytes come as those of an unknown connection
    connection_ = {*ends, ends->telnet ? telnetPort : ends->remotePort, 0x10000000, 0x20000000, true};
    const std::string adapter = addressText(ends->family, ends->remote, ends->remotePort);
    const std::uint64_t t = record.header.timeUs;
    segment(false, tcpSyn, {}, t,
            ends->telnet ? port_ + " connects to its adapter at " + adapter + ", shown at port 23 so that Wireshark reads its Telnet"
                         : port_ + " connects to its adapter at " + adapter + " (raw TCP)");
    ++connection_.localNext;
    segment(true, tcpSyn | tcpAck, {}, t);
    ++connection_.adapterNext;
    segment(false, tcpAck, {}, t);
}

void PcapngWriter::connectUnknown(std::uint64_t timeUs)
{
    Connection unknown;
    unknown.ends.family = 4;
    unknown.ends.telnet = true;  // as the conversation reads such bytes
    const std::uint8_t local[4] = {192, 0, 2, 1}, remote[4] = {192, 0, 2, 2};
    std::copy(local, local + 4, unknown.ends.local);
    std::copy(remote, remote + 4, unknown.ends.remote);
    unknown.ends.localPort = unknownLocalPort_;
    unknownLocalPort_ = unknownLocalPort_ == 65535 ? 49152 : unknownLocalPort_ + 1;
    unknown.ends.remotePort = unknown.adapterPort = telnetPort;
    unknown.localNext = 0x10000000;
    unknown.adapterNext = 0x20000000;
    unknown.open = true;
    connection_ = unknown;
    logEntry(timeUs, 6,
             "bytes of a connection made before the capture began: 192.0.2.1 and 192.0.2.2 stand for the computer "
             "and the adapter");
}

void PcapngWriter::close(std::uint64_t timeUs, std::string_view reason)
{
    if (!connection_.open)
        return;
    segment(false, tcpFin | tcpAck, {}, timeUs, "connection ended: " + std::string(reason));
    ++connection_.localNext;
    segment(true, tcpFin | tcpAck, {}, timeUs);
    ++connection_.adapterNext;
    segment(false, tcpAck, {}, timeUs);
    connection_.open = false;
}

void PcapngWriter::segment(bool fromAdapter, std::uint8_t flags, std::span<const std::uint8_t> payload,
                           std::uint64_t timeUs, std::string_view comment)
{
    const auto& c = connection_;
    const bool v6 = c.ends.family == 6;
    const std::size_t addressSize = v6 ? 16 : 4;
    const std::uint8_t* source = fromAdapter ? c.ends.remote : c.ends.local;
    const std::uint8_t* destination = fromAdapter ? c.ends.local : c.ends.remote;
    const std::uint16_t sourcePort = fromAdapter ? c.adapterPort : c.ends.localPort;
    const std::uint16_t destinationPort = fromAdapter ? c.ends.localPort : c.adapterPort;
    const std::uint32_t seq = fromAdapter ? c.adapterNext : c.localNext;
    const std::uint32_t ack = fromAdapter ? c.localNext : c.adapterNext;
    const std::size_t tcpSize = 20 + payload.size();

    packet_.clear();
    if (v6) {
        put32be(packet_, 0x60000000);
        put16be(packet_, static_cast<std::uint32_t>(tcpSize));
        packet_.push_back(6);   // TCP
        packet_.push_back(64);  // hop limit
    } else {
        packet_.push_back(0x45);
        packet_.push_back(0);
        put16be(packet_, static_cast<std::uint32_t>(20 + tcpSize));
        put16be(packet_, ipId_++);
        put16be(packet_, 0x4000);  // don't fragment
        packet_.push_back(64);     // time to live
        packet_.push_back(6);      // TCP
        put16be(packet_, 0);       // checksum, below
    }
    packet_.insert(packet_.end(), source, source + addressSize);
    packet_.insert(packet_.end(), destination, destination + addressSize);
    if (!v6) {
        const std::uint16_t check = fold(sum(packet_));
        packet_[10] = static_cast<std::uint8_t>(check >> 8);
        packet_[11] = static_cast<std::uint8_t>(check);
    }
    const std::size_t tcpAt = packet_.size();
    put16be(packet_, sourcePort);
    put16be(packet_, destinationPort);
    put32be(packet_, seq);
    put32be(packet_, flags & tcpAck ? ack : 0);
    packet_.push_back(5 << 4);  // 20-byte header
    packet_.push_back(flags);
    put16be(packet_, 65535);  // window
    put16be(packet_, 0);      // checksum, below
    put16be(packet_, 0);      // urgent pointer
    packet_.insert(packet_.end(), payload.begin(), payload.end());

    // The pseudo-header: both addresses, the protocol and the segment's length.
    std::uint32_t total = sum({source, addressSize}) + sum({destination, addressSize}) + 6 +
                          static_cast<std::uint32_t>(tcpSize >> 16) + static_cast<std::uint32_t>(tcpSize & 0xFFFF);
    const std::uint16_t check = fold(sum(std::span(packet_).subspan(tcpAt), total));
    packet_[tcpAt + 16] = static_cast<std::uint8_t>(check >> 8);
    packet_[tcpAt + 17] = static_cast<std::uint8_t>(check);

    (fromAdapter ? connection_.adapterNext : connection_.localNext) += static_cast<std::uint32_t>(payload.size());
    packet(packet_, fromAdapter, timeUs, comment);
}

void PcapngWriter::packet(std::span<const std::uint8_t> bytes, bool inbound, std::uint64_t timeUs, std::string_view comment)
{
    const std::uint64_t t = wallUs(timeUs);
    body_.clear();
    put32le(body_, 0);  // interface 0
    put32le(body_, static_cast<std::uint32_t>(t >> 32));
    put32le(body_, static_cast<std::uint32_t>(t));
    put32le(body_, static_cast<std::uint32_t>(bytes.size()));
    put32le(body_, static_cast<std::uint32_t>(bytes.size()));
    body_.insert(body_.end(), bytes.begin(), bytes.end());
    pad4(body_);
    if (!comment.empty())
        option(body_, optComment, comment);
    put16le(body_, optPacketFlags);
    put16le(body_, 4);
    put32le(body_, inbound ? 1 : 2);  // the direction: inbound or outbound
    option(body_, optEnd, {});
    block(enhancedPacket, body_);
}

void PcapngWriter::logEntry(std::uint64_t timeUs, int priority, const std::string& message)
{
    // The journal's export format: one FIELD=value line each; the texts hold no newline.
    const std::string entry = "__REALTIME_TIMESTAMP=" + std::to_string(wallUs(timeUs)) +
                              "\n__MONOTONIC_TIMESTAMP=" + std::to_string(timeUs) +
                              "\nSYSLOG_IDENTIFIER=quorlinvcp\nPRIORITY=" + std::to_string(priority) +
                              "\nMESSAGE=" + port_ + ": " + message + "\n";
    body_.assign(entry.begin(), entry.end());
    pad4(body_);
    block(journalExport, body_);
}

void PcapngWriter::block(std::uint32_t type, std::span<const std::uint8_t> body)
{
    const auto length = static_cast<std::uint32_t>(12 + body.size());
    const char head[8] = {char(type), char(type >> 8), char(type >> 16), char(type >> 24),
                          char(length), char(length >> 8), char(length >> 16), char(length >> 24)};
    out_.write(head, 8);
    out_.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
    out_.write(head + 4, 4);
}

std::uint64_t PcapngWriter::wallUs(std::uint64_t monotonicUs) const
{
    return wallClockUs(monotonicUs, wallOffsetUs_);
}

}  // namespace monitor
