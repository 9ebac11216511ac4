// Runs that meet deferrals, rate limits and "slow down" replies, journal
// what happened and resume or retry, over scripted servers on a fake clock.
#include "../scripted_connection.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/run/delivery_run.h"
#include "support/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace velmora::delivery {

using namespace delivery_testing::script;

using delivery_testing::deliveryScript;
using delivery_testing::RecordingObserver;
using delivery_testing::refusedAt;
using delivery_testing::ScriptedServer;
using delivery_testing::ScriptStep;
using testing_support::TempDir;

namespace {

constexpr const char* kSender = "ann@example.org";

struct RunFixture {
    TempDir dir;
    store::FixedClock clock{store::LocalDateTime{2026, 12, 7, 9, 0, 0, 1, 0, 1'796'634'000'000LL}};
    MimeTypesFile types{"/nonexistent"};
    ScriptedServer server{clock};
    SendRunEnvironment environment{clock, types, server.factory(), "client.example"};
    RecordingObserver observer;
    store::Session session;
    MessageDraft draft;
    std::vector<long long> sessionStarts; // the clock at each connection

    RunFixture() {
        store::SessionSettings settings;
        settings.smtpServer = "mail.example.net";
        settings.smtpPort = 25;
        settings.timeoutSeconds = 10;
        settings.extensions.set("smtpSecurity", "none"); // the scripts' plain dialogue
        session.setSettings(settings);
        session.sessionFileName = dir.file("campaign.qmz");
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "Winter offer";
        draft.body = "Hello";
        draft.recipientChoice = code(RecipientChoice::Mailtray);
        environment.sleep = [this](int ms) { clock.advanceMilliseconds(ms); };
        server.onOpen = [this](int) {
            sessionStarts.push_back(clock.now().millisecondsSinceEpoch);
        };
    }
    void set(const std::string& key, const std::string& value) {
        store::SessionSettings settings = session.settings();
        settings.extensions.set(key, value);
        session.setSettings(settings);
    }
    std::int32_t queue(const std::string& email) {
        store::NewContact fields;
        fields.email = email;
        const std::int32_t slot = session.createContact(fields, "01/01/2026");
        store::Contact entry = session.contact(slot);
        entry.id = slot;
        session.addMailtrayEntry(entry);
        return slot;
    }
    SendRunSummary run() { return sendToRecipients(session, draft, {}, environment, observer); }
    RunRecord journal() {
        const std::vector<RunRecord> runs = readRunJournals(journalFolder(session.sessionFileName));
        EXPECT_FALSE(runs.empty());
        return runs.empty() ? RunRecord{} : runs.back();
    }
    long long now() const { return clock.now().millisecondsSinceEpoch; }
};

constexpr int kAfterMailFrom = 4;
constexpr int kAfterRcpt = 6;
constexpr int kAfterData = 8;
constexpr int kAfterMessage = 10;

SmtpOutcome outcomeOf(SmtpResult result, std::string code, std::string text, bool opened = true) {
    SmtpOutcome outcome;
    outcome.result = result;
    outcome.replyCode = std::move(code);
    outcome.replyText = std::move(text);
    outcome.reason = "why";
    outcome.connectionOpened = opened;
    return outcome;
}

SmtpOutcome senderRefused(std::string code, std::string text) {
    SmtpOutcome outcome = outcomeOf(SmtpResult::Failed, std::move(code), std::move(text));
    outcome.senderRefused = true;
    return outcome;
}

SmtpOutcome lost(bool reused) {
    SmtpOutcome outcome = outcomeOf(SmtpResult::Failed, "", "");
    outcome.connectionLost = true;
    outcome.reusedConnection = reused;
    return outcome;
}

// One connection carrying a message to each of `recipients` in turn (no RSET
// after a delivery), then `tail` (what the server does after the last one).
std::vector<ScriptStep> heldScript(const std::vector<std::string>& recipients,
                                   std::vector<ScriptStep> tail) {
    std::vector<ScriptStep> script = deliveryScript(kSender, recipients.front());
    script.resize(kAfterMessage + 1); // up to the message's 250
    for (std::size_t i = 1; i < recipients.size(); ++i) {
        const std::vector<ScriptStep> next = {expects(std::string("MAIL FROM: <") + kSender + ">"),
                                              says("250 OK\r\n"),
                                              expects("RCPT TO: <" + recipients[i] + ">"),
                                              says("250 OK\r\n"),
                                              expects("DATA"),
                                              says("354 go ahead\r\n"),
                                              message(),
                                              says("250 queued\r\n")};
        script.insert(script.end(), next.begin(), next.end());
    }
    script.insert(script.end(), tail.begin(), tail.end());
    return script;
}

std::vector<ScriptStep> quitTail() {
    return {expects("QUIT"), says("221 bye\r\n")};
}

TEST(DeliveryRun, OutcomesAreClassifiedByResultCodeAndText) {
    using R = SmtpResult;
    struct Case {
        SmtpOutcome outcome;
        Verdict verdict;
    };
    const Case cases[] = {
        {outcomeOf(R::Delivered, "250", "queued"), Verdict::Delivered},
        {outcomeOf(R::Rejected, "550", "no such user"), Verdict::Rejected},
        {outcomeOf(R::Rejected, "554", "rate limit"), Verdict::Rejected}, // permanent stays so
        {outcomeOf(R::Rejected, "450", "mailbox busy"), Verdict::Deferred},
        {outcomeOf(R::Rejected, "451", "greylisted, try again"), Verdict::Deferred},
        {outcomeOf(R::Rejected, "452", "too many recipients"), Verdict::Deferred},
        {outcomeOf(R::Rejected, "451", "Too many messages, slow down"), Verdict::SlowDown},
        {outcomeOf(R::Rejected, "454", "sending rate exceeded"), Verdict::SlowDown},
        {outcomeOf(R::Rejected, "451", "separate queue busy"), Verdict::Deferred},
        {outcomeOf(R::Rejected, "421", "closing"), Verdict::SlowDown},
        {outcomeOf(R::Failed, "421", "service not available"), Verdict::SlowDown},
        {outcomeOf(R::Failed, "451", "Rate-limited"), Verdict::SlowDown},
        {outcomeOf(R::Failed, "530", "authentication required"), Verdict::StopRun},
        // A rate limit on the sender, in any words, waits; a refused sender stops.
        {senderRefused("450", "4.7.1 Error: too much mail from 127.0.0.1"), Verdict::SlowDown},
        {senderRefused("550", "5.7.1 Sender not allowed"), Verdict::StopRun},
        {outcomeOf(R::Failed, "", "", true), Verdict::StopRun},
        {outcomeOf(R::Failed, "", "", false), Verdict::FailedRecipient},
        // A connection that had served earlier messages may end: the rest go on.
        {lost(true), Verdict::FailedRecipient},
        {lost(false), Verdict::StopRun},
        {outcomeOf(R::Cancelled, "", ""), Verdict::Cancelled},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(classifyOutcome(c.outcome), c.verdict)
            << c.outcome.replyCode << " " << c.outcome.replyText;
    }
}

TEST(DeliveryRun, ADeferredRecipientIsTriedAgainAfterItsBackOffWhileOthersGoOn) {
    RunFixture f;
    const auto first = f.queue("grey@example.org");
    f.queue("ok@example.org");
    f.server.add(refusedAt(kSender, "grey@example.org", kAfterRcpt, "451 4.7.1 Greylisted\r\n"));
    f.server.add(deliveryScript(kSender, "ok@example.org"));
    f.server.add(
        refusedAt(kSender, "grey@example.org", kAfterMessage, "452 4.2.2 Mailbox full\r\n"));
    f.server.add(deliveryScript(kSender, "grey@example.org"));
    const long long start = f.now();

    const SendRunSummary summary = f.run();
    EXPECT_EQ(summary.delivered, 2);
    EXPECT_EQ(summary.deferred, 0);
    EXPECT_FALSE(summary.stoppedEarly);
    ASSERT_EQ(f.sessionStarts.size(), 4u);
    // The second try waits 60 s after the first deferral, the third 120 s after the second.
    EXPECT_GE(f.sessionStarts[2] - start, 60'000);
    EXPECT_GE(f.sessionStarts[3] - f.sessionStarts[2], 120'000);
    EXPECT_EQ(f.session.contact(first).timesContacted, 1);
    EXPECT_EQ(f.observer.lines[1], "Deferred: 451 4.7.1 Greylisted (next try in 60 s)");
    EXPECT_EQ(f.observer.lines.back(), "Delivered 2, rejected 0, failed 0.");

    const RunRecord run = f.journal();
    EXPECT_TRUE(run.finished);
    ASSERT_EQ(run.recipients[0].attempts.size(), 3u);
    EXPECT_EQ(run.recipients[0].attempts[0].outcome, DeliveryOutcome::Deferred);
    EXPECT_FALSE(run.recipients[0].attempts[0].final);
    EXPECT_EQ(run.recipients[0].attempts[1].code, "452");
    EXPECT_EQ(run.recipients[0].attempts[2].outcome, DeliveryOutcome::Delivered);
    EXPECT_EQ(run.recipients[0].attempts[2].stampNumber, 2); // ok@ got the first
    // The session now says it holds that stamp: a resume would not apply it again.
    EXPECT_TRUE(unsavedStamps(run, f.session.settings().extensions.value(kRunStampsKey)).empty());
}

TEST(DeliveryRun, TheCountsAddUpToTheRecipientsAndNeverGoNegative) {
    struct Case {
        SendRunSummary settled; // recipients, delivered, deferred, rejected, failed
        std::int32_t waiting;
        std::string text;
    };
    const auto summary = [](std::int32_t recipients, std::int32_t delivered, std::int32_t deferred,
                            std::int32_t failed) {
        SendRunSummary s;
        s.recipients = recipients;
        s.delivered = delivered;
        s.deferred = deferred;
        s.failed = failed;
        return s;
    };
    const Case cases[] = {
        {summary(5, 1, 0, 0), 2, "Delivered 1, deferred 2, rejected 0, failed 0, not attempted 2"},
        {summary(4, 3, 1, 0), 0, "Delivered 3, deferred 1, rejected 0, failed 0, not attempted 0"},
        // More outcomes than recipients must not show a negative count.
        {summary(2, 1, 1, 0), 1, "Delivered 1, deferred 2, rejected 0, failed 0, not attempted 0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tallyText(runTally(c.settled, c.waiting)), c.text);
    }
}

// A run over a pool shows each relay's part; a run over one server nothing more.
TEST(DeliveryRun, EachRelayOfAPoolHasALineOfItsOwn) {
    RunTally tally;
    EXPECT_EQ(relayTallyText(tally), "");
    tally.relays = {{"relay 1 (a.example)", 14, 12, 6.04, false},
                    {"relay 2 (b.example)", 3, 0, 0.0, true}};
    EXPECT_EQ(relayTallyText(tally), "relay 1 (a.example): 12 of 14 delivered, 6.0 per minute\n"
                                     "relay 2 (b.example): 0 of 3 delivered, 0.0 per minute, "
                                     "waiting");
}

TEST(DeliveryRun, TheCountsAreCurrentThroughEveryWaitAndAfterACancel) {
    RunFixture f;
    f.queue("grey@example.org");
    f.queue("ok@example.org");
    f.server.add(refusedAt(kSender, "grey@example.org", kAfterRcpt, "451 4.7.1 Greylisted\r\n"));
    f.server.add(deliveryScript(kSender, "ok@example.org"));
    f.observer.cancelAtPump = 400; // within the minute's wait for grey@
    const SendRunSummary summary = f.run();
    EXPECT_TRUE(summary.cancelled);
    const auto waiting =
        std::find_if(f.observer.tallies.begin(), f.observer.tallies.end(), [](const auto& seen) {
            return seen.first.rfind("Waiting 60 s to try", 0) == 0;
        });
    ASSERT_NE(waiting, f.observer.tallies.end());
    EXPECT_EQ(tallyText(waiting->second),
              "Delivered 1, deferred 1, rejected 0, failed 0, not attempted 0");
    // The wait is in the time left.
    ASSERT_TRUE(waiting->second.remainingMs);
    EXPECT_GE(*waiting->second.remainingMs, 59'000);
    ASSERT_FALSE(f.observer.tallies.empty());
    EXPECT_EQ(tallyText(f.observer.tallies.back().second),
              "Delivered 1, deferred 1, rejected 0, failed 0, not attempted 0");
}

TEST(DeliveryRun, StillDeferredAfterItsRetriesIsReportedSoAndLeftForRetry) {
    struct Case {
        const char* retries;
        std::size_t sessions;
    };
    for (const Case c : {Case{"0", 1}, Case{"2", 3}}) {
        RunFixture f;
        f.set("deferredRetries", c.retries);
        f.queue("grey@example.org");
        for (std::size_t i = 0; i < c.sessions; ++i) {
            f.server.add(refusedAt(kSender, "grey@example.org", kAfterData, "451 try later\r\n"));
        }
        const SendRunSummary summary = f.run();
        EXPECT_EQ(f.server.opened, static_cast<int>(c.sessions)) << c.retries;
        EXPECT_EQ(summary.deferred, 1);
        EXPECT_FALSE(summary.stoppedEarly);
        EXPECT_EQ(summaryText(summary), "Delivered 0, deferred 1, rejected 0, failed 0.");
        const RunRecord run = f.journal();
        EXPECT_TRUE(run.finished);
        EXPECT_EQ(run.counts().deferred, 1);
        EXPECT_TRUE(run.recipients[0].hasFinalOutcome());
    }
}

TEST(DeliveryRun, TheRateLimitSpacesTheMessages) {
    RunFixture f;
    f.set("ratePerMinute", "2");
    for (int i = 1; i <= 4; ++i) {
        const std::string address = "r" + std::to_string(i) + "@example.org";
        f.queue(address);
        f.server.add(deliveryScript(kSender, address));
    }
    const SendRunSummary summary = f.run();
    EXPECT_EQ(summary.delivered, 4);
    ASSERT_EQ(f.sessionStarts.size(), 4u);
    for (std::size_t i = 1; i < f.sessionStarts.size(); ++i) {
        EXPECT_GE(f.sessionStarts[i] - f.sessionStarts[i - 1], 30'000);
        EXPECT_LT(f.sessionStarts[i] - f.sessionStarts[i - 1], 31'000);
    }
}

TEST(DeliveryRun, SlowDownRepliesPauseTheRunUntilTheBudgetIsSpent) {
    RunFixture f;
    f.set("maxPauseMinutes", "3");
    f.queue("a@example.org");
    f.queue("b@example.org");
    f.server.add(refusedAt(kSender, "a@example.org", kAfterRcpt, "421 4.7.0 Try again later\r\n"));
    f.server.add(deliveryScript(kSender, "a@example.org"));
    for (int i = 0; i < 3; ++i) {
        f.server.add(refusedAt(kSender, "b@example.org", kAfterRcpt, "451 Too many messages\r\n"));
    }
    const SendRunSummary summary = f.run();
    ASSERT_EQ(f.sessionStarts.size(), 5u);
    EXPECT_GE(f.sessionStarts[1] - f.sessionStarts[0], 60'000); // 1 min
    EXPECT_GE(f.sessionStarts[3] - f.sessionStarts[2], 60'000); // 1 min again after a success
    EXPECT_GE(f.sessionStarts[4] - f.sessionStarts[3], 60'000); // what is left of 3 min
    EXPECT_EQ(summary.delivered, 1);
    EXPECT_TRUE(summary.stoppedEarly);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_NE(f.observer.lines[f.observer.lines.size() - 2].find(
                  "still asks to slow down (451 Too many messages) after 3 min of pauses"),
              std::string::npos)
        << f.observer.lines[f.observer.lines.size() - 2];
    const RunRecord run = f.journal();
    EXPECT_FALSE(run.finished);
    EXPECT_FALSE(run.recipients[1].hasFinalOutcome()); // a resume sends to it again
    EXPECT_EQ(run.counts().failed, summary.failed);    // the journal counts as the summary
}

TEST(DeliveryRun, ATemporaryRefusalOfTheSenderPausesTheRunAndAPermanentOneStopsIt) {
    for (const bool temporary : {true, false}) {
        SCOPED_TRACE(temporary ? "450" : "550");
        RunFixture f;
        f.queue("a@example.org");
        f.queue("b@example.org");
        f.server.add(refusedAt(kSender, "a@example.org", kAfterMailFrom,
                               temporary ? "450 4.7.1 Error: too much mail from 127.0.0.1\r\n"
                                         : "554 5.7.1 Sender not allowed\r\n"));
        f.server.add(deliveryScript(kSender, "a@example.org"));
        f.server.add(deliveryScript(kSender, "b@example.org"));
        const SendRunSummary summary = f.run();
        EXPECT_EQ(summary.delivered, temporary ? 2 : 0);
        EXPECT_EQ(summary.stoppedEarly, !temporary);
        ASSERT_EQ(f.sessionStarts.size(), temporary ? 3u : 1u);
        if (temporary) {
            EXPECT_GE(f.sessionStarts[1] - f.sessionStarts[0], 60'000);
        }
    }
}

TEST(DeliveryRun, ResumeSendsOnlyToThoseWithoutAFinalOutcomeAndAppliesLostStamps) {
    RunFixture f;
    const auto a = f.queue("a@example.org");
    const auto b = f.queue("b@example.org");
    const auto c = f.queue("c@example.org");
    f.server.add(deliveryScript(kSender, "a@example.org"));
    f.server.add(refusedAt(kSender, "b@example.org", kAfterRcpt, "550 no such user\r\n"));
    f.server.onOpen = [&f](int n) {
        if (n == 2) {
            f.observer.cancelAfterLine = "Rejected: 550 no such user";
        }
    };
    const store::SessionSettings savedSettings = f.session.settings();
    SendRunSummary summary = f.run();
    EXPECT_TRUE(summary.stoppedEarly);
    EXPECT_EQ(summaryText(summary), "Delivered 1, rejected 1, failed 0, not attempted 1.");
    const RunRecord interrupted = f.journal();
    EXPECT_FALSE(interrupted.finished);
    EXPECT_EQ(resumeQuestion(interrupted),
              "A sending of \"Winter offer\" was interrupted after 2 of 3 recipients. Resume it "
              "now?");

    // As after a crash: the session on disk never got the first stamp.
    store::Session reloaded;
    reloaded.setSettings(savedSettings);
    for (const auto& email : {"a@example.org", "b@example.org", "c@example.org"}) {
        store::NewContact fields;
        fields.email = email;
        reloaded.createContact(fields, "01/01/2026");
    }
    reloaded.sessionFileName = f.session.sessionFileName;
    MessageDraft changed = f.draft;
    changed.body = "Hello again";
    DeliveryPlan plan;
    EXPECT_EQ(resumePlan(reloaded, interrupted, changed, false, plan), ResumeCheck::DraftChanged);
    EXPECT_EQ(reloaded.contact(a).timesContacted, 0);
    ASSERT_EQ(resumePlan(reloaded, interrupted, f.draft, false, plan), ResumeCheck::Ready);
    EXPECT_EQ(reloaded.contact(a).timesContacted, 1);
    EXPECT_EQ(reloaded.contact(b).timesContacted, 0);

    f.observer = RecordingObserver{};
    f.server.add(deliveryScript(kSender, "c@example.org"));
    summary = runDelivery(reloaded, f.draft, plan, f.environment, f.observer);
    EXPECT_EQ(f.server.opened, 3);
    EXPECT_EQ(summary.delivered, 2);
    EXPECT_EQ(summary.rejected, 1);
    EXPECT_FALSE(summary.stoppedEarly);
    EXPECT_EQ(reloaded.contact(c).timesContacted, 1);
    const RunRecord resumed = f.journal();
    EXPECT_EQ(resumed.id, interrupted.id);
    EXPECT_TRUE(resumed.finished);
    EXPECT_EQ(resumed.recipients[0].attempts.size(), 1u);

    // Retry the rejected one as a new run.
    const DeliveryPlan retry =
        retryPlan(reloaded, resumed, f.draft, {DeliveryOutcome::Rejected}, "");
    ASSERT_EQ(retry.recipients.size(), 1u);
    EXPECT_EQ(retry.recipients[0].address, "b@example.org");
    EXPECT_EQ(retry.header.retryOf, resumed.id);
}

TEST(DeliveryRun, AWindowRunKeepsItsDraftSoThatItCanBeResumed) {
    RunFixture f;
    f.queue("a@example.org");
    f.queue("b@example.org");
    f.draft.format = code(store::EditorFormat::PlainText);
    f.server.add(deliveryScript(kSender, "a@example.org"));
    // A refused sender stops the run before b (a cancelled run is not offered).
    f.server.add(refusedAt(kSender, "b@example.org", kAfterMailFrom, "554 5.7.1 Not now\r\n"));
    f.run();
    const std::optional<RunRecord> run = interruptedRun(f.session);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->draftPath, draftCopyPath(run->path));

    MessageDraft draft;
    DeliveryPlan plan;
    std::string error;
    ASSERT_TRUE(prepareResume(f.session, *run, draft, plan, error)) << error;
    EXPECT_EQ(draft.body, "Hello");
    EXPECT_EQ(draft.format, code(store::EditorFormat::PlainText));
    f.observer = RecordingObserver{};
    f.server.add(deliveryScript(kSender, "b@example.org"));
    EXPECT_EQ(runDelivery(f.session, draft, plan, f.environment, f.observer).delivered, 2);
    EXPECT_FALSE(interruptedRun(f.session));

    // Untitled sessions keep no journal, so nothing is ever offered.
    store::Session untitled;
    EXPECT_FALSE(interruptedRun(untitled));
}

TEST(DeliveryRun, ARetryOfEveryoneLeftClosesTheRunAndNoRetrySendsTwice) {
    RunFixture f;
    f.queue("a@example.org");
    f.queue("b@example.org");
    f.queue("c@example.org");
    f.server.add(deliveryScript(kSender, "a@example.org"));
    f.server.add(refusedAt(kSender, "b@example.org", kAfterMailFrom, "554 5.7.1 Not now\r\n"));
    f.run();
    const std::optional<RunRecord> run = interruptedRun(f.session);
    ASSERT_TRUE(run);
    // Deferred and failed only leave c: the run stays open for a resume.
    EXPECT_EQ(retryPlan(f.session, *run, f.draft,
                        {DeliveryOutcome::Deferred, DeliveryOutcome::Failed}, "")
                  .closesJournal,
              "");

    // The window's Retry takes b and c: the run is closed, not offered again.
    f.server.add(deliveryScript(kSender, "b@example.org"));
    f.server.add(deliveryScript(kSender, "c@example.org"));
    const SendRunSummary retried =
        retryNotDelivered(f.session, f.draft, run->id, f.environment, f.observer);
    EXPECT_EQ(retried.delivered, 2);
    EXPECT_FALSE(interruptedRun(f.session));
    EXPECT_EQ(findRunJournal(journalFolder(f.session.sessionFileName), run->id)->closedBy,
              retried.runId);
    // Retried again, the run has nobody left who did not get the message.
    EXPECT_EQ(retryNotDelivered(f.session, f.draft, run->id, f.environment, f.observer).recipients,
              0);
    EXPECT_EQ(f.server.opened, 4);
}

TEST(DeliveryRun, AJournalThatCannotBeWrittenSendsNothing) {
    RunFixture f;
    f.session.sessionFileName = f.dir.file("missing/campaign.qmz");
    f.queue("a@example.org");
    const SendRunSummary summary = f.run();
    EXPECT_EQ(f.server.opened, 0);
    EXPECT_TRUE(summary.stoppedEarly);
    ASSERT_FALSE(f.observer.lines.empty());
    EXPECT_NE(f.observer.lines[0].find("Nothing was sent"), std::string::npos);
}

} // namespace

TEST(DeliveryRun, ConnectionsCarryUpToTheirLimitAndALostOneIsOpenedAgainForTheRest) {
    RunFixture f;
    f.set("messagesPerConnection", "3");
    for (const char* address : {"a@example.org", "b@example.org", "c@example.org", "d@example.org",
                                "e@example.org", "f@example.org"}) {
        f.queue(address);
    }
    // Three, then QUIT at the limit.
    f.server.add(heldScript({"a@example.org", "b@example.org", "c@example.org"}, quitTail()));
    // The server ends the held connection before e's message: e goes over a
    // new one, not counted as an attempt.
    f.server.add(heldScript({"d@example.org"}, {expects("MAIL FROM: <ann@example.org>"), hangs()}));
    // Lost after f's data: f may have got it, so f failed; the run goes on.
    std::vector<ScriptStep> third = heldScript({"e@example.org", "f@example.org"}, {});
    third.back() = hangs(); // instead of f's 250
    f.server.add(third);

    const SendRunSummary summary = f.run();
    EXPECT_EQ(f.server.opened, 3);
    EXPECT_EQ(summary.delivered, 5);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_FALSE(summary.stoppedEarly);
    for (const auto& connection : f.server.connections) {
        EXPECT_TRUE(connection->scriptDone()) << connection->unexpected;
        EXPECT_EQ(connection->unexpected, "");
    }
    EXPECT_EQ(f.server.connections[0]->messages.size(), 3u);
    const RunRecord run = f.journal();
    ASSERT_EQ(run.recipients.size(), 6u);
    EXPECT_NE(std::find(f.observer.lines.begin(), f.observer.lines.end(),
                        "The connection ended before this message; sending it over a new one."),
              f.observer.lines.end());
    EXPECT_EQ(run.recipients[4].attempts.size(), 1u); // e: the closed connection was no attempt
    EXPECT_EQ(run.recipients[4].outcome(), DeliveryOutcome::Delivered);
    EXPECT_EQ(run.recipients[5].outcome(), DeliveryOutcome::Failed);
}

TEST(DeliveryRun, AHeldConnectionIsLetGoBeforeALongWaitAndRefusalsKeepIt) {
    RunFixture f;
    f.set("messagesPerConnection", "10");
    f.queue("grey@example.org");
    f.queue("gone@example.org");
    // grey is deferred, gone refused, over one connection; the wait for
    // grey's second try lets it go first.
    std::vector<ScriptStep> first =
        refusedAt(kSender, "grey@example.org", kAfterRcpt, "451 4.7.1 Greylisted\r\n");
    first.resize(kAfterRcpt + 1);
    const std::vector<ScriptStep> rest = {expects("RSET"),
                                          says("250 reset\r\n"),
                                          expects("MAIL FROM: <ann@example.org>"),
                                          says("250 OK\r\n"),
                                          expects("RCPT TO: <gone@example.org>"),
                                          says("550 5.1.1 no such user\r\n"),
                                          expects("QUIT"),
                                          says("221 bye\r\n")};
    first.insert(first.end(), rest.begin(), rest.end());
    f.server.add(first);
    f.server.add(heldScript({"grey@example.org"}, quitTail()));

    const SendRunSummary summary = f.run();
    EXPECT_EQ(f.server.opened, 2);
    EXPECT_EQ(summary.delivered, 1);
    EXPECT_EQ(summary.rejected, 1);
    for (const auto& connection : f.server.connections) {
        EXPECT_TRUE(connection->scriptDone()) << connection->unexpected;
    }
    EXPECT_GE(f.sessionStarts[1] - f.sessionStarts[0], 60'000);
}
} // namespace velmora::delivery
