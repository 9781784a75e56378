// Records from another process on a port's control socket, cut into records as the
// library reads them: each is either refused or read into values its operation
// takes, and what is read encodes back to the very same bytes (nothing in a
// record goes unchecked). Replies, which the interposition library reads, and
// diagnostics and TLS records, which a status command reads, likewise; any text put into a
// diagnostics record comes out of it as a record that is read back whole. A
// line-state page holding any bytes is read into values within their ranges, or
// refused, and never hangs the reader.
#include "vspdevices_control_diagnostics.h"
#include "vspdevices_line_state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace vsp::control;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t at = 0; at + recordSize <= size; at += recordSize) {
        const std::uint8_t* record = data + at;
        std::uint8_t again[recordSize];
        if (const auto request = decodeRequest(record, recordSize)) {
            if (!valid(*request))
                std::abort();
            encode(*request, again);
            if (std::memcmp(again, record, recordSize) != 0)
                std::abort();
        }
        if (const auto reply = decodeReply(record, recordSize)) {
            if (reply->dataBits < 5 || reply->dataBits > 8 || reply->parity > paritySpace ||
                (reply->lines & ~(outputLines | inputLines)) != 0)
                std::abort();
            encode(*reply, again);
            if (std::memcmp(again, record, recordSize) != 0)
                std::abort();
        }
    }
    for (std::size_t at = 0; at + diagnosticsRecordSize <= size; at += diagnosticsRecordSize) {
        if (const auto diagnostics = decodeDiagnostics(data + at, diagnosticsRecordSize)) {
            std::uint8_t again[diagnosticsRecordSize];
            encode(*diagnostics, again);
            if (std::memcmp(again, data + at, diagnosticsRecordSize) != 0)
                std::abort();
        }
    }
    for (std::size_t at = 0; at + tlsRecordSize <= size; at += tlsRecordSize) {
        if (const auto tls = decodeTls(data + at, tlsRecordSize)) {
            std::uint8_t again[tlsRecordSize];
            encode(*tls, again);
            if (std::memcmp(again, data + at, tlsRecordSize) != 0)
                std::abort();
        }
    }
    Diagnostics failed;
    failed.errorKind = 1;
    failed.lastErrorTimeMs = 1;
    setText(failed, reinterpret_cast<const char*>(data), size);
    std::uint8_t record[diagnosticsRecordSize];
    encode(failed, record);
    const auto back = decodeDiagnostics(record, sizeof record);
    if (!back || std::memcmp(back->lastErrorText, failed.lastErrorText, diagnosticsTextSize) != 0)
        std::abort();
    if (decodeRequest(data, size) && size != recordSize)
        std::abort();
    alignas(LineStatePage) std::uint8_t page[sizeof(LineStatePage)] = {};
    std::memcpy(page, data, std::min(size, sizeof page));
    LineState state;
    if (readLineState(*reinterpret_cast<const LineStatePage*>(page), state) &&
        (state.dataBits < 5 || state.dataBits > 8 || state.parity > paritySpace ||
         (state.lines & ~(outputLines | inputLines)) != 0 || state.status > Status::Busy))
        std::abort();
    return 0;
}
