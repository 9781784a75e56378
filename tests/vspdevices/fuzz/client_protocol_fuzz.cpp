// Hostile adapter bytes into the TcpClient's side of the protocol. The first byte
// picks where the stream is split and how the client is set up; whatever follows,
// one read or two (each decoded in place) must give the same data, answers and
// state, the answers must stay within what the requests could cause, and nothing
// may crash.
#include "ClientProtocol.h"

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
};

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
            continue;
        }
        std::vector<std::uint8_t> read(piece.begin(), piece.end());
        std::size_t dataSize = 0;
        r.events |= protocol.receiveInPlace(read, dataSize, r.answers);
        if (dataSize > read.size())
            std::abort();
        r.data.insert(r.data.end(), read.begin(), read.begin() + static_cast<std::ptrdiff_t>(dataSize));
    }
    protocol.setBaudRate(115200, r.answers);
    r.portControl = protocol.portControl();
    r.settled = protocol.settled();
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
        whole.events != pieces.events)
        std::abort();
    // Offer (15), settings and modem lines (under 64), a baud change (under 16),
    // and at most one three-byte answer per three-byte request.
    if (whole.answers.size() > input.size() + 96 || pieces.answers.size() > input.size() + 96)
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
