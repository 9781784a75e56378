#include "ConfigFile.h"

#include "InitString.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

namespace {

// Reads a document without building it and stops at the first level nested deeper
// than the limit (or at the first syntax error), saying which.
class DepthCheck : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool key(string_t&) override { return true; }
    bool start_object(std::size_t) override { return deeper(); }
    bool end_object() override { return --depth_, true; }
    bool start_array(std::size_t) override { return deeper(); }
    bool end_array() override { return --depth_, true; }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) override
    {
        refusal = "not valid JSON (at byte " + std::to_string(position) + ")";
        return false;
    }

    std::string refusal;

private:
    bool deeper()
    {
        if (++depth_ <= maxConfigurationDepth)
            return true;
        refusal = "nested deeper than " + std::to_string(maxConfigurationDepth) + " levels";
        return false;
    }
    std::size_t depth_ = 0;
};

std::nullopt_t refuse(std::string* refusal, std::string why)
{
    if (refusal)
        *refusal = std::move(why);
    return std::nullopt;
}

}  // namespace

std::string sizeInWords(std::size_t bytes)
{
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::optional<std::vector<DeviceEntry>> parseConfiguration(std::string_view text, std::string* refusal)
{
    if (text.size() > maxConfigurationSize)
        return refuse(refusal, "larger than " + sizeInWords(maxConfigurationSize));
    DepthCheck check;
    if (!nlohmann::json::sax_parse(text, &check))
        return refuse(refusal, check.refusal);
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object())
        return refuse(refusal, "not a configuration file (not a JSON object)");
    const auto format = document.find("format");
    const auto version = document.find("version");
    const auto devices = document.find("devices");
    if (format == document.end() || *format != configurationFormat)
        return refuse(refusal, "not a configuration file (no \"format\": \"" + std::string(configurationFormat) + "\")");
    if (version == document.end() || !version->is_number_integer() || *version != configurationVersion)
        return refuse(refusal, "its version is not " + std::to_string(configurationVersion));
    if (devices == document.end() || !devices->is_array())
        return refuse(refusal, "it has no list of devices");
    if (devices->size() > maxConfigurationDevices)
        return refuse(refusal, "more than " + std::to_string(maxConfigurationDevices) + " devices");

    std::vector<DeviceEntry> entries;
    ComClaims claims;
    for (const auto& device : *devices) {
        const std::string which = "device " + std::to_string(entries.size() + 1);
        if (!device.is_object())
            return refuse(refusal, which + " is not an object");
        const auto type = device.find("type");
        const auto init = device.find("init");
        if (type == device.end() || !type->is_string() || init == device.end() || !init->is_string())
            return refuse(refusal, which + " has no \"type\" and \"init\" texts");
        DeviceEntry entry{type->get<std::string>(), init->get<std::string>()};
        if (!claims.claim(entry.type, entry.init))
            return refuse(refusal, which + " (" + entry.type.substr(0, 32) + " \"" + entry.init.substr(0, 64) + "\") " +
                                       (ComClaims().claim(entry.type, entry.init) ? "has the COM port of an earlier one"
                                                                                  : "is not valid"));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::optional<std::string> readFileLimited(const std::string& path, std::size_t maxSize, std::string* refusal)
{
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait forever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return refuse(refusal, std::strerror(errno));
    struct stat st {};
    std::string why;
    if (::fstat(fd, &st) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = "not a regular file";
    else if (static_cast<std::uint64_t>(st.st_size) > maxSize)
        why = "larger than " + sizeInWords(maxSize);
    if (!why.empty()) {
        ::close(fd);
        return refuse(refusal, why);
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || content.size() + static_cast<std::size_t>(n) > maxSize) {  // it may grow while read
            why = n < 0 ? std::string(std::strerror(errno)) : "larger than " + sizeInWords(maxSize);
            ::close(fd);
            return refuse(refusal, why);
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

std::optional<std::vector<DeviceEntry>> readConfiguration(const std::string& path, std::string* refusal)
{
    const auto text = readFileLimited(path, maxConfigurationSize, refusal);
    return text ? parseConfiguration(*text, refusal) : std::nullopt;
}

namespace {

constexpr std::string_view temporaryMarker = ".vspsave-";
constexpr std::size_t temporarySuffix = 6;  // mkstemp's XXXXXX

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path names once every symbolic link on its last part is followed; the
// file need not exist yet. nullopt for a loop of links.
std::optional<std::string> followLinks(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size())
            return std::nullopt;
        target.resize(static_cast<std::size_t>(n));
        path = target.front() == '/' ? target : folderOf(path) + "/" + target;
    }
    return std::nullopt;
}

// Removes the temporaries of saves of this file that crashed: ours by their name,
// owner and type, and stale because no running save holds their lock.
void removeCrashedTemporaries(const std::string& folder, const std::string& name)
{
    const std::string prefix = "." + name + std::string(temporaryMarker);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view candidate = entry->d_name;
        if (candidate.size() != prefix.size() + temporarySuffix || candidate.substr(0, prefix.size()) != prefix)
            continue;
        const std::string path = folder + "/" + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 && named.st_ino == opened.st_ino &&
            named.st_dev == opened.st_dev)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

// A new temporary beside the file, locked for as long as its descriptor is open.
int createLockedTemporary(const std::string& folder, const std::string& name, std::string& temporary)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        temporary = folder + "/." + name + std::string(temporaryMarker) + std::string(temporarySuffix, 'X');
        const int fd = ::mkstemp(temporary.data());
        if (fd < 0)
            return -1;
        struct stat st {};
        // Another save may have taken it for a crashed one before the lock was ours.
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    return -1;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view content)
{
    const auto target = followLinks(path);
    if (!target)
        return false;
    const std::string folder = folderOf(*target);
    const std::string name = nameOf(*target);
    removeCrashedTemporaries(folder, name);
    std::string temporary;
    const int fd = createLockedTemporary(folder, name, temporary);
    if (fd < 0)
        return false;
    // A replaced file keeps its permissions; a new one is readable by all, like the
    // files an editor writes.
    struct stat old {};
    const mode_t mode = ::stat(target->c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0;
    for (std::size_t written = 0; ok && written < content.size();) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        written += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ok && ::rename(temporary.c_str(), target->c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    ok = ::close(fd) == 0 && ok;  // the lock is let go only once the temporary is gone
    return ok;
}

}  // namespace vsp
