// Per-recipient return addresses: what a token names, and a list run whose
// bounces find their contact by the address they came back to.
#include "../python_helpers.h"
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "delivery/return_path.h"
#include "store/session_file.h"
#include "store/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>

namespace velmora::delivery {
namespace {

using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::TempDir;
using testing_support::writeFileBytes;

std::string upper(std::string text) {
    for (char& c : text) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return text;
}

TEST(ReturnPath, ATokenNamesItsRecipientInItsRunAndCannotBeMadeWithoutTheKey) {
    const ReturnPath path{"bounces@example.org", std::string(64, 'a'), "run-1"};
    const std::string sent = envelopeSender(path, "ann@example.org", "Bea@Example.net");
    const std::string token = returnTokenIn(sent);
    ASSERT_EQ(token.size(), kReturnTokenLength) << sent;
    EXPECT_EQ(sent, "bounces+" + token + "@example.org");
    std::string changed = sent;
    changed[8] = changed[8] == 'a' ? 'b' : 'a';
    struct Case {
        const char* name;
        std::string returnedTo;
        bool names; // the token is the one the run's journal holds for bea
    };
    const Case cases[] = {
        {"as sent", sent, true},
        {"lower-cased by a relay", store::toLowerAscii(sent), true},
        {"upper-cased by a relay", upper(sent), true},
        {"the address as typed elsewhere",
         envelopeSender(path, "ann@example.org", " bea@example.NET"), true},
        {"another recipient's", envelopeSender(path, "ann@example.org", "cy@example.net"), false},
        {"another run's",
         envelopeSender({path.bounceAddress, path.key, "run-2"}, "", "bea@example.net"), false},
        {"made with another key",
         envelopeSender({path.bounceAddress, std::string(64, 'b'), "run-1"}, "", "bea@example.net"),
         false},
        {"one character changed", changed, false},
        {"no token", "bounces@example.org", false},
        {"too short", "bounces+abc@example.org", false},
    };
    const std::string journalToken = returnToken(path.key, path.runId, "bea@example.net");
    for (const Case& c : cases) {
        EXPECT_EQ(returnTokenIn(c.returnedTo) == journalToken, c.names) << c.name;
    }
    // Without an address, a key or a run, the plain sender.
    for (const ReturnPath& off :
         {ReturnPath{"", path.key, "run-1"}, ReturnPath{path.bounceAddress, "", "run-1"},
          ReturnPath{path.bounceAddress, path.key, ""}}) {
        EXPECT_EQ(envelopeSender(off, "ann@example.org", "bea@example.net"), "ann@example.org");
    }
}

// A bounce from a mail system that names nobody: only the address it came
// back to says whom it is about.
std::string bounceTo(const std::string& returnedTo) {
    return "From: Mail Delivery System <MAILER-DAEMON@relay.example.net>\r\n"
           "To: " +
           returnedTo +
           "\r\n"
           "Subject: Undelivered Mail Returned to Sender\r\n"
           "Message-ID: <" +
           returnTokenIn(returnedTo) +
           "@relay.example.net>\r\n"
           "\r\n"
           "Your message could not be delivered to one or more recipients.\r\n"
           "The mail system said: 550 5.1.1 user unknown\r\n";
}

TEST(ReturnPath, AListRunSendsFromAReturnAddressPerRecipientThatItsBouncesMatch) {
    TempDir store;
    delivery_testing::SmtpTestServer server(store.path(), {"--pipelining"});
    ASSERT_TRUE(server.running());
    TempDir dir;
    const std::string session = dir.file("list.qmz");
    const std::string draftPath = dir.file("offer.eml");
    ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
    writeFileBytes(dir.file("list.txt"), "a@example.net\nb@example.net\nc@example.net\n");
    ASSERT_EQ(runCli({"import-addresses", session, dir.file("list.txt")}).exitCode, 0);
    const auto set = runCli({"settings", "set", session, "smtpServer=127.0.0.1",
                             "smtpPort=" + std::to_string(server.port()), "messagesPerConnection=3",
                             "bounceAddress=bounces@example.org"});
    ASSERT_EQ(set.exitCode, 0) << set.err;
    MessageDraft draft;
    draft.fromText = "Ann Lee <ann@example.org>";
    draft.subject = "Winter offer";
    draft.body = "<p>Hello</p>";
    std::string error;
    ASSERT_TRUE(writeDraftFile(draft, draftPath, error)) << error;

    const testing_support::RunDayClock clock;
    auto run = testing_support::runCliWithClock(
        {"send", session, draftPath, "--recipients", "entire"}, clock);
    ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
    const std::vector<nlohmann::json> envelopes = delivery_testing::serverEnvelopes(store.path());
    ASSERT_EQ(envelopes.size(), 3U);
    std::vector<std::string> senders;
    for (const nlohmann::json& envelope : envelopes) {
        senders.push_back(envelope["mailFrom"]);
        EXPECT_TRUE(
            std::regex_match(senders.back(), std::regex("bounces\\+[a-z2-7]{10}@example\\.org")))
            << senders.back();
    }
    EXPECT_NE(senders[0], senders[1]);
    EXPECT_NE(senders[1], senders[2]);
    // Each next envelope went ahead with the previous end of data, with
    // its own sender: one connection took all three.
    EXPECT_TRUE(envelopes[0]["nextEnvelopeWaiting"].get<bool>());
    EXPECT_EQ(envelopes[2]["connection"], envelopes[0]["connection"]);
    // The header's sender stays the user's.
    EXPECT_NE(readFileBytes(store.file("002.eml")).find("From: Ann Lee <ann@example.org>"),
              std::string::npos);

    // A test send keeps the plain sender.
    run = testing_support::runCliWithClock({"send", session, draftPath, "--test", "me@example.org"},
                                           clock);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(delivery_testing::serverEnvelopes(store.path()).back()["mailFrom"],
              "ann@example.org");

    // b's bounce, with its token in capitals; a forged token for nobody.
    std::string forged = senders[1];
    forged[8] = forged[8] == 'a' ? 'b' : 'a';
    writeFileBytes(dir.file("b.eml"), bounceTo(upper(senders[1])));
    writeFileBytes(dir.file("forged.eml"), bounceTo(forged));
    run =
        runCli({"feedback", "apply", session, dir.file("b.eml"), dir.file("forged.eml"), "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["contactsChanged"], 1) << run.out;
    const store::Session saved = store::readSessionFile(session).session;
    EXPECT_EQ(saved.contact(2).status, -1);
    EXPECT_EQ(saved.contact(2).notes.view(), "Bounced 12/07/2026: 5.1.1 user unknown");
    EXPECT_NE(saved.contact(1).status, -1);
    EXPECT_NE(saved.contact(3).status, -1);
}

} // namespace
} // namespace velmora::delivery
