// The connection's side of the port's control channel (PortControl): DTR, RTS,
// break, data size and parity as a program sets them through the launcher, sent
// as RFC 2217 commands, and CTS, DSR, DCD and RI as the adapter reports them.
// While the connection is down the input lines read low (a device switched off);
// connected to an adapter that reports nothing of its own, CTS, DSR and DCD read
// high. Every change of an input line is counted, as a serial driver counts its
// interrupts. The port's open and close raise and drop DTR and RTS, unless a
// program set them.
#pragma once

#include "AdapterConnection.h"
#include "PortBridge.h"
#include "PortControl.h"

#include <asio.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vsp {

class LineControl : public PortControl {
public:
    // `diagnostics` answers a Diagnose request.
    LineControl(asio::io_context& io, AdapterConnection& connection, PortBridge& bridge, TrafficTap& tap,
                std::function<vsp_diagnostics()> diagnostics);

    Status controlStatus() const override;
    bool controlOutputLeft() const override;
    void controlSetLines(std::uint32_t mask, std::uint32_t levels) override;
    void controlSetBreak(bool on) override;
    void controlSetFraming(std::uint8_t dataBits, std::uint8_t parity) override;
    void controlObserve(std::function<void(std::uint32_t changed)> changed) override;
    vsp_diagnostics controlDiagnostics() const override { return diagnostics_(); }
    TrafficTap& controlTap() override { return tap_; }
    monitor::PortState controlPortState() const override;

    void portOpened();
    void portClosed();
    // The modem lines that go out with the connection's offer.
    void addToOffer(std::vector<std::uint8_t>& offer);
    // The connection came or went: the input lines follow.
    void updateInputLines();
    // The adapter notified its modem state.
    void noteModemState();
    // Tells the control channel that the state may have changed (inputsMoved: the
    // input lines that did), so it publishes it and ends the waits it settles.
    void changed(std::uint32_t inputsMoved);

private:
    std::uint32_t inputLinesNow() const;
    void raiseLinesForEarlyControl();
    void checkEarlyOpen();

    AdapterConnection& connection_;
    ClientProtocol& protocol_;
    PortBridge& bridge_;
    TrafficTap& tap_;
    std::function<vsp_diagnostics()> diagnostics_;
    std::uint32_t inputs_ = 0;  // CTS, DSR, DCD, RI as the program reads them
    control::Counters counters_;
    bool raisedEarly_ = false;  // a program's control came before the port's open was confirmed
    bool linesSetByProgram_ = false;  // DTR/RTS as a program set them, until it closes the port
    std::function<void(std::uint32_t)> observer_;
    asio::steady_timer earlyOpenCheck_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();  // expires with this, for its timer
};

}  // namespace vsp
