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

// A record's time on the wall clock, in microseconds since 1970; any time a record
// may carry gives one, held at the ends of the range.
inline std::uint64_t wallClockUs(std::uint64_t monotonicUs, std::int64_t offsetUs)
{
    if (offsetUs < 0) {
        const std::uint64_t back = 0 - static_cast<std::uint64_t>(offsetUs);
        return monotonicUs > back ? monotonicUs - back : 0;
    }
    const auto forward = static_cast<std::uint64_t>(offsetUs);
    return monotonicUs > UINT64_MAX - forward ? UINT64_MAX : monotonicUs + forward;
}

}  // namespace monitor
