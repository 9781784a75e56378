// What a monitor shows of a port's records (RecordReader): the serial data each way,
// the RFC 2217 commands sent to the adapter and its answers and notifications
// (decoded from the bytes on the connection, so they show as the adapter got them),
// the program's opens and closes, the connection's events and lost records; and the
// port's lines and settings as they stand. The terminal's view and the window's
// share it.
#pragma once

#include "monitor/RecordReader.h"

#include "Telnet.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace monitor {

struct Entry {
    enum class Kind {
        ToDevice,         // data the program wrote
        FromDevice,       // data the program gets
        CommandSent,      // a Telnet negotiation or COM-PORT-OPTION command to the adapter
        CommandReceived,  // the adapter's answer or notification
        PortOpened,
        PortClosed,
        Connecting,       // text: the adapter's address
        Connected,        // text: the adapter's address
        Dropped,          // text: the reason
        Lost,             // text: how many records were lost
    };
    Kind kind = Kind::ToDevice;
    std::uint64_t timeUs = 0;  // the library's monotonic clock
    std::vector<std::uint8_t> data;  // ToDevice, FromDevice
    std::string text;                // everything else
};

class Conversation {
public:
    // Appends the entries a record makes: none for a State record or bytes on the
    // connection that carry only data (the data comes as its own records).
    void add(const Record& record, std::vector<Entry>& out);
    // The port's lines and settings as last reported; nullopt before the first report.
    const std::optional<vsp::monitor::PortState>& state() const { return state_; }

private:
    void decodeWire(const Record& record, std::vector<Entry>& out);

    struct Side {
        vsp::telnet::Decoder decoder;
    };
    Side toDevice_, fromDevice_;
    bool telnet_ = true;  // until a connection says otherwise
    std::optional<vsp::monitor::PortState> state_;
    std::vector<std::uint8_t> scratch_;
    std::vector<vsp::telnet::Event> events_;
};

// "WILL COM-PORT-OPTION", "SET-BAUDRATE 9600": a Telnet event as the conversation shows it.
std::string describe(const vsp::telnet::Event& event, bool fromAdapter);

}  // namespace monitor
