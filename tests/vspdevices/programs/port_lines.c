/* A serial program that uses every modem line, break and framing call a real
 * serial port takes, in a fixed order, and prints what it reads back:
 *   port_lines PORT
 * Each output line is "<step> <value>"; a failed call prints "<step> error <errno>".
 *   port_lines PORT hold
 * opens the port, reads the lines, then holds it until SIGUSR1, then lowers both
 * lines, raises DTR and reads the lines again: what a program that keeps its port
 * across a restart of the ports' owner does.
 *   port_lines PORT driver
 * asks the serial driver's own requests (TIOCGSERIAL/TIOCSSERIAL with low latency,
 * the RS-485 settings, TIOCSERGETLSR) and waits for its output with tcdrain, as
 * modbus, RS-485 and terminal programs do. */
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static int fd;

static void pause_ms(int ms)
{
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}

static void print_lines(const char* step)
{
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) {
        printf("%s error %d\n", step, errno);
        return;
    }
    printf("%s%s%s%s%s%s%s\n", step, bits & TIOCM_DTR ? " DTR" : "", bits & TIOCM_RTS ? " RTS" : "",
           bits & TIOCM_CTS ? " CTS" : "", bits & TIOCM_DSR ? " DSR" : "", bits & TIOCM_CAR ? " CD" : "",
           bits & TIOCM_RNG ? " RI" : "");
}

/* The adapter's answer to a change takes a round trip: waits up to 3 s for the
 * input lines to read `want`. */
static void settle(int want)
{
    for (int i = 0; i < 300; ++i) {
        int bits = 0;
        if (ioctl(fd, TIOCMGET, &bits) != 0 || (bits & (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG)) == want)
            return; /* no lines to wait for, or there */
        pause_ms(10);
    }
}

static void check(const char* step, int result)
{
    if (result != 0)
        printf("%s error %d\n", step, errno);
}

static void* wait_for_cts(void* unused)
{
    (void)unused;
    const int result = ioctl(fd, TIOCMIWAIT, TIOCM_CTS);
    printf("wait %s\n", result == 0 ? "woke" : strerror(errno));
    return NULL;
}

static void print_framing(const char* step)
{
    struct termios t;
    /* Read back once through the C library and once through the kernel's own call. */
    const int result = step[0] == 'k' ? ioctl(fd, TCGETS, &t) : tcgetattr(fd, &t);
    if (result != 0) {
        printf("%s error %d\n", step, errno);
        return;
    }
    const int bits = (t.c_cflag & CSIZE) == CS5 ? 5 : (t.c_cflag & CSIZE) == CS6 ? 6 : (t.c_cflag & CSIZE) == CS7 ? 7 : 8;
    char parity = 'N';
    if (t.c_cflag & PARENB)
        parity = (t.c_cflag & CMSPAR) ? ((t.c_cflag & PARODD) ? 'M' : 'S') : ((t.c_cflag & PARODD) ? 'O' : 'E');
    printf("%s %d%c\n", step, bits, parity);
}

static void driver_requests(void)
{
    struct serial_struct info;
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) {
        printf("serial error %d\n", errno);
        return;
    }
    printf("serial type %d fifo %d baud_base %d low_latency %d\n", info.type, info.xmit_fifo_size, info.baud_base,
           (info.flags & ASYNC_LOW_LATENCY) != 0);
    info.flags |= ASYNC_LOW_LATENCY;
    check("low latency", ioctl(fd, TIOCSSERIAL, &info));
    ioctl(fd, TIOCGSERIAL, &info);
    printf("low_latency %d\n", (info.flags & ASYNC_LOW_LATENCY) != 0);
    struct serial_rs485 rs485;
    memset(&rs485, 0xff, sizeof rs485);
    if (ioctl(fd, TIOCGRS485, &rs485) == 0)
        printf("rs485 flags %u\n", rs485.flags);
    else
        printf("rs485 error %d\n", errno);
    rs485.flags = SER_RS485_ENABLED;
    printf("rs485 on %s\n", ioctl(fd, TIOCSRS485, &rs485) == 0 ? "ok" : strerror(errno));
    static char block[4096];
    memset(block, 'x', sizeof block);
    for (int i = 0; i < 8; ++i)
        if (write(fd, block, sizeof block) != (ssize_t)sizeof block)
            printf("write error %d\n", errno);
    check("tcdrain", tcdrain(fd));
    unsigned int lsr = 0;
    if (ioctl(fd, TIOCSERGETLSR, &lsr) == 0)
        printf("lsr %s\n", lsr & TIOCSER_TEMT ? "empty" : "sending");
    else
        printf("lsr error %d\n", errno);
}

int main(int argc, char** argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 2 || (fd = open(argv[1], O_RDWR | O_NOCTTY)) < 0) {
        printf("open error %d\n", errno);
        return 1;
    }
    settle(TIOCM_CTS | TIOCM_DSR | TIOCM_CAR); /* the adapter answers the raised lines */
    print_lines("opened");
    if (argc > 2 && strcmp(argv[2], "driver") == 0) {
        driver_requests();
        return 0;
    }
    if (argc > 2 && strcmp(argv[2], "hold") == 0) {
        sigset_t usr1, old;
        sigemptyset(&usr1);
        sigaddset(&usr1, SIGUSR1);
        sigprocmask(SIG_BLOCK, &usr1, &old);
        printf("holding\n");
        int signal_number = 0;
        sigwait(&usr1, &signal_number);
        const int both = TIOCM_DTR | TIOCM_RTS, dtr = TIOCM_DTR;
        printf("lower %s\n", ioctl(fd, TIOCMBIC, &both) == 0 ? "ok" : strerror(errno));
        printf("raise %s\n", ioctl(fd, TIOCMBIS, &dtr) == 0 ? "ok" : strerror(errno));
        print_lines("after");
        return 0;
    }

    struct serial_icounter_struct before, after;
    check("icount", ioctl(fd, TIOCGICOUNT, &before));
    pthread_t waiter;
    pthread_create(&waiter, NULL, wait_for_cts, NULL);
    pause_ms(200);
    const int rts = TIOCM_RTS;
    check("rts off", ioctl(fd, TIOCMBIC, &rts));
    pthread_join(waiter, NULL);
    print_lines("rts off");
    check("rts on", ioctl(fd, TIOCMBIS, &rts));

    const int none = 0;
    check("both off", ioctl(fd, TIOCMSET, &none)); /* a reset: both lines in one call */
    settle(0);
    print_lines("both off");
    check("icount", ioctl(fd, TIOCGICOUNT, &after));
    printf("counted cts %d dsr %d dcd %d\n", after.cts - before.cts, after.dsr - before.dsr, after.dcd - before.dcd);
    const int both = TIOCM_DTR | TIOCM_RTS;
    check("both on", ioctl(fd, TIOCMSET, &both));
    check("both still on", ioctl(fd, TIOCMSET, &both)); /* changes nothing */
    const int dtr = TIOCM_DTR;
    check("rts off", ioctl(fd, TIOCMSET, &dtr)); /* changes RTS alone */
    check("rts on", ioctl(fd, TIOCMBIS, &rts));

    check("break on", ioctl(fd, TIOCSBRK));
    pause_ms(100);
    check("break off", ioctl(fd, TIOCCBRK));
    check("tcsendbreak", tcsendbreak(fd, 0));
    check("tcsbrkp", ioctl(fd, TCSBRKP, 5));

    struct termios t;
    tcgetattr(fd, &t);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARODD | CMSPAR)) | CS7 | PARENB;
    check("7E1", tcsetattr(fd, TCSANOW, &t));
    print_framing("framing");
    /* The kernel's own call, as programs that set any speed make it. */
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS8 | PARENB | PARODD | CMSPAR;
    check("8M1", ioctl(fd, TCSETS, &t));
    print_framing("framing");
    print_framing("kernel framing");
    /* Raw mode set wholesale, as many programs do, read back at once both ways. */
    t.c_lflag = 0;
    t.c_cflag = (t.c_cflag & ~(CSIZE | CMSPAR)) | CS8 | PARENB | PARODD;
    check("8O1", ioctl(fd, TCSETS, &t));
    print_framing("framing");
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD)) | CS7;
    check("7N1", tcsetattr(fd, TCSANOW, &t));
    print_framing("kernel framing");

    /* A child of a program that already talks to the port asks on its own. */
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        print_lines("child");
        _exit(0);
    }
    waitpid(child, NULL, 0);
    print_lines("parent");
    close(fd);
    return 0;
}
