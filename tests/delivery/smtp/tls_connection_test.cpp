// The TLS layer on its own, against the openssl command's test server and
// against a server that hangs up half-way.
#include "../python_helpers.h"
#include "delivery/smtp/tls_connection.h"
#include "support/test_support.h"

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmora::delivery {

using testing_support::TempDir;
using testing_support::waitUntil;

namespace {

const auto kNever = [] { return false; };

// A listening socket on a free port of 127.0.0.1.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    Listener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(::listen(fd, 4), 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
};

// `openssl s_server` with a self-signed certificate on a free port; killed
// with the object. Its input stays open, so it keeps the session up.
class OpensslServer {
public:
    OpensslServer() {
        pin_ = delivery_testing::runPythonScript("make_test_certificates.py", {dir_.path()});
        pin_.erase(pin_.find_last_not_of("\r\n") + 1);
        int port = 0;
        {
            const Listener probe; // a free port, given back at once
            port = probe.port;
        }
        port_ = port;
        int input[2];
        EXPECT_EQ(::pipe(input), 0);
        inputWriter_ = input[1];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const std::string accept = "127.0.0.1:" + std::to_string(port_);
        const std::string cert = dir_.file("self.pem");
        const std::string key = dir_.file("self.key");
        const char* argv[] = {"/usr/bin/openssl", "s_server", "-quiet",     "-accept",
                              accept.c_str(),     "-cert",    cert.c_str(), "-key",
                              key.c_str(),        nullptr};
        EXPECT_EQ(
            ::posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
    }
    ~OpensslServer() {
        stop();
        ::close(inputWriter_);
    }
    OpensslServer(const OpensslServer&) = delete;
    OpensslServer& operator=(const OpensslServer&) = delete;

    // Kills the server, which drops its connection without a TLS goodbye.
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    int port() const { return port_; }
    const std::string& pin() const { return pin_; }

private:
    TempDir dir_;
    std::string pin_;
    int port_ = 0;
    pid_t pid_ = -1;
    int inputWriter_ = -1;
};

// Moves the handshake on until it ends, as the session does.
TlsConnection::Handshake handshakeOf(TlsConnection& tls) {
    TlsConnection::Handshake state = TlsConnection::Handshake::InProgress;
    waitUntil(std::chrono::seconds(10), [&] {
        state = tls.handshake();
        if (state == TlsConnection::Handshake::InProgress) {
            tls.wait(Connection::Readable, 50);
            return false;
        }
        return true;
    });
    return state;
}

} // namespace

TEST(TlsConnection, HandshakesWithAPinnedServerAndSeesItDropTheSession) {
    OpensslServer server;
    TcpConnection tcp;
    ASSERT_TRUE(waitUntil(std::chrono::seconds(10), [&] {
        tcp.close();
        return tcp.connect("127.0.0.1", server.port(), 1000, kNever);
    }));
    TlsConnection tls(tcp);
    ASSERT_TRUE(tls.begin({"127.0.0.1", server.pin(), true})) << tls.error();
    ASSERT_EQ(handshakeOf(tls), TlsConnection::Handshake::Done) << tls.error();
    EXPECT_TRUE(tls.details().pinned);
    EXPECT_EQ(tls.details().publicKeySha256, server.pin());
    EXPECT_TRUE(tls.details().version.starts_with("TLSv1.")) << tls.details().version;
    const std::string line = "EHLO client.example\r\n";
    EXPECT_EQ(tls.write(line.data(), line.size()).status, Connection::Status::Ok);

    // Dropped in the middle of the session: reads say so, and never
    // hand out bytes that were not sent.
    server.stop();
    Connection::IoResult r;
    ASSERT_TRUE(waitUntil(std::chrono::seconds(10), [&] {
        char buffer[256];
        tls.wait(Connection::Readable, 50);
        r = tls.read(buffer, sizeof buffer);
        return r.status != Connection::Status::WouldBlock;
    }));
    EXPECT_TRUE(r.status == Connection::Status::Closed || r.status == Connection::Status::Error)
        << static_cast<int>(r.status);
}

TEST(TlsConnection, AServerHangingUpInTheHandshakeFailsItWithAReason) {
    Listener listener;
    int client = -1;
    std::thread hangUp([&] {
        client = ::accept(listener.fd, nullptr, nullptr);
        char hello[64];
        (void)::read(client, hello, sizeof hello); // part of the client's hello
        ::shutdown(client, SHUT_WR);
    });
    TcpConnection tcp;
    ASSERT_TRUE(tcp.connect("127.0.0.1", listener.port, 5000, kNever)) << tcp.error();
    TlsConnection tls(tcp);
    ASSERT_TRUE(tls.begin({"127.0.0.1", std::string(64, 'a'), true}));
    EXPECT_EQ(handshakeOf(tls), TlsConnection::Handshake::Failed);
    EXPECT_EQ(tls.error(), "The server closed the connection during the TLS handshake.");
    char buffer[16];
    EXPECT_NE(tls.read(buffer, sizeof buffer).status, Connection::Status::Ok);
    hangUp.join();
    ::close(client);
}

} // namespace velmora::delivery
