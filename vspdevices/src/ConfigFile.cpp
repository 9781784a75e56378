#include "ConfigFile.h"

#include "InitString.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vsp {

std::string serializeConfiguration(const std::vector<DeviceEntry>& devices)
{
    nlohmann::json list = nlohmann::json::array();
    for (const DeviceEntry& d : devices)
        list.push_back({{"type", d.type}, {"init", d.init}});
    const nlohmann::json document = {
        {"format", configurationFormat}, {"version", configurationVersion}, {"devices", list}};
    // Strings the library did not write could hold invalid UTF-8; keep them visible.
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<std::vector<DeviceEntry>> parseConfiguration(std::string_view text)
{
    if (text.size() > maxConfigurationSize)
        return std::nullopt;
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return std::nullopt;
    const auto format = document.find("format");
    const auto version = document.find("version");
    const auto devices = document.find("devices");
    if (format == document.end() || *format != configurationFormat || version == document.end() ||
        !version->is_number_integer() || *version != configurationVersion || devices == document.end() ||
        !devices->is_array() || devices->size() > maxConfigurationDevices)
        return std::nullopt;

    std::vector<DeviceEntry> entries;
    ComClaims claims;
    for (const auto& device : *devices) {
        if (!device.is_object())
            return std::nullopt;
        const auto type = device.find("type");
        const auto init = device.find("init");
        if (type == device.end() || !type->is_string() || init == device.end() || !init->is_string())
            return std::nullopt;
        DeviceEntry entry{type->get<std::string>(), init->get<std::string>()};
        if (!claims.claim(entry.type, entry.init))
            return std::nullopt;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::string> readFileLimited(const std::string& path, std::size_t maxSize)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || content.size() + static_cast<std::size_t>(n) > maxSize) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

bool writeFileAtomically(const std::string& path, std::string_view content)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    // A replaced file keeps its permissions; a new one is readable by all, like the
    // files an editor writes.
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t written = 0; ok && written < content.size();) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        written += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

}  // namespace vsp
