// The library's C entry points: argument checks and buffer copies around Library.
#include "Library.h"
#include "vspdevices.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>

#ifndef VSPDEVICES_VERSION
#define VSPDEVICES_VERSION "0.0.0"
#endif

namespace {

// How many bytes of text fit in `limit` without ending inside a UTF-8 character.
std::size_t wholeCharacters(const std::string& text, std::size_t limit)
{
    if (text.size() <= limit)
        return text.size();
    std::size_t length = limit;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

// Writes text into a caller's text of `characters` bytes, after which the caller
// keeps its own terminator: a text of exactly that length fills it whole, a shorter
// one is NUL-ended, a longer one is cut at a character boundary.
void copyFitting(char* buffer, std::size_t characters, const std::string& text)
{
    const std::size_t length = wholeCharacters(text, characters);
    std::memcpy(buffer, text.data(), length);
    if (length < characters)
        buffer[length] = '\0';
}

// Writes text into a caller's buffer of `size` bytes: cut to size - 1 at a
// character boundary, always NUL-ended.
void copyCut(char* buffer, std::size_t size, const std::string& text)
{
    const std::size_t length = wholeCharacters(text, size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

vsp::Library& library()
{
    return vsp::Library::instance();
}

}  // namespace

int vsp_getVersionInformation(char* buffer)
{
    if (!buffer)
        return 0;
    copyCut(buffer, VSP_VERSION_BUFFER, "vspdevices " VSPDEVICES_VERSION " (pty, TCP, Telnet RFC 2217)");
    return 1;
}

int vsp_initialize(void) { return library().initialize() ? 1 : 0; }

int vsp_destroyAllDevices(void)
{
    library().destroyAllDevices();
    return 1;
}

int vsp_createDevice(const char* type, const char* init)
{
    if (!type || !init)
        return -1;
    return library().createDevice(type, init);
}

int vsp_destroyDevice(int id)
{
    library().destroyDevice(id);
    return 1;
}

int vsp_reinitializeDevice(int id) { return library().reinitializeDevice(id) ? 1 : 0; }
int vsp_getDevicesCount(void) { return library().count(); }
int vsp_getDeviceIdByIdx(int index) { return library().idAt(index); }

int vsp_getDeviceInfo(int id, char* type, char* init, int* ready, int* ok)
{
    if (!type || !init || !ready || !ok)
        return 0;
    const auto info = library().info(id);
    if (!info)
        return 0;
    copyFitting(type, VSP_TYPE_BUFFER, info->type);
    copyFitting(init, VSP_INIT_BUFFER, info->init);
    *ready = info->ready;
    *ok = info->ok;
    return 1;
}

int vsp_getDeviceInfoEx(int id, char* type, int typeSize, char* init, int initSize, int* ready, int* ok)
{
    if (!type || !init || !ready || !ok || typeSize < 1 || initSize < 1)
        return 0;
    const auto info = library().info(id);
    if (!info)
        return 0;
    copyCut(type, static_cast<std::size_t>(typeSize), info->type);
    copyCut(init, static_cast<std::size_t>(initSize), info->init);
    *ready = info->ready;
    *ok = info->ok;
    return static_cast<int>(std::min<std::size_t>(info->init.size() + 1, INT_MAX));
}

int vsp_startEmulation(void) { return library().startEmulation() ? 1 : 0; }
int vsp_stopEmulation(void) { return library().stopEmulation() ? 1 : 0; }

int vsp_loadConfiguration(const char* path)
{
    return path && library().loadConfiguration(path) ? 1 : 0;
}

int vsp_loadConfigurationEx(const char* path, char* why, int whySize)
{
    std::string refusal = "no path";
    const bool loaded = path && library().loadConfiguration(path, &refusal);
    if (why && whySize > 0)
        copyCut(why, static_cast<std::size_t>(whySize), loaded ? std::string() : refusal);
    return loaded ? 1 : 0;
}

int vsp_saveConfiguration(const char* path)
{
    return path && library().saveConfiguration(path) ? 1 : 0;
}

int vsp_release(void)
{
    library().release();
    return 1;
}

int vsp_getDeviceDiagnostics(int id, struct vsp_diagnostics* out)
{
    // The first version's size: older callers of later versions still get their part.
    constexpr std::uint32_t firstVersionSize = offsetof(vsp_diagnostics, tls);
    if (!out || out->size < firstVersionSize)
        return 0;
    const auto diagnostics = library().diagnostics(id);
    if (!diagnostics)
        return 0;
    const std::uint32_t filled = std::min<std::uint32_t>(out->size, sizeof *diagnostics);
    std::memcpy(out, &*diagnostics, filled);
    out->size = filled;
    return 1;
}

int vsp_setEventHandler(vsp_event_handler handler, void* context)
{
    library().setEventHandler(handler, context);
    return 1;
}
