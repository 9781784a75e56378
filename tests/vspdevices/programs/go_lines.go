// A Go serial program on a port, as Go's serial tools drive one: the port opened
// and configured with a Debian Go serial library (7 data bits, even parity), the
// modem lines read through it, then DTR, RTS, the wait for CTS and break made as
// raw system calls through golang.org/x/sys/unix, as the serial library of
// Arduino's tools makes them. Each output line is "<step> <value>" or
// "<step> error <text>".
//
//	go_lines PORT
package main

import (
	"fmt"
	"os"
	"path/filepath"
	"strings"
	"time"

	serial "github.com/albenik/go-serial"
	"golang.org/x/sys/unix"
)

// The descriptor the library opened for the port, found among the process's own.
func descriptorOf(port string) int {
	target, _ := filepath.EvalSymlinks(port)
	entries, _ := os.ReadDir("/proc/self/fd")
	for _, e := range entries {
		link, err := os.Readlink("/proc/self/fd/" + e.Name())
		if err == nil && link == target {
			var fd int
			fmt.Sscan(e.Name(), &fd)
			return fd
		}
	}
	return -1
}

func lines(bits int) string {
	names := []struct {
		bit  int
		name string
	}{{unix.TIOCM_DTR, "DTR"}, {unix.TIOCM_RTS, "RTS"}, {unix.TIOCM_CTS, "CTS"}, {unix.TIOCM_DSR, "DSR"},
		{unix.TIOCM_CAR, "CD"}, {unix.TIOCM_RNG, "RI"}}
	var out []string
	for _, n := range names {
		if bits&n.bit != 0 {
			out = append(out, n.name)
		}
	}
	return strings.Join(out, " ")
}

func check(step string, err error) {
	if err != nil {
		fmt.Printf("%s error %v\n", step, err)
	}
}

func main() {
	port, err := serial.Open(os.Args[1], serial.WithBaudrate(19200), serial.WithDataBits(7),
		serial.WithParity(serial.EvenParity), serial.WithStopBits(serial.OneStopBit), serial.WithReadTimeout(3000))
	if err != nil {
		fmt.Printf("open error %v\n", err)
		os.Exit(1)
	}
	fd := descriptorOf(os.Args[1])
	// The adapter answers the raised lines after a round trip.
	for i := 0; i < 300; i++ {
		if bits, err := unix.IoctlGetInt(fd, unix.TIOCMGET); err != nil || bits&unix.TIOCM_CAR != 0 {
			break
		}
		time.Sleep(10 * time.Millisecond)
	}
	status, err := port.GetModemStatusBits()
	if err != nil {
		fmt.Printf("status error %v\n", err)
	} else {
		fmt.Printf("status cts %v dsr %v dcd %v ri %v\n", status.CTS, status.DSR, status.DCD, status.RI)
	}
	if t, err := unix.IoctlGetTermios(fd, unix.TCGETS); err == nil {
		fmt.Printf("framing %d%v\n", map[uint32]int{unix.CS5: 5, unix.CS6: 6, unix.CS7: 7, unix.CS8: 8}[t.Cflag&unix.CSIZE],
			map[bool]string{true: "E", false: "N"}[t.Cflag&unix.PARENB != 0])
	}
	// This library version passes the new lines by value, not by address: a real
	// serial port answers that with EFAULT, and so does this one.
	check("library setdtr", port.SetDTR(true))

	woke := make(chan error)
	go func() { woke <- unix.IoctlSetInt(fd, unix.TIOCMIWAIT, unix.TIOCM_CTS) }()
	time.Sleep(200 * time.Millisecond)
	check("rts off", unix.IoctlSetPointerInt(fd, unix.TIOCMBIC, unix.TIOCM_RTS))
	if err := <-woke; err != nil {
		fmt.Printf("wait error %v\n", err)
	} else {
		fmt.Println("wait woke")
	}
	if bits, err := unix.IoctlGetInt(fd, unix.TIOCMGET); err == nil {
		fmt.Printf("lines %s\n", lines(bits))
	}
	check("dtr off", unix.IoctlSetPointerInt(fd, unix.TIOCMBIC, unix.TIOCM_DTR))
	check("both on", unix.IoctlSetPointerInt(fd, unix.TIOCMBIS, unix.TIOCM_DTR|unix.TIOCM_RTS))
	check("break on", unix.IoctlSetInt(fd, unix.TIOCSBRK, 0))
	time.Sleep(100 * time.Millisecond)
	check("break off", unix.IoctlSetInt(fd, unix.TIOCCBRK, 0))

	if _, err := port.Write([]byte("hello")); err != nil {
		fmt.Printf("write error %v\n", err)
	}
	check("drain", unix.IoctlSetInt(fd, unix.TCSBRK, 1))
	echo := make([]byte, 0, 5)
	buffer := make([]byte, 5)
	for len(echo) < 5 {
		n, err := port.Read(buffer)
		if err != nil || n == 0 {
			break
		}
		echo = append(echo, buffer[:n]...)
	}
	fmt.Printf("echo %s\n", echo)
	check("close", port.Close())
}
