/* libvspdevices: virtual serial ports (pseudo-terminals) bridged to TCP clients,
 * with Telnet RFC 2217 port control. Plain C interface; every text is UTF-8 and
 * NUL-terminated. Results: a "flag" is 1 for success and 0 for failure. */
#ifndef VSPDEVICES_H
#define VSPDEVICES_H

#ifdef __cplusplus
extern "C" {
#endif

#define VSP_EXPORT __attribute__((visibility("default")))

/* Lengths of the caller's out-texts. The version buffer holds its NUL; the type and
 * init buffers are texts of that many bytes after which the caller keeps a NUL of
 * its own (declare them one byte longer): a text that fills one exactly comes back
 * whole, without a NUL written by the library. */
#define VSP_VERSION_BUFFER 64
#define VSP_TYPE_BUFFER 16
#define VSP_INIT_BUFFER 64

/* Writes the library's version text (at most 63 bytes and a NUL) into buffer. */
VSP_EXPORT int vsp_getVersionInformation(char* buffer);
/* Prepares the library; flag (0 when the port directory cannot be used). */
VSP_EXPORT int vsp_initialize(void);
/* Destroys every device; applications holding a port get a hang-up. */
VSP_EXPORT int vsp_destroyAllDevices(void);
/* Creates a "Connector" or "TcpClient" from its initialization string; its id, or -1. */
VSP_EXPORT int vsp_createDevice(const char* type, const char* init);
VSP_EXPORT int vsp_destroyDevice(int id);
VSP_EXPORT int vsp_reinitializeDevice(int id);
VSP_EXPORT int vsp_getDevicesCount(void);
/* The id of the device at index (creation order), or -1. */
VSP_EXPORT int vsp_getDeviceIdByIdx(int index);
/* Writes the type name and the initialization string (each NUL-ended when shorter
 * than its buffer, cut at a character boundary when longer) and the status flags; flag. */
VSP_EXPORT int vsp_getDeviceInfo(int id, char* type, char* init, int* ready, int* ok);
/* The same for buffers of any size, NUL included; texts are always NUL-ended and cut
 * at a character boundary when they do not fit. 0 for an unknown device, otherwise
 * the size the whole initialization string needs, NUL included: when that exceeds
 * initSize, the string was cut and a call with a buffer of that size gets it whole. */
VSP_EXPORT int vsp_getDeviceInfoEx(int id, char* type, int typeSize, char* init, int initSize, int* ready,
                                   int* ok);
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
