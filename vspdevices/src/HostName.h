// A host address as the resolver needs it.
#pragma once

#include <string>
#include <string_view>

namespace vsp {

// A non-ASCII (internationalized) name in its DNS form, "bücher.example" giving
// "xn--bcher-kva.example", whatever the process's locale. ASCII names and
// addresses, and text that is no valid name, come back unchanged.
std::string dnsName(std::string_view host);

}  // namespace vsp
