// The bytes a benchmark sends: a fixed pseudo-random stream in which one byte
// in 64 is 0xFF (runs of them included), so a Telnet bridge has to escape and
// unescape them. The stream repeats after a prime number of bytes, so no read or
// write size lines up with it and a lost, doubled or stale block shows as a wrong
// byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace bench {

class Pattern {
public:
    static const Pattern& instance()
    {
        static const Pattern pattern;
        return pattern;
    }

    std::uint8_t at(std::uint64_t offset) const { return bytes_[offset % bytes_.size()]; }

    // Up to `max` bytes of the stream from offset on, without wrapping.
    std::span<const std::uint8_t> chunk(std::uint64_t offset, std::size_t max) const
    {
        const std::size_t start = offset % bytes_.size();
        return {bytes_.data() + start, std::min(max, bytes_.size() - start)};
    }

    // The position in `got` of the first byte that differs from the stream at
    // offset, or got.size() when all match.
    std::size_t firstMismatch(std::uint64_t offset, std::span<const std::uint8_t> got) const
    {
        std::size_t done = 0;
        while (done < got.size()) {
            const auto expected = chunk(offset + done, got.size() - done);
            const auto where = std::mismatch(expected.begin(), expected.end(), got.begin() + static_cast<std::ptrdiff_t>(done));
            if (where.first != expected.end())
                return done + static_cast<std::size_t>(where.first - expected.begin());
            done += expected.size();
        }
        return got.size();
    }

private:
    static constexpr std::size_t length = 1048573;  // a prime just under 1 MiB

    Pattern() : bytes_(length)
    {
        std::uint64_t state = 0x9E3779B97F4A7C15ull;
        for (auto& byte : bytes_) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = (state >> 58) == 0 ? 0xFF : static_cast<std::uint8_t>(state >> 24);
        }
    }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace bench
