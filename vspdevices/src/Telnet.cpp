#include "Telnet.h"

#include <algorithm>
#include <utility>

namespace vsp::telnet {

void Decoder::decode(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data, std::vector<Event>& events)
{
    for (std::size_t i = 0; i < input.size(); ++i) {
        const std::uint8_t byte = input[i];
        switch (state_) {
        case State::Data: {
            // Copy the run of plain data up to the next IAC in one go.
            const auto* begin = input.data() + i;
            const auto* end = std::find(begin, input.data() + input.size(), IAC);
            data.insert(data.end(), begin, end);
            i += static_cast<std::size_t>(end - begin);
            if (end != input.data() + input.size())
                state_ = State::Iac;
            break;
        }
        case State::Iac:
            if (byte == IAC) {
                data.push_back(IAC);
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
}

void escape(std::span<const std::uint8_t> data, std::vector<std::uint8_t>& out)
{
    // Copies runs between IACs in bulk: data from serial devices rarely holds 0xFF.
    auto begin = data.begin();
    while (begin != data.end()) {
        const auto iac = std::find(begin, data.end(), IAC);
        out.insert(out.end(), begin, iac);
        if (iac == data.end())
            break;
        out.insert(out.end(), {IAC, IAC});
        begin = iac + 1;
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
