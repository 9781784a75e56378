#include "LineControl.h"

#include <algorithm>

namespace vsp {
namespace {
// Longer than the port takes to confirm an open.
constexpr auto earlyOpenCheckAfter = std::chrono::milliseconds(250);

std::uint32_t linesOf(std::uint8_t modemState)
{
    std::uint32_t lines = 0;
    if (modemState & rfc2217::modemCts)
        lines |= control::lineCts;
    if (modemState & rfc2217::modemDsr)
        lines |= control::lineDsr;
    if (modemState & rfc2217::modemDcd)
        lines |= control::lineDcd;
    if (modemState & rfc2217::modemRi)
        lines |= control::lineRi;
    return lines;
}

// Counts the lines that moved; RI counts on its trailing edge only, as a UART does.
std::uint32_t count(std::uint32_t moved, std::uint32_t now, control::Counters& counters)
{
    if (moved & control::lineCts)
        ++counters.cts;
    if (moved & control::lineDsr)
        ++counters.dsr;
    if (moved & control::lineDcd)
        ++counters.dcd;
    if ((moved & control::lineRi) && !(now & control::lineRi))
        ++counters.ring;
    else
        moved &= ~control::lineRi;
    return moved;
}
}  // namespace

LineControl::LineControl(asio::io_context& io, AdapterConnection& connection, PortBridge& bridge, TrafficTap& tap,
                         std::function<vsp_diagnostics()> diagnostics)
    : connection_(connection),
      protocol_(connection.protocol()),
      bridge_(bridge),
      tap_(tap),
      diagnostics_(std::move(diagnostics)),
      earlyOpenCheck_(io)
{
    std::vector<std::uint8_t> none;  // not connected yet: sent with the settings once the adapter agrees
    protocol_.setModemStateMask(0xFF, none);
}

std::uint32_t LineControl::inputLinesNow() const
{
    if (!connection_.linked())
        return 0;
    if (const auto& state = protocol_.server().modemState)
        return linesOf(*state);
    return control::lineCts | control::lineDsr | control::lineDcd;
}

void LineControl::updateInputLines()
{
    const std::uint32_t now = inputLinesNow();
    const std::uint32_t moved = count(now ^ inputs_, now, counters_);
    inputs_ = now;
    if (moved)
        changed(moved);
}

void LineControl::noteModemState()
{
    std::uint32_t moves = 0;
    for (const rfc2217::Message& message : protocol_.messages()) {
        if (message.code != rfc2217::NotifyModemState + rfc2217::serverOffset)
            continue;
        const auto state = static_cast<std::uint8_t>(message.value);
        const std::uint32_t now = linesOf(state);
        // A line that went and came back between two notifications shows only in its delta bit.
        std::uint32_t moved = now ^ inputs_;
        if (state & rfc2217::modemDeltaCts)
            moved |= control::lineCts;
        if (state & rfc2217::modemDeltaDsr)
            moved |= control::lineDsr;
        if (state & rfc2217::modemDeltaDcd)
            moved |= control::lineDcd;
        if (state & rfc2217::modemRiTrailingEdge)
            moved |= control::lineRi;
        moves |= count(moved, now, counters_);
        inputs_ = now;
    }
    if (moves)
        changed(moves);
}

void LineControl::addToOffer(std::vector<std::uint8_t>& offer)
{
    if (!linesSetByProgram_)  // otherwise they stay as the program set them
        protocol_.setModemLines(bridge_.portHeld() || raisedEarly_, offer);
}

void LineControl::portOpened()
{
    if (raisedEarly_)
        return;  // raised already for the program's early control
    std::vector<std::uint8_t> lines;
    protocol_.setModemLines(true, lines);
    connection_.sendRaw(lines);
}

void LineControl::portClosed()
{
    raisedEarly_ = linesSetByProgram_ = false;
    std::vector<std::uint8_t> lines;
    protocol_.setModemLines(false, lines);
    connection_.sendRaw(lines);
}

// A program's control can come before the port has confirmed its open; the open
// raises DTR and RTS first, as a serial driver does, so the program's own change
// comes after it and the later confirmation does not undo it. A program that
// leaves again before the open is confirmed (stty) never makes the port report a
// close, so a check afterwards drops the lines as its close would.
void LineControl::raiseLinesForEarlyControl()
{
    if (bridge_.portHeld() || raisedEarly_)
        return;
    raisedEarly_ = true;
    std::vector<std::uint8_t> lines;
    protocol_.setModemLines(true, lines);
    connection_.sendRaw(lines);
    earlyOpenCheck_.expires_after(earlyOpenCheckAfter);
    earlyOpenCheck_.async_wait([this, alive = std::weak_ptr<char>(alive_)](const asio::error_code& error) {
        if (!alive.expired() && !error)
            checkEarlyOpen();
    });
}

void LineControl::checkEarlyOpen()
{
    const auto port = bridge_.port();
    if (!raisedEarly_ || bridge_.portHeld() || (port && port->heldOpen()))
        return;  // confirmed meanwhile, or still held: the port reports its close
    portClosed();
}

PortControl::Status LineControl::controlStatus() const
{
    const bool opening = !bridge_.portHeld() && !raisedEarly_;  // the open will raise them
    Status s;
    if (protocol_.dtr() || opening)
        s.lines |= control::lineDtr;
    if (protocol_.rts() || opening)
        s.lines |= control::lineRts;
    s.lines |= inputs_;
    s.counters = counters_;
    s.dataBits = protocol_.serial().dataBits;
    s.parity = static_cast<std::uint8_t>(protocol_.serial().parity);
    s.outputQueued = bridge_.holdsOutput() || !connection_.queueEmpty();
    return s;
}

monitor::PortState LineControl::controlPortState() const
{
    // The output lines as last sent (not as a launched program reads them before
    // the open), so a monitor sees the levels the adapter was told.
    monitor::PortState s;
    s.lines = inputs_ | (protocol_.dtr() ? control::lineDtr : 0) | (protocol_.rts() ? control::lineRts : 0);
    const SerialSettings& serial = protocol_.serial();
    s.baud = serial.baud;
    s.dataBits = static_cast<std::uint8_t>(std::clamp<int>(serial.dataBits, 5, 8));
    s.parity = static_cast<std::uint8_t>(std::min<int>(static_cast<int>(serial.parity), control::paritySpace));
    s.stopBits = static_cast<std::uint8_t>(std::clamp<int>(serial.stopBits, 1, 3));
    if (const auto port = bridge_.port()) {
        using Flow = PortSettings::Flow;
        const Flow flow = port->settings().outbound;
        s.flow = flow == Flow::Hardware ? monitor::flowHardware : flow == Flow::XonXoff ? monitor::flowXonXoff : monitor::flowNone;
    }
    return s;
}

bool LineControl::controlOutputLeft() const
{
    if (controlStatus().outputQueued)
        return false;
    const auto port = bridge_.port();
    return !port || !port->unreadFromApplication();
}

void LineControl::changed(std::uint32_t inputsMoved)
{
    if (observer_)
        observer_(inputsMoved);
}

void LineControl::controlSetLines(std::uint32_t mask, std::uint32_t levels)
{
    raiseLinesForEarlyControl();
    linesSetByProgram_ = true;
    std::vector<std::uint8_t> out;  // both lines of one call in one write
    if (mask & control::lineDtr)
        protocol_.setDtr((levels & control::lineDtr) != 0, out);
    if (mask & control::lineRts)
        protocol_.setRts((levels & control::lineRts) != 0, out);
    connection_.sendRaw(out);
}

void LineControl::controlSetBreak(bool on)
{
    raiseLinesForEarlyControl();
    bridge_.flushGathered();  // what the program wrote before the break goes out before it
    std::vector<std::uint8_t> out;
    protocol_.setBreak(on, out);
    connection_.sendRaw(out);
}

void LineControl::controlSetFraming(std::uint8_t dataBits, std::uint8_t parity)
{
    raiseLinesForEarlyControl();
    static_assert(static_cast<std::uint8_t>(Parity::Space) == control::paritySpace);
    std::vector<std::uint8_t> out;
    if (dataBits != protocol_.serial().dataBits)
        protocol_.setDataSize(dataBits, out);
    if (parity != static_cast<std::uint8_t>(protocol_.serial().parity))
        protocol_.setParity(static_cast<Parity>(parity), out);
    if (!out.empty())
        bridge_.flushGathered();
    connection_.sendRaw(out);
    connection_.reportSettingsSent(!out.empty() && connection_.connected());
}

void LineControl::controlObserve(std::function<void(std::uint32_t changed)> changed)
{
    observer_ = std::move(changed);
}

}  // namespace vsp
