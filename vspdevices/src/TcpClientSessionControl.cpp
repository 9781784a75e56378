// The connection's side of the port's control channel: DTR, RTS, break, data size
// and parity as a program sets them through the launcher, and CTS, DSR, DCD and RI
// as the adapter reports them. While the connection is down the input lines read
// low (a device switched off); connected to an adapter that reports nothing of its
// own, CTS, DSR and DCD read high. Every change of an input line is counted, as a
// serial driver counts its interrupts.
#include "TcpClientSession.h"

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

void TcpClientSession::askForModemState()
{
    std::vector<std::uint8_t> none;  // not connected yet: sent with the settings once the adapter agrees
    protocol_.setModemStateMask(0xFF, none);
}

std::uint32_t TcpClientSession::inputLinesNow() const
{
    if (!connected() || !socket_.is_open())
        return 0;
    if (const auto& state = protocol_.server().modemState)
        return linesOf(*state);
    return control::lineCts | control::lineDsr | control::lineDcd;
}

void TcpClientSession::updateInputLines()
{
    const std::uint32_t now = inputLinesNow();
    const std::uint32_t moved = count(now ^ control_.inputs, now, control_.counters);
    control_.inputs = now;
    if (moved)
        controlChanged(moved);
}

void TcpClientSession::noteModemState()
{
    std::uint32_t changed = 0;
    for (const rfc2217::Message& message : protocol_.messages()) {
        if (message.code != rfc2217::NotifyModemState + rfc2217::serverOffset)
            continue;
        const auto state = static_cast<std::uint8_t>(message.value);
        const std::uint32_t now = linesOf(state);
        // A line that went and came back between two notifications shows only in its delta bit.
        std::uint32_t moved = now ^ control_.inputs;
        if (state & rfc2217::modemDeltaCts)
            moved |= control::lineCts;
        if (state & rfc2217::modemDeltaDsr)
            moved |= control::lineDsr;
        if (state & rfc2217::modemDeltaDcd)
            moved |= control::lineDcd;
        if (state & rfc2217::modemRiTrailingEdge)
            moved |= control::lineRi;
        changed |= count(moved, now, control_.counters);
        control_.inputs = now;
    }
    if (changed)
        controlChanged(changed);
}

// A program's control can come before the port has confirmed its open; the open
// raises DTR and RTS first, as a serial driver does, so the program's own change
// comes after it and the later confirmation does not undo it. A program that
// leaves again before the open is confirmed (stty) never makes the port report a
// close, so a check afterwards drops the lines as its close would.
void TcpClientSession::raiseLinesForEarlyControl()
{
    if (portHeld() || control_.raisedEarly)
        return;
    control_.raisedEarly = true;
    std::vector<std::uint8_t> lines;
    protocol_.setModemLines(true, lines);
    sendRaw(lines);
    earlyOpenCheck_.expires_after(earlyOpenCheckAfter);
    earlyOpenCheck_.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        if (const auto self = weak.lock(); self && !error)
            self->checkEarlyOpen();
    });
}

void TcpClientSession::checkEarlyOpen()
{
    const auto port = port_.lock();
    if (!control_.raisedEarly || portHeld() || (port && port->heldOpen()))
        return;  // confirmed meanwhile, or still held: the port reports its close
    control_.raisedEarly = control_.linesSetByProgram = false;
    std::vector<std::uint8_t> lines;
    protocol_.setModemLines(false, lines);
    sendRaw(lines);
}

bool TcpClientSession::openRaisesLines()
{
    return !control_.raisedEarly;
}

PortControl::Status TcpClientSession::controlStatus() const
{
    const bool opening = !portHeld() && !control_.raisedEarly;  // the open will raise them
    Status s;
    if (protocol_.dtr() || opening)
        s.lines |= control::lineDtr;
    if (protocol_.rts() || opening)
        s.lines |= control::lineRts;
    s.lines |= control_.inputs;
    s.counters = control_.counters;
    s.dataBits = protocol_.serial().dataBits;
    s.parity = static_cast<std::uint8_t>(protocol_.serial().parity);
    s.outputQueued = !gathered_.empty() || !preConnect_.empty() || !outgoing_.empty();
    return s;
}

bool TcpClientSession::controlOutputLeft() const
{
    if (controlStatus().outputQueued)
        return false;
    const auto port = port_.lock();
    return !port || !port->unreadFromApplication();
}

void TcpClientSession::controlChanged(std::uint32_t inputsMoved)
{
    if (control_.observer)
        control_.observer(inputsMoved);
}

void TcpClientSession::controlSetLines(std::uint32_t mask, std::uint32_t levels)
{
    raiseLinesForEarlyControl();
    control_.linesSetByProgram = true;
    std::vector<std::uint8_t> out;  // both lines of one call in one write
    if (mask & control::lineDtr)
        protocol_.setDtr((levels & control::lineDtr) != 0, out);
    if (mask & control::lineRts)
        protocol_.setRts((levels & control::lineRts) != 0, out);
    sendRaw(out);
}

void TcpClientSession::controlSetBreak(bool on)
{
    raiseLinesForEarlyControl();
    flushGathered();  // what the program wrote before the break goes out before it
    std::vector<std::uint8_t> out;
    protocol_.setBreak(on, out);
    sendRaw(out);
}

void TcpClientSession::controlSetFraming(std::uint8_t dataBits, std::uint8_t parity)
{
    raiseLinesForEarlyControl();
    static_assert(static_cast<std::uint8_t>(Parity::Space) == control::paritySpace);
    std::vector<std::uint8_t> out;
    if (dataBits != protocol_.serial().dataBits)
        protocol_.setDataSize(dataBits, out);
    if (parity != static_cast<std::uint8_t>(protocol_.serial().parity))
        protocol_.setParity(static_cast<Parity>(parity), out);
    if (!out.empty())
        flushGathered();
    sendRaw(out);
    reportSettingsSent(!out.empty() && connected());
}

void TcpClientSession::controlObserve(std::function<void(std::uint32_t changed)> changed)
{
    control_.observer = std::move(changed);
}

}  // namespace vsp
