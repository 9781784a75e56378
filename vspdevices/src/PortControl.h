// What a port's control channel (ControlChannel) asks of the connection behind the
// port: the modem lines, break and framing a program sets, the input lines and
// their counts it reads, whether its output has left, and its traffic for monitors. Kept apart from the
// channel so the connection's side (LineControl) needs none of the socket code.
#pragma once

#include "TrafficTap.h"
#include "vspdevices_control.h"
#include "vspdevices.h"

#include <cstdint>
#include <functional>

namespace vsp {

// What a port's control channel asks of the connection behind the port.
class PortControl {
public:
    struct Status {
        std::uint32_t lines = 0;
        control::Counters counters;
        std::uint8_t dataBits = 8;
        std::uint8_t parity = control::parityNone;
        bool outputQueued = false;  // bytes wait in the connection's queues (not counting the terminal)
    };
    virtual ~PortControl() = default;
    virtual Status controlStatus() const = 0;
    // Everything the program wrote has left toward the adapter: none of it waits in
    // the terminal or the connection's queues.
    virtual bool controlOutputLeft() const = 0;
    virtual void controlSetLines(std::uint32_t mask, std::uint32_t levels) = 0;
    virtual void controlSetBreak(bool on) = 0;
    virtual void controlSetFraming(std::uint8_t dataBits, std::uint8_t parity) = 0;
    // `changed` is called whenever the status may have changed, with the input
    // lines that changed (0 when none did).
    virtual void controlObserve(std::function<void(std::uint32_t changed)> changed) = 0;
    // The connection's diagnostics, for a Diagnose request.
    virtual vsp_diagnostics controlDiagnostics() const = 0;
    // Where the connection reports its traffic, for the port's monitors.
    virtual TrafficTap& controlTap() = 0;
    // The lines as the adapter has them and the port's settings, for monitors.
    virtual monitor::PortState controlPortState() const = 0;
};

}  // namespace vsp
