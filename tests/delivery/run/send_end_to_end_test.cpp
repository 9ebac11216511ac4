// `mailtray send` against a real SMTP server (aiosmtpd) on 127.0.0.1.
#include "../python_helpers.h"
#include "cli/cli_context.h"
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "delivery/run/run_journal.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace velmora::delivery {

using delivery_testing::SmtpTestServer;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::waitUntil;

namespace {

struct SendCase {
    TempDir dir;
    std::string sessionPath = dir.file("list.qmz");
    std::string draftPath = dir.file("offer.eml");
    std::string out, err;

    // A session of three queued contacts whose server is the test server.
    SendCase(int port, const std::string& user, const std::string& password, int timeoutSeconds) {
        store::Session session;
        store::SessionSettings settings;
        settings.smtpServer = "127.0.0.1";
        settings.smtpPort = port;
        settings.timeoutSeconds = timeoutSeconds;
        settings.requiresAuth = user.empty() ? 0 : 1;
        settings.userName = user;
        settings.password = password;
        // The unencrypted dialogue; the encrypted ones have tests of their own.
        settings.extensions.set("smtpSecurity", "none");
        session.setSettings(settings);
        for (const char* email : {"a@example.net", "refused@example.net", "c@example.net"}) {
            store::NewContact fields;
            fields.email = email;
            store::Contact entry = session.contact(session.createContact(fields, "01/01/2026"));
            session.addMailtrayEntry(entry);
        }
        std::string error;
        EXPECT_TRUE(writeSessionFile(session, sessionPath, error)) << error;
        MessageDraft draft;
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "Winter offer";
        draft.body = "<p>Hello</p>";
        EXPECT_TRUE(writeDraftFile(draft, draftPath, error)) << error;
    }

    int send(std::vector<std::string> extra) {
        std::vector<std::string> args = {"send", sessionPath, draftPath};
        args.insert(args.end(), extra.begin(), extra.end());
        const testing_support::CliRun run =
            testing_support::runCliWithClock(args, testing_support::RunDayClock());
        out = run.out;
        err = run.err;
        return run.exitCode;
    }
    std::vector<int> timesContacted() const {
        return testing_support::timesContactedIn(sessionPath);
    }
};

} // namespace

TEST(SendEndToEnd, MailtrayRunWithLoginGoesPastARefusedRecipientAndStampsDeliveries) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--user", "ann.lee", "--password", "s3cret",
                                         "--refuse-rcpt", "refused@example.net"});
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "ann.lee", "s3cret", 5);
    // Through the list, but not everyone got it.
    ASSERT_EQ(c.send({"--recipients", "mailtray"}), 3) << c.err;
    EXPECT_EQ(c.out, "Sending 1/3 (a@example.net)\n"
                     "a@example.net\n"
                     "Delivered.\n"
                     "Sending 2/3 (refused@example.net)\n"
                     "refused@example.net\n"
                     "Rejected: 550 5.1.1 No such user here\n"
                     "Sending 3/3 (c@example.net)\n"
                     "c@example.net\n"
                     "Delivered.\n"
                     "Delivered 2, rejected 1, failed 0.\n"
                     "Finished.\n");
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(store::readSessionFile(c.sessionPath).session.contact(1).lastContacted.str(),
              "12/07/2026");
    const auto envelope = nlohmann::json::parse(readFileBytes(store.file("002.json")));
    EXPECT_EQ(envelope["rcptTos"], nlohmann::json::array({"c@example.net"}));
    EXPECT_EQ(envelope["login"], "ann.lee");
}

TEST(SendEndToEnd, AWrongPasswordStopsTheRunAtTheFirstRecipient) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--user", "ann.lee", "--password", "s3cret"});
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "ann.lee", "wrong", 5);
    EXPECT_EQ(c.send({"--recipients", "entire"}), cli::kExitFailed);
    EXPECT_NE(c.out.find("Failed: The server refused the login: 535"), std::string::npos) << c.out;
    EXPECT_EQ(c.out.find("Sending 2/3"), std::string::npos);
    EXPECT_NE(c.out.find("Delivered 0, rejected 0, failed 1, not attempted 2.\n"),
              std::string::npos);
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{0, 0, 0}));
    EXPECT_FALSE(std::filesystem::exists(store.file("001.eml")));
}

TEST(SendEndToEnd, ASlowServerTimesOutAndStopsTheRun) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--delay-data-reply", "2.5"});
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "", "", 1);
    EXPECT_EQ(c.send({"--recipients", "mailtray"}), cli::kExitFailed);
    // The reason once.
    EXPECT_NE(c.out.find("a@example.net\nTimeout reached.\nDelivered 0, rejected 0, failed 1, "
                         "not attempted 2.\n"),
              std::string::npos)
        << c.out;
    EXPECT_EQ(c.out.find("Sending 2/3"), std::string::npos);
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{0, 0, 0}));
}

TEST(SendEndToEnd, CtrlCCancelsTheRunAndTheStampsSoFarAreSaved) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--delay-data-reply", "1"});
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "", "", 5);
    // Ctrl+C while the second message waits for the server's answer.
    std::thread user([&store] {
        const bool waiting = waitUntil(std::chrono::seconds(5), [&store] {
            struct sigaction current {};
            ::sigaction(SIGINT, nullptr, &current);
            // The second session is waiting for its (delayed) reply.
            return current.sa_handler != SIG_DFL &&
                   std::filesystem::exists(store.file("002.waiting"));
        });
        if (waiting) {
            ::kill(::getpid(), SIGINT);
        }
    });
    const int code = c.send({"--recipients", "mailtray"});
    user.join();
    EXPECT_EQ(code, cli::kExitFailed);
    EXPECT_NE(c.out.find("refused@example.net\nCancelled.\nDelivered 1, rejected 0, failed 0, "
                         "not attempted 2.\n"),
              std::string::npos)
        << c.out;
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{1, 0, 0}));
}

TEST(SendEndToEnd, PreviewGoesToTheFromAddressWithItsDialogue) {
    TempDir store;
    SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "", "", 5);
    ASSERT_EQ(c.send({"--preview", "--format", "plain"}), cli::kExitOk) << c.err;
    EXPECT_EQ(c.out.rfind("Sending Preview (ann@example.org)\n"
                          "Initializing network connection...\n"
                          "Opening SMTP connection to 127.0.0.1 (port " +
                              std::to_string(server.port()) + ")\n<220 ",
                          0),
              0u)
        << c.out;
    EXPECT_NE(c.out.find("Finished.\nDelivered 1, rejected 0, failed 0.\n"), std::string::npos);
    const auto envelope = nlohmann::json::parse(readFileBytes(store.file("001.json")));
    EXPECT_EQ(envelope["rcptTos"], nlohmann::json::array({"ann@example.org"}));
    EXPECT_NE(readFileBytes(store.file("001.eml")).find("Content-Type: text/plain"),
              std::string::npos);
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{0, 0, 0}));

    EXPECT_EQ(c.send({"--recipients", "everyone"}), cli::kExitUsage);
    EXPECT_EQ(c.send({}), cli::kExitUsage);
    EXPECT_EQ(c.send({"--recipients", "single:bell\x07@example.net"}), cli::kExitUsage);
    EXPECT_NE(c.err.find("The address \"bell\\x07@example.net\" holds a control character."),
              std::string::npos)
        << c.err;
    EXPECT_EQ(c.err.find('\x07'), std::string::npos);
}

TEST(SendEndToEnd, ControlCharactersInARefusalNeverReachTheTerminal) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--refuse-rcpt", "refused@example.net", "--refuse-text",
                                         "no \x1b]0;owned\x07 such \x1b[2J user"});
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "", "", 5);
    ASSERT_EQ(c.send({"--recipients", "mailtray"}), 3) << c.err; // one refused
    EXPECT_NE(c.out.find("Rejected: 550 no \\x1B]0;owned\\x07 such \\x1B[2J user\n"),
              std::string::npos)
        << c.out;
    EXPECT_EQ(c.out.find('\x1b'), std::string::npos);
    EXPECT_EQ(c.out.find('\x07'), std::string::npos);
}

TEST(SendEndToEnd, ATestSendCarriesAContactsFieldsAndStampsNobody) {
    TempDir store;
    SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "", "", 5);
    MessageDraft draft;
    draft.fromText = "Ann Lee <ann@example.org>";
    draft.subject = "Offer for {{email}}";
    draft.body = "<p>Written for {{email}}</p>";
    std::string error;
    ASSERT_TRUE(writeDraftFile(draft, c.draftPath, error)) << error;

    // The first queued contact's message, to another mailbox.
    ASSERT_EQ(c.send({"--test", "me@example.org"}), cli::kExitOk) << c.err << c.out;
    EXPECT_NE(c.out.find("Sending Test (me@example.org)\n"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("Delivered 1, rejected 0, failed 0.\n"), std::string::npos);
    const auto envelope = nlohmann::json::parse(readFileBytes(store.file("001.json")));
    EXPECT_EQ(envelope["rcptTos"], nlohmann::json::array({"me@example.org"}));
    const std::string first = readFileBytes(store.file("001.eml"));
    EXPECT_NE(first.find("Subject: [Test] Offer for a@example.net"), std::string::npos) << first;
    EXPECT_NE(first.find("List-Unsubscribe: "), std::string::npos);

    // Another contact's fields with --as.
    ASSERT_EQ(c.send({"--test", "me@example.org", "--as", "c@example.net"}), cli::kExitOk) << c.err;
    EXPECT_NE(readFileBytes(store.file("002.eml")).find("Subject: [Test] Offer for c@example.net"),
              std::string::npos);
    EXPECT_EQ(c.send({"--test", "me@example.org", "--as", "nobody@example.net"}), cli::kExitFailed);
    EXPECT_NE(c.err.find("No contact has the address \"nobody@example.net\"."), std::string::npos)
        << c.err;
    EXPECT_EQ(c.send({"--test", "me@example.org", "--preview"}), cli::kExitUsage);

    // Nobody stamped, and no run in the journal.
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{0, 0, 0}));
    EXPECT_FALSE(std::filesystem::exists(journalFolder(c.sessionPath)));
}

TEST(SendEndToEnd, TheCheckAsksTheRelayForItsSizeLimit) {
    TempDir store;
    // With a login the dialogue says EHLO, whose reply names the limit.
    SmtpTestServer server(store.path(), {"--user", "ann.lee", "--password", "s3cret"});
    ASSERT_TRUE(server.running());
    SendCase c(server.port(), "ann.lee", "s3cret", 5);
    const testing_support::CliRun run = testing_support::runCliWithClock(
        {"check", c.sessionPath, c.draftPath, "--ask-relay", "--no-spam-score"},
        testing_support::RunDayClock());
    EXPECT_EQ(run.exitCode, cli::kExitOk) << run.err;
    // aiosmtpd's default limit, as its EHLO reply announces it.
    EXPECT_NE(run.out.find("Note: The relay takes messages up to 33554432 bytes (its SIZE).\n"),
              std::string::npos)
        << run.out;
}

} // namespace velmora::delivery
