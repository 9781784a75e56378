// Hostile bytes from the network into the Telnet decoder, the client's negotiator
// and the adapter's side. Whatever the input, decoding it whole and in two pieces
// must agree, and nothing may crash or grow without bound.
#include "AdapterProtocol.h"
#include "Rfc2217.h"
#include "Telnet.h"

#include <cstdlib>

using namespace vsp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t split = data[0] % size;
    const std::span<const std::uint8_t> input(data + 1, size - 1);

    telnet::Decoder whole;
    std::vector<std::uint8_t> wholeData;
    std::vector<telnet::Event> wholeEvents;
    whole.decode(input, wholeData, wholeEvents);

    telnet::Decoder pieces;
    std::vector<std::uint8_t> pieceData;
    std::vector<telnet::Event> pieceEvents;
    pieces.decode(input.first(std::min(split, input.size())), pieceData, pieceEvents);
    pieces.decode(input.subspan(std::min(split, input.size())), pieceData, pieceEvents);
    if (wholeData != pieceData || wholeEvents.size() != pieceEvents.size())
        std::abort();

    telnet::Negotiator client({telnet::optBinary, telnet::optSuppressGoAhead, telnet::optComPort},
                              {telnet::optBinary, telnet::optSuppressGoAhead});
    rfc2217::ServerState server;
    std::vector<std::uint8_t> reply;
    for (const telnet::Event& event : wholeEvents) {
        if (event.payload.size() > telnet::Decoder::maxSubnegotiation)
            std::abort();
        if (event.kind == telnet::Event::Kind::Negotiation)
            client.receive(event.command, event.option, reply);
        else if (event.kind == telnet::Event::Kind::Subnegotiation)
            server.apply(event.payload);
    }
    // At most one three-byte answer per negotiation received.
    if (reply.size() > 3 * wholeEvents.size())
        std::abort();

    AdapterProtocol adapter;
    std::vector<std::uint8_t> adapterData;
    reply.clear();
    adapter.receive(input, adapterData, reply);
    return 0;
}
