// Configuration files: every device, type and initialization string, in index order,
// as JSON:
//   {"format": "vspdevices-configuration", "version": 1,
//    "devices": [{"type": "Connector", "init": "5;0"}, {"type": "TcpClient", "init": "..."}]}
// A file is taken only as a whole: its size, format, version and every device (as
// vsp_createDevice would accept it, with no two Connectors or TcpClients on one COM
// number) are checked before anything changes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vsp {

struct DeviceEntry {
    std::string type;
    std::string init;
    bool operator==(const DeviceEntry&) const = default;
};

inline constexpr std::string_view configurationFormat = "vspdevices-configuration";
inline constexpr int configurationVersion = 1;
// Room for the most devices the library holds (ids fit 16 bits), at ~130 bytes each.
inline constexpr std::size_t maxConfigurationSize = 8u << 20;
inline constexpr std::size_t maxConfigurationDevices = 32768;

std::string serializeConfiguration(const std::vector<DeviceEntry>& devices);
std::optional<std::vector<DeviceEntry>> parseConfiguration(std::string_view text);

// Reads a whole file of at most maxSize bytes; nullopt when it cannot or is larger.
std::optional<std::string> readFileLimited(const std::string& path, std::size_t maxSize);
// Writes a temporary file beside path, flushes it to disk and renames it over path.
bool writeFileAtomically(const std::string& path, std::string_view content);

}  // namespace vsp
