// Sessions against a real SMTP server (aiosmtpd) started on 127.0.0.1.
#include "../python_helpers.h"
#include "../scripted_connection.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/smtp/smtp_session.h"
#include "support/test_support.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::delivery {

using delivery_testing::RecordingObserver;
using delivery_testing::SmtpTestServer;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

// Real time for the time-outs, a date that stands still for the Date header.
class FrozenDateClock final : public store::Clock {
public:
    store::LocalDateTime now() const override {
        store::LocalDateTime t = date_;
        t.millisecondsSinceEpoch = store::SystemClock().now().millisecondsSinceEpoch;
        return t;
    }

private:
    store::LocalDateTime date_ = store::SystemClock().now();
};

struct EndToEnd {
    TempDir files;
    FrozenDateClock clock;
    MimeTypesFile types;
    // The same random bytes every time, so that a message written again is the same.
    MessageEnvironment environment{clock, types, {}, [](unsigned char* bytes, std::size_t count) {
                                       std::fill(bytes, bytes + count, 7);
                                   }};
    RecordingObserver observer;
    SmtpSessionRequest request;

    explicit EndToEnd(int port) {
        request.server = "127.0.0.1";
        request.port = port;
        request.timeoutSeconds = 5;
        request.hostName = localHostName();
        request.logDialogue = true;
        request.message.senderName = "Ann Lee";
        request.message.senderAddress = "ann@example.org";
        request.message.recipient = "bob@example.net";
        request.message.subject = "Grüße";
        request.message.body = "<p>Hello</p>\r\n.\r\n<p>Bye</p>";
        request.message.format = code(store::EditorFormat::Html);
    }
    SmtpOutcome run() {
        TcpConnection connection;
        return runSmtpSession(request, connection, observer, environment);
    }
};

// The message as the server stored it: the wire bytes without stuffing and
// without the end-of-data line.
std::string unstuffed(const std::string& wire) {
    std::string out;
    std::size_t at = 0;
    while (at < wire.size()) {
        const std::size_t eol = wire.find("\r\n", at) + 2;
        std::string_view line(wire.data() + at, eol - at);
        if (line == ".\r\n") {
            break;
        }
        if (line.front() == '.') {
            line.remove_prefix(1);
        }
        out += line;
        at = eol;
    }
    return out;
}

class StringSink final : public LineSink {
public:
    bool writeLine(std::string_view line) override {
        bytes.append(line);
        bytes.append("\r\n");
        return true;
    }
    std::string bytes;
};

} // namespace

TEST(SmtpEndToEnd, DeliversWithLoginAndTheServerStoresExactlyTheMessage) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--user", "ann.lee", "--password", "s3cret"});
    ASSERT_TRUE(server.running());
    EndToEnd e(server.port());
    e.request.userName = "ann.lee";
    e.request.password = "s3cret";
    std::string big;
    for (int i = 0; i < 300000; ++i) {
        big.push_back(static_cast<char>(i % 251));
    }
    writeFileBytes(e.files.file("big.bin"), big);
    e.request.message.attachments = {e.files.file("big.bin")};

    const SmtpOutcome outcome = e.run();
    ASSERT_EQ(outcome.result, SmtpResult::Delivered) << outcome.reason;
    EXPECT_EQ(e.observer.lines.back(), "Finished.");
    EXPECT_EQ(e.observer.lines[2].substr(0, 4), "<220");

    const nlohmann::json envelope = nlohmann::json::parse(readFileBytes(store.file("001.json")));
    EXPECT_EQ(envelope["mailFrom"], "ann@example.org");
    EXPECT_EQ(envelope["rcptTos"], nlohmann::json::array({"bob@example.net"}));
    EXPECT_EQ(envelope["login"], "ann.lee");

    StringSink sink;
    ASSERT_TRUE(writeMessage(e.request.message, e.environment, sink));
    EXPECT_EQ(readFileBytes(store.file("001.eml")), unstuffed(sink.bytes));
    const nlohmann::json parsed = nlohmann::json::parse(delivery_testing::runPythonScript(
        "parse_message.py", {store.file("001.eml"), "--unstuffed"}));
    EXPECT_EQ(parsed["headers"]["Subject"], "Grüße");
    EXPECT_EQ(parsed["defects"].size(), 0u);
}

TEST(SmtpEndToEnd, WithoutLoginUsesHelo) {
    TempDir store;
    SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    EndToEnd e(server.port());
    ASSERT_EQ(e.run().result, SmtpResult::Delivered);
    EXPECT_TRUE(std::filesystem::exists(store.file("001.eml")));
}

TEST(SmtpEndToEnd, FaultRuns) {
    TempDir store;
    {
        SmtpTestServer server(store.path(), {"--refuse-rcpt", "bob@example.net"});
        ASSERT_TRUE(server.running());
        EndToEnd e(server.port());
        const SmtpOutcome outcome = e.run();
        EXPECT_EQ(outcome.result, SmtpResult::Rejected);
        EXPECT_EQ(outcome.replyCode, "550");
        EXPECT_EQ(outcome.replyText, "5.1.1 No such user here");
        // The next recipient of a run goes through the same server.
        e.request.message.recipient = "carol@example.net";
        EXPECT_EQ(e.run().result, SmtpResult::Delivered);
        const nlohmann::json envelope =
            nlohmann::json::parse(readFileBytes(store.file("001.json")));
        EXPECT_EQ(envelope["rcptTos"], nlohmann::json::array({"carol@example.net"}));
        EXPECT_FALSE(std::filesystem::exists(store.file("002.json")));
    }
    {
        SmtpTestServer server(store.path(), {"--user", "ann.lee", "--password", "s3cret"});
        ASSERT_TRUE(server.running());
        EndToEnd e(server.port());
        e.request.userName = "ann.lee";
        e.request.password = "wrong";
        const SmtpOutcome outcome = e.run();
        EXPECT_EQ(outcome.result, SmtpResult::Failed);
        EXPECT_EQ(outcome.replyCode, "535");
    }
    {
        SmtpTestServer server(store.path(), {"--drop-at-data"});
        ASSERT_TRUE(server.running());
        EndToEnd e(server.port());
        const SmtpOutcome outcome = e.run();
        EXPECT_EQ(outcome.result, SmtpResult::Failed);
        EXPECT_EQ(outcome.reason, "Connection closed by the server.");
    }
}

TEST(SmtpEndToEnd, SlowReplyTimesOutOrWaitsAsTheSettingSays) {
    TempDir store;
    {
        // A reply 0.3 s past a 1 s time-out: the shortest the setting allows.
        SmtpTestServer server(store.path(), {"--delay-data-reply", "1.3"});
        ASSERT_TRUE(server.running());
        EndToEnd slow(server.port());
        slow.request.timeoutSeconds = 1;
        const SmtpOutcome outcome = slow.run();
        EXPECT_EQ(outcome.result, SmtpResult::Failed);
        EXPECT_EQ(outcome.reason, "Timeout reached.");
        EndToEnd patient(server.port());
        patient.request.timeoutSeconds = 4;
        EXPECT_EQ(patient.run().result, SmtpResult::Delivered);
    }
}

TEST(SmtpEndToEnd, NoServerListeningFailsAtOnce) {
    int port = 0;
    {
        TempDir store;
        SmtpTestServer server(store.path());
        port = server.port();
    } // stopped: nothing listens on its port now
    EndToEnd e(port);
    const SmtpOutcome outcome = e.run();
    EXPECT_EQ(outcome.result, SmtpResult::Failed);
    EXPECT_NE(outcome.reason.find("Could not connect to 127.0.0.1"), std::string::npos)
        << outcome.reason;
}

TEST(SmtpEndToEnd, ReachesAServerOverIpv6) {
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 loopback{};
    loopback.sin6_family = AF_INET6;
    loopback.sin6_addr = in6addr_loopback;
    const bool ipv6 =
        probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0;
    if (probe >= 0) {
        ::close(probe);
    }
    if (!ipv6) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    // As an address, as an address literal and as an IPv6 literal; with no
    // name of our own, HELO names our end of the connection.
    for (const char* name : {"::1", "[::1]", "[IPv6:::1]"}) {
        TempDir store;
        SmtpTestServer server(store.path(), {"--host", "::1", "--capture"});
        ASSERT_TRUE(server.running());
        EndToEnd e(server.port());
        e.request.server = name;
        e.request.hostName = "";
        EXPECT_EQ(e.run().result, SmtpResult::Delivered) << name;
        EXPECT_EQ(readFileBytes(store.file("wire.bin")).rfind("HELO [IPv6:::1]\r\n", 0), 0u);
    }
}

TEST(SmtpEndToEnd, HeloNamesTheLocalAddressWhenThereIsNoFullName) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--capture"});
    ASSERT_TRUE(server.running());
    EndToEnd e(server.port());
    e.request.server = "[127.0.0.1]";
    e.request.hostName = "";
    ASSERT_EQ(e.run().result, SmtpResult::Delivered);
    EXPECT_EQ(readFileBytes(store.file("wire.bin")).rfind("HELO [127.0.0.1]\r\n", 0), 0u);
}

} // namespace velmora::delivery
