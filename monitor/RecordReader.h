// Cuts a monitor's byte stream (vspdevices_monitor.h) into whole records, whatever
// the read boundaries. The stream comes from another process: every header and
// payload is checked, at most one record is held, and a malformed one ends the
// stream for good (what follows it cannot be trusted to start a record).
#pragma once

#include "vspdevices_monitor.h"

#include <cstdint>
#include <span>
#include <vector>

namespace monitor {

struct Record {
    vsp::monitor::Header header;
    std::vector<std::uint8_t> payload;
};

class RecordReader {
public:
    // Appends the records completed by `bytes` to `out`; false once the stream is malformed.
    bool feed(std::span<const std::uint8_t> bytes, std::vector<Record>& out);
    bool malformed() const { return malformed_; }

private:
    std::vector<std::uint8_t> partial_;  // at most maxRecord bytes of the record begun
    bool malformed_ = false;
};

}  // namespace monitor
