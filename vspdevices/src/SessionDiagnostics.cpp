// A connection's diagnostics in the C interface's terms, for vsp_getDeviceDiagnostics
// and for a port's control channel.
#include "TcpClientSession.h"

#include <algorithm>
#include <string>

namespace vsp {
namespace {
int stateCode(TcpClientSession::State state)
{
    using State = TcpClientSession::State;
    switch (state) {
    case State::Stopped: return VSP_STATE_STOPPED;
    case State::Idle: return VSP_STATE_IDLE;
    case State::Resolving: return VSP_STATE_RESOLVING;
    case State::Connecting: return VSP_STATE_CONNECTING;
    case State::Negotiating: return VSP_STATE_NEGOTIATING;
    case State::Up: return VSP_STATE_UP;
    case State::Closing: return VSP_STATE_CLOSING;
    case State::RetryWait: return VSP_STATE_RETRY_WAIT;
    }
    return VSP_STATE_STOPPED;
}

// Cut at a character boundary, NUL-ended (the struct starts zeroed).
template <std::size_t N>
void copyText(char (&to)[N], const std::string& text)
{
    std::size_t length = std::min(text.size(), N - 1);
    while (length > 0 && length < text.size() && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    std::copy_n(text.data(), length, to);
}

template <class T>
std::int64_t orMinusOne(const std::optional<T>& value)
{
    return value ? static_cast<std::int64_t>(*value) : -1;
}
}  // namespace

int TcpClientSession::errorCode(FailureKind kind)
{
    switch (kind) {
    case FailureKind::None: return VSP_ERROR_NONE;
    case FailureKind::Refused: return VSP_ERROR_REFUSED;
    case FailureKind::TimedOut: return VSP_ERROR_TIMED_OUT;
    case FailureKind::NameNotFound: return VSP_ERROR_NAME_NOT_FOUND;
    case FailureKind::Reset: return VSP_ERROR_RESET;
    case FailureKind::ClosedByPeer: return VSP_ERROR_CLOSED_BY_PEER;
    case FailureKind::Unreachable: return VSP_ERROR_UNREACHABLE;
    case FailureKind::Other: return VSP_ERROR_OTHER;
    case FailureKind::CertificateUnknown: return VSP_ERROR_CERTIFICATE_UNKNOWN;
    case FailureKind::CertificateChanged: return VSP_ERROR_CERTIFICATE_CHANGED;
    case FailureKind::Tls: return VSP_ERROR_TLS;
    }
    return VSP_ERROR_OTHER;
}

vsp_diagnostics TcpClientSession::diagnostics() const
{
    using namespace std::chrono;
    vsp_diagnostics out{};
    out.size = sizeof out;
    out.state = stateCode(state());
    const AdapterConnection::Failure& failure = connection_.lastFailure();
    out.lastErrorKind = errorCode(failure.kind);
    if (failure.kind != FailureKind::None) {
        out.lastErrorTimeMs = duration_cast<milliseconds>(failure.when.time_since_epoch()).count();
        copyText(out.lastErrorText, failure.text);
    }
    const AdapterConnection::Counters& counters = connection_.counters();
    out.bytesToAdapter = counters.toAdapter;
    out.bytesFromAdapter = counters.fromAdapter;
    out.bytesDropped = bridge_.dropped();
    out.reconnects = counters.reconnects;
    out.portHeld = bridge_.portHeld() ? 1 : 0;
    out.upTimeMs = duration_cast<milliseconds>(connection_.upTime()).count();
    // What the adapter confirmed holds for the connection it came on: none while down.
    const rfc2217::ServerState none;
    const auto& server = connection_.protocol().server();
    const auto& acknowledged = connection_.connected() ? server : none;
    out.ackBaud = orMinusOne(acknowledged.baud);
    out.ackDataSize = static_cast<std::int32_t>(orMinusOne(acknowledged.dataSize));
    out.ackParity = static_cast<std::int32_t>(orMinusOne(acknowledged.parity));
    out.ackStopSize = static_cast<std::int32_t>(orMinusOne(acknowledged.stopSize));
    out.lineState = static_cast<std::int32_t>(orMinusOne(server.lineState));
    out.modemState = static_cast<std::int32_t>(orMinusOne(server.modemState));
    out.tls = connection_.tls() ? 1 : 0;
    copyText(out.tlsVersion, connection_.tlsVersion());
    copyText(out.peerSubject, connection_.peerCertificate().subject);
    copyText(out.peerFingerprint, connection_.peerCertificate().fingerprint);
    return out;
}

}  // namespace vsp
