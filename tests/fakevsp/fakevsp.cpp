// A device library whose answers the tests script. It keeps devices in a list,
// records every call and writes the caller's buffers the way the real library does
// (never more than the buffer holds). Configuration files are "type<TAB>init" lines.
#include "fakevsp_control.h"
#include "vspdevices.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Device {
    int id;
    std::string type;
    std::string init;
    int ready;
    int ok;
    std::optional<vsp_diagnostics> diagnostics;
};

struct State {
    std::vector<Device> devices;
    int nextId = 0;
    int refusedCreates = 0;
    std::map<std::string, int> refusedTypes;
    bool emulation = false;
    std::map<std::string, int> results;
    std::string calls;
    std::string version = "fakevsp 1.0";
} state;

int resultOf(const char* operation, int fallback = 1)
{
    const auto found = state.results.find(operation);
    return found == state.results.end() ? fallback : found->second;
}

void record(const std::string& call)
{
    state.calls += call + "\n";
}

// Byte cuts are enough here: the tests give the fake ASCII texts to cut.
void copyCut(char* buffer, const std::string& text, size_t size)
{
    const size_t length = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

// A text of exactly `characters` bytes fills the buffer without a NUL: the caller keeps its own.
void copyFitting(char* buffer, const std::string& text, size_t characters)
{
    const size_t length = std::min(text.size(), characters);
    std::memcpy(buffer, text.data(), length);
    if (length < characters)
        buffer[length] = '\0';
}

Device* find(int id)
{
    const auto it = std::find_if(state.devices.begin(), state.devices.end(), [id](const Device& d) { return d.id == id; });
    return it == state.devices.end() ? nullptr : &*it;
}

}  // namespace

FAKE_EXPORT void fakevsp_reset(void) { state = State{}; }
FAKE_EXPORT void fakevsp_setResult(const char* operation, int result) { state.results[operation] = result; }
FAKE_EXPORT void fakevsp_refuseCreates(int count) { state.refusedCreates = count; }
FAKE_EXPORT void fakevsp_refuseType(const char* type, int count) { state.refusedTypes[type] = count; }
FAKE_EXPORT int fakevsp_addDevice(const char* type, const char* init, int ready, int ok)
{
    state.devices.push_back({state.nextId, type, init, ready, ok});
    return state.nextId++;
}
FAKE_EXPORT void fakevsp_setFlags(int id, int ready, int ok)
{
    if (Device* d = find(id)) {
        d->ready = ready;
        d->ok = ok;
    }
}
FAKE_EXPORT void fakevsp_setDiagnostics(int id, const vsp_diagnostics* diagnostics)
{
    if (Device* d = find(id))
        d->diagnostics = *diagnostics;
}
FAKE_EXPORT void fakevsp_setVersion(const char* text) { state.version = text; }
FAKE_EXPORT const char* fakevsp_calls(void) { return state.calls.c_str(); }
FAKE_EXPORT int fakevsp_emulationRunning(void) { return state.emulation ? 1 : 0; }

int vsp_getVersionInformation(char* buffer)
{
    record("vsp_getVersionInformation");
    copyCut(buffer, state.version, VSP_VERSION_BUFFER);
    return resultOf("vsp_getVersionInformation");
}

int vsp_initialize(void)
{
    record("vsp_initialize");
    return resultOf("vsp_initialize");
}

int vsp_destroyAllDevices(void)
{
    record("vsp_destroyAllDevices");
    state.devices.clear();
    return 1;
}

int vsp_createDevice(const char* type, const char* init)
{
    record(std::string("vsp_createDevice ") + type + " " + init);
    if (state.refusedCreates > 0) {
        --state.refusedCreates;
        return -1;
    }
    if (int& refused = state.refusedTypes[type]; refused > 0) {
        --refused;
        return -1;
    }
    return fakevsp_addDevice(type, init, 0, 0);
}

int vsp_destroyDevice(int id)
{
    record("vsp_destroyDevice " + std::to_string(id));
    std::erase_if(state.devices, [id](const Device& d) { return d.id == id; });
    return 1;
}

int vsp_reinitializeDevice(int id)
{
    record("vsp_reinitializeDevice " + std::to_string(id));
    return find(id) ? 1 : 0;
}

#ifndef FAKEVSP_WITHOUT_COUNT
int vsp_getDevicesCount(void)
{
    record("vsp_getDevicesCount");
    return resultOf("vsp_getDevicesCount", static_cast<int>(state.devices.size()));
}
#endif

int vsp_getDeviceIdByIdx(int index)
{
    record("vsp_getDeviceIdByIdx " + std::to_string(index));
    if (index < 0 || index >= static_cast<int>(state.devices.size()))
        return -1;
    return state.devices[static_cast<size_t>(index)].id;
}

int vsp_getDeviceInfo(int id, char* type, char* init, int* ready, int* ok)
{
    record("vsp_getDeviceInfo " + std::to_string(id));
    const Device* d = find(id);
    if (!d)
        return 0;
    copyFitting(type, d->type, VSP_TYPE_BUFFER);
    copyFitting(init, d->init, VSP_INIT_BUFFER);
    *ready = d->ready;
    *ok = d->ok;
    return resultOf("vsp_getDeviceInfo");
}

#ifndef FAKEVSP_WITHOUT_INFO_EX
int vsp_getDeviceInfoEx(int id, char* type, int typeSize, char* init, int initSize, int* ready, int* ok)
{
    record("vsp_getDeviceInfoEx " + std::to_string(id) + " " + std::to_string(initSize));
    const Device* d = find(id);
    if (!d || typeSize < 1 || initSize < 1 || resultOf("vsp_getDeviceInfo") == 0)
        return 0;
    copyCut(type, d->type, static_cast<size_t>(typeSize));
    copyCut(init, d->init, static_cast<size_t>(initSize));
    *ready = d->ready;
    *ok = d->ok;
    return static_cast<int>(d->init.size() + 1);
}
#endif

int vsp_getDeviceDiagnostics(int id, vsp_diagnostics* out)
{
    const Device* d = find(id);
    if (!d || !d->diagnostics || !out)
        return 0;
    const uint32_t filled = std::min(out->size, d->diagnostics->size);
    std::memcpy(out, &*d->diagnostics, filled);
    out->size = filled;
    return 1;
}

int vsp_startEmulation(void)
{
    record("vsp_startEmulation");
    const int result = resultOf("vsp_startEmulation");
    if (result != 0)
        state.emulation = true;
    return result;
}

int vsp_stopEmulation(void)
{
    record("vsp_stopEmulation");
    const int result = resultOf("vsp_stopEmulation");
    if (result != 0)
        state.emulation = false;
    return result;
}

int vsp_loadConfiguration(const char* path)
{
    record(std::string("vsp_loadConfiguration ") + path);
    std::ifstream in(path);
    if (!in || resultOf("vsp_loadConfiguration") == 0)
        return 0;
    state.devices.clear();
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos)
            fakevsp_addDevice(line.substr(0, tab).c_str(), line.substr(tab + 1).c_str(), 0, 0);
    }
    return 1;
}

int vsp_saveConfiguration(const char* path)
{
    record(std::string("vsp_saveConfiguration ") + path);
    if (resultOf("vsp_saveConfiguration") == 0)
        return 0;
    std::ofstream out(path, std::ios::trunc);
    for (const Device& d : state.devices)
        out << d.type << '\t' << d.init << '\n';
    return out.good() ? 1 : 0;
}

int vsp_release(void)
{
    record("vsp_release");
    state.emulation = false;
    return 1;
}
