#include "Telnet.h"

#include "ByteMask.h"
#include "TelnetBlocks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace vsp::telnet {

void Decoder::decode(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data, std::vector<Event>& events)
{
    const std::size_t before = data.size();
    data.insert(data.end(), input.begin(), input.end());
    data.resize(before + decodeInPlace({data.data() + before, input.size()}, events));
}

std::size_t Decoder::decodeInPlace(std::span<std::uint8_t> bytes, std::vector<Event>& events)
{
    std::uint8_t* const base = bytes.data();
    const std::size_t size = bytes.size();
    std::size_t kept = 0;  // data bytes so far, at the front; never ahead of i
    std::size_t i = 0;
    while (i < size) {
        if (state_ == State::Data) {
            DataBlocks blocks{i, kept, false};
            passDataBlocks(base, size, blocks);
            i = blocks.i;
            kept = blocks.kept;
            if (blocks.afterIac) {
                state_ = State::Iac;
                continue;
            }
            // The rest (a block with a command, the last bytes, processors without
            // SSSE3) 16 bytes at a time: a chunk without IAC moves down whole, and IAC
            // IAC becomes one data byte without leaving the loop. Only a command stops it.
            while (i + byteMaskWidth <= size) {
                const unsigned mask = byteMask16(base + i, IAC);
                if (mask == 0) {
                    if (kept != i)
                        copy16(base + kept, base + i);
                    kept += byteMaskWidth;
                    i += byteMaskWidth;
                    continue;
                }
                const std::size_t run = static_cast<std::size_t>(std::countr_zero(mask));
                if (kept + byteMaskWidth <= i)
                    copy16(base + kept, base + i);  // what lies past the run is written over later
                else if (kept != i)
                    std::memmove(base + kept, base + i, run);
                kept += run;
                i += run + 1;  // past the IAC
                if (i < size && base[i] == IAC) {
                    base[kept++] = IAC;
                    ++i;
                    continue;
                }
                state_ = State::Iac;
                break;
            }
            if (state_ != State::Data || i == size)
                continue;
            // The last few bytes: the run up to the next IAC, moved down in one go.
            const auto* iac = static_cast<const std::uint8_t*>(std::memchr(base + i, IAC, size - i));
            const std::size_t runEnd = iac ? static_cast<std::size_t>(iac - base) : size;
            if (kept != i)
                std::memmove(base + kept, base + i, runEnd - i);
            kept += runEnd - i;
            i = runEnd;
            if (iac) {
                state_ = State::Iac;
                ++i;
            }
            continue;
        }
        const std::uint8_t byte = base[i++];
        switch (state_) {
        case State::Data: break;  // handled above
        case State::Iac:
            if (byte == IAC) {
                base[kept++] = IAC;  // IAC IAC: one data byte
                state_ = State::Data;
            } else if (byte >= WILL) {
                command_ = byte;
                state_ = State::Option;
            } else if (byte == SB) {
                state_ = State::SubOption;
            } else {
                events.push_back({Event::Kind::Command, byte, 0, {}});
                state_ = State::Data;
            }
            break;
        case State::Option:
            events.push_back({Event::Kind::Negotiation, command_, byte, {}});
            state_ = State::Data;
            break;
        case State::SubOption:
            sub_.option = byte;
            sub_.payload.clear();
            state_ = State::Sub;
            break;
        case State::Sub:
            if (byte == IAC)
                state_ = State::SubIac;
            else if (sub_.payload.size() < maxSubnegotiation)
                sub_.payload.push_back(byte);
            break;
        case State::SubIac:
            if (byte == IAC) {
                if (sub_.payload.size() < maxSubnegotiation)
                    sub_.payload.push_back(IAC);
                state_ = State::Sub;
                break;
            }
            events.push_back(sub_);
            sub_.payload.clear();
            state_ = State::Data;
            if (byte != SE) {
                // A command inside a subnegotiation ends it; the command still counts.
                state_ = State::Iac;
                --i;
            }
            break;
        }
    }
    return kept;
}

void escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out)
{
    // Counts the IACs first, so out grows once, then copies 16 bytes at a time: data
    // from serial devices rarely holds 0xFF.
    const std::uint8_t* const src = data.data();
    const std::size_t size = data.size();
    std::size_t iacs = 0;
    std::size_t i = 0;
    for (; i + byteMaskWidth <= size; i += byteMaskWidth)
        iacs += maskCount(byteMask16(src + i, IAC));
    for (; i < size; ++i)
        iacs += src[i] == IAC;
    const std::size_t at = out.size();
    out.resize(at + size + iacs);
    std::uint8_t* dst = out.data() + at;
    // At least size - i bytes of room remain at dst, so a whole chunk always fits.
    i = 0;
    while (i + byteMaskWidth <= size) {
        const unsigned mask = byteMask16(src + i, IAC);
        std::memcpy(dst, src + i, byteMaskWidth);
        if (mask == 0) {
            dst += byteMaskWidth;
            i += byteMaskWidth;
            continue;
        }
        const std::size_t run = static_cast<std::size_t>(std::countr_zero(mask));
        dst += run;
        *dst++ = IAC;
        *dst++ = IAC;
        i += run + 1;
    }
    for (; i < size; ++i) {
        *dst++ = src[i];
        if (src[i] == IAC)
            *dst++ = IAC;
    }
}

void appendSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out)
{
    out.insert(out.end(), {IAC, SB, option});
    escape(payload, out);
    out.insert(out.end(), {IAC, SE});
}

Negotiator::Negotiator(std::vector<std::uint8_t> local, std::vector<std::uint8_t> remote)
    : supportedLocal_(std::move(local)), supportedRemote_(std::move(remote))
{
}

bool Negotiator::contains(const std::vector<std::uint8_t>& list, std::uint8_t option)
{
    return std::find(list.begin(), list.end(), option) != list.end();
}

void Negotiator::requestLocal(std::uint8_t option, std::vector<std::uint8_t>& out)
{
    if (local_[option] == State::No) {
        local_[option] = State::WantYes;
        out.insert(out.end(), {IAC, WILL, option});
    }
}

void Negotiator::requestRemote(std::uint8_t option, std::vector<std::uint8_t>& out)
{
    if (remote_[option] == State::No) {
        remote_[option] = State::WantYes;
        out.insert(out.end(), {IAC, DO, option});
    }
}

void Negotiator::receive(std::uint8_t command, std::uint8_t option, std::vector<std::uint8_t>& out)
{
    const bool asksLocal = command == DO || command == DONT;
    State& state = asksLocal ? local_[option] : remote_[option];
    const bool enable = command == DO || command == WILL;
    const bool supported = contains(asksLocal ? supportedLocal_ : supportedRemote_, option);
    const std::uint8_t agree = asksLocal ? WILL : DO;
    const std::uint8_t refuse = asksLocal ? WONT : DONT;

    switch (state) {
    case State::No:
        if (enable) {
            state = supported ? State::Yes : State::No;
            out.insert(out.end(), {IAC, supported ? agree : refuse, option});
        }
        break;
    case State::Yes:
        if (!enable) {
            state = State::No;
            out.insert(out.end(), {IAC, refuse, option});
        }
        break;
    case State::WantYes:
        state = enable ? State::Yes : State::No;  // the peer's answer to our request
        break;
    case State::WantNo:
        state = State::No;
        break;
    }
}

}  // namespace vsp::telnet
