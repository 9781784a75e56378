// The adapter's side of Telnet with RFC 2217: what a Telnet-to-serial adapter does
// with a client's bytes. Used by the adapter simulator and the tests' fake adapter.
#pragma once

#include "Telnet.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vsp {

class AdapterProtocol {
public:
    // The port settings the client asked for, in the order they came.
    struct Settings {
        std::optional<std::uint32_t> baud;
        std::optional<std::uint8_t> dataSize;
        std::optional<std::uint8_t> parity;
        std::optional<std::uint8_t> stopSize;
        std::vector<std::uint8_t> controls;  // every SET-CONTROL value
    };

    // refuseComPort: behave like an adapter without port control.
    explicit AdapterProtocol(bool refuseComPort = false);

    // Splits a client's bytes into serial data and answers (negotiation replies,
    // acknowledgements of settings).
    void receive(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& reply);

    const Settings& settings() const { return settings_; }
    bool comPortEnabled() const;
    std::uint64_t settingsCount() const { return settingsCount_; }

private:
    void handleComPort(const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& reply);

    telnet::Decoder decoder_;
    telnet::Negotiator negotiator_;
    std::vector<telnet::Event> events_;
    Settings settings_;
    std::uint64_t settingsCount_ = 0;
};

}  // namespace vsp
