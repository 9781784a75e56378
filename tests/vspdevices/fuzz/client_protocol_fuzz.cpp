// Hostile adapter bytes into the TcpClient's side of the protocol. The first byte
// picks where the stream is split and how the client is set up; whatever follows,
// one read or two (each decoded in place) must give the same data, answers and
// state, the answers must stay within what the requests could cause, and nothing
// may crash. Then every port command, with values taken from the input, must come
// out as well-formed Telnet commands that carry no stray data byte.
#include "ClientProtocol.h"
#include "Telnet.h"

#include <algorithm>
#include <cstdlib>

using namespace vsp;

namespace {
struct Run {
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> answers;
    unsigned events = 0;
    bool portControl = false;
    bool settled = false;
    std::vector<rfc2217::Message> messages;
    rfc2217::Counters counters;
};

// Every command once, its values from the input; returns how many were encoded.
std::size_t sendEveryCommand(ClientProtocol& protocol, std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out)
{
    const auto at = [&](std::size_t i) { return input.empty() ? std::uint8_t{0xFF} : input[i % input.size()]; };
    // A modem line goes out only when the adapter has it at the other level.
    std::size_t lines = out.size();
    protocol.setDtr(at(0) & 1, out);
    std::size_t count = out.size() != lines ? 1 : 0;
    lines = out.size();
    protocol.setRts(at(1) & 1, out);
    count += out.size() != lines ? 1 : 0;
    protocol.setBreak(at(2) & 1, out);
    protocol.setDataSize(at(3), out);
    protocol.setParity(static_cast<Parity>(at(4) % 5), out);
    protocol.setStopSize(at(5), out);
    protocol.setBaudRate(static_cast<std::uint32_t>(at(6)) << 24 | at(7) << 16 | at(8) << 8 | at(9), out);
    protocol.setLineStateMask(at(10), out);
    protocol.setModemStateMask(at(11), out);
    protocol.suspendFlow(out);
    protocol.resumeFlow(out);
    protocol.sendSignature(std::string(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(input.size(), 80))), out);
    count += 10;
    const std::size_t before = out.size();
    protocol.setFlowControl(at(12), out);
    protocol.requestControl(at(13), out);
    protocol.purge(at(14), out);
    // The last three send only for values they accept; each is one subnegotiation.
    std::vector<std::uint8_t> ignored;
    std::vector<telnet::Event> events;
    telnet::Decoder decoder;
    decoder.decode(std::span(out).subspan(before), ignored, events);
    return count + events.size();
}

// Two reads, decoded into a buffer or, like the connection's socket reads, each in
// its own buffer in place.
Run run(bool telnet, const SerialSettings& serial, std::span<const std::uint8_t> input, std::size_t split, bool inPlace)
{
    ClientProtocol protocol(telnet, serial);
    Run r;
    protocol.connected(r.answers);
    protocol.setModemLines(true, r.answers);
    for (const std::span<const std::uint8_t> piece : {input.first(split), input.subspan(split)}) {
        if (!inPlace) {
            r.events |= protocol.receive(piece, r.data, r.answers);
        } else {
            std::vector<std::uint8_t> read(piece.begin(), piece.end());
            std::size_t dataSize = 0;
            r.events |= protocol.receiveInPlace(read, dataSize, r.answers);
            if (dataSize > read.size())
                std::abort();
            r.data.insert(r.data.end(), read.begin(), read.begin() + static_cast<std::ptrdiff_t>(dataSize));
        }
        r.messages.insert(r.messages.end(), protocol.messages().begin(), protocol.messages().end());
    }
    r.counters = protocol.server().counters;
    protocol.setBaudRate(115200, r.answers);
    r.portControl = protocol.portControl();
    r.settled = protocol.settled();

    std::vector<std::uint8_t> commands;
    const std::size_t sent = sendEveryCommand(protocol, input, commands);
    std::vector<std::uint8_t> stray;
    std::vector<telnet::Event> events;
    telnet::Decoder decoder;
    decoder.decode(commands, stray, events);
    if (!stray.empty() || !decoder.betweenCommands() || events.size() != (r.portControl ? sent : 0))
        std::abort();
    return r;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool telnet = (bytes[0] & 1) == 0;
    SerialSettings serial;
    serial.dtrRts = (bytes[0] & 2) != 0;
    serial.baud = 0xFFFFFFFFu;  // every value byte an IAC, escaped on the way out
    const std::span<const std::uint8_t> input(bytes + 2, size - 2);
    const std::size_t split = bytes[1] % (input.size() + 1);

    const Run whole = run(telnet, serial, input, 0, false);
    const Run pieces = run(telnet, serial, input, split, true);
    if (whole.data != pieces.data || whole.portControl != pieces.portControl || whole.settled != pieces.settled ||
        whole.events != pieces.events || whole.messages != pieces.messages ||
        whole.counters.cts != pieces.counters.cts || whole.counters.dsr != pieces.counters.dsr ||
        whole.counters.ring != pieces.counters.ring || whole.counters.dcd != pieces.counters.dcd ||
        whole.counters.breaks != pieces.counters.breaks)
        std::abort();
    // Offer (15), settings and modem lines (under 64), a baud change (under 16),
    // our signature once (under 16), and at most one three-byte answer per
    // three-byte request.
    if (whole.answers.size() > input.size() + 112 || pieces.answers.size() > input.size() + 112)
        std::abort();
    if (whole.data.size() > input.size())
        std::abort();

    // What counts as plain data must decode to itself with nothing to answer.
    ClientProtocol fresh(telnet, serial);
    std::vector<std::uint8_t> data, answers;
    fresh.connected(answers);
    answers.clear();
    if (fresh.plainData(input) &&
        (fresh.receive(input, data, answers) != ClientProtocol::NoEvent || !answers.empty() ||
         !std::equal(data.begin(), data.end(), input.begin(), input.end())))
        std::abort();
    return 0;
}
