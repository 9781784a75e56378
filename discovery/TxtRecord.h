// What a port's TXT record says, read from entries that come from the network:
// bounded in count and length, only well-formed UTF-8, no control characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace discovery {

struct AdvertisedDevice {
    std::string stack;     // gensiostack
    std::string identity;  // devicetype, idVendor:idProduct, product (or manufacturer), serial
    bool tls = false;
};

// Reads the entries ("key=value"); keys are matched without regard to case and the
// first entry of a key counts. Entries past the 64th, or longer than 255 bytes, are
// not read.
AdvertisedDevice readTxt(const std::vector<std::string_view>& entries);

// The text as it may be shown: nothing when it is not well-formed UTF-8, control
// characters dropped, cut at a character's end to at most maxBytes.
std::string cleanText(std::string_view text, std::size_t maxBytes);

}  // namespace discovery
