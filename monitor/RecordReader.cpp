#include "monitor/RecordReader.h"

#include <algorithm>

namespace monitor {

bool RecordReader::feed(std::span<const std::uint8_t> bytes, std::vector<Record>& out)
{
    namespace m = vsp::monitor;
    const auto take = [&](std::size_t upTo) {  // fills the record begun up to `upTo` bytes
        if (partial_.size() >= upTo)
            return;
        const std::size_t n = std::min(upTo - partial_.size(), bytes.size());
        partial_.insert(partial_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
    };
    while (!malformed_) {
        take(m::headerSize);
        if (partial_.size() < m::headerSize)
            break;
        const auto header = m::decodeHeader(partial_.data());
        if (!header) {
            malformed_ = true;
            break;
        }
        take(m::headerSize + header->payloadSize);  // a payload of no more than maxPayload
        if (partial_.size() < m::headerSize + header->payloadSize)
            break;
        Record record{*header, std::vector<std::uint8_t>(partial_.begin() + m::headerSize, partial_.end())};
        partial_.clear();
        if (!m::validPayload(record.header, record.payload)) {
            malformed_ = true;
            break;
        }
        out.push_back(std::move(record));
    }
    if (malformed_)
        partial_.clear();
    return !malformed_;
}

}  // namespace monitor
