// The two devices' initialization strings, checked and read into settings.
//   Connector  "<com>;<reserved number>"
//   TcpClient  "<host>;<port>;<com>;<baud>,<dtrRts>,<dataBits>,<stopBits>,<parity>,<readTimeoutMs>;<telnet>;<onDemand>;"
// A string is refused (nullopt) when a field is missing or extra, a number field is
// not a number, or a value is out of range; see the checks in InitString.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vsp {

inline constexpr int minComNumber = 1;
inline constexpr int maxComNumber = 255;

struct ConnectorSettings {
    int com = 0;
};

enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };

struct SerialSettings {
    std::uint32_t baud = 19200;
    bool dtrRts = false;  // raise DTR and RTS while an application holds the port
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = 1;
    Parity parity = Parity::None;
    double readTimeoutMs = 0;  // gather port reads until the application pauses this long
};

struct TcpClientSettings {
    std::string host;  // blanks around it removed, a non-ASCII name in its DNS form
    std::uint16_t port = 0;
    int com = 0;
    SerialSettings serial;
    bool telnet = true;     // field 4: "1" Telnet with RFC 2217, "0" raw TCP
    bool onDemand = false;  // field 5: "1" connect only while an application holds the port
};

std::optional<ConnectorSettings> parseConnector(std::string_view init);
std::optional<TcpClientSettings> parseTcpClient(std::string_view init);

// The device types the library knows, compared exactly.
inline constexpr std::string_view connectorType = "Connector";
inline constexpr std::string_view tcpClientType = "TcpClient";

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
