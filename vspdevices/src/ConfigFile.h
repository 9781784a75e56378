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
// A configuration holds at most 255 Connectors and 255 TcpClients (one of each per
// COM number), under 100 KiB as the library writes them; 1 MiB leaves room for
// hand-edited files and refuses anything far larger before it is read.
inline constexpr std::size_t maxConfigurationSize = 1u << 20;
inline constexpr std::size_t maxConfigurationDevices = 32768;
// The format nests three levels deep; a file nested deeper than this is refused
// before a document is built from it, so nesting cannot cost memory or time.
inline constexpr std::size_t maxConfigurationDepth = 16;

std::string serializeConfiguration(const std::vector<DeviceEntry>& devices);
// The devices of a configuration's text; nullopt for a text refused, and then, when
// `refusal` is given, why in words ("nested deeper than 16 levels", "device 3 ...").
std::optional<std::vector<DeviceEntry>> parseConfiguration(std::string_view text, std::string* refusal = nullptr);

// Reads a whole regular file of at most maxSize bytes; nullopt when it cannot, when
// it is larger, or when it is not a regular file (a FIFO or device never blocks it),
// and then `refusal` says why: "not a regular file", "larger than 1 MiB", or the
// system's message ("No such file or directory").
std::optional<std::string> readFileLimited(const std::string& path, std::size_t maxSize,
                                           std::string* refusal = nullptr);
// readFileLimited and parseConfiguration, with the limits above.
std::optional<std::vector<DeviceEntry>> readConfiguration(const std::string& path, std::string* refusal = nullptr);
// "1 MiB", "64 KiB", "100 bytes".
std::string sizeInWords(std::size_t bytes);
// Writes a temporary file beside the file and renames it over it, so a crash never
// leaves half a file. When path is a symbolic link the file it points to is written
// and the link stays. Each temporary (.<name>.vspsave-XXXXXX) is locked while its
// save runs; one whose lock is free was left by a save that crashed, and the next
// save of the same file removes it.
bool writeFileAtomically(const std::string& path, std::string_view content);

}  // namespace vsp
