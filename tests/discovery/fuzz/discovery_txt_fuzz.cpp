// A port's TXT record from anyone on the network, as it arrives: length-prefixed
// strings, any bytes. What is read of it is well-formed UTF-8 without a control
// character, within its bounds.
#include "discovery/TxtRecord.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {
bool clean(std::string_view text, std::size_t maxBytes)
{
    if (text.size() > maxBytes || discovery::cleanText(text, maxBytes) != text)
        return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return false;
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string_view> entries;
    for (std::size_t at = 0; at < size;) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        entries.emplace_back(reinterpret_cast<const char*>(data + at + 1), length);
        at += 1 + length;
    }
    const discovery::AdvertisedDevice device = discovery::readTxt(entries);
    if (!clean(device.stack, 160) || !clean(device.identity, 160))
        std::abort();
    return 0;
}
