// Runs over a pool of relays: real `mailtray send` runs against aiosmtpd
// servers on 127.0.0.1, one per relay, started once for the suite.
#include "../python_helpers.h"
#include "cli/cli_context.h"
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <map>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::delivery {

using delivery_testing::serverEnvelopes;
using delivery_testing::SmtpTestServer;
using testing_support::TempDir;

namespace {

// A loopback port nobody listens on: bound, then closed at once.
int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// The relays of the suite, each storing what it took in a folder of its own.
struct Relays {
    TempDir openStore, secondStore, loginStore, busyStore, slowStore, sleepyStore;
    SmtpTestServer open{openStore.path(), {"--pipelining"}};
    SmtpTestServer second{secondStore.path(), {"--pipelining"}};
    SmtpTestServer login{loginStore.path(), {"--user", "bob", "--password", "right"}};
    SmtpTestServer busy{busyStore.path(), {"--answer-421"}};
    SmtpTestServer slow{slowStore.path(), {"--delay-data-reply", "3"}};
    SmtpTestServer sleepy{sleepyStore.path(), {"--delay-data-reply", "0.8"}};
    int down = closedPort();
};

// How many messages to `addresses` the relay whose store this is took (each
// address once at most, unless `repeats`).
int tookOf(const TempDir& store, const std::vector<std::string>& addresses, bool repeats = false) {
    std::map<std::string, int> times;
    for (const nlohmann::json& envelope : serverEnvelopes(store.path())) {
        for (const auto& rcpt : envelope["rcptTos"]) {
            ++times[rcpt.get<std::string>()];
        }
    }
    int took = 0;
    for (const std::string& address : addresses) {
        EXPECT_TRUE(repeats || times[address] <= 1) << address;
        took += times[address];
    }
    return took;
}

struct Campaign {
    TempDir dir;
    std::string sessionPath = dir.file("list.qmz");
    std::string draftPath = dir.file("offer.eml");
    std::string out, err;
    std::vector<std::string> addresses;

    // Relay 1 at `port`; `settings` as `settings set` takes them.
    Campaign(const std::string& tag, int count, int port,
             const std::vector<std::string>& settings) {
        store::Session session;
        store::SessionSettings s;
        s.smtpServer = "127.0.0.1";
        s.smtpPort = port;
        s.timeoutSeconds = 10;
        s.extensions.set("smtpSecurity", "none");
        session.setSettings(s);
        for (int i = 0; i < count; ++i) {
            addresses.push_back(tag + std::to_string(i) + "@example.net");
            store::NewContact fields;
            fields.email = addresses.back();
            session.addMailtrayEntry(session.contact(session.createContact(fields, "01/01/2026")));
        }
        std::string error;
        EXPECT_TRUE(writeSessionFile(session, sessionPath, error)) << error;
        MessageDraft draft;
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "Winter offer";
        draft.body = "Hello";
        EXPECT_TRUE(writeDraftFile(draft, draftPath, error)) << error;
        if (!settings.empty()) {
            std::vector<std::string> args{"settings", "set", sessionPath};
            args.insert(args.end(), settings.begin(), settings.end());
            EXPECT_EQ(mailtray(args), cli::kExitOk) << err;
        }
    }
    int mailtray(const std::vector<std::string>& args) {
        const testing_support::CliRun run =
            testing_support::runCliWithClock(args, testing_support::RunDayClock());
        out = run.out;
        err = run.err;
        return run.exitCode;
    }
    int send(std::vector<std::string> extra = {"--recipients", "mailtray"}) {
        std::vector<std::string> args{"send", sessionPath, draftPath};
        args.insert(args.end(), extra.begin(), extra.end());
        return mailtray(args);
    }
    // The newest run as `runs show` prints it.
    nlohmann::json lastRun() {
        EXPECT_EQ(mailtray({"runs", "list", sessionPath}), cli::kExitOk) << err;
        const std::string id = nlohmann::json::parse(out).back()["id"];
        EXPECT_EQ(mailtray({"runs", "show", sessionPath, id}), cli::kExitOk) << err;
        return nlohmann::json::parse(out);
    }
};

std::string relayAt(int port) {
    return "127.0.0.1:" + std::to_string(port);
}

std::vector<std::string> relaySettings(int number, int port,
                                       const std::vector<std::string>& more = {}) {
    const std::string prefix = "relay." + std::to_string(number) + ".";
    std::vector<std::string> settings{prefix + "server=127.0.0.1",
                                      prefix + "port=" + std::to_string(port),
                                      prefix + "security=none"};
    for (const std::string& setting : more) {
        settings.push_back(prefix + setting);
    }
    return settings;
}

std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

} // namespace

class PoolEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { relays_ = new Relays; }
    static void TearDownTestSuite() {
        delete relays_;
        relays_ = nullptr;
    }
    static Relays* relays_;
};

Relays* PoolEndToEnd::relays_ = nullptr;

// Weights 3 and 1 over twelve recipients: nine and three, each outcome in the
// journal naming its relay.
TEST_F(PoolEndToEnd, RecipientsAreSpreadByWeightAndEachOutcomeNamesItsRelay) {
    Relays& r = *relays_;
    ASSERT_TRUE(r.open.running() && r.second.running());
    Campaign c("spread", 12, r.open.port(),
               joined({{"relay.1.weight=3", "connections=2"},
                       relaySettings(2, r.second.port(), {"connections=2"})}));
    ASSERT_EQ(c.send(), cli::kExitOk) << c.out << c.err;
    EXPECT_EQ(tookOf(r.openStore, c.addresses), 9);
    EXPECT_EQ(tookOf(r.secondStore, c.addresses), 3);

    const nlohmann::json run = c.lastRun();
    std::map<std::string, int> byRelay;
    for (const nlohmann::json& recipient : run["recipients"]) {
        EXPECT_EQ(recipient["outcome"], "delivered");
        ++byRelay[recipient["attempts"].back().value("relay", "")];
    }
    EXPECT_EQ(byRelay, (std::map<std::string, int>{{relayAt(r.open.port()), 9},
                                                   {relayAt(r.second.port()), 3}}));
}

// Equal weights, but relay 1 answers each message after 0.8 s: it does not
// set the pace. By weight it would take ten, one after the other; while it
// answers its first, relay 2 delivers nearly all the rest.
TEST_F(PoolEndToEnd, ASlowRelayDoesNotSetThePace) {
    Relays& r = *relays_;
    ASSERT_TRUE(r.sleepy.running());
    Campaign c("pace", 20, r.sleepy.port(), relaySettings(2, r.second.port()));
    ASSERT_EQ(c.send(), cli::kExitOk) << c.out << c.err;
    const int slow = tookOf(r.sleepyStore, c.addresses);
    EXPECT_EQ(slow + tookOf(r.secondStore, c.addresses), 20);
    EXPECT_GE(slow, 1);
    EXPECT_LE(slow, 3);
    EXPECT_EQ(c.lastRun()["counts"]["delivered"], 20);
}

// Relays that are down, refuse the login or answer 421 are set aside; the
// one that works takes every recipient, and each reaches it once.
TEST_F(PoolEndToEnd, FailingRelaysAreSetAsideAndTheOthersDeliverEverything) {
    Relays& r = *relays_;
    ASSERT_TRUE(r.login.running() && r.busy.running());
    Campaign c("failover", 8, r.down,
               joined({relaySettings(2, r.login.port(), {"login=bob", "password=wrong"}),
                       relaySettings(3, r.busy.port()), relaySettings(4, r.second.port())}));
    ASSERT_EQ(c.send(), cli::kExitOk) << c.out << c.err;
    EXPECT_EQ(tookOf(r.secondStore, c.addresses), 8);
    EXPECT_NE(c.out.find("relay 1 (127.0.0.1) is set aside for 60 s"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("relay 2 (127.0.0.1) is set aside"), std::string::npos) << c.out;
    EXPECT_NE(c.out.find("relay 3 (127.0.0.1) asks to slow down (421"), std::string::npos) << c.out;
    const nlohmann::json run = c.lastRun();
    EXPECT_EQ(run["counts"]["delivered"], 8);
    EXPECT_EQ(run["finished"], true);
}

// A relay that went silent after the message's data may have taken it: that
// recipient fails rather than going to another relay (and perhaps arriving
// twice); the relay is set aside and the others take the rest.
TEST_F(PoolEndToEnd, AMessageARelayMayHaveTakenIsNotSentAgainElsewhere) {
    Relays& r = *relays_;
    ASSERT_TRUE(r.slow.running());
    Campaign c("silent", 4, r.slow.port(),
               joined({{"timeoutSeconds=1"}, relaySettings(2, r.second.port())}));
    EXPECT_NE(c.send(), cli::kExitOk);
    EXPECT_EQ(tookOf(r.secondStore, c.addresses), 3);
    const nlohmann::json run = c.lastRun();
    EXPECT_EQ(run["counts"]["delivered"], 3);
    EXPECT_EQ(run["counts"]["failed"], 1);
    EXPECT_EQ(run["recipients"][0]["outcome"], "failed");
    EXPECT_EQ(run["recipients"][0]["final"], true);
}

// With no relay left the run stops as a single server's does, the rest not
// attempted; resumed over a relay that works, it reaches everyone once.
TEST_F(PoolEndToEnd, WithNoRelayLeftTheRunStopsAndAResumeFinishesIt) {
    Relays& r = *relays_;
    Campaign c("stopped", 5, r.down,
               relaySettings(2, r.login.port(), {"login=bob", "password=wrong"}));
    EXPECT_NE(c.send(), cli::kExitOk);
    EXPECT_NE(c.out.find("No relay is left to send through"), std::string::npos) << c.out;
    // Those tried failed at a relay; nobody got it.
    const nlohmann::json counts = c.lastRun()["counts"];
    EXPECT_EQ(counts["delivered"], 0);
    EXPECT_EQ(counts["failed"].get<int>() + counts["notAttempted"].get<int>(), 5);

    ASSERT_EQ(c.mailtray({"settings", "set", c.sessionPath, "relay.2.password=right"}),
              cli::kExitOk)
        << c.err;
    ASSERT_EQ(c.send({"--resume"}), cli::kExitOk) << c.out << c.err;
    EXPECT_EQ(tookOf(r.loginStore, c.addresses), 5);
    EXPECT_EQ(c.lastRun()["counts"]["delivered"], 5);
    EXPECT_EQ(testing_support::timesContactedIn(c.sessionPath), (std::vector<int>{1, 1, 1, 1, 1}));
}

// Relay 2 refuses the login, relay 1 reaches its cap of one: the run stops. The
// recipient moved off relay 2 keeps that attempt, but `runs show` counts it
// not attempted, as the summary does.
TEST_F(PoolEndToEnd, AfterAStopTheJournalCountsAsTheSummary) {
    Relays& r = *relays_;
    Campaign c("tally", 5, r.open.port(),
               joined({{"relay.1.dailyCap=1"},
                       relaySettings(2, r.login.port(), {"login=bob", "password=wrong"})}));
    EXPECT_NE(c.send(), cli::kExitOk);
    EXPECT_NE(c.out.find("Delivered 1, rejected 0, failed 0, not attempted 4.\n"),
              std::string::npos)
        << c.out;
    const nlohmann::json run = c.lastRun();
    EXPECT_EQ(run["counts"], nlohmann::json::parse(R"({"delivered": 1, "deferred": 0,
                  "rejected": 0, "failed": 0, "notAttempted": 4})"));
    int moved = 0;
    for (const nlohmann::json& recipient : run["recipients"]) {
        for (const nlohmann::json& attempt : recipient["attempts"]) {
            if (attempt.value("relay", "") == "bob@" + relayAt(r.login.port())) {
                ++moved;
                EXPECT_EQ(attempt["outcome"], "failed");
                EXPECT_EQ(recipient["outcome"], "not attempted");
            }
        }
    }
    EXPECT_EQ(moved, 1);
}

// Two runs on one day stay under a relay's daily cap together.
TEST_F(PoolEndToEnd, ADailyCapHoldsAcrossTwoRuns) {
    Relays& r = *relays_;
    Campaign c("capped", 4, r.open.port(),
               joined({{"relay.1.dailyCap=3"}, relaySettings(2, r.second.port())}));
    ASSERT_EQ(c.send(), cli::kExitOk) << c.out << c.err;
    EXPECT_EQ(tookOf(r.openStore, c.addresses), 2);
    ASSERT_EQ(c.send(), cli::kExitOk) << c.out << c.err; // the same four again
    EXPECT_EQ(tookOf(r.openStore, c.addresses, true), 3);
    EXPECT_EQ(tookOf(r.secondStore, c.addresses, true), 5);
    ASSERT_EQ(c.send(), cli::kExitOk) << c.out << c.err;
    EXPECT_NE(c.out.find("The daily cap of relay 1 (127.0.0.1) (3) is reached"), std::string::npos)
        << c.out;
    EXPECT_EQ(tookOf(r.openStore, c.addresses, true), 3);
}

// "test-connection --relay N" tries that relay with its own login.
TEST_F(PoolEndToEnd, TestConnectionTriesTheRelayItIsGiven) {
    Relays& r = *relays_;
    Campaign c("probe", 0, r.down,
               relaySettings(2, r.login.port(), {"login=bob", "password=right"}));
    EXPECT_EQ(c.mailtray({"test-connection", c.sessionPath, "--relay", "2"}), cli::kExitOk)
        << c.out << c.err;
    EXPECT_NE(c.out.find("Server: 127.0.0.1 (port " + std::to_string(r.login.port()) + ")"),
              std::string::npos)
        << c.out;
    EXPECT_NE(c.mailtray({"test-connection", c.sessionPath}), cli::kExitOk); // relay 1 is down
    EXPECT_NE(c.mailtray({"test-connection", c.sessionPath, "--relay", "3"}), cli::kExitOk);
    EXPECT_EQ(c.err, "The session has no relay 3: set relay.3.server first.\n");

    // settings show lists the relay; its password only on request.
    ASSERT_EQ(c.mailtray({"settings", "show", c.sessionPath}), cli::kExitOk) << c.err;
    nlohmann::json shown = nlohmann::json::parse(c.out);
    EXPECT_EQ(shown["relay.2.login"], "bob");
    EXPECT_EQ(shown["relay.2.password"], "********");
    ASSERT_EQ(c.mailtray({"settings", "show", c.sessionPath, "--with-password"}), cli::kExitOk);
    EXPECT_EQ(nlohmann::json::parse(c.out)["relay.2.password"], "right");
}

} // namespace velmora::delivery
