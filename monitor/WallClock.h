// Records carry microseconds of the library's monotonic clock (CLOCK_MONOTONIC); a
// view or a capture shows them on the wall clock, moved by one offset taken when it
// starts, so that their order and spacing stay exactly as recorded.
#pragma once

#include <chrono>
#include <cstdint>

namespace monitor {

// The library's clock is steady_clock, CLOCK_MONOTONIC on Linux.
inline std::int64_t wallClockOffsetUs()
{
    using namespace std::chrono;
    const auto us = [](auto now) { return duration_cast<microseconds>(now.time_since_epoch()).count(); };
    return static_cast<std::int64_t>(us(system_clock::now()) - us(steady_clock::now()));
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
