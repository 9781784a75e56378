#include "TlsSession.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <array>

namespace vsp {
namespace {
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};

bool isAddress(const std::string& host)
{
    asio::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

// The last OpenSSL error's reason, for a failure text.
std::string lastReason()
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? reason : "unknown error";
}
}  // namespace

std::shared_ptr<TlsSession> TlsSession::create(asio::ip::tcp::socket& socket, const vspdevices::TlsSettings& settings,
                                               const std::string& host, std::string& error)
{
    asio::ssl::context context(asio::ssl::context::tls_client);
    SSL_CTX* ctx = context.native_handle();
    ERR_clear_error();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Verified after the handshake (TlsSession::trust), so a refused certificate is
    // still seen and can be shown and pinned.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    if (settings.pin.empty() && SSL_CTX_set_default_verify_paths(ctx) != 1)
        ERR_clear_error();  // no authorities: nothing unpinned is trusted
    if (!settings.certificateFile.empty()) {
        const std::string& keyFile = settings.keyFile.empty() ? settings.certificateFile : settings.keyFile;
        if (SSL_CTX_use_certificate_chain_file(ctx, settings.certificateFile.c_str()) != 1) {
            error = "TLS: cannot use the client certificate " + settings.certificateFile + ": " + lastReason();
            return nullptr;
        }
        if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(ctx) != 1) {
            error = "TLS: cannot use the client key " + keyFile + ": " + lastReason();
            return nullptr;
        }
    }
    auto session = std::make_shared<TlsSession>(std::move(context), socket, settings, host);
    SSL* ssl = session->stream_.native_handle();
    if (!isAddress(host))
        SSL_set_tlsext_host_name(ssl, host.c_str());
    // Notes the adapter's CertificateRequest among the handshake's messages.
    SSL_set_msg_callback_arg(ssl, &session->certificateRequested_);
    SSL_set_msg_callback(ssl, [](int written, int, int type, const void* message, size_t size, SSL*, void* requested) {
        if (!written && type == SSL3_RT_HANDSHAKE && size > 0 &&
            *static_cast<const unsigned char*>(message) == SSL3_MT_CERTIFICATE_REQUEST)
            *static_cast<bool*>(requested) = true;
    });
    return session;
}

TlsSession::TlsSession(asio::ssl::context context, asio::ip::tcp::socket& socket, const vspdevices::TlsSettings& settings,
                       std::string host)
    : context_(std::move(context)), stream_(socket, context_), settings_(settings), host_(std::move(host))
{
}

TlsSession::Peer TlsSession::peer() const
{
    Peer peer;
    std::unique_ptr<X509, X509Free> cert(SSL_get1_peer_certificate(const_cast<Stream&>(stream_).native_handle()));
    if (!cert)
        return peer;
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(cert.get(), EVP_sha256(), digest.data(), &length) == 1) {
        static constexpr char hex[] = "0123456789abcdef";
        for (unsigned int i = 0; i < length; ++i) {
            peer.fingerprint += hex[digest[i] >> 4];
            peer.fingerprint += hex[digest[i] & 15];
        }
    }
    // One line, most specific part first ("CN=adapter,O=Lab"), UTF-8 kept as it is.
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (bio && X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert.get()), 0,
                                  XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0) {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio.get(), &data);
        if (size > 0)
            peer.subject.assign(data, static_cast<std::size_t>(size));
    }
    return peer;
}

TlsSession::Trust TlsSession::trust() const
{
    SSL* ssl = const_cast<Stream&>(stream_).native_handle();
    if (!settings_.pin.empty())
        return peer().fingerprint == settings_.pin ? Trust::Trusted : Trust::Changed;
    std::unique_ptr<X509, X509Free> cert(SSL_get1_peer_certificate(ssl));
    if (!cert || SSL_get_verify_result(ssl) != X509_V_OK)
        return Trust::Unknown;
    const int named = isAddress(host_) ? X509_check_ip_asc(cert.get(), host_.c_str(), 0)
                                       : X509_check_host(cert.get(), host_.data(), host_.size(), 0, nullptr);
    return named == 1 ? Trust::Trusted : Trust::Unknown;
}

std::string TlsSession::version() const
{
    return SSL_get_version(const_cast<Stream&>(stream_).native_handle());
}

bool TlsSession::verdictAfterHandshake() const
{
    return certificateRequested_ && SSL_version(const_cast<Stream&>(stream_).native_handle()) == TLS1_3_VERSION;
}

std::string TlsSession::closeText() const
{
    if (!certificateRequested_ || dataArrived_)
        return {};
    return settings_.certificateFile.empty() ? "TLS: the adapter wants a client certificate"
                                             : "TLS: the adapter refused our client certificate";
}

std::string TlsSession::describe(const std::error_code& error)
{
    if (error == asio::ssl::error::stream_truncated)
        return "TLS: the adapter ended the connection without closing TLS";
    if (error.category() == asio::error::get_ssl_category()) {
        if (ERR_GET_REASON(static_cast<unsigned long>(error.value())) == SSL_R_WRONG_VERSION_NUMBER)
            return "TLS: the adapter does not answer in TLS (wrong version number)";
        const char* reason = ERR_reason_error_string(static_cast<unsigned long>(error.value()));
        return std::string("TLS: ") + (reason ? reason : error.message());
    }
    return "TLS: " + error.message();
}

}  // namespace vsp
