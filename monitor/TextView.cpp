#include "monitor/TextView.h"

#include "monitor/EventText.h"
#include "monitor/WallClock.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace monitor {
namespace {
namespace m = vsp::monitor;
}  // namespace

TextView::TextView(bool hex) : hex_(hex), wallOffsetUs_(wallClockOffsetUs()) {}

void TextView::add(const Record& record, std::string& out)
{
    const auto& h = record.header;
    // The conversation sees every record: a new connection or lost records start its
    // Telnet streams afresh.
    entries_.clear();
    conversation_.add(record, entries_);
    switch (h.kind) {
    case m::Kind::Data: data(record, out); return;
    case m::Kind::Wire:
        for (const Entry& entry : entries_)
            line(entry.timeUs, entry.kind == Entry::Kind::CommandSent ? ">>" : "<<", entry.text, out);
        return;
    case m::Kind::Lost: lost_ += m::lostCount(record.payload); [[fallthrough]];
    default: line(h.timeUs, "**", eventText(record), out); return;
    }
}

void TextView::data(const Record& record, std::string& out) const
{
    const char* marker = record.header.direction == m::Direction::ToDevice ? "> " : "< ";
    std::span<const std::uint8_t> bytes(record.payload);
    while (!bytes.empty()) {
        std::size_t size = std::min<std::size_t>(bytes.size(), hex_ ? 16 : 64);
        std::string text;
        if (hex_) {
            static constexpr char digits[] = "0123456789ABCDEF";
            for (std::size_t i = 0; i < size; ++i) {
                if (i)
                    text += ' ';
                text += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
            }
        } else {
            size = std::min<std::size_t>(size, std::find(bytes.begin(), bytes.begin() + size, '\n') - bytes.begin() + 1);
            text = escaped(bytes.first(size));
        }
        line(record.header.timeUs, marker, text, out);
        bytes = bytes.subspan(size);
    }
}

void TextView::line(std::uint64_t timeUs, const char* marker, const std::string& text, std::string& out) const
{
    const std::uint64_t wall = wallClockUs(timeUs, wallOffsetUs_);
    const std::time_t seconds = static_cast<std::time_t>(wall / 1000000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%06lld ", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long long>(wall % 1000000));
    out += stamp;
    out += marker;
    out += ' ';
    out += text;
    out += '\n';
}

}  // namespace monitor
