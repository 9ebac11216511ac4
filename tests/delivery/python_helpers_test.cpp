// The test support's own promise: a test process that dies does not leave
// its SMTP server behind (it would hold the runner's output pipe open).
#include "python_helpers.h"
#include "support/test_support.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmora::delivery {

using delivery_testing::SmtpTestServer;
using testing_support::TempDir;
using testing_support::waitUntil;

namespace {

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

TEST(SmtpTestServerGuard, TheServerStopsWhenItsTestProcessDiesWithoutCleaningUp) {
    TempDir store;
    int portPipe[2];
    ASSERT_EQ(::pipe(portPipe), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A test that starts a server and then dies: no destructor runs.
        ::close(portPipe[0]);
        auto* server = new SmtpTestServer(store.path());
        const int port = server->port();
        const bool written = ::write(portPipe[1], &port, sizeof port) == sizeof port;
        ::_exit(written ? 0 : 1);
    }
    ::close(portPipe[1]);
    int port = 0;
    ASSERT_EQ(::read(portPipe[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    ::close(portPipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_GT(port, 0);
    EXPECT_TRUE(waitUntil(
        std::chrono::seconds(10), [port] { return !accepts(port); }, std::chrono::milliseconds(20)))
        << "the orphaned server still listens on " << port;
}

TEST(SmtpTestServerGuard, ALiveServerKeepsServingAndStopsWithItsObject) {
    TempDir store;
    int port = 0;
    {
        SmtpTestServer server(store.path());
        ASSERT_TRUE(server.running());
        port = server.port();
        EXPECT_TRUE(accepts(port));
    }
    EXPECT_TRUE(waitUntil(
        std::chrono::seconds(10), [port] { return !accepts(port); },
        std::chrono::milliseconds(20)));
}

} // namespace velmora::delivery
