// Finds one byte value in 16 bytes at once: bit n of the mask is set when p[n] is
// that byte. Telnet's data path uses it to pass long runs without 0xFF in bulk.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vsp {

inline constexpr std::size_t byteMaskWidth = 16;

inline unsigned byteMask16(const std::uint8_t* p, std::uint8_t value)
{
#if defined(__SSE2__)
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(static_cast<char>(value)))));
#else
    unsigned mask = 0;
    for (unsigned n = 0; n < byteMaskWidth; ++n)
        mask |= static_cast<unsigned>(p[n] == value) << n;
    return mask;
#endif
}

// The number of bits set in a 16-byte mask, without the library call std::popcount
// becomes on CPUs the build does not assume to have a popcount instruction.
inline unsigned maskCount(unsigned mask)
{
    mask = mask - ((mask >> 1) & 0x5555u);
    mask = (mask & 0x3333u) + ((mask >> 2) & 0x3333u);
    mask = (mask + (mask >> 4)) & 0x0F0Fu;
    return (mask + (mask >> 8)) & 0x1Fu;
}

// Copies 16 bytes from src to dst, which may overlap when dst is before src.
inline void copy16(std::uint8_t* dst, const std::uint8_t* src)
{
    std::uint8_t chunk[byteMaskWidth];
    std::memcpy(chunk, src, byteMaskWidth);
    std::memcpy(dst, chunk, byteMaskWidth);
}

}  // namespace vsp
