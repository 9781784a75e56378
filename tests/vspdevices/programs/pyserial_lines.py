# pyserial on a redirect's port, as a user's script: reads the modem lines, drops
# DTR and RTS and sees the adapter's loop-back follow, sends a break, works at 7E1
# and reads its echo. Prints what it read back.
import sys
import termios
import time

import serial

port = serial.Serial(sys.argv[1], 19200, bytesize=7, parity='E', timeout=2)
time.sleep(0.3)
print(f"opened cts={port.cts} dsr={port.dsr} cd={port.cd} ri={port.ri}", flush=True)
port.dtr = False
time.sleep(0.3)
print(f"dtr off dsr={port.dsr} cd={port.cd}", flush=True)
port.rts = False
time.sleep(0.3)
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
