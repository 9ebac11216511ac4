// `feedback fetch` against a real IMAP server: Dovecot on 127.0.0.1 with a
// throw-away configuration, started once for the suite; every test signs in
// as a user of its own whose Maildir holds the reports of tests/data.
#include "../python_helpers.h"
#include "cli/cli_test_support.h"
#include "delivery/feedback/feedback_apply.h"
#include "delivery/feedback/feedback_fetch.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <arpa/inet.h>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmora::delivery {
namespace {

namespace fs = std::filesystem;
using delivery_testing::SmtpTestServer;
using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::ScopedEnvironment;
using testing_support::TempDir;
using testing_support::writeFileBytes;

constexpr std::int32_t kDoNotContact = -1;
// The reports of tests/data that are understood (all but the personal reply).
constexpr std::size_t kUnderstood = 8;

struct Dovecot {
    TempDir dir;
    std::unique_ptr<SmtpTestServer> server;
    int tlsPort = 0;
    int plainPort = 0;
    std::unique_ptr<ScopedEnvironment> trust;
    Dovecot() {
        server = std::make_unique<SmtpTestServer>(
            dir.path(),
            std::vector<std::string>{"--users", "moving,marking,cutting,refusing,dry", "--messages",
                                     dataPath("delivery/feedback/mail")},
            "feedback/imap_test_server.py");
        std::istringstream ports(readFileBytes(dir.file("ports")));
        ports >> tlsPort >> plainPort;
        trust = std::make_unique<ScopedEnvironment>("SSL_CERT_FILE", dir.file("ca.pem"));
    }
    std::string maildir(const std::string& user, const std::string& folder = "") const {
        return dir.file("home/" + user + "/Maildir" + (folder.empty() ? "" : "/." + folder));
    }
};

// One scenario: a session of its own against the suite's server.
class FetchScenario {
public:
    explicit FetchScenario(const Dovecot& dovecot) : dovecot_(&dovecot) {}
    void appliesOverTlsThenMovesWhatItHandled();
    void marksAsSeenOverStartTlsWithoutADoneFolder();
    void dryRunChangesNeitherSessionNorMailbox();
    void aConnectionCutWhileReadingChangesNothing();
    void saysWhyTheMailboxCannotBeUsedAndChangesNothing();

private:
    const Dovecot* dovecot_;
    TempDir dir_;
    std::string session_ = dir_.file("s.qmz");

    // A session with the contacts the reports name, signed in as `user`.
    void makeSession(const std::string& user, const std::vector<std::string>& settings) {
        ASSERT_EQ(runCli({"session", "new", session_}).exitCode, 0);
        writeFileBytes(dir_.file("list.txt"), "gone@example.org\nfull@example.org\n"
                                              "angry@isp.example\ndana@example.com\n"
                                              "bea@example.com\nslow@example.com\n");
        ASSERT_EQ(runCli({"import-addresses", session_, dir_.file("list.txt")}).exitCode, 0);
        std::vector<std::string> args{"settings",        "set",
                                      session_,          "feedbackServer=127.0.0.1",
                                      "password=secret", "feedbackLogin=" + user};
        args.insert(args.end(), settings.begin(), settings.end());
        const auto set = runCli(args);
        ASSERT_EQ(set.exitCode, 0) << set.err;
    }
    std::string tlsPort() const { return "feedbackPort=" + std::to_string(dovecot_->tlsPort); }
    std::string plainPort() const { return "feedbackPort=" + std::to_string(dovecot_->plainPort); }
    store::Contact contact(std::int32_t slot) const {
        return store::readSessionFile(session_).session.contact(slot);
    }
};

// The messages of a Maildir folder, and how many carry the \Seen flag.
struct FolderState {
    std::size_t messages = 0;
    std::size_t seen = 0;
};
FolderState folderState(const std::string& maildir) {
    FolderState state;
    for (const char* sub : {"/new", "/cur"}) {
        if (!fs::exists(maildir + sub)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(maildir + sub)) {
            const std::string name = entry.path().filename().string();
            ++state.messages;
            const std::size_t flags = name.find(":2,");
            state.seen += flags != std::string::npos && name.find('S', flags) != std::string::npos;
        }
    }
    return state;
}

void FetchScenario::appliesOverTlsThenMovesWhatItHandled() {
    // A done folder outside ASCII: the server knows it by its encoded name.
    makeSession("moving",
                {tlsPort(), "feedbackSecurity=tls", "feedbackDoneFolder=Erledigt & Geprüft"});
    const std::int32_t before = contact(1).status;

    auto run = runCli({"feedback", "fetch", session_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Contacts changed 3."), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Moved 8 messages to \"Erledigt & Geprüft\"."), std::string::npos)
        << run.out;
    EXPECT_EQ(contact(1).status, kDoNotContact);
    EXPECT_EQ(contact(1).notes.view(), "Bounced 12/07/2026: 5.1.1 user unknown");
    EXPECT_EQ(contact(3).notes.view(), "Complained 12/07/2026");
    EXPECT_EQ(contact(4).status, kDoNotContact);
    EXPECT_EQ(contact(5).status, before); // an auto-reply is only counted
    EXPECT_EQ(folderState(dovecot_->maildir("moving", "Erledigt &- Gepr&APw-ft")).messages,
              kUnderstood);
    // The personal reply stays where it was, unread.
    const FolderState left = folderState(dovecot_->maildir("moving"));
    EXPECT_EQ(left.messages, 1U);
    EXPECT_EQ(left.seen, 0U);

    // Nothing new: the reply left behind changes nothing.
    const std::string saved = readFileBytes(session_);
    const std::string ledger = readFileBytes(feedbackLedgerPath(session_));
    run = runCli({"feedback", "fetch", session_, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["contactsChanged"], 0);
    EXPECT_EQ(json["mailbox"]["read"], 1);
    EXPECT_EQ(json["mailbox"]["handled"], 0);
    EXPECT_EQ(json["counts"]["notUnderstood"], 1);
    EXPECT_EQ(readFileBytes(session_), saved);
    EXPECT_EQ(readFileBytes(feedbackLedgerPath(session_)), ledger);

    // What the fetch changed can be undone like any other.
    ASSERT_EQ(runCli({"feedback", "undo", session_}).exitCode, 0);
    EXPECT_EQ(contact(1).status, before);

    // The folder outside ASCII can be read from as well.
    ASSERT_EQ(runCli({"settings", "set", session_, "feedbackFolder=Erledigt & Geprüft",
                      "feedbackDoneFolder="})
                  .exitCode,
              0);
    run = runCli({"feedback", "fetch", session_, "--dry-run"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Read 8 messages"), std::string::npos) << run.out;
}

void FetchScenario::marksAsSeenOverStartTlsWithoutADoneFolder() {
    makeSession("marking", {plainPort(), "feedbackSecurity=starttls"});
    auto run = runCli({"feedback", "fetch", session_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Marked 8 messages as seen."), std::string::npos) << run.out;
    EXPECT_EQ(contact(3).status, kDoNotContact);
    const FolderState state = folderState(dovecot_->maildir("marking"));
    EXPECT_EQ(state.messages, kUnderstood + 1);
    EXPECT_EQ(state.seen, kUnderstood);

    run = runCli({"feedback", "fetch", session_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Read 1 messages"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Contacts changed 0."), std::string::npos) << run.out;
}

void FetchScenario::dryRunChangesNeitherSessionNorMailbox() {
    makeSession("dry", {tlsPort(), "feedbackDoneFolder=Handled"});
    const std::string original = readFileBytes(session_);
    const auto run = runCli({"feedback", "fetch", session_, "--dry-run"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Contacts changed 3."), std::string::npos) << run.out;
    EXPECT_EQ(readFileBytes(session_), original);
    EXPECT_FALSE(fs::exists(feedbackLedgerPath(session_)));
    const FolderState state = folderState(dovecot_->maildir("dry"));
    EXPECT_EQ(state.messages, kUnderstood + 1);
    EXPECT_EQ(state.seen, 0U); // read with PEEK: still unread
    EXPECT_FALSE(fs::exists(dovecot_->maildir("dry", "Handled")));
}

// What the server sent for one UID FETCH, as libcurl hands it over line by
// line: the message is taken only when its literal arrived whole.
TEST(FetchedLiteral, TakesTheMessageOnlyWhenItArrivedWhole) {
    const std::string message = "Subject: x\r\n\r\nA005 OK looks like a tag\r\n";
    const std::string head = "* 3 FETCH (UID 7 BODY[] {" + std::to_string(message.size()) + "}\r\n";
    struct Case {
        const char* name;
        std::string lines;
        bool taken;
    };
    const Case cases[] = {
        {"whole", "* 3 FETCH (FLAGS ())\r\n" + head + message + ")\r\nA006 OK done\r\n", true},
        {"more items after it", head + message + " UID 7)\r\nA006 OK done\r\n", true},
        {"ended early by a forged tag", head + "Subject: x\r\n\r\nA005 OK looks like", false},
        {"a line cut short", head + message.substr(0, 20) + "\r\n)\r\nA006 OK done\r\n", false},
        {"no message", "A006 OK done\r\n", false},
    };
    for (const Case& c : cases) {
        std::string bytes;
        EXPECT_EQ(fetchedLiteral(c.lines, bytes), c.taken) << c.name;
        EXPECT_EQ(bytes, c.taken ? message : "") << c.name;
    }
    EXPECT_EQ(uidSet({9, 3, 4, 5, 12, 11, 4}), "3:5,9,11:12");
}

// Passes a connection through to the server and breaks it off just before
// the server's data reaches `marker`.
class CuttingProxy {
public:
    CuttingProxy(int targetPort, std::string marker)
        : target_(targetPort), marker_(std::move(marker)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~CuttingProxy() {
        thread_.join();
        ::close(listener_);
    }
    CuttingProxy(const CuttingProxy&) = delete;
    CuttingProxy& operator=(const CuttingProxy&) = delete;
    int port() const { return port_; }
    bool cut() const { return cut_; }

private:
    void serve() {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 10000) <= 0) {
            return;
        }
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(target_));
        if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            relay(client, server);
        }
        ::close(server);
        ::close(client);
    }
    void relay(int client, int server) {
        std::string fromServer;
        std::size_t forwarded = 0;
        char buffer[8192];
        for (;;) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 2, 10000) <= 0) {
                return;
            }
            if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0 || ::write(server, buffer, static_cast<std::size_t>(n)) != n) {
                    return;
                }
            }
            if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
                const ssize_t n = ::read(server, buffer, sizeof buffer);
                if (n <= 0) {
                    return;
                }
                fromServer.append(buffer, static_cast<std::size_t>(n));
                const std::size_t at = fromServer.find(marker_);
                const std::size_t until = at == std::string::npos ? fromServer.size() : at;
                const std::string_view next(fromServer.data() + forwarded, until - forwarded);
                if (::write(client, next.data(), next.size()) !=
                    static_cast<ssize_t>(next.size())) {
                    return;
                }
                forwarded = until;
                if (at != std::string::npos) {
                    cut_ = true;
                    return;
                }
            }
        }
    }

    int target_;
    std::string marker_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> cut_{false};
    std::thread thread_;
};

void FetchScenario::aConnectionCutWhileReadingChangesNothing() {
    makeSession("cutting", {"feedbackSecurity=none", "feedbackDoneFolder=Handled"});
    const std::string original = readFileBytes(session_);
    {
        CuttingProxy proxy(dovecot_->plainPort, "Final-Recipient: rfc822; slow@example.com");
        ASSERT_EQ(
            runCli({"settings", "set", session_, "feedbackPort=" + std::to_string(proxy.port())})
                .exitCode,
            0);
        const std::string configured = readFileBytes(session_);
        const auto run = runCli({"feedback", "fetch", session_});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("was lost"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Nothing was changed."), std::string::npos) << run.err;
        EXPECT_TRUE(proxy.cut());
        EXPECT_EQ(readFileBytes(session_), configured);
    }
    EXPECT_FALSE(fs::exists(feedbackLedgerPath(session_)));
    const FolderState state = folderState(dovecot_->maildir("cutting"));
    EXPECT_EQ(state.messages, kUnderstood + 1);
    EXPECT_EQ(state.seen, 0U);

    // Straight to the server, the same fetch goes through.
    ASSERT_EQ(runCli({"settings", "set", session_, plainPort()}).exitCode, 0);
    const auto run = runCli({"feedback", "fetch", session_});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Contacts changed 3."), std::string::npos) << run.out;
    EXPECT_NE(original, readFileBytes(session_));
}

int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd); // nobody listens there now
    return ntohs(address.sin_port);
}

void FetchScenario::saysWhyTheMailboxCannotBeUsedAndChangesNothing() {
    struct Case {
        const char* name;
        std::vector<std::string> settings;
        const char* message;
    };
    const Case cases[] = {
        {"unreachable",
         {"feedbackPort=" + std::to_string(closedPort())},
         "Cannot reach the mail server"},
        {"no folder",
         {tlsPort(), "feedbackFolder=Nowhere"},
         "The folder \"Nowhere\" cannot be opened"},
        {"no server", {"feedbackServer="}, kFeedbackServerNotSetText},
        // Last: the server makes the next sign-in of the same user wait.
        {"wrong password", {tlsPort(), "password=wrong"}, "refused the login for refusing"},
    };
    makeSession("refusing", {});
    for (const Case& c : cases) {
        std::vector<std::string> args{"settings",
                                      "set",
                                      session_,
                                      "password=secret",
                                      "feedbackServer=127.0.0.1",
                                      "feedbackFolder=INBOX"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        ASSERT_EQ(runCli(args).exitCode, 0) << c.name;
        const std::string configured = readFileBytes(session_);
        const auto run = runCli({"feedback", "fetch", session_});
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << ": " << run.err;
        EXPECT_EQ(readFileBytes(session_), configured) << c.name;
    }
    EXPECT_FALSE(fs::exists(feedbackLedgerPath(session_)));
    EXPECT_EQ(folderState(dovecot_->maildir("refusing")).seen, 0U);
}

// Dovecot starts once for all scenarios: it takes longer than any of them.
TEST(FeedbackFetch, AgainstARealImapServer) {
    const Dovecot dovecot;
    ASSERT_TRUE(dovecot.server->running());
    using Scenario = void (FetchScenario::*)();
    const std::pair<const char*, Scenario> scenarios[] = {
        {"move over TLS", &FetchScenario::appliesOverTlsThenMovesWhatItHandled},
        {"mark seen over STARTTLS", &FetchScenario::marksAsSeenOverStartTlsWithoutADoneFolder},
        {"dry run", &FetchScenario::dryRunChangesNeitherSessionNorMailbox},
        {"cut connection", &FetchScenario::aConnectionCutWhileReadingChangesNothing},
        // Last: after the refused login the server makes every sign-in
        // from 127.0.0.1 wait a while.
        {"refusals", &FetchScenario::saysWhyTheMailboxCannotBeUsedAndChangesNothing},
    };
    for (const auto& [name, scenario] : scenarios) {
        SCOPED_TRACE(name);
        FetchScenario fresh(dovecot);
        (fresh.*scenario)();
    }
}

} // namespace
} // namespace velmora::delivery
