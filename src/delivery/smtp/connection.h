#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace velmora::delivery {

// The byte stream to one server. Every call returns without blocking longer
// than the time it is given, so that the caller can keep the window alive,
// notice Cancel and enforce its time-outs. TLS wraps a TCP connection
// (TlsConnection).
class Connection {
public:
    virtual ~Connection() = default;

    // Connects to `host` (a name, an IPv4 or an IPv6 address) on `port`,
    // trying each address the name resolves to within `timeoutMs` in all.
    // `shouldStop` is asked every few milliseconds; returning true gives up.
    // False with `error()` set when no address could be reached.
    virtual bool connect(const std::string& host, int port, int timeoutMs,
                         const std::function<bool()>& shouldStop) = 0;

    enum Ready : unsigned { None = 0, Readable = 1, Writable = 2 };
    // Waits at most `timeoutMs` until the connection can be read (or has
    // been closed: a read then tells) or written, as `interest` asks.
    // Returns the ready bits.
    virtual unsigned wait(unsigned interest, int timeoutMs) = 0;

    enum class Status { Ok, WouldBlock, Closed, Error };
    struct IoResult {
        Status status = Status::Ok;
        std::size_t count = 0; // bytes moved when Ok
    };
    // Reads what has arrived, at most `size` bytes. Closed when the peer
    // closed the stream, Error (see error()) when it broke.
    virtual IoResult read(char* buffer, std::size_t size) = 0;
    // Writes as much of `data` as can go now.
    virtual IoResult write(const char* data, std::size_t size) = 0;
    virtual void close() = 0;

    // The system's words for the last failure.
    virtual std::string error() const = 0;

    // Our end of the connection as an address literal for HELO/EHLO
    // ("[127.0.0.1]", "[IPv6:::1]"); empty when unknown or unconnected.
    virtual std::string localAddressLiteral() const { return {}; }
};

// A TCP connection over POSIX sockets (IPv4 and IPv6, non-blocking).
class TcpConnection final : public Connection {
public:
    TcpConnection() = default;
    ~TcpConnection() override;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    bool connect(const std::string& host, int port, int timeoutMs,
                 const std::function<bool()>& shouldStop) override;
    unsigned wait(unsigned interest, int timeoutMs) override;
    IoResult read(char* buffer, std::size_t size) override;
    IoResult write(const char* data, std::size_t size) override;
    void close() override;
    std::string error() const override { return error_; }
    std::string localAddressLiteral() const override;

private:
    int fd_ = -1;
    std::string error_;
};

// The local computer's fully qualified name (holding a dot) for HELO and
// EHLO; empty when it has none, so that the connection's address is used.
std::string localHostName();

// The host as connect() takes it: "[::1]" and "[IPv6:::1]" lose their
// brackets and prefix, so a server can be given as an address literal.
std::string hostWithoutBrackets(const std::string& host);

} // namespace velmora::delivery
