// Configuration files as found on disk: a file is either refused whole, or every
// device in it is one the library accepts, and writing it back reads back the same.
#include "ConfigFile.h"
#include "InitString.h"

#include <cstdlib>

using namespace vsp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto devices = parseConfiguration(text);
    if (!devices)
        return 0;
    ComClaims claims;
    for (const DeviceEntry& d : *devices)
        if (!claims.claim(d.type, d.init))
            std::abort();
    if (parseConfiguration(serializeConfiguration(*devices)) != devices)
        std::abort();
    return 0;
}
