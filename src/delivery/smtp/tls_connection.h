#pragma once

#include "delivery/smtp/connection.h"

#include <memory>
#include <string>

namespace velmora::delivery {

// What the TLS layer checks the server against.
struct TlsSettings {
    // The server as the user gave it: the name sent (SNI) and checked
    // against the certificate; an address ("[::1]", "127.0.0.1") is checked
    // as an address and not sent.
    std::string serverName;
    // Hex SHA-256 of the certificate's public key (SubjectPublicKeyInfo):
    // when set, exactly that key is accepted, whoever issued it.
    std::string pinSha256;
    // TLS from the moment of connecting (not after STARTTLS): a plain
    // greeting then means the port wants another Security setting.
    bool fromTheStart = false;
};

// What a connection test shows of the encryption.
struct TlsDetails {
    std::string version; // "TLSv1.3"
    std::string cipher;
    std::string subject, issuer; // the server certificate's, one line each
    std::string expires;         // its end of validity, e.g. "Jan  1 00:00:00 2030 GMT"
    std::string publicKeySha256; // what tlsPinSha256 would hold to accept it
    bool pinned = false;         // accepted by the pin rather than the trust store
    // Refused only because no authority this computer trusts vouches for it
    // (self-signed, or an unknown issuer): pinning its key would accept it.
    bool untrusted = false;
};

// Lowercase hex SHA-256 of a DER certificate's public key; empty when it cannot be read.
std::string publicKeySha256OfDer(const std::string& der);

// TLS (1.2 or later, OpenSSL) over another connection, through memory
// buffers: encrypted bytes move between OpenSSL and `inner`, so every call
// stays as non-blocking as the inner connection's. The chain is verified
// against the system's trust store (SSL_CERT_FILE and SSL_CERT_DIR are
// honoured as OpenSSL does) and the certificate must be issued for the server.
class TlsConnection final : public Connection {
public:
    explicit TlsConnection(Connection& inner);
    ~TlsConnection() override;
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    // Sets up a client handshake on the (connected) inner connection; false
    // with error() when OpenSSL cannot be prepared.
    bool begin(const TlsSettings& settings);

    enum class Handshake { Done, InProgress, Failed };
    // Moves the handshake on with what has arrived; InProgress: wait until
    // readable (wait() also sends what is pending) and call again. Failed:
    // error() says why in plain words, with what to do where that is known.
    Handshake handshake();
    const TlsDetails& details() const { return details_; }

    // Connects the inner connection (plain TCP); begin() starts TLS on it.
    bool connect(const std::string& host, int port, int timeoutMs,
                 const std::function<bool()>& shouldStop) override;
    unsigned wait(unsigned interest, int timeoutMs) override;
    IoResult read(char* buffer, std::size_t size) override;
    IoResult write(const char* data, std::size_t size) override;
    void close() override;
    std::string error() const override;
    std::string localAddressLiteral() const override { return inner_.localAddressLiteral(); }

private:
    struct State;
    void flushOutbound();
    IoResult readInner();
    Handshake finishHandshake();
    Handshake failHandshake(std::string reason);

    Connection& inner_;
    std::unique_ptr<State> state_;
    TlsSettings settings_;
    TlsDetails details_;
    std::string outbound_;   // encrypted bytes the inner connection has not taken yet
    std::string firstBytes_; // the first bytes the server sent in the handshake
    std::string error_;
    bool established_ = false;
    bool broken_ = false;
    bool starved_ = false; // the last read needed more bytes than had arrived
};

} // namespace velmora::delivery
