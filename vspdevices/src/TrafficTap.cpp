#include "TrafficTap.h"

#include <algorithm>
#include <chrono>

namespace vsp {
namespace {
// A text as records carry it: whole UTF-8 characters, every malformed byte or
// control character as '?', cut at a character boundary within maxText.
void appendText(std::string_view text, std::vector<std::uint8_t>& out)
{
    const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t at = 0, written = 0;
    while (at < text.size()) {
        const std::size_t length = control::detail::utf8Character(in + at, text.size() - at);
        const std::size_t width = length ? length : 1;
        if (written + width > monitor::maxText)
            break;
        if (length)
            out.insert(out.end(), in + at, in + at + length);
        else
            out.push_back('?');
        written += width;
        at += width;
    }
}
}  // namespace

std::uint64_t TrafficTap::nowUs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

void TrafficTap::attach(const void* owner, Sink sink)
{
    detach(owner);
    sinks_.push_back({owner, std::move(sink)});
}

void TrafficTap::detach(const void* owner)
{
    std::erase_if(sinks_, [owner](const Attached& entry) { return entry.owner == owner; });
    if (sinks_.empty())
        lastState_.reset();  // the next monitor starts from the state as it stands
}

void TrafficTap::blocks(monitor::Kind kind, monitor::Direction direction, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const std::size_t size = std::min(bytes.size(), monitor::maxPayload);
        emit(kind, direction, bytes.first(size));
        bytes = bytes.subspan(size);
    }
}

void TrafficTap::event(monitor::Kind kind, std::string_view text)
{
    if (kind == monitor::Kind::Dropped)
        connection_.clear();
    if (!active())
        return;
    std::vector<std::uint8_t> payload;
    appendText(text, payload);
    emit(kind, monitor::Direction::ToDevice, payload);
}

void TrafficTap::connected(const monitor::Endpoints& endpoints, std::string_view name)
{
    std::vector<std::uint8_t> payload(monitor::addressPartSize);
    monitor::encodeEndpoints(endpoints, payload.data());
    appendText(name, payload);
    connection_.resize(monitor::headerSize + payload.size());
    monitor::encodeHeader({monitor::Kind::Connected, monitor::Direction::ToDevice, nowUs(),
                           static_cast<std::uint32_t>(payload.size())},
                          connection_.data());
    std::copy(payload.begin(), payload.end(), connection_.begin() + monitor::headerSize);
    if (active())
        emit(monitor::Kind::Connected, monitor::Direction::ToDevice, payload);
}

void TrafficTap::state(const monitor::PortState& state)
{
    if (!active() || lastState_ == state)
        return;
    lastState_ = state;
    std::uint8_t payload[monitor::stateSize];
    monitor::encodeState(state, payload);
    emit(monitor::Kind::State, monitor::Direction::ToDevice, payload);
}

std::vector<std::uint8_t> TrafficTap::stateRecord(const monitor::PortState& state)
{
    std::vector<std::uint8_t> record(monitor::headerSize + monitor::stateSize);
    monitor::encodeHeader({monitor::Kind::State, monitor::Direction::ToDevice, nowUs(), monitor::stateSize}, record.data());
    monitor::encodeState(state, record.data() + monitor::headerSize);
    return record;
}

void TrafficTap::emit(monitor::Kind kind, monitor::Direction direction, std::span<const std::uint8_t> payload)
{
    // A monitor that has stalled costs no copy: nothing is made unless one takes it.
    const std::size_t size = monitor::headerSize + payload.size();
    bool wanted = false;
    for (Attached& entry : sinks_)
        wanted |= entry.wants = entry.sink.takes(size);
    if (!wanted)
        return;
    record_.resize(size);
    monitor::encodeHeader({kind, direction, nowUs(), static_cast<std::uint32_t>(payload.size())}, record_.data());
    std::copy(payload.begin(), payload.end(), record_.begin() + monitor::headerSize);
    for (const Attached& entry : sinks_)
        if (entry.wants)
            entry.sink.take(record_);
}

}  // namespace vsp
