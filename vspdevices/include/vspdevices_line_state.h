// A port's line state in a page of shared memory (part of the control channel's
// format, version 4 of vspdevices_control.h): the library writes it whenever the
// modem lines, their change counters, the framing or whether output waits in its
// queues change, and a launched program maps it read-only (a Watch request on the
// control channel hands it over), so reading the lines costs the library nothing: a
// program that polls them every millisecond, as Wine does for a waiting Windows
// program, never wakes it. The library is the only writer (its I/O thread); readers retry while a
// write is in progress (a sequence number, odd during a write). Header-only and
// free of allocation, for the interposition library, which links nothing but libc.
#ifndef VSPDEVICES_LINE_STATE_H
#define VSPDEVICES_LINE_STATE_H

#include "vspdevices_control.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vsp::control {

inline constexpr std::size_t pageSize = 4096;
inline constexpr std::uint32_t pageMagic = 0x53505151;  // "QQPS"

// What a reader takes from the page.
struct LineState {
    Status status = Status::Unavailable;  // Ok: a connection serves the port; Gone: the port closed
    std::uint32_t lines = 0;
    Counters counters;
    std::uint8_t dataBits = 8;
    std::uint8_t parity = parityNone;
    std::uint8_t flags = 0;  // replyOutputPending: bytes wait in the library's queues toward the adapter
    std::uint64_t terminal = 0;
};

struct LineStatePage {
    std::atomic<std::uint32_t> magic;
    std::atomic<std::uint32_t> sequence;  // odd while the writer is at work
    std::atomic<std::uint64_t> terminal;  // the pseudo-terminal the port is, set once
    std::atomic<std::uint32_t> status, lines, cts, dsr, ring, dcd, framing, flags;
};
static_assert(sizeof(LineStatePage) <= pageSize);
static_assert(std::atomic<std::uint64_t>::is_always_lock_free && std::atomic<std::uint32_t>::is_always_lock_free);

inline void writeLineState(LineStatePage& page, const LineState& s)
{
    const std::uint32_t start = page.sequence.load(std::memory_order_relaxed) | 1u;
    page.sequence.store(start, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    page.terminal.store(s.terminal, std::memory_order_relaxed);
    page.status.store(static_cast<std::uint32_t>(s.status), std::memory_order_relaxed);
    page.lines.store(s.lines, std::memory_order_relaxed);
    page.cts.store(s.counters.cts, std::memory_order_relaxed);
    page.dsr.store(s.counters.dsr, std::memory_order_relaxed);
    page.ring.store(s.counters.ring, std::memory_order_relaxed);
    page.dcd.store(s.counters.dcd, std::memory_order_relaxed);
    page.framing.store(std::uint32_t{s.dataBits} | std::uint32_t{s.parity} << 8, std::memory_order_relaxed);
    page.flags.store(s.flags, std::memory_order_relaxed);
    page.sequence.store(start + 1, std::memory_order_release);
    page.magic.store(pageMagic, std::memory_order_release);
}

// A consistent copy of the page; false when it is not a page of ours or holds
// nonsense (the writer is another process: believed only within its ranges).
inline bool readLineState(const LineStatePage& page, LineState& out)
{
    if (page.magic.load(std::memory_order_acquire) != pageMagic)
        return false;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::uint32_t before = page.sequence.load(std::memory_order_acquire);
        if (before & 1u)
            continue;  // a write is in progress: it takes a few stores
        LineState s;
        s.terminal = page.terminal.load(std::memory_order_relaxed);
        const std::uint32_t status = page.status.load(std::memory_order_relaxed);
        s.lines = page.lines.load(std::memory_order_relaxed);
        s.counters = {page.cts.load(std::memory_order_relaxed), page.dsr.load(std::memory_order_relaxed),
                      page.ring.load(std::memory_order_relaxed), page.dcd.load(std::memory_order_relaxed)};
        const std::uint32_t framing = page.framing.load(std::memory_order_relaxed);
        const std::uint32_t flags = page.flags.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (page.sequence.load(std::memory_order_relaxed) != before)
            continue;
        const std::uint32_t bits = framing & 0xFF, parity = framing >> 8;
        if (status > static_cast<std::uint32_t>(Status::Busy) || (s.lines & ~(outputLines | inputLines)) != 0 || bits < 5 ||
            bits > 8 || parity > paritySpace || (flags & ~std::uint32_t{replyOutputPending}) != 0)
            return false;
        s.status = static_cast<Status>(status);
        s.dataBits = static_cast<std::uint8_t>(bits);
        s.parity = static_cast<std::uint8_t>(parity);
        s.flags = static_cast<std::uint8_t>(flags);
        out = s;
        return true;
    }
    return false;
}

}  // namespace vsp::control

#endif
