#include "TelnetBlocks.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VSP_TELNET_BLOCKS 1
#include <immintrin.h>
#endif

namespace vsp::telnet {

#if VSP_TELNET_BLOCKS
namespace {

constexpr std::size_t blockSize = 64;
// Telnet's "interpret as command" byte (Telnet.h's IAC), named here so that the
// decoder's helper does not include the decoder that includes it.
constexpr std::uint8_t IAC = 255;

// For each 8-bit mask of bytes to drop from 8: the shuffle indices that gather the
// others to the front (0x80 makes a zero byte), for the low and the high half of 16
// bytes, and how many bytes stay.
struct Tables {
    std::array<std::array<std::uint8_t, 8>, 256> low{};
    std::array<std::array<std::uint8_t, 8>, 256> high{};
    std::array<std::uint8_t, 256> stay{};
};

constexpr Tables makeTables()
{
    Tables t;
    for (unsigned drop = 0; drop < 256; ++drop) {
        unsigned n = 0;
        for (unsigned b = 0; b < 8; ++b) {
            if ((drop >> b) & 1)
                continue;
            t.low[drop][n] = static_cast<std::uint8_t>(b);
            t.high[drop][n] = static_cast<std::uint8_t>(b + 8);
            ++n;
        }
        for (unsigned k = n; k < 8; ++k)
            t.low[drop][k] = t.high[drop][k] = 0x80;
        t.stay[drop] = static_cast<std::uint8_t>(n);
    }
    return t;
}

constexpr Tables tables = makeTables();

// The bytes that follow an IAC which is itself not escaped: the second byte of each
// IAC IAC pair, and a command byte. carry: whether the first byte of the block
// follows such an IAC, on return whether the next block's does. (Runs of IAC pair
// up from their start; an odd run leaves its last IAC to escape the byte after it.)
std::uint64_t escapedBytes(std::uint64_t iac, std::uint64_t& carry)
{
    constexpr std::uint64_t even = 0x5555555555555555ull;
    iac &= ~carry;
    const std::uint64_t follows = iac << 1 | carry;
    const std::uint64_t oddStarts = iac & ~even & ~follows;
    std::uint64_t evenRuns = 0;
    carry = __builtin_add_overflow(oddStarts, iac, &evenRuns) ? 1 : 0;
    return (even ^ (evenRuns << 1)) & follows;
}

__attribute__((target("ssse3"))) void passBlocksSsse3(std::uint8_t* base, std::size_t size, DataBlocks& at)
{
    const __m128i iacBytes = _mm_set1_epi8(static_cast<char>(IAC));
    std::uint64_t carry = 0;
    while (at.i + blockSize <= size) {
        const std::uint8_t* in = base + at.i;
        __m128i chunk[4];
        std::uint64_t iac = 0;
#pragma GCC unroll 4
        for (int c = 0; c < 4; ++c) {
            chunk[c] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * c));
            const auto mask = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk[c], iacBytes)));
            iac |= std::uint64_t{mask} << (16 * c);
        }
        std::uint64_t carryOut = carry;
        const std::uint64_t escaped = escapedBytes(iac, carryOut);
        if (escaped & ~iac)
            break;  // a command byte: the byte-wise path takes this block
        carry = carryOut;
        // Every IAC not escaped goes; the escaped ones are the data bytes 0xFF. The
        // block was read whole before any store, and stores end within it.
        const std::uint64_t drop = iac & ~escaped;
        std::uint8_t* out = base + at.kept;
#pragma GCC unroll 4
        for (int c = 0; c < 4; ++c) {
            const auto low = static_cast<unsigned>((drop >> (16 * c)) & 0xFF);
            const auto high = static_cast<unsigned>((drop >> (16 * c + 8)) & 0xFF);
            const __m128i order =
                _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(tables.low[low].data())),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tables.high[high].data())));
            const __m128i packed = _mm_shuffle_epi8(chunk[c], order);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
            out += tables.stay[low];
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(packed, packed));
            out += tables.stay[high];
        }
        at.kept = static_cast<std::size_t>(out - base);
        at.i += blockSize;
    }
    at.afterIac = carry != 0;
}

bool haveSsse3()
{
    static const bool have = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
    return have;
}

}  // namespace

void passDataBlocks(std::uint8_t* base, std::size_t size, DataBlocks& at)
{
    at.afterIac = false;
    if (haveSsse3())
        passBlocksSsse3(base, size, at);
}

#else

void passDataBlocks(std::uint8_t*, std::size_t, DataBlocks& at)
{
    at.afterIac = false;
}

#endif

}  // namespace vsp::telnet
