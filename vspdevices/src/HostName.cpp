#include "HostName.h"

#include <algorithm>
#include <idn2.h>

namespace vsp {

std::string dnsName(std::string_view host)
{
    const bool ascii = std::all_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return std::string(host);
    const std::string text(host);  // NUL-ended for the converter
    char* converted = nullptr;
    // The mapping browsers use (UTS #46, non-transitional): "ß" stays "ß", capitals fold.
    const int result = idn2_lookup_u8(reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                      reinterpret_cast<std::uint8_t**>(&converted), IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (result != IDN2_OK || !converted)
        return text;
    std::string name(converted);
    idn2_free(converted);
    return name;
}

}  // namespace vsp
