// How the monitor window writes a port's traffic: serial data as text with escapes
// or as hex, an event's line, and the settings in force.
#pragma once

#include "monitor/Conversation.h"

#include <QString>
#include <cstdint>
#include <span>

namespace monitortext {

// Printable ASCII as it is; CR, LF, TAB and backslash as \r \n \t \\; every
// other byte as \xNN, so nothing the port carries can disturb the view.
QString escaped(std::span<const std::uint8_t> bytes);
// "68 65 0D 0A": each byte as two hex digits, a space between.
QString hex(std::span<const std::uint8_t> bytes);
// The line of an entry that is no data: "port opened", "dropped: <reason>", a command.
QString eventText(const monitor::Entry& entry);
// "9600 8N1, no flow control": speed, data bits, parity, stop bits and flow control.
QString settingsText(const vsp::monitor::PortState& state);

}  // namespace monitortext
