// Telnet (RFC 854/855) byte stream handling: the decoder splits received bytes into
// data, option negotiations and subnegotiations, whatever the read boundaries; the
// negotiator answers options the RFC 1143 way, so two peers never loop; escape()
// doubles IAC in data. Data passes unchanged otherwise: no NVT CR translation, which
// a serial device's binary traffic could not survive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vsp::telnet {

inline constexpr std::uint8_t SE = 240;
inline constexpr std::uint8_t NOP = 241;
inline constexpr std::uint8_t SB = 250;
inline constexpr std::uint8_t WILL = 251;
inline constexpr std::uint8_t WONT = 252;
inline constexpr std::uint8_t DO = 253;
inline constexpr std::uint8_t DONT = 254;
inline constexpr std::uint8_t IAC = 255;

inline constexpr std::uint8_t optBinary = 0;
inline constexpr std::uint8_t optSuppressGoAhead = 3;
inline constexpr std::uint8_t optComPort = 44;

struct Event {
    enum class Kind { Negotiation, Subnegotiation, Command } kind;
    std::uint8_t command = 0;  // WILL/WONT/DO/DONT, or the command of a Command event
    std::uint8_t option = 0;
    std::vector<std::uint8_t> payload;  // a subnegotiation's bytes, IAC IAC undone
};

class Decoder {
public:
    // Longest subnegotiation kept; longer ones are cut (the rest is skipped, not data).
    static constexpr std::size_t maxSubnegotiation = 256;

    // Appends the data bytes of `input` to `data` and its telnet events to `events`.
    void decode(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data, std::vector<Event>& events);
    // The same without a copy: moves the data bytes of `bytes` to its front and
    // returns how many there are (never more than bytes.size()).
    std::size_t decodeInPlace(std::span<std::uint8_t> bytes, std::vector<Event>& events);
    // Between commands: the next byte other than IAC is plain data.
    bool betweenCommands() const { return state_ == State::Data; }

private:
    enum class State { Data, Iac, Option, SubOption, Sub, SubIac };
    State state_ = State::Data;
    std::uint8_t command_ = 0;
    Event sub_{Event::Kind::Subnegotiation, SB, 0, {}};
};

// Appends data to out with every IAC doubled.
void escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out);

// IAC SB option payload... IAC SE, with IAC in the payload doubled.
void appendSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out);

class Negotiator {
public:
    enum class State : std::uint8_t { No, Yes, WantYes, WantNo };

    // Options this side agrees to perform (answers DO) and to let the peer perform
    // (answers WILL); every other option is refused.
    Negotiator(std::vector<std::uint8_t> local, std::vector<std::uint8_t> remote);

    // Asks to perform an option ourselves (WILL) or the peer to perform one (DO).
    void requestLocal(std::uint8_t option, std::vector<std::uint8_t>& out);
    void requestRemote(std::uint8_t option, std::vector<std::uint8_t>& out);

    // Answers a received WILL/WONT/DO/DONT into out.
    void receive(std::uint8_t command, std::uint8_t option, std::vector<std::uint8_t>& out);

    State local(std::uint8_t option) const { return local_[option]; }
    State remote(std::uint8_t option) const { return remote_[option]; }

private:
    static bool contains(const std::vector<std::uint8_t>& list, std::uint8_t option);
    std::vector<std::uint8_t> supportedLocal_;
    std::vector<std::uint8_t> supportedRemote_;
    State local_[256] = {};
    State remote_[256] = {};
};

}  // namespace vsp::telnet
