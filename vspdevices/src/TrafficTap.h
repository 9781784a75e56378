// What a port's monitors see (vspdevices_monitor.h). The connection's parts report
// their traffic here: the port's data each way, the bytes on the TCP connection,
// the program's opens and closes, the connection's events and the port's state.
// The tap makes each record once and hands it to every monitor attached (the
// control channel keeps each one's bounded queue). With no monitor attached every
// call returns at its first test, so a port nobody watches pays one branch.
#pragma once

#include "vspdevices_monitor.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace vsp {

class TrafficTap {
public:
    // A monitor's side: `takes` says whether a record of that size fits (a record
    // that does not is lost to it, and it counts it), and only then is the record
    // made and handed to `take`. Neither may call back into the tap.
    struct Sink {
        std::function<bool(std::size_t recordSize)> takes;
        std::function<void(std::span<const std::uint8_t> record)> take;
    };

    bool active() const { return !sinks_.empty(); }
    void attach(const void* owner, Sink sink);
    void detach(const void* owner);

    void data(monitor::Direction direction, std::span<const std::uint8_t> bytes)
    {
        if (active())
            blocks(monitor::Kind::Data, direction, bytes);
    }
    void wire(monitor::Direction direction, std::span<const std::uint8_t> bytes)
    {
        if (active())
            blocks(monitor::Kind::Wire, direction, bytes);
    }
    // PortOpened, PortClosed, or Connecting and Dropped with their text.
    void event(monitor::Kind kind, std::string_view text = {});
    // Kept, monitored or not, so a monitor that begins later learns which
    // connection its bytes belong to; a Dropped event forgets it.
    void connected(const monitor::Endpoints& endpoints, std::string_view name);
    // The Connected record of the connection up now (its own time); empty when none is.
    const std::vector<std::uint8_t>& currentConnection() const { return connection_; }
    // Sent when it differs from the last state sent.
    void state(const monitor::PortState& state);

    // A record of the state, for a monitor that has just begun.
    static std::vector<std::uint8_t> stateRecord(const monitor::PortState& state);
    // Microseconds of the monotonic clock, as records carry them.
    static std::uint64_t nowUs();

private:
    void blocks(monitor::Kind kind, monitor::Direction direction, std::span<const std::uint8_t> bytes);
    void emit(monitor::Kind kind, monitor::Direction direction, std::span<const std::uint8_t> payload);

    struct Attached {
        const void* owner;
        Sink sink;
        bool wants = false;  // the record being made fits its queue
    };
    std::vector<Attached> sinks_;
    std::vector<std::uint8_t> record_;  // reused: a steady stream allocates nothing
    std::optional<monitor::PortState> lastState_;
    std::vector<std::uint8_t> connection_;
};

}  // namespace vsp
