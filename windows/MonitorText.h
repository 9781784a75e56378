// How the monitor window writes what monitor/EventText does not: serial data as hex,
// and the settings in force beside the line lamps.
#pragma once

#include "vspdevices_monitor.h"

#include <QString>
#include <cstdint>
#include <span>

namespace monitortext {

// "68 65 0D 0A": each byte as two hex digits, a space between.
QString hex(std::span<const std::uint8_t> bytes);
// "9600 8N1, no flow control": speed, data bits, parity, stop bits and flow control.
QString settingsText(const vsp::monitor::PortState& state);

}  // namespace monitortext
