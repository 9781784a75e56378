// A monitor's stream from another process, hostile: cut into records whole or in two
// pieces alike, never a record that is not checked, and every record read goes
// through the conversation, the terminal's view (text and hex) and the capture
// without a crash, a control character on the terminal, or a capture block out of
// its bounds.
#include "monitor/Conversation.h"
#include "monitor/PcapngWriter.h"
#include "monitor/RecordReader.h"
#include "monitor/TextView.h"

#include <cstdlib>
#include <sstream>

namespace {
std::vector<monitor::Record> read(std::span<const std::uint8_t> input, std::size_t split, bool& whole)
{
    monitor::RecordReader reader;
    std::vector<monitor::Record> records;
    whole = reader.feed(input.first(split), records);
    whole = reader.feed(input.subspan(split), records) && whole;
    return records;
}

bool same(const std::vector<monitor::Record>& a, const std::vector<monitor::Record>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].payload != b[i].payload || a[i].header.kind != b[i].header.kind ||
            a[i].header.direction != b[i].header.direction || a[i].header.timeUs != b[i].header.timeUs)
            return false;
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    const std::size_t split = data[0] % size;
    bool wholeOk = false, piecesOk = false;
    const auto records = read(input, input.size(), wholeOk);
    if (!same(records, read(input, std::min(split, input.size()), piecesOk)) || wholeOk != piecesOk)
        std::abort();

    monitor::Conversation conversation;
    monitor::TextView text, hex(true);
    std::ostringstream file;
    monitor::PcapngWriter capture(file, "COM5");
    std::vector<monitor::Entry> entries;
    std::string lines;
    for (const auto& record : records) {
        if (!vsp::monitor::validPayload(record.header, record.payload))
            std::abort();  // the reader let one through unchecked
        conversation.add(record, entries);
        text.add(record, lines);
        hex.add(record, lines);
        capture.write(record);
    }
    for (const char c : lines)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F)
            std::abort();
    // The capture: whole blocks, each of a length that is a multiple of 4 and bounded.
    const std::string bytes = file.str();
    for (std::size_t at = 0; at < bytes.size();) {
        std::uint32_t length = 0;
        if (at + 8 > bytes.size())
            std::abort();
        for (int i = 3; i >= 0; --i)
            length = length << 8 | static_cast<std::uint8_t>(bytes[at + 4 + static_cast<std::size_t>(i)]);
        if (length % 4 || length < 12 || length > 96 * 1024 || at + length > bytes.size())
            std::abort();
        at += length;
    }
    return 0;
}
