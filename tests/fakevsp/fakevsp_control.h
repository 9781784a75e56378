/* Control interface of the scriptable device library the tests load in place of
 * libvspdevices.so. The tests open the same file with dlopen to reach it. */
#ifndef FAKEVSP_CONTROL_H
#define FAKEVSP_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets every device, scripted result and recorded call. */
void fakevsp_reset(void);
/* The result an operation ("vsp_initialize", "vsp_startEmulation", ...) gives from now on. */
void fakevsp_setResult(const char* operation, int result);
/* The next vsp_createDevice calls are refused (-1), `count` of them. */
void fakevsp_refuseCreates(int count);
/* The next vsp_createDevice calls for this type are refused (-1), `count` of them. */
void fakevsp_refuseType(const char* type, int count);
/* Adds a device as if created, with given status flags; its id. */
int fakevsp_addDevice(const char* type, const char* init, int ready, int ok);
/* Sets the status flags of a device. */
void fakevsp_setFlags(int id, int ready, int ok);
/* What vsp_getDeviceDiagnostics gives for a device from now on: the record's first
 * `size` bytes, as a library of that record's size fills them (none set: it fails). */
struct vsp_diagnostics;
void fakevsp_setDiagnostics(int id, const struct vsp_diagnostics* diagnostics);
/* The version text vsp_getVersionInformation writes. */
void fakevsp_setVersion(const char* text);
/* Every call so far, one per line, e.g. "vsp_createDevice Connector 5;0". */
const char* fakevsp_calls(void);
/* 1 while emulation runs. */
int fakevsp_emulationRunning(void);

#ifdef __cplusplus
}
#endif

#endif
