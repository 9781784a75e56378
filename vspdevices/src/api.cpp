// The library's C entry points: argument checks and buffer copies around Library.
#include "Library.h"
#include "vspdevices.h"

#include <algorithm>
#include <cstring>
#include <string>

#ifndef VSPDEVICES_VERSION
#define VSPDEVICES_VERSION "0.0.0"
#endif

namespace {

// Writes text into a caller's buffer of `size` bytes: cut to size - 1, always NUL-ended.
void copyCut(char* buffer, std::size_t size, const std::string& text)
{
    const std::size_t length = std::min(text.size(), size - 1);
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
    copyCut(type, VSP_TYPE_BUFFER, info->type);
    copyCut(init, VSP_INIT_BUFFER, info->init);
    *ready = info->ready;
    *ok = info->ok;
    return 1;
}

int vsp_startEmulation(void) { return library().startEmulation() ? 1 : 0; }
int vsp_stopEmulation(void) { return library().stopEmulation() ? 1 : 0; }

int vsp_loadConfiguration(const char* path)
{
    return path && library().loadConfiguration(path) ? 1 : 0;
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
    constexpr std::uint32_t firstVersionSize = sizeof(vsp_diagnostics);
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
