#include "discovery/TxtRecord.h"

#include <algorithm>
#include <cstdint>

namespace discovery {
namespace {

constexpr std::size_t maxEntries = 64;
constexpr std::size_t maxEntryBytes = 255;  // a TXT string's own limit
constexpr std::size_t maxValueBytes = 64;
constexpr std::size_t maxStackBytes = 160;
constexpr std::size_t maxIdentityBytes = 160;

// The length of the well-formed UTF-8 character at the start of text, 0 when there is none.
std::size_t characterLength(std::string_view text, char32_t& code)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t first = byte(0);
    std::size_t length = 0;
    char32_t least = 0;
    if (first < 0x80) {
        code = first;
        return 1;
    } else if ((first & 0xE0) == 0xC0) {
        length = 2, code = first & 0x1F, least = 0x80;
    } else if ((first & 0xF0) == 0xE0) {
        length = 3, code = first & 0x0F, least = 0x800;
    } else if ((first & 0xF8) == 0xF0) {
        length = 4, code = first & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool sameKey(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

// Whether one of the stack's gensios (a comma-separated list, options in parentheses) is ssl.
bool holdsTls(std::string_view stack)
{
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= stack.size(); ++i) {
        const char c = i < stack.size() ? stack[i] : ',';
        if (c == '(')
            ++depth;
        else if (c == ')' && depth > 0)
            --depth;
        else if (c == ',' && depth == 0) {
            std::string_view gensio = stack.substr(start, i - start);
            gensio = gensio.substr(0, gensio.find('('));
            if (sameKey(gensio, "ssl"))
                return true;
            start = i + 1;
        }
    }
    return false;
}

void append(std::string& to, const std::string& part)
{
    if (part.empty())
        return;
    if (!to.empty())
        to += ' ';
    to += part;
}

}  // namespace

std::string cleanText(std::string_view text, std::size_t maxBytes)
{
    std::string clean;
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        const std::size_t length = characterLength(text.substr(at), code);
        if (length == 0)
            return {};
        const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0) || code == 0x2028 || code == 0x2029;
        if (!control && clean.size() + length <= maxBytes)
            clean.append(text.substr(at, length));
        at += length;
    }
    return clean;
}

AdvertisedDevice readTxt(const std::vector<std::string_view>& entries)
{
    static constexpr std::string_view keys[] = {"gensiostack", "devicetype", "idVendor", "idProduct",
                                                "product",     "manufacturer", "serial"};
    std::string values[std::size(keys)];
    bool seen[std::size(keys)] = {};
    for (std::size_t n = 0; n < std::min(entries.size(), maxEntries); ++n) {
        const std::string_view entry = entries[n];
        const std::size_t equals = entry.find('=');
        if (entry.size() > maxEntryBytes || equals == std::string_view::npos)
            continue;
        for (std::size_t k = 0; k < std::size(keys); ++k)
            if (!seen[k] && sameKey(entry.substr(0, equals), keys[k])) {
                seen[k] = true;
                values[k] = cleanText(entry.substr(equals + 1), k == 0 ? maxStackBytes : maxValueBytes);
            }
    }
    const auto& [stack, type, vendor, product, productName, manufacturer, serial] = values;
    AdvertisedDevice device;
    device.stack = stack;
    device.tls = holdsTls(stack);
    append(device.identity, type);
    append(device.identity, vendor.empty() || product.empty() ? vendor + product : vendor + ":" + product);
    append(device.identity, productName.empty() ? manufacturer : productName);
    append(device.identity, serial.empty() ? serial : "s/n " + serial);
    device.identity = cleanText(device.identity, maxIdentityBytes);
    return device;
}

}  // namespace discovery
