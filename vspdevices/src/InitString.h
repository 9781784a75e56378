// The two devices' initialization strings as the library reads them: the public
// parser (vspdevices_initstring.h), with a TcpClient's host name in its DNS form.
#pragma once

#include "vspdevices_initstring.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace vsp {

using vspdevices::ConnectorSettings;
using vspdevices::connectorType;
using vspdevices::maxComNumber;
using vspdevices::minComNumber;
using vspdevices::Parity;
using vspdevices::parseConnector;
using vspdevices::SerialSettings;
using vspdevices::TcpClientSettings;
using vspdevices::tcpClientType;

// The public reading, the host then in its DNS form: a non-ASCII name as the resolver needs it.
std::optional<TcpClientSettings> parseTcpClient(std::string_view init);

}  // namespace vsp

namespace vsp {

// The COM numbers that Connectors and TcpClients already occupy: each COM number
// has at most one of each. claim() checks a new device's type and string and, when
// the library would accept it, records its COM number.
class ComClaims {
public:
    bool claim(std::string_view type, std::string_view init);
    void release(std::string_view type, std::string_view init);

private:
    std::uint64_t connectors_[4] = {};
    std::uint64_t clients_[4] = {};
};

}  // namespace vsp
