# pyserial on a redirect's port, as a user's script: reads the modem lines, drops
# DTR and RTS and sees the adapter's loop-back follow, sends a break, works at 7E1
# and reads its echo. Prints what it read back.
import sys
import termios
import time

import serial


def settle(condition):
    """The adapter answers a change after a round trip: waits up to 3 s for it."""
    for _ in range(300):
        if condition():
            return
        time.sleep(0.01)


port = serial.Serial(sys.argv[1], 19200, bytesize=7, parity='E', timeout=2)
settle(lambda: port.cts and port.dsr and port.cd)
print(f"opened cts={port.cts} dsr={port.dsr} cd={port.cd} ri={port.ri}", flush=True)
port.dtr = False
settle(lambda: not port.dsr and not port.cd)
print(f"dtr off dsr={port.dsr} cd={port.cd}", flush=True)
port.rts = False
settle(lambda: not port.cts)
print(f"rts off cts={port.cts}", flush=True)
port.send_break(0.3)
cflag = termios.tcgetattr(port.fd)[2]
size = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
parity = 'N' if not cflag & termios.PARENB else ('O' if cflag & termios.PARODD else 'E')
print(f"framing {size}{parity}", flush=True)
port.reset_input_buffer()
port.write(b"hello")
print(f"echo {port.read(5)}", flush=True)
port.close()
