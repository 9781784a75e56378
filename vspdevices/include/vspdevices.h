/* libvspdevices: virtual serial ports (pseudo-terminals) bridged to TCP clients,
 * with Telnet RFC 2217 port control. Plain C interface; every text is UTF-8 and
 * NUL-terminated. Results: a "flag" is 1 for success and 0 for failure. */
#ifndef VSPDEVICES_H
#define VSPDEVICES_H

#include <stdint.h>

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
/* 0, changing nothing, while an application holds one of the ports open. Stopping
 * (here and in vsp_release) first sends what the ports took from their applications
 * to the connected adapters, waiting for them at most 3 s. */
VSP_EXPORT int vsp_stopEmulation(void);
/* Replaces every device with the file's; 0, changing nothing, for a bad file. */
VSP_EXPORT int vsp_loadConfiguration(const char* path);
/* The same; when it fails, `why` (of whySize bytes, NUL-ended, cut at a character
 * boundary) says why in words: "not a regular file", "larger than 1 MiB", "nested
 * deeper than 16 levels", "device 3 (...) is not valid", or the system's message
 * ("No such file or directory"). A null `why` or a whySize of 0 asks for no text. */
VSP_EXPORT int vsp_loadConfigurationEx(const char* path, char* why, int whySize);
VSP_EXPORT int vsp_saveConfiguration(const char* path);
/* Stops everything and removes every port; later calls fail until vsp_initialize. */
VSP_EXPORT int vsp_release(void);

/* Diagnostics of one device, read-only. The caller sets `size` to
 * sizeof(struct vsp_diagnostics) of its header; the library fills as much as both
 * sides know and sets `size` to what it filled. Later versions only add fields at
 * the end. */
#define VSP_DIAGNOSTICS_TEXT 96
#define VSP_TLS_VERSION_TEXT 16
#define VSP_FINGERPRINT_TEXT 72 /* 64 digits, NUL, padding */

/* state: where a TcpClient's connection is; a Connector is VSP_STATE_UP while its
 * port exists. */
#define VSP_STATE_STOPPED 0     /* emulation is off */
#define VSP_STATE_IDLE 1        /* on demand, waiting for an application */
#define VSP_STATE_RESOLVING 2   /* looking the host name up */
#define VSP_STATE_CONNECTING 3
#define VSP_STATE_NEGOTIATING 4 /* connected, port control not answered yet */
#define VSP_STATE_UP 5
#define VSP_STATE_CLOSING 6     /* on demand, sending the last bytes before closing */
#define VSP_STATE_RETRY_WAIT 7  /* the last attempt failed; waiting to try again */

/* lastErrorKind: why the connection last failed. */
#define VSP_ERROR_NONE 0
#define VSP_ERROR_REFUSED 1
#define VSP_ERROR_TIMED_OUT 2
#define VSP_ERROR_NAME_NOT_FOUND 3
#define VSP_ERROR_RESET 4
#define VSP_ERROR_CLOSED_BY_PEER 5
#define VSP_ERROR_UNREACHABLE 6
#define VSP_ERROR_OTHER 7
/* TLS: the adapter's certificate is not pinned and no authority the system trusts
 * vouches for it (or it does not name the host); peerFingerprint is the one to pin. */
#define VSP_ERROR_CERTIFICATE_UNKNOWN 8
/* TLS: the adapter presented a certificate other than the pinned one. */
#define VSP_ERROR_CERTIFICATE_CHANGED 9
/* TLS: the handshake failed otherwise (no common version, the adapter refused our
 * client certificate or wanted one, the client certificate or key cannot be read). */
#define VSP_ERROR_TLS 10

struct vsp_diagnostics {
    uint32_t size;
    int32_t state;                /* VSP_STATE_* */
    int32_t lastErrorKind;        /* VSP_ERROR_* */
    int32_t reserved;
    int64_t lastErrorTimeMs;      /* milliseconds since 1970-01-01 UTC; 0 when none */
    char lastErrorText[VSP_DIAGNOSTICS_TEXT]; /* e.g. "connection: Connection refused" */
    uint64_t bytesToAdapter;      /* serial data sent, since emulation started */
    uint64_t bytesFromAdapter;    /* serial data received */
    uint64_t bytesDropped;        /* written while not connected, beyond what waits */
    uint32_t reconnects;          /* connections made after the first */
    int32_t portHeld;             /* 1 while an application holds the COM port */
    int64_t upTimeMs;             /* how long the current connection has lasted; 0 when down */
    /* What the adapter confirmed on the current connection (RFC 2217 answers); -1
     * when it has not, and while no connection is up: speed in baud, data size 5..8, parity 1 none 2 odd 3 even 4 mark
     * 5 space, stop size 1, 2 or 3 (1.5). */
    int64_t ackBaud;
    int32_t ackDataSize;
    int32_t ackParity;
    int32_t ackStopSize;
    int32_t lineState;            /* the adapter's last NOTIFY-LINESTATE, or -1 */
    int32_t modemState;           /* the adapter's last NOTIFY-MODEMSTATE, or -1 */
    int32_t reserved2;
    /* TLS (a later version's fields: filled when `size` reaches them). */
    int32_t tls;                  /* 1 when the redirect connects over TLS */
    int32_t reserved3;
    char tlsVersion[VSP_TLS_VERSION_TEXT];   /* "TLSv1.3" while connected, else "" */
    /* The certificate the adapter presented on the current connection or, when
     * none is up, on the last attempt (so a refused one can be shown and pinned);
     * "" when none was seen. Subject in one line ("CN=adapter,O=Lab"), cut at a
     * character boundary; fingerprint: SHA-256 of the DER, 64 lowercase hex digits. */
    char peerSubject[VSP_DIAGNOSTICS_TEXT];
    char peerFingerprint[VSP_FINGERPRINT_TEXT];
};

/* Fills `out` for the device `id`; flag (0 for an unknown id, a null `out` or a
 * `size` smaller than the first version's). */
VSP_EXPORT int vsp_getDeviceDiagnostics(int id, struct vsp_diagnostics* out);

/* Events: what happens to the redirects' connections, as it happens. The handler is
 * called on the library's own thread, one event at a time, so it must be quick and
 * must not call the library (it would wait for itself); a program that logs or
 * shows events hands them to a thread of its own. The event and its text live only
 * for the call. Once vsp_setEventHandler returns, the handler it replaced is no
 * longer running and is never called again; NULL turns events off. The handler
 * stays set across vsp_release and vsp_initialize. */
#define VSP_EVENT_CONNECTED 1       /* the connection to the adapter is up; text: host:port */
#define VSP_EVENT_DROPPED 2         /* a connection that was up failed; errorKind and text: why */
#define VSP_EVENT_CONNECT_FAILED 3  /* an attempt to connect failed (retried); errorKind and text: why */
#define VSP_EVENT_SETTINGS_SENT 4   /* serial settings went to the adapter; text: e.g. "19200 baud, 8N1" */
#define VSP_EVENT_CLOSED 5          /* the library closed the connection; text: why */
#define VSP_EVENT_DATA_LOST 6       /* stopping, bytes the port had accepted could not reach the adapter; text: how many */

struct vsp_event {
    uint32_t size;                /* sizeof(struct vsp_event) of the library; later versions add at the end */
    int32_t kind;                 /* VSP_EVENT_* */
    int32_t deviceId;             /* the TcpClient */
    int32_t com;                  /* its COM port */
    int32_t errorKind;            /* VSP_ERROR_*, for DROPPED and CONNECT_FAILED */
    int32_t reserved;
    char text[VSP_DIAGNOSTICS_TEXT]; /* UTF-8, NUL-ended, cut at a character boundary */
};

typedef void (*vsp_event_handler)(const struct vsp_event* event, void* context);

/* Sets the handler (and the context it is called with); flag. Any thread, any time,
 * apart from within the handler itself. */
VSP_EXPORT int vsp_setEventHandler(vsp_event_handler handler, void* context);

#ifdef __cplusplus
}
#endif

#endif
