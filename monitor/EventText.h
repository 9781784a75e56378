// The words for what a monitor sees besides the traffic: a program's opens and
// closes, the connection's events, the port's state and lost records. The terminal's
// view and the capture file say the same.
#pragma once

#include "monitor/RecordReader.h"

#include <span>
#include <string>

namespace monitor {

// "a program opened the port", "connected to adapter:4001 (127.0.0.1:51234 -> 10.0.0.5:4001, Telnet)",
// "9600 baud 8N1, no flow control, lines DTR RTS CTS": the line a record other than
// Data or Wire makes; "" for those two. Never a control character.
std::string eventText(const Record& record);

std::string stateText(const vsp::monitor::PortState& state);

// Serial bytes as text with C-style escapes: printable ASCII as it is (a backslash
// doubled), \r \n \t, and every other byte as \xFF; never a control character.
std::string escaped(std::span<const std::uint8_t> bytes);

// "10.0.0.5:4001" or "[fe80::1]:4001".
std::string addressText(std::uint8_t family, const std::uint8_t* address, std::uint16_t port);

}  // namespace monitor
