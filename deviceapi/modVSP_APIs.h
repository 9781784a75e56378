// The device library's operations as the program calls them. Texts go to the library
// as UTF-8; out-buffers are filled with blanks before each call and handed back raw
// (NUL and what follows included) for the caller to clean with cleanOutBuffer().
// Flags come back as 16-bit values, 0 meaning failure.
#pragma once

#include <QString>
#include <cstdint>

struct vsp_diagnostics;  // the library's records (vspdevices.h)
struct vsp_event;

namespace modVSP_APIs {

inline constexpr int versionBufferLength = 64;
inline constexpr int typeBufferLength = 16;
inline constexpr int initBufferLength = 64;
// The sized call's first buffer, enough for any ASCII host name DNS allows (a
// longer string costs a second call), and the largest it grows to.
inline constexpr int wholeInitBufferLength = 1024;
inline constexpr int maxInitBufferLength = 65536;

std::int16_t vsp_getVersionInformation(QString& versionBuffer);
std::int16_t vsp_initialize();
std::int16_t vsp_destroyAllDevices();
std::int32_t vsp_createDevice(const QString& type, const QString& init);
std::int16_t vsp_destroyDevice(std::int32_t id);
std::int16_t vsp_reinitializeDevice(std::int32_t id);
std::int32_t vsp_getDevicesCount();
std::int32_t vsp_getDeviceIdByIdx(std::int32_t index);
std::int16_t vsp_getDeviceInfo(std::int32_t id, QString& typeBuffer, QString& initBuffer, std::int32_t& ready,
                               std::int32_t& ok);
// The same, with the initialization string whole however long it is (a host name
// may have up to 253 characters): through the library's sized call, or through
// vsp_getDeviceInfo where the library lacks it. Buffers come back as from that call.
std::int16_t vsp_getDeviceInfoEx(std::int32_t id, QString& typeBuffer, QString& initBuffer, std::int32_t& ready,
                                 std::int32_t& ok);
std::int16_t vsp_startEmulation();
std::int16_t vsp_stopEmulation();
std::int16_t vsp_loadConfiguration(const QString& path);
// The same; when the library refuses the file, `refusal` says why in its words
// ("not a regular file", "larger than 1 MiB", ...), or is "" where the library does not say.
std::int16_t vsp_loadConfiguration(const QString& path, QString& refusal);
std::int16_t vsp_saveConfiguration(const QString& path);
std::int16_t vsp_release();
// What the library tells about a device's connection (out is cleared and its size
// set here); 0 for an unknown device, and where the library lacks the operation.
std::int16_t vsp_getDeviceDiagnostics(std::int32_t id, vsp_diagnostics& out);
// Sets the handler the library calls, on its own thread, as its connections come,
// go and fail (NULL: none); 0 where the library lacks events.
using EventHandler = void (*)(const vsp_event* event, void* context);
std::int16_t vsp_setEventHandler(EventHandler handler, void* context);

// What comes back in an out-buffer: blanks trimmed from both ends, then every NUL removed.
QString cleanOutBuffer(const QString& buffer);

}  // namespace modVSP_APIs
