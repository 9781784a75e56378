/* libvspdevices: virtual serial ports (pseudo-terminals) bridged to TCP clients,
 * with Telnet RFC 2217 port control. Plain C interface; every text is UTF-8 and
 * NUL-terminated. Results: a "flag" is 1 for success and 0 for failure. */
#ifndef VSPDEVICES_H
#define VSPDEVICES_H

#ifdef __cplusplus
extern "C" {
#endif

#define VSP_EXPORT __attribute__((visibility("default")))

/* Sizes of the caller's out-buffers, NUL included. */
#define VSP_VERSION_BUFFER 64
#define VSP_TYPE_BUFFER 16
#define VSP_INIT_BUFFER 64

/* Writes the library's version text (at most 63 bytes and a NUL) into buffer. */
VSP_EXPORT int vsp_getVersionInformation(char* buffer);
/* Prepares the library; flag (0 when the port directory cannot be used or another
 * instance, in any process, uses it). */
VSP_EXPORT int vsp_initialize(void);
/* Destroys every device and stops emulation; applications holding a port get a hang-up. */
VSP_EXPORT int vsp_destroyAllDevices(void);
/* Creates a "Connector" or "TcpClient" from its initialization string; its id, or -1. */
VSP_EXPORT int vsp_createDevice(const char* type, const char* init);
VSP_EXPORT int vsp_destroyDevice(int id);
VSP_EXPORT int vsp_reinitializeDevice(int id);
VSP_EXPORT int vsp_getDevicesCount(void);
/* The id of the device at index (creation order), or -1. */
VSP_EXPORT int vsp_getDeviceIdByIdx(int index);
/* Writes the type name (at most 15 bytes and a NUL) and the initialization string
 * (at most 63 bytes and a NUL, cut when longer) and the status flags; flag. */
VSP_EXPORT int vsp_getDeviceInfo(int id, char* type, char* init, int* ready, int* ok);
VSP_EXPORT int vsp_startEmulation(void);
/* 0, changing nothing, while an application holds one of the ports open. */
VSP_EXPORT int vsp_stopEmulation(void);
/* Replaces every device with the file's; 0, changing nothing, for a bad file. */
VSP_EXPORT int vsp_loadConfiguration(const char* path);
VSP_EXPORT int vsp_saveConfiguration(const char* path);
/* Stops everything and removes every port; later calls fail until vsp_initialize. */
VSP_EXPORT int vsp_release(void);

#ifdef __cplusplus
}
#endif

#endif
