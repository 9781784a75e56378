/* comm_wait: a Windows program that only waits for its port's modem lines, for
 * wait_bench. It opens the port, asks for CTS, DSR, DCD and RING events and waits
 * for them forever with a blocking WaitCommEvent, as a terminal or instrument
 * program waits between its exchanges. "waiting" on standard output says it got
 * that far. Without a port it only sleeps (to keep a Wine prefix's services up).
 *   comm_wait COM5 */
#include <windows.h>

#include <stdio.h>

int main(int argc, char **argv)
{
    char path[64];
    HANDLE port;
    DWORD events;
    if (argc < 2) {
        Sleep(INFINITE);
        return 0;
    }
    snprintf(path, sizeof path, "\\\\.\\%s", argv[1]);
    port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (port == INVALID_HANDLE_VALUE) {
        printf("CreateFile %s: FAIL error %lu\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    if (!SetCommMask(port, EV_CTS | EV_DSR | EV_RLSD | EV_RING)) {
        printf("SetCommMask: FAIL error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    printf("waiting\n");
    fflush(stdout);
    for (;;) {
        if (!WaitCommEvent(port, &events, NULL)) {
            printf("WaitCommEvent: FAIL error %lu\n", (unsigned long)GetLastError());
            return 1;
        }
    }
}
