// TLS on a TcpClient's connection to the adapter: one session per connection, over
// the connection's own TCP socket (so its options, queue size and ends stay where
// they were). It sets up the client's side (TLS 1.2 at least, the host's name for
// the adapter to choose its certificate, our client certificate when there is one)
// and, after the handshake, judges the adapter's certificate:
//  - pinned: trusted when its SHA-256 is the pin, "changed" otherwise;
//  - not pinned: trusted when an authority the system trusts vouches for it and it
//    names the host (a name or an IP address), "unknown" otherwise.
// The session outlives its connection while an operation of it is in flight: the
// handlers hold it.
#pragma once

#include "vspdevices_initstring.h"

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <memory>
#include <string>

namespace vsp {

class TlsSession {
public:
    using Stream = asio::ssl::stream<asio::ip::tcp::socket&>;
    enum class Trust { Trusted, Unknown, Changed };
    // What the adapter presented: subject in one line, fingerprint in 64 lowercase hex digits.
    struct Peer {
        std::string subject;
        std::string fingerprint;
    };

    // Null, with the reason in `error` ("TLS: ..."), when the client certificate or
    // its key cannot be used.
    static std::shared_ptr<TlsSession> create(asio::ip::tcp::socket& socket, const vspdevices::TlsSettings& settings,
                                              const std::string& host, std::string& error);

    Stream& stream() { return stream_; }
    // After the handshake.
    Peer peer() const;
    Trust trust() const;
    std::string version() const;

    // Over TLS 1.3 an adapter that refuses our client certificate (or wants one)
    // just closes after the handshake; when it asked for one and closed before
    // sending anything, this says so ("TLS: ..."), else "".
    void dataArrived() { dataArrived_ = true; }
    bool verdictAfterHandshake() const;
    std::string closeText() const;

    // A TLS error's words for a failure text: "TLS: " and OpenSSL's reason.
    static std::string describe(const std::error_code& error);

    TlsSession(asio::ssl::context context, asio::ip::tcp::socket& socket, const vspdevices::TlsSettings& settings,
               std::string host);

private:
    asio::ssl::context context_;
    Stream stream_;
    vspdevices::TlsSettings settings_;
    std::string host_;
    bool certificateRequested_ = false;
    bool dataArrived_ = false;
};

}  // namespace vsp
