#include "delivery/smtp/tls_connection.h"

#include "delivery/delivery_texts.h"
#include "store/text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace velmora::delivery {

namespace {

constexpr std::size_t kChunk = 16 * 1024;
// Encrypted bytes held back before a write says "would block".
constexpr std::size_t kOutboundLimit = 256 * 1024;

std::string publicKeySha256(X509* certificate) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    if (length <= 0) {
        return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool ok = EVP_Digest(der, static_cast<std::size_t>(length), digest, &size, EVP_sha256(),
                               nullptr) == 1;
    OPENSSL_free(der);
    return ok ? store::toHex({reinterpret_cast<const char*>(digest), size}) : std::string();
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text = size > 0 ? std::string(data, static_cast<std::size_t>(size)) : "";
    BIO_free(bio);
    return text;
}

std::string nameText(const X509_NAME* name) {
    BIO* bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    return bioText(bio);
}

std::string timeText(const ASN1_TIME* time) {
    BIO* bio = BIO_new(BIO_s_mem());
    ASN1_TIME_print(bio, time);
    return bioText(bio);
}

// OpenSSL's queued errors as one line, the queue emptied.
std::string openSslErrors() {
    std::string text;
    while (const unsigned long code = ERR_get_error()) {
        const char* reason = ERR_reason_error_string(code);
        if (reason != nullptr) {
            text += text.empty() ? "" : "; ";
            text += reason;
        }
    }
    return text.empty() ? "unknown error" : text;
}

bool isAddress(const std::string& host) {
    unsigned char buffer[16];
    return ::inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

bool looksLikePlainReply(const std::string& bytes) {
    return bytes.size() >= 3 && std::all_of(bytes.begin(), bytes.begin() + 3,
                                            [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::string publicKeySha256OfDer(const std::string& der) {
    const auto* at = reinterpret_cast<const unsigned char*>(der.data());
    X509* certificate = d2i_X509(nullptr, &at, static_cast<long>(der.size()));
    if (certificate == nullptr) {
        return {};
    }
    std::string digest = publicKeySha256(certificate);
    X509_free(certificate);
    return digest;
}

struct TlsConnection::State {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    BIO* in = nullptr;  // bytes from the server, for OpenSSL to read
    BIO* out = nullptr; // bytes OpenSSL wrote, for the server
    ~State() {
        SSL_free(ssl); // frees both BIOs
        SSL_CTX_free(context);
    }
};

TlsConnection::TlsConnection(Connection& inner) : inner_(inner) {}

TlsConnection::~TlsConnection() = default;

bool TlsConnection::connect(const std::string& host, int port, int timeoutMs,
                            const std::function<bool()>& shouldStop) {
    return inner_.connect(host, port, timeoutMs, shouldStop);
}

bool TlsConnection::begin(const TlsSettings& settings) {
    settings_ = settings;
    settings_.pinSha256 = store::toLowerAscii(settings_.pinSha256);
    details_ = {};
    established_ = false;
    broken_ = false;
    starved_ = false;
    outbound_.clear();
    firstBytes_.clear();
    ERR_clear_error();
    state_ = std::make_unique<State>();
    State& s = *state_;
    s.context = SSL_CTX_new(TLS_client_method());
    if (s.context == nullptr) {
        error_ = "TLS cannot be prepared: " + openSslErrors() + ".";
        return false;
    }
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    // The system's trust store; OpenSSL reads SSL_CERT_FILE and SSL_CERT_DIR here.
    SSL_CTX_set_default_verify_paths(s.context);
    // The chain and the name are verified during the handshake, but judged
    // after it: a pinned key may accept what the trust store does not.
    SSL_CTX_set_verify(s.context, SSL_VERIFY_NONE, nullptr);
    s.ssl = SSL_new(s.context);
    s.in = BIO_new(BIO_s_mem());
    s.out = BIO_new(BIO_s_mem());
    if (s.ssl == nullptr || s.in == nullptr || s.out == nullptr) {
        BIO_free(s.in);
        BIO_free(s.out);
        s.in = s.out = nullptr;
        error_ = "TLS cannot be prepared: " + openSslErrors() + ".";
        return false;
    }
    SSL_set_bio(s.ssl, s.in, s.out);
    SSL_set_connect_state(s.ssl);
    const std::string host = hostWithoutBrackets(settings_.serverName);
    if (isAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(s.ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(s.ssl, host.c_str());
        SSL_set1_host(s.ssl, host.c_str());
    }
    return true;
}

void TlsConnection::flushOutbound() {
    if (!state_) {
        return;
    }
    char chunk[kChunk];
    for (;;) {
        const int n = BIO_read(state_->out, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        outbound_.append(chunk, static_cast<std::size_t>(n));
    }
    while (!outbound_.empty() && !broken_) {
        const IoResult r = inner_.write(outbound_.data(), outbound_.size());
        if (r.status == Status::Ok && r.count > 0) {
            outbound_.erase(0, r.count);
        } else if (r.status == Status::WouldBlock || r.status == Status::Ok) {
            break;
        } else {
            broken_ = true;
            error_ = inner_.error();
        }
    }
}

Connection::IoResult TlsConnection::readInner() {
    char chunk[kChunk];
    const IoResult r = inner_.read(chunk, sizeof chunk);
    if (r.status == Status::Ok) {
        if (firstBytes_.size() < 8) {
            firstBytes_.append(chunk, std::min<std::size_t>(r.count, 8 - firstBytes_.size()));
        }
        BIO_write(state_->in, chunk, static_cast<int>(r.count));
        starved_ = false;
    } else if (r.status == Status::Error) {
        error_ = inner_.error();
    }
    return r;
}

TlsConnection::Handshake TlsConnection::failHandshake(std::string reason) {
    error_ = std::move(reason);
    return Handshake::Failed;
}

TlsConnection::Handshake TlsConnection::handshake() {
    if (!state_) {
        return failHandshake("TLS was not prepared.");
    }
    if (established_) {
        return Handshake::Done;
    }
    for (;;) {
        ERR_clear_error();
        const int result = SSL_do_handshake(state_->ssl);
        flushOutbound();
        if (broken_) {
            return failHandshake("The connection broke during the TLS handshake: " + error_ + ".");
        }
        if (result == 1) {
            return finishHandshake();
        }
        const int error = SSL_get_error(state_->ssl, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            if (settings_.fromTheStart && looksLikePlainReply(firstBytes_)) {
                return failHandshake("The TLS handshake failed: the server answered in plain "
                                     "text. " +
                                     std::string(kPortExpectsPlainText));
            }
            return failHandshake("The TLS handshake failed: " + openSslErrors() + ".");
        }
        const IoResult r = readInner();
        if (r.status == Status::WouldBlock) {
            return Handshake::InProgress;
        }
        if (r.status == Status::Closed) {
            return failHandshake(settings_.fromTheStart && looksLikePlainReply(firstBytes_)
                                     ? "The TLS handshake failed: the server answered in plain "
                                       "text. " +
                                           std::string(kPortExpectsPlainText)
                                     : "The server closed the connection during the TLS "
                                       "handshake.");
        }
        if (r.status == Status::Error) {
            return failHandshake("The connection broke during the TLS handshake: " + error_ + ".");
        }
    }
}

TlsConnection::Handshake TlsConnection::finishHandshake() {
    SSL* ssl = state_->ssl;
    X509* certificate = SSL_get0_peer_certificate(ssl);
    if (certificate == nullptr) {
        return failHandshake("The server sent no certificate.");
    }
    details_.version = SSL_get_version(ssl);
    details_.cipher = SSL_get_cipher_name(ssl);
    details_.subject = nameText(X509_get_subject_name(certificate));
    details_.issuer = nameText(X509_get_issuer_name(certificate));
    details_.expires = timeText(X509_get0_notAfter(certificate));
    details_.publicKeySha256 = publicKeySha256(certificate);
    const std::string host = hostWithoutBrackets(settings_.serverName);
    if (!settings_.pinSha256.empty()) {
        if (details_.publicKeySha256 != settings_.pinSha256) {
            return failHandshake("The server's certificate is not the pinned one: its public key's "
                                 "SHA-256 is " +
                                 details_.publicKeySha256 + ", tlsPinSha256 holds " +
                                 settings_.pinSha256 + ".");
        }
        details_.pinned = true;
        established_ = true;
        return Handshake::Done;
    }
    const long verified = SSL_get_verify_result(ssl);
    if (verified == X509_V_OK) {
        established_ = true;
        return Handshake::Done;
    }
    const std::string pinHint = " If this is your own server, set tlsPinSha256 to " +
                                details_.publicKeySha256 + " to trust exactly this certificate.";
    switch (verified) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        details_.untrusted = true;
        return failHandshake("The server's certificate is self-signed and not trusted." + pinHint);
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        details_.untrusted = true;
        return failHandshake("The server's certificate is not trusted: no authority this "
                             "computer trusts issued it." +
                             pinHint);
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return failHandshake("The server's certificate has expired (" + details_.expires + ").");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return failHandshake("The server's certificate is not valid yet.");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return failHandshake("The server's certificate is issued for another name than \"" + host +
                             "\" (" + details_.subject + ").");
    default:
        return failHandshake("The server's certificate could not be verified: " +
                             std::string(X509_verify_cert_error_string(verified)) + ".");
    }
}

unsigned TlsConnection::wait(unsigned interest, int timeoutMs) {
    if (!state_) {
        return inner_.wait(interest, timeoutMs);
    }
    flushOutbound();
    if (broken_) {
        return interest; // the next read or write reports it
    }
    // Bytes already received but not yet decrypted (say, a greeting that came
    // with the end of the handshake) make no socket readable again; a partial
    // record that the last read could not finish waits for the socket.
    const bool buffered =
        SSL_pending(state_->ssl) > 0 ||
        ((SSL_has_pending(state_->ssl) == 1 || BIO_ctrl_pending(state_->in) > 0) && !starved_);
    if ((interest & Readable) && buffered) {
        return Readable;
    }
    const unsigned innerInterest = interest | (outbound_.empty() ? None : Writable);
    const unsigned ready = inner_.wait(innerInterest, timeoutMs);
    if ((ready & Writable) && !outbound_.empty()) {
        flushOutbound();
    }
    unsigned result = ready & interest & Readable;
    if ((interest & Writable) && (ready & Writable) && outbound_.size() < kOutboundLimit) {
        result |= Writable;
    }
    return result;
}

Connection::IoResult TlsConnection::read(char* buffer, std::size_t size) {
    if (!state_ || !established_) {
        return {Status::Closed, 0};
    }
    for (;;) {
        flushOutbound();
        if (broken_) {
            return {Status::Error, 0};
        }
        ERR_clear_error();
        std::size_t count = 0;
        if (SSL_read_ex(state_->ssl, buffer, size, &count) == 1) {
            return {Status::Ok, count};
        }
        const int error = SSL_get_error(state_->ssl, 0);
        if (error == SSL_ERROR_ZERO_RETURN) {
            return {Status::Closed, 0};
        }
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            error_ = "TLS error: " + openSslErrors();
            return {Status::Error, 0};
        }
        const IoResult r = readInner();
        if (r.status != Status::Ok) {
            starved_ = r.status == Status::WouldBlock;
            return r;
        }
    }
}

Connection::IoResult TlsConnection::write(const char* data, std::size_t size) {
    if (!state_ || !established_) {
        return {Status::Closed, 0};
    }
    flushOutbound();
    if (broken_) {
        return {Status::Error, 0};
    }
    if (outbound_.size() >= kOutboundLimit) {
        return {Status::WouldBlock, 0};
    }
    ERR_clear_error();
    std::size_t count = 0;
    if (SSL_write_ex(state_->ssl, data, std::min(size, kChunk), &count) == 1) {
        flushOutbound();
        return {Status::Ok, count};
    }
    const int error = SSL_get_error(state_->ssl, 0);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (error == SSL_ERROR_WANT_READ && readInner().status == Status::Closed) {
            return {Status::Closed, 0};
        }
        return {Status::WouldBlock, 0};
    }
    error_ = "TLS error: " + openSslErrors();
    return {Status::Error, 0};
}

void TlsConnection::close() {
    if (state_ && established_ && !broken_) {
        // Best effort: say goodbye without waiting for the server's answer.
        ERR_clear_error();
        SSL_shutdown(state_->ssl);
        flushOutbound();
    }
    established_ = false;
    inner_.close();
}

std::string TlsConnection::error() const {
    return error_.empty() ? inner_.error() : error_;
}

} // namespace velmora::delivery
