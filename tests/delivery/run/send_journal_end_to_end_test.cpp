// The delivery journal of real `mailtray send` runs against aiosmtpd on
// 127.0.0.1: what `runs list`/`runs show` report, retry, resume, and a run
// killed with SIGKILL at random moments that still reaches everyone once.
#include "../python_helpers.h"
#include "cli/cli_context.h"
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "delivery/run/run_journal.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace velmora::delivery {

using delivery_testing::serverEnvelopes;
using delivery_testing::SmtpTestServer;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::waitUntil;

namespace {

constexpr int kExitNotAllDelivered = 3;

long long wallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Campaign {
    TempDir dir;
    std::string sessionPath = dir.file("list.qmz");
    std::string draftPath = dir.file("offer.eml");
    std::string out, err;
    std::vector<std::string> addresses;

    Campaign(int port, const std::vector<std::string>& emails,
             const std::map<std::string, std::string>& extensions = {})
        : addresses(emails) {
        store::Session session;
        store::SessionSettings settings;
        settings.smtpServer = "127.0.0.1";
        settings.smtpPort = port;
        settings.timeoutSeconds = 10;
        settings.password = "never-in-the-journal";
        for (const auto& [key, value] : extensions) {
            settings.extensions.set(key, value);
        }
        session.setSettings(settings);
        for (const std::string& email : emails) {
            store::NewContact fields;
            fields.email = email;
            session.addMailtrayEntry(session.contact(session.createContact(fields, "01/01/2026")));
        }
        std::string error;
        EXPECT_TRUE(writeSessionFile(session, sessionPath, error)) << error;
        writeDraft("Hello");
    }
    void writeDraft(const std::string& body) {
        MessageDraft draft;
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "Winter offer";
        draft.body = body;
        std::string error;
        EXPECT_TRUE(writeDraftFile(draft, draftPath, error)) << error;
    }
    int mailtray(std::vector<std::string> args) {
        const testing_support::CliRun run =
            testing_support::runCliWithClock(args, testing_support::RunDayClock());
        out = run.out;
        err = run.err;
        return run.exitCode;
    }
    int send(std::vector<std::string> extra) {
        std::vector<std::string> args{"send", sessionPath, draftPath};
        args.insert(args.end(), extra.begin(), extra.end());
        return mailtray(args);
    }
    nlohmann::json json(std::vector<std::string> args) {
        EXPECT_EQ(mailtray(std::move(args)), cli::kExitOk) << err;
        return nlohmann::json::parse(out);
    }
    std::vector<int> timesContacted() const {
        return testing_support::timesContactedIn(sessionPath);
    }
};

// address -> the times (ms) the server took a message for it
std::map<std::string, std::vector<long long>> serverDeliveries(const std::string& store) {
    std::map<std::string, std::vector<long long>> deliveries;
    for (auto& envelope : serverEnvelopes(store)) {
        for (const auto& rcpt : envelope["rcptTos"]) {
            deliveries[rcpt.get<std::string>()].push_back(
                static_cast<long long>(envelope["at"].get<double>() * 1000.0));
        }
    }
    return deliveries;
}

TEST(SendJournalEndToEnd, RunsListAndShowSayWhoGotWhatAndRetrySendsAgain) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--refuse-rcpt", "refused@example.net"});
    ASSERT_TRUE(server.running());
    Campaign c(server.port(), {"a@example.net", "refused@example.net"});
    ASSERT_EQ(c.send({"--recipients", "mailtray"}), kExitNotAllDelivered) << c.err;

    const nlohmann::json runs = c.json({"runs", "list", c.sessionPath});
    ASSERT_EQ(runs.size(), 1u);
    const std::string id = runs[0]["id"];
    EXPECT_EQ(runs[0]["finished"], true);
    EXPECT_EQ(runs[0]["subject"], "Winter offer");
    EXPECT_EQ(runs[0]["counts"], (nlohmann::json{{"delivered", 1},
                                                 {"deferred", 0},
                                                 {"rejected", 1},
                                                 {"failed", 0},
                                                 {"notAttempted", 0}}));

    const nlohmann::json run = c.json({"runs", "show", c.sessionPath, id});
    ASSERT_EQ(run["recipients"].size(), 2u);
    EXPECT_EQ(run["draft"], c.draftPath);
    const nlohmann::json& refused = run["recipients"][1];
    EXPECT_EQ(refused["address"], "refused@example.net");
    EXPECT_EQ(refused["slot"], 2);
    EXPECT_EQ(refused["outcome"], "rejected");
    ASSERT_EQ(refused["attempts"].size(), 1u);
    EXPECT_EQ(refused["attempts"][0]["code"], "550");
    EXPECT_EQ(refused["attempts"][0]["text"], "5.1.1 No such user here");
    EXPECT_EQ(run["recipients"][0]["attempts"][0]["stamp"], "12/07/2026");
    // The journal is for people to read, and never holds the password.
    const std::string journal = readFileBytes(run["journal"]);
    EXPECT_EQ(journal.find("never-in-the-journal"), std::string::npos);
    EXPECT_EQ(c.mailtray({"runs", "show", c.sessionPath, "nope"}), cli::kExitFailed);

    // Retry: by default deferred and failed (none here); rejected when asked.
    EXPECT_EQ(c.send({"--retry", id}), cli::kExitOk) << c.err;
    EXPECT_EQ(serverDeliveries(store.path()).size(), 1u);
    EXPECT_EQ(c.send({"--retry", id, "--outcome", "rejected"}), kExitNotAllDelivered);
    const nlohmann::json after = c.json({"runs", "list", c.sessionPath});
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[2]["retryOf"], id);
    EXPECT_EQ(after[2]["counts"]["rejected"], 1);
    EXPECT_EQ(c.send({"--retry", id, "--outcome", "lost"}), cli::kExitUsage);
    EXPECT_EQ(c.send({"--retry", id, "--recipients", "mailtray"}), cli::kExitUsage);
}

// The first message of a run is lost with its connection (a server that
// drops at DATA), which stops the run; then the server works again.
struct StoppedRun {
    TempDir dropped;
    SmtpTestServer dropping{dropped.path(), {"--drop-at-data"}};
    TempDir store;
    SmtpTestServer server{store.path()};
    std::string id;

    // `c` was made with dropping.port().
    void run(Campaign& c) {
        ASSERT_TRUE(dropping.running());
        ASSERT_TRUE(server.running());
        ASSERT_EQ(c.send({"--recipients", "mailtray"}), cli::kExitFailed) << c.out;
        id = c.json({"runs", "list", c.sessionPath})[0]["id"];
        ASSERT_EQ(c.mailtray({"settings", "set", c.sessionPath,
                              "smtpPort=" + std::to_string(server.port())}),
                  cli::kExitOk)
            << c.err;
    }
};

void expectEachOnce(const std::string& store, std::size_t recipients) {
    const auto deliveries = serverDeliveries(store);
    EXPECT_EQ(deliveries.size(), recipients);
    for (const auto& [address, times] : deliveries) {
        EXPECT_EQ(times.size(), 1u) << address;
    }
}

TEST(SendJournalEndToEnd, ResumeRefusesAChangedDraftUnlessForced) {
    StoppedRun stopped;
    Campaign c(stopped.dropping.port(), {"a@example.net", "b@example.net", "c@example.net"});
    EXPECT_EQ(c.send({"--resume"}), cli::kExitFailed);
    EXPECT_EQ(c.err, "The session has no interrupted run to resume.\n");
    stopped.run(c);
    EXPECT_EQ(c.json({"runs", "list", c.sessionPath})[0]["finished"], false);

    c.writeDraft("Hello, changed");
    EXPECT_EQ(c.send({"--resume"}), cli::kExitFailed);
    EXPECT_NE(c.err.find("The draft changed since the interrupted run started"), std::string::npos)
        << c.err;
    EXPECT_EQ(c.send({"--resume", "--force"}), cli::kExitOk) << c.out << c.err;
    expectEachOnce(stopped.store.path(), 3);
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(c.json({"runs", "list", c.sessionPath})[0]["finished"], true);
}

TEST(SendJournalEndToEnd, ARunKilledAfterItsLastOutcomeIsResumedToSaveItsStamps) {
    TempDir store;
    SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    Campaign c(server.port(), {"a@example.net", "b@example.net"});
    const std::string before = readFileBytes(c.sessionPath);
    ASSERT_EQ(c.send({"--recipients", "mailtray"}), cli::kExitOk) << c.out << c.err;
    // As if killed after the last outcome reached the journal: no end line,
    // and the session as it was before the run.
    const std::string id = c.json({"runs", "list", c.sessionPath})[0]["id"];
    const std::string journal = c.json({"runs", "show", c.sessionPath, id})["journal"];
    std::string lines = readFileBytes(journal);
    const std::size_t endLine = lines.rfind("{\"type\":\"end\"");
    ASSERT_NE(endLine, std::string::npos) << lines;
    lines.resize(endLine);
    testing_support::writeFileBytes(journal, lines);
    testing_support::writeFileBytes(c.sessionPath, before);

    EXPECT_EQ(c.send({"--resume"}), cli::kExitOk) << c.out << c.err;
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{1, 1}));
    expectEachOnce(store.path(), 2);
    EXPECT_EQ(c.send({"--resume"}), cli::kExitFailed);
}

TEST(SendJournalEndToEnd, RetriesAndResumesOfOneRunNeverSendTwice) {
    StoppedRun stopped;
    Campaign c(stopped.dropping.port(), {"a@example.net", "b@example.net", "c@example.net"});
    stopped.run(c); // a failed, b and c not attempted
    // The failed one again, then again: the second time a was delivered already.
    EXPECT_EQ(c.send({"--retry", stopped.id}), cli::kExitOk) << c.out << c.err;
    EXPECT_EQ(c.send({"--retry", stopped.id}), cli::kExitOk) << c.out << c.err;
    // The run itself is still open for b and c; not for a.
    EXPECT_EQ(c.send({"--resume"}), cli::kExitOk) << c.out << c.err;
    expectEachOnce(stopped.store.path(), 3);
    EXPECT_EQ(c.timesContacted(), (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(c.send({"--resume"}), cli::kExitFailed);
}

TEST(SendJournalEndToEnd, ACancelledRunIsNotResumedAndARetryOfTheRestClosesIt) {
    TempDir store;
    SmtpTestServer server(store.path(), {"--delay-data-reply", "0.3"});
    ASSERT_TRUE(server.running());
    Campaign c(server.port(), {"a@example.net", "b@example.net", "c@example.net"});
    // Ctrl+C once the journal has the first message in.
    std::thread user([&c] {
        waitUntil(std::chrono::seconds(10), [&c] {
            for (const RunRecord& run : readRunJournals(journalFolder(c.sessionPath))) {
                if (run.counts().delivered > 0) {
                    return true;
                }
            }
            return false;
        });
        ::kill(::getpid(), SIGINT);
    });
    EXPECT_EQ(c.send({"--recipients", "mailtray"}), cli::kExitFailed);
    user.join();
    const nlohmann::json cancelled = c.json({"runs", "list", c.sessionPath})[0];
    EXPECT_EQ(cancelled["cancelled"], true);
    const std::string id = cancelled["id"];

    EXPECT_EQ(c.send({"--resume"}), cli::kExitFailed);
    EXPECT_EQ(c.err, "The session has no interrupted run to resume. Run " + id +
                         " was cancelled: --retry " + id +
                         " --outcome notAttempted --outcome deferred --outcome failed sends to "
                         "those it did not reach.\n");
    EXPECT_EQ(c.send({"--retry", id, "--outcome", "notAttempted"}), cli::kExitOk) << c.out << c.err;
    expectEachOnce(store.path(), 3);
    const nlohmann::json runs = c.json({"runs", "list", c.sessionPath});
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0]["closedBy"], runs[1]["id"]);
    EXPECT_EQ(c.send({"--resume"}), cli::kExitFailed);
    EXPECT_EQ(c.err, "The session has no interrupted run to resume.\n");
}

// Starts the real tool, as a user's shell would.
pid_t startMailtray(const std::vector<std::string>& args, const std::string& logPath) {
    std::vector<std::string> words{VELMORA_MAILTRAY_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

// Runs over `connections` connections at once, killed with SIGKILL at random
// moments and resumed: each connection may lose one outcome per kill.
void killAndResume(int connections) {
    TempDir store;
    // Each message takes a little while, so that kills land mid-run.
    SmtpTestServer server(store.path(), {"--delay-data-reply", "0.02"});
    ASSERT_TRUE(server.running());
    std::vector<std::string> emails;
    for (int i = 1; i <= 40; ++i) {
        emails.push_back("r" + std::to_string(i) + "@example.net");
    }
    Campaign c(server.port(), emails, {{"connections", std::to_string(connections)}});
    const std::string folder = journalFolder(c.sessionPath);
    const std::string log = c.dir.file("mailtray.log");
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> killAfterMs(0, 800);

    // Recipients the server took a message for while no journal recorded it:
    // the only ones a resume may send to twice.
    std::map<std::string, int> lostOutcomes;
    const auto journaledDeliveries = [&folder] {
        std::map<std::string, int> delivered;
        for (const RunRecord& run : readRunJournals(folder)) {
            for (const JournalRecipient& r : run.recipients) {
                for (const JournalAttempt& a : r.attempts) {
                    delivered[r.address] += a.outcome == DeliveryOutcome::Delivered ? 1 : 0;
                }
            }
        }
        return delivered;
    };
    int kills = 0;
    int firstKillDelivered = 0;
    for (int round = 0; round < 4; ++round) {
        const bool resume = newestUnfinishedRun(folder).has_value();
        if (!resume && serverDeliveries(store.path()).size() == emails.size()) {
            break;
        }
        const pid_t pid = startMailtray(
            resume ? std::vector<std::string>{"send", c.sessionPath, c.draftPath, "--resume"}
                   : std::vector<std::string>{"send", c.sessionPath, c.draftPath, "--recipients",
                                              "mailtray"},
            log);
        ASSERT_GT(pid, 0);
        if (round == 0) {
            // The first kill lands mid-run for sure: after the first message.
            waitUntil(
                std::chrono::seconds(5),
                [&store] { return std::filesystem::exists(store.file("001.json")); },
                std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
        const long long killedAt = wallMs();
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ++kills;
        if (round == 0) {
            firstKillDelivered = static_cast<int>(serverDeliveries(store.path()).size());
        }

        // A message whose data went out before the kill may still be taken
        // by the server afterwards: wait until it has settled.
        for (std::size_t files = 0, settled = 0; settled < 6;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const auto count = static_cast<std::size_t>(
                std::distance(std::filesystem::directory_iterator(store.path()), {}));
            settled = count == files ? settled + 1 : 0;
            files = count;
        }
        // Every message the server took is in a journal, except at most the
        // one per connection whose outcome was still on its way at the kill.
        const std::map<std::string, int> journaled = journaledDeliveries();
        int lostThisTime = 0;
        for (const auto& [address, times] : serverDeliveries(store.path())) {
            const int known = (journaled.contains(address) ? journaled.at(address) : 0) +
                              (lostOutcomes.contains(address) ? lostOutcomes.at(address) : 0);
            const int taken = static_cast<int>(times.size());
            if (taken > known) {
                lostOutcomes[address] += taken - known;
                lostThisTime += taken - known;
                // It was taken in the last moments before the kill.
                EXPECT_GE(*std::max_element(times.begin(), times.end()), killedAt - 1000)
                    << address;
            }
        }
        EXPECT_LE(lostThisTime, connections) << "round " << round;
    }
    // The last resume runs to its end.
    if (newestUnfinishedRun(folder)) {
        EXPECT_EQ(c.send({"--resume"}), cli::kExitOk) << c.out << c.err;
    } else if (serverDeliveries(store.path()).size() < emails.size()) {
        EXPECT_EQ(c.send({"--recipients", "mailtray"}), cli::kExitOk) << c.out << c.err;
    }

    const auto deliveries = serverDeliveries(store.path());
    int duplicates = 0;
    for (const std::string& email : emails) {
        ASSERT_TRUE(deliveries.contains(email)) << email << " was lost; log:\n"
                                                << readFileBytes(log);
        const int extra = static_cast<int>(deliveries.at(email).size()) - 1;
        EXPECT_LE(extra, lostOutcomes.contains(email) ? lostOutcomes.at(email) : 0) << email;
        duplicates += extra;
    }
    EXPECT_LE(duplicates, kills * connections);
    ::testing::Test::RecordProperty("kills", kills);
    ::testing::Test::RecordProperty("sentTwice", duplicates);
    ::testing::Test::RecordProperty("deliveredBeforeFirstKill", firstKillDelivered);
    // Each contact stamped exactly once, whichever run delivered to it.
    EXPECT_EQ(c.timesContacted(), std::vector<int>(emails.size(), 1));
}

TEST(SendJournalEndToEnd, RunsKilledAtRandomMomentsReachEveryoneOnceWithinTheBound) {
    killAndResume(1);
}

TEST(SendJournalEndToEnd, RunsOverFourConnectionsKilledAndResumedLoseNobody) {
    killAndResume(4);
}

TEST(SendJournalEndToEnd, ConnectionsAtOnceShareOneLimiter) {
    TempDir store;
    SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    std::vector<std::string> emails;
    for (int i = 1; i <= 12; ++i) {
        emails.push_back("r" + std::to_string(i) + "@example.net");
    }
    // 300 a minute: one each 200 ms, however many connections send.
    Campaign c(server.port(), emails,
               {{"connections", "4"}, {"messagesPerConnection", "5"}, {"ratePerMinute", "300"}});
    ASSERT_EQ(c.send({"--recipients", "mailtray"}), cli::kExitOk) << c.out << c.err;
    std::vector<long long> times;
    for (const auto& [address, at] : serverDeliveries(store.path())) {
        ASSERT_EQ(at.size(), 1u) << address;
        times.push_back(at.front());
    }
    ASSERT_EQ(times.size(), emails.size());
    std::sort(times.begin(), times.end());
    // No second holds more than its 5, give or take the two a stalled
    // server may let through together; four connections unpaced would
    // deliver all 12 within one.
    for (std::size_t i = 0; i + 7 < times.size(); ++i) {
        EXPECT_GE(times[i + 7] - times[i], 1000) << "deliveries " << i << " to " << i + 7;
    }
    const nlohmann::json runs = c.json({"runs", "list", c.sessionPath});
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["counts"]["delivered"], 12);
}

} // namespace

TEST(SendJournalEndToEnd, ConnectionsCarrySeveralMessagesPipelinedOrNotAndSurviveAClosingServer) {
    struct Case {
        const char* name;
        std::vector<std::string> serverArgs;
        const char* perConnection;
        std::size_t connections;
        bool pipelined;
        const char* atOnce = "1"; // the connections setting
    };
    const Case cases[] = {
        {"one per connection", {}, "1", 7, false},
        {"three per connection", {}, "3", 3, false},
        // Ends every connection at the MAIL FROM after its second message.
        {"server closing after two", {"--close-after", "2"}, "3", 4, false},
        {"pipelining server, one per connection", {"--pipelining"}, "1", 7, true},
        {"pipelining server, three per connection", {"--pipelining"}, "3", 3, true},
        // Each connection carries its share; only the last of each has no next envelope.
        {"three connections at once", {"--pipelining"}, "3", 3, true, "3"},
    };
    std::vector<std::string> emails;
    for (int i = 1; i <= 7; ++i) {
        emails.push_back("r" + std::to_string(i) + "@example.net");
    }
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        TempDir store;
        SmtpTestServer server(store.path(), t.serverArgs);
        ASSERT_TRUE(server.running());
        Campaign c(server.port(), emails,
                   {{"messagesPerConnection", t.perConnection}, {"connections", t.atOnce}});
        ASSERT_EQ(c.send({"--recipients", "mailtray"}), cli::kExitOk) << c.out << c.err;

        std::map<int, int> perConnection; // connection -> messages it carried
        std::map<std::string, int> received;
        std::size_t sentAhead = 0; // messages whose end of data carried the next envelope
        for (auto& envelope : serverEnvelopes(store.path())) {
            ++perConnection[envelope["connection"].get<int>()];
            EXPECT_EQ(envelope["pipelined"].get<bool>(), t.pipelined);
            sentAhead += envelope["nextEnvelopeWaiting"].get<bool>() ? 1 : 0;
            for (const auto& rcpt : envelope["rcptTos"]) {
                ++received[rcpt.get<std::string>()];
            }
        }
        if (std::string_view(t.atOnce) == "1") {
            EXPECT_EQ(perConnection.size(), t.connections);
        } else {
            // Which connection is free first is the machine's timing: one may
            // end after its share and a new one carry the rest.
            EXPECT_GE(perConnection.size(), t.connections);
        }
        // With pipelining, each message but a connection's last brings the next envelope.
        EXPECT_EQ(sentAhead, t.pipelined ? emails.size() - perConnection.size() : 0);
        for (const auto& [connection, messages] : perConnection) {
            EXPECT_LE(messages, std::stoi(t.perConnection)) << connection;
        }
        ASSERT_EQ(received.size(), emails.size());
        for (const auto& [address, times] : received) {
            EXPECT_EQ(times, 1) << address;
        }
        EXPECT_EQ(c.timesContacted(), std::vector<int>(emails.size(), 1));
        const nlohmann::json runs = c.json({"runs", "list", c.sessionPath});
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0]["counts"]["delivered"], 7);
    }
}
} // namespace velmora::delivery
