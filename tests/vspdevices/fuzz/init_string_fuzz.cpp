// Initialization strings from the program (and from configuration files): whatever
// the text, a string is either refused or read into values within their ranges.
#include "InitString.h"

#include <cstdlib>
#include <string_view>

using namespace vsp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto c = parseConnector(text); c && (c->com < minComNumber || c->com > maxComNumber))
        std::abort();
    if (const auto t = parseTcpClient(text)) {
        const SerialSettings& s = t->serial;
        if (t->host.empty() || t->port == 0 || t->com < minComNumber || t->com > maxComNumber || s.baud == 0 ||
            s.dataBits < 5 || s.dataBits > 8 || (s.stopBits != 1 && s.stopBits != 2) ||
            static_cast<int>(s.parity) > 4 || s.readTimeoutMs < 0 || s.readTimeoutMs > 60000)
            std::abort();
    }
    ComClaims claims;
    const bool first = claims.claim("TcpClient", text);
    if (first && claims.claim("TcpClient", text))
        std::abort();  // a second TcpClient on one COM number
    return 0;
}
