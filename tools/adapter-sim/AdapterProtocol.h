// The adapter's side of Telnet with RFC 2217: what a Telnet-to-serial adapter does
// with a client's bytes. Used by the adapter simulator and the tests' fake adapter.
// It holds the port's modem lines as a loop-back plug wires them (DTR to DSR and
// DCD, RTS to CTS, RI low) unless set fixed, and notifies the client of the changes
// its modem state mask asks for.
#pragma once

#include "Rfc2217.h"
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
    // Lines held at a fixed level; the others loop back.
    struct ModemLines {
        std::optional<bool> cts, dsr, dcd, ri;
    };

    // refuseComPort: behave like an adapter without port control.
    explicit AdapterProtocol(bool refuseComPort = false, ModemLines fixed = {});

    // Splits a client's bytes into serial data and answers (negotiation replies,
    // acknowledgements of settings, modem state notifications).
    void receive(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& data, std::vector<std::uint8_t>& reply);

    const Settings& settings() const { return settings_; }
    bool comPortEnabled() const;
    std::uint64_t settingsCount() const { return settingsCount_; }
    // The client's COM-PORT-OPTION commands of the last receive(), in order.
    const std::vector<rfc2217::Message>& commands() const { return commands_; }
    // The modem lines' levels as NOTIFY-MODEMSTATE carries them (high nibble).
    std::uint8_t modemLevels() const;
    bool breakActive() const { return breakOn_; }
    // The client asked us to hold the data for it (FLOWCONTROL-SUSPEND).
    bool flowSuspended() const { return flowSuspended_; }

private:
    void handleComPort(const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& reply);
    std::uint8_t answerControl(std::uint8_t value);
    void notifyModemState(bool always, std::vector<std::uint8_t>& reply);

    telnet::Decoder decoder_;
    telnet::Negotiator negotiator_;
    std::vector<telnet::Event> events_;
    std::vector<rfc2217::Message> commands_;
    Settings settings_;
    std::uint64_t settingsCount_ = 0;
    ModemLines fixed_;
    bool dtr_ = true;  // an adapter's port starts with its lines raised
    bool rts_ = true;
    bool breakOn_ = false;
    bool flowSuspended_ = false;
    std::uint8_t outboundFlow_ = rfc2217::flowNone;
    std::uint8_t inboundFlow_ = rfc2217::inboundFlowNone;
    std::uint8_t modemMask_ = 0;  // tells nothing until the client asks
    std::uint8_t reported_ = 0;   // the levels last notified
};

}  // namespace vsp
