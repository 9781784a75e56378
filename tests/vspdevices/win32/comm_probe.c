/* comm_probe: a Windows console program that drives a serial port with the Win32
 * communications calls terminal and instrument programs make, for the tests that run
 * it under Wine on a virtual port. It prints one line per call, "<call>: ok <detail>"
 * or "<call>: FAIL <why>", so a test can tell exactly which call failed, and exits
 * with 1 when any did.
 *   comm_probe COM5
 * The adapter at the other end is expected to loop DTR back to DSR and DCD, RTS to
 * CTS, and to echo the data. */
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static HANDLE port = INVALID_HANDLE_VALUE;
static CRITICAL_SECTION lock;
static int failures;

/* What the reader thread saw, under `lock`. */
static char received[256];
static DWORD receivedCount;
static volatile LONG ctsEvents, dsrEvents;
static volatile BOOL readerFailed;
static volatile BOOL closing; /* the port's close ends the reader's wait */
static HANDLE dataArrived;  /* set when bytes were read */
static HANDLE linesChanged; /* set on EV_CTS or EV_DSR */
static HANDLE armed;        /* set each time the reader starts waiting, or fails */

static void report(const char *call, BOOL ok, const char *format, ...)
{
    char detail[256] = "";
    va_list args;
    va_start(args, format);
    vsnprintf(detail, sizeof detail, format, args);
    va_end(args);
    EnterCriticalSection(&lock);
    printf("%s: %s%s%s\n", call, ok ? "ok" : "FAIL", *detail ? " " : "", detail);
    fflush(stdout);
    if (!ok)
        ++failures;
    LeaveCriticalSection(&lock);
}

/* Reports a call's result: its detail when it succeeded, the Windows error when not. */
static BOOL result(const char *call, BOOL ok, const char *detail)
{
    if (ok)
        report(call, TRUE, "%s", detail);
    else
        report(call, FALSE, "error %lu", (unsigned long)GetLastError());
    return ok;
}

static const char *settingsText(const DCB *dcb, char *text, size_t size)
{
    static const char parities[] = "NOEMS";
    static const char *const stops[] = {"1", "1.5", "2"};
    snprintf(text, size, "%lu %u%c%s", (unsigned long)dcb->BaudRate, dcb->ByteSize,
             dcb->Parity < 5 ? parities[dcb->Parity] : '?', dcb->StopBits < 3 ? stops[dcb->StopBits] : "?");
    return text;
}

/* Sets the port to baud/size/parity/stop and reads the settings back. */
static void setAndReadBack(DWORD baud, BYTE size, BYTE parity, BYTE stop, const char *name)
{
    DCB dcb;
    char call[64], want[32], got[32];
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb); /* start from the port's own flow and special characters */
    dcb.BaudRate = baud;
    dcb.ByteSize = size;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    dcb.fBinary = TRUE;
    dcb.fParity = parity != NOPARITY;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (dcb.XonChar == dcb.XoffChar) {
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }
    settingsText(&dcb, want, sizeof want);
    snprintf(call, sizeof call, "SetCommState %s", name);
    if (!result(call, SetCommState(port, &dcb), want))
        return;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    snprintf(call, sizeof call, "GetCommState after %s", name);
    if (!GetCommState(port, &dcb)) {
        result(call, FALSE, "");
        return;
    }
    settingsText(&dcb, got, sizeof got);
    if (strcmp(got, want) == 0)
        report(call, TRUE, "%s", got);
    else
        report(call, FALSE, "reads back %s, not %s", got, want);
}

/* Reads what the port holds, as many bytes as ClearCommError says are waiting, so
 * that no read waits for more. */
static void drain(OVERLAPPED *overlapped)
{
    for (;;) {
        char buffer[64];
        DWORD count = 0, errors = 0;
        COMSTAT status;
        if (!ClearCommError(port, &errors, &status) || status.cbInQue == 0)
            return;
        ResetEvent(overlapped->hEvent);
        if (!ReadFile(port, buffer, status.cbInQue < sizeof buffer ? status.cbInQue : sizeof buffer, &count, overlapped)
            && (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(port, overlapped, &count, TRUE)))
            return;
        EnterCriticalSection(&lock);
        if (count > sizeof received - receivedCount)
            count = sizeof received - receivedCount;
        memcpy(received + receivedCount, buffer, count);
        receivedCount += count;
        LeaveCriticalSection(&lock);
        SetEvent(dataArrived);
    }
}

/* The event-driven reader of a Windows serial program: waits for the port's events
 * and reads when characters came. It runs until the program ends. */
static DWORD WINAPI reader(LPVOID unused)
{
    OVERLAPPED wait, read;
    (void)unused;
    memset(&wait, 0, sizeof wait);
    memset(&read, 0, sizeof read);
    wait.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    read.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    for (;;) {
        DWORD mask = 0, unusedCount;
        BOOL done;
        ResetEvent(wait.hEvent);
        done = WaitCommEvent(port, &mask, &wait);
        if (!done && GetLastError() != ERROR_IO_PENDING)
            break;
        SetEvent(armed);
        if (!done && !GetOverlappedResult(port, &wait, &unusedCount, TRUE))
            break;
        if (mask & EV_CTS)
            InterlockedIncrement(&ctsEvents);
        if (mask & EV_DSR)
            InterlockedIncrement(&dsrEvents);
        if (mask & (EV_CTS | EV_DSR))
            SetEvent(linesChanged);
        if (mask & EV_RXCHAR)
            drain(&read);
    }
    if (!closing)
        result("WaitCommEvent", FALSE, "");
    readerFailed = TRUE;
    SetEvent(armed);
    SetEvent(dataArrived);
    return 0;
}

/* Changes a modem line once the reader waits, and expects the reader to be told. */
static void expectEvent(const char *name, DWORD function, volatile LONG *events)
{
    const LONG before = *events;
    const DWORD start = GetTickCount();
    char call[64];
    snprintf(call, sizeof call, "WaitCommEvent %s", name);
    WaitForSingleObject(armed, 2000);
    if (readerFailed) {
        report(call, FALSE, "no reader");
        return;
    }
    EscapeCommFunction(port, function);
    while (*events == before && GetTickCount() - start < 2000)
        WaitForSingleObject(linesChanged, 100);
    report(call, *events > before, "after EscapeCommFunction %lu", (unsigned long)function);
}

/* Reads the modem lines until they are as expected or two seconds passed: the adapter
 * reports a change some time after it was asked for. */
static void expectModemStatus(const char *name, DWORD expected)
{
    const DWORD lines = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON;
    const DWORD start = GetTickCount();
    char call[64];
    DWORD status = 0;
    snprintf(call, sizeof call, "GetCommModemStatus %s", name);
    for (;;) {
        if (!GetCommModemStatus(port, &status)) {
            result(call, FALSE, "");
            return;
        }
        if ((status & lines) == expected || GetTickCount() - start > 2000)
            break;
        Sleep(10);
    }
    report(call, (status & lines) == expected, "CTS %d DSR %d DCD %d RI %d%s", !!(status & MS_CTS_ON),
           !!(status & MS_DSR_ON), !!(status & MS_RLSD_ON), !!(status & MS_RING_ON),
           (status & lines) == expected ? "" : " (not as the adapter loops them back)");
}

/* Writes `text` and reads its echo back, waiting up to two seconds: bytes sent at the
 * speed just set, which the adapter must have been told before them. */
static void roundTrip(const char *name, const char *text)
{
    const DWORD length = (DWORD)strlen(text);
    char call[64], echo[32] = "";
    DWORD written = 0, count = 0;
    COMMTIMEOUTS timeouts;
    OVERLAPPED io;
    memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadTotalTimeoutConstant = 2000;
    SetCommTimeouts(port, &timeouts);
    memset(&io, 0, sizeof io);
    io.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!WriteFile(port, text, length, &written, &io) && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(port, &io, &written, TRUE);
    ResetEvent(io.hEvent);
    if (!ReadFile(port, echo, length < sizeof echo ? length : sizeof echo - 1, &count, &io)
        && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(port, &io, &count, TRUE);
    CloseHandle(io.hEvent);
    echo[count < sizeof echo ? count : sizeof echo - 1] = 0;
    snprintf(call, sizeof call, "echo at %s", name);
    report(call, written == length && count == length && memcmp(echo, text, length) == 0, "%lu of %lu bytes",
           (unsigned long)count, (unsigned long)length);
}

static void escape(const char *name, DWORD function)
{
    char call[64];
    snprintf(call, sizeof call, "EscapeCommFunction %s", name);
    result(call, EscapeCommFunction(port, function), "");
}

/* Waits until the echo of `text` arrived, read by the reader thread or, when its
 * WaitCommEvent failed, by plain reads as a program without events does. */
static void expectEcho(const char *text)
{
    const DWORD length = (DWORD)strlen(text);
    const DWORD start = GetTickCount();
    OVERLAPPED read;
    memset(&read, 0, sizeof read);
    read.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    for (;;) {
        DWORD count;
        EnterCriticalSection(&lock);
        count = receivedCount;
        LeaveCriticalSection(&lock);
        if (count >= length || GetTickCount() - start > 5000)
            break;
        if (readerFailed)
            drain(&read);
        WaitForSingleObject(dataArrived, readerFailed ? 20 : 200);
    }
    CloseHandle(read.hEvent);
    EnterCriticalSection(&lock);
    received[receivedCount < sizeof received ? receivedCount : sizeof received - 1] = 0;
    LeaveCriticalSection(&lock);
    report(readerFailed ? "echo by plain reads" : "echo by the WaitCommEvent reader",
           receivedCount == length && memcmp(received, text, length) == 0, "%lu of %lu bytes: \"%s\"",
           (unsigned long)receivedCount, (unsigned long)length, received);
}

int main(int argc, char **argv)
{
    char path[64], detail[64];
    DCB dcb;
    COMMTIMEOUTS timeouts;
    OVERLAPPED write;
    DWORD written = 0;
    const char *text = "QuorlinVCP echo 0123456789\r\n";

    if (argc != 2 || strncmp(argv[1], "COM", 3) != 0) {
        fprintf(stderr, "usage: comm_probe COM<n>\n");
        return 2;
    }
    InitializeCriticalSection(&lock);
    dataArrived = CreateEventA(NULL, FALSE, FALSE, NULL);
    linesChanged = CreateEventA(NULL, FALSE, FALSE, NULL);
    armed = CreateEventA(NULL, FALSE, FALSE, NULL);
    snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
    port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    if (!result("CreateFile", port != INVALID_HANDLE_VALUE, path))
        return 1;

    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(port, &dcb))
        report("GetCommState on opening", TRUE, "%s", settingsText(&dcb, detail, sizeof detail));
    else
        result("GetCommState on opening", FALSE, "");
    setAndReadBack(9600, 8, NOPARITY, ONESTOPBIT, "9600 8N1");
    roundTrip("9600 8N1", "at 9600\r\n");
    setAndReadBack(19200, 7, EVENPARITY, ONESTOPBIT, "19200 7E1");
    roundTrip("19200 7E1", "at 19200\r\n");

    /* The adapter loops DTR to DSR and DCD, RTS to CTS. */
    escape("SETDTR", SETDTR);
    escape("SETRTS", SETRTS);
    expectModemStatus("with DTR and RTS on", MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
    escape("CLRDTR", CLRDTR);
    expectModemStatus("with DTR off", MS_CTS_ON);
    escape("CLRRTS", CLRRTS);
    expectModemStatus("with DTR and RTS off", 0);
    escape("SETDTR", SETDTR);
    escape("SETRTS", SETRTS);
    expectModemStatus("with DTR and RTS on again", MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);

    result("SetCommBreak", SetCommBreak(port), "");
    Sleep(20);
    result("ClearCommBreak", ClearCommBreak(port), "");
    result("PurgeComm", PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR), "RX and TX");

    /* Reads return at once with what is there; writes wait as long as they need. */
    memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    result("SetCommTimeouts", SetCommTimeouts(port, &timeouts), "");
    result("SetCommMask", SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR), "EV_RXCHAR EV_CTS EV_DSR");
    CreateThread(NULL, 0, reader, NULL, 0, NULL);
    /* Each change once the reader waits: Wine reports only what changes during a wait. */
    expectEvent("EV_CTS", CLRRTS, &ctsEvents);
    expectEvent("EV_DSR", CLRDTR, &dsrEvents);
    EscapeCommFunction(port, SETDTR);
    EscapeCommFunction(port, SETRTS);

    memset(&write, 0, sizeof write);
    write.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!WriteFile(port, text, (DWORD)strlen(text), &written, &write) && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(port, &write, &written, TRUE);
    snprintf(detail, sizeof detail, "%lu bytes", (unsigned long)written);
    result("WriteFile", written == strlen(text), detail);
    expectEcho(text);

    closing = TRUE;
    CloseHandle(port);
    EnterCriticalSection(&lock);
    printf("done: %d failed\n", failures);
    fflush(stdout);
    LeaveCriticalSection(&lock);
    return failures ? 1 : 0;
}
