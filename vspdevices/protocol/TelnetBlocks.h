// Telnet data 64 bytes at a time, for the decoder's plain-data state. Binary serial
// data carries 0xFF once in 256 bytes or far more often; byte by byte or 16 at a
// time every IAC IAC costs a mispredicted branch, here a block costs the same
// instructions whatever it holds. x86 processors with SSSE3 only; elsewhere
// passDataBlocks does nothing and the caller's byte-wise path does all the work.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vsp::telnet {

struct DataBlocks {
    std::size_t i;     // next byte of input
    std::size_t kept;  // data bytes so far, at the front of the buffer (kept <= i)
    // Set when the last byte taken was an IAC whose meaning the next byte decides
    // (the decoder's "after IAC" state).
    bool afterIac;
};

// Decodes whole 64-byte blocks of base[at.i, size) while they hold only data and
// escaped IACs, moving the data down to base[at.kept...). Stops before the first
// block holding a command (or the end of a command begun earlier), or when fewer than
// 64 bytes remain.
void passDataBlocks(std::uint8_t* base, std::size_t size, DataBlocks& at);

}  // namespace vsp::telnet
