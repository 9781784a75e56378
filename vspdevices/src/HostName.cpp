#include "HostName.h"

#include <algorithm>
#include <dlfcn.h>
#include <idn2.h>

namespace vsp {

namespace {

using LookupFunction = decltype(&idn2_lookup_u8);
using FreeFunction = decltype(&idn2_free);

// The converter is loaded on the first non-ASCII name, as the system's resolver
// loads it: a process that never meets such a name never maps it.
struct Converter {
    LookupFunction lookup = nullptr;
    FreeFunction release = nullptr;
};

const Converter& converter()
{
    static const Converter loaded = [] {
        Converter c;
        if (void* library = ::dlopen("libidn2.so.0", RTLD_NOW | RTLD_LOCAL)) {
            c.lookup = reinterpret_cast<LookupFunction>(::dlsym(library, "idn2_lookup_u8"));
            c.release = reinterpret_cast<FreeFunction>(::dlsym(library, "idn2_free"));
        }
        return c;
    }();
    return loaded;
}

}  // namespace

std::string dnsName(std::string_view host)
{
    const bool ascii = std::all_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return std::string(host);
    const std::string text(host);  // NUL-ended for the converter
    const Converter& idn = converter();
    if (!idn.lookup || !idn.release)
        return text;  // no converter on this system: the resolver gets the name as written
    char* converted = nullptr;
    // The mapping browsers use (UTS #46, non-transitional): "ß" stays "ß", capitals fold.
    const int result = idn.lookup(reinterpret_cast<const std::uint8_t*>(text.c_str()),
                                  reinterpret_cast<std::uint8_t**>(&converted), IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (result != IDN2_OK || !converted)
        return text;
    std::string name(converted);
    idn.release(converted);
    return name;
}

}  // namespace vsp
