// The pseudo-terminal's line settings, through termios2 so that any baud rate (not
// only the B-constants) can be set and read back.
#pragma once

#include <cstdint>
#include <optional>

namespace vsp {

// Raw mode (no echo, no line editing, 8 bits) at the given speed: a standard rate
// by its own constant, any other by BOTHER.
bool makeRawWithSpeed(int fd, std::uint32_t baud);
// The output speed an application set on the terminal; on a pty master this reads
// the slave side's settings.
std::optional<std::uint32_t> terminalSpeed(int fd);

}  // namespace vsp
