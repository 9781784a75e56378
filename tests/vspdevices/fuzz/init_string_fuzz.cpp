// Initialization strings and port link names from the program (and from configuration
// files and the port directory): whatever the text, it is either refused or read into
// values within their ranges (a TLS field's pin, paths and key with its certificate too), and a link name read is the one the library writes.
#include "InitString.h"
#include "vspdevices_initstring.h"
#include "vspdevices_ports.h"

#include <cstdlib>
#include <string>
#include <string_view>

using namespace vspdevices;

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
        const TlsSettings& tls = t->tls;
        const auto absolute = [](const std::string& path) { return path.empty() || path.front() == '/'; };
        if (!tls.enabled && (!tls.pin.empty() || !tls.certificateFile.empty() || !tls.keyFile.empty()))
            std::abort();
        if ((!tls.pin.empty() && (tls.pin.size() != 64 || tls.pin.find_first_not_of("0123456789abcdef") != std::string::npos)) ||
            !absolute(tls.certificateFile) || !absolute(tls.keyFile) || (!tls.keyFile.empty() && tls.certificateFile.empty()) ||
            tls.certificateFile.find('\0') != std::string::npos || tls.keyFile.find('\0') != std::string::npos)
            std::abort();
    }
    if (const auto com = portLinkNumber(text); com && (*com < minComNumber || *com > maxComNumber || portLinkName(*com) != text))
        std::abort();
    vsp::ComClaims claims;
    const bool first = claims.claim("TcpClient", text);
    if (first && claims.claim("TcpClient", text))
        std::abort();  // a second TcpClient on one COM number
    return 0;
}
