// Records carry microseconds of the library's monotonic clock (CLOCK_MONOTONIC); a
// view or a capture shows them on the wall clock, moved by one offset taken when it
// starts, so that their order and spacing stay exactly as recorded.
#pragma once

#include <cstdint>
#include <ctime>

namespace monitor {

inline std::int64_t wallClockOffsetUs()
{
    const auto us = [](clockid_t clock) {
        timespec now{};
        ::clock_gettime(clock, &now);
        return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    };
    return us(CLOCK_REALTIME) - us(CLOCK_MONOTONIC);
}

// A record's time on the wall clock, in microseconds since 1970.
inline std::uint64_t wallClockUs(std::uint64_t monotonicUs, std::int64_t offsetUs)
{
    const std::int64_t wall = static_cast<std::int64_t>(monotonicUs) + offsetUs;
    return wall > 0 ? static_cast<std::uint64_t>(wall) : 0;
}

}  // namespace monitor
