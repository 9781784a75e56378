// A monitor's records as the lines of a terminal's live view, each one time-stamped
// with the local wall clock to the microsecond and marked by what it shows:
//   14:03:07.512034 >  hi\xFF              data the program wrote (to the device)
//   14:03:07.512290 <  hi\xFF              data the program got (from the device)
//   14:03:07.530001 >> SET-BAUDRATE 9600   a command to the adapter
//   14:03:07.531220 << SET-BAUDRATE 9600   the adapter's answer or notification
//   14:03:08.000000 ** connection ended: ...   an event, the port's state, lost records
// Data shows as text with C-style escapes (\r \n \\ \xFF; a line ends after each \n
// and at 64 bytes) or as hex, 16 bytes a line; no byte of it reaches the terminal
// as a control character.
#pragma once

#include "monitor/Conversation.h"

#include <cstdint>
#include <string>
#include <vector>

namespace monitor {

class TextView {
public:
    explicit TextView(bool hex = false);
    // Appends the lines a record makes to `out`, each ending with '\n'.
    void add(const Record& record, std::string& out);
    // How many records the library dropped for this monitor so far.
    std::uint64_t lost() const { return lost_; }

private:
    void line(std::uint64_t timeUs, const char* marker, const std::string& text, std::string& out) const;
    void data(const Record& record, std::string& out) const;

    bool hex_;
    std::int64_t wallOffsetUs_;
    Conversation conversation_;
    std::vector<Entry> entries_;  // reused
    std::uint64_t lost_ = 0;
};

}  // namespace monitor
