#include "cli/cli_test_support.h"
#include "delivery/feedback/feedback_apply.h"
#include "delivery/run/run_journal.h"
#include "store/codes.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace velmora::delivery {
namespace {

using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::TempDir;
using testing_support::writeFileBytes;

constexpr std::int32_t kDoNotContact = -1;

struct Fixture {
    TempDir dir;
    std::string session = dir.file("s.qmz");
    Fixture() {
        EXPECT_EQ(runCli({"session", "new", session}).exitCode, 0);
        writeFileBytes(dir.file("list.txt"), "gone@example.org\nfull@example.org\n"
                                             "angry@isp.example\ndana@example.com\n"
                                             "bea@example.com\nslow@example.com\n");
        EXPECT_EQ(runCli({"import-addresses", session, dir.file("list.txt")}).exitCode, 0);
    }
    store::Contact contact(std::int32_t slot) const {
        return store::readSessionFile(session).session.contact(slot);
    }
};

TEST(FeedbackApply, ActsOnEachKindOnceAndUndoes) {
    Fixture f;
    const std::int32_t before = f.contact(1).status;
    const std::string mail = dataPath("delivery/feedback/mail");

    const std::string original = readFileBytes(f.session);
    auto run = runCli({"feedback", "apply", f.session, mail, "--dry-run"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFileBytes(f.session), original);
    EXPECT_FALSE(std::filesystem::exists(feedbackLedgerPath(f.session)));

    run = runCli({"feedback", "apply", f.session, mail});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    struct Expected {
        std::int32_t slot;
        std::int32_t status;
        const char* notes;
    };
    const Expected changed[] = {
        {1, kDoNotContact, "Bounced 12/07/2026: 5.1.1 user unknown"}, // hard bounce
        {2, before, ""},                                              // full: soft, counted
        {3, kDoNotContact, "Complained 12/07/2026"},
        {4, kDoNotContact, ""}, // asked to unsubscribe
        {5, before, ""},        // auto-reply: counted only
        {6, before, ""},        // delayed: soft
    };
    for (const Expected& e : changed) {
        const store::Contact c = f.contact(e.slot);
        EXPECT_EQ(c.status, e.status) << c.email.view();
        EXPECT_EQ(c.notes.view(), e.notes) << c.email.view();
    }
    EXPECT_NE(run.out.find("Contacts changed 3."), std::string::npos) << run.out;

    // The same mail again changes nothing.
    const std::string applied = readFileBytes(f.session);
    const std::string ledger = readFileBytes(feedbackLedgerPath(f.session));
    run = runCli({"feedback", "apply", f.session, mail});
    EXPECT_NE(run.out.find("Contacts changed 0."), std::string::npos) << run.out;
    EXPECT_EQ(readFileBytes(f.session), applied);
    EXPECT_EQ(readFileBytes(feedbackLedgerPath(f.session)), ledger);

    run = runCli({"feedback", "undo", f.session});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (std::int32_t slot = 1; slot <= 6; ++slot) {
        EXPECT_EQ(f.contact(slot).status, before) << slot;
        EXPECT_EQ(f.contact(slot).notes.view(), "") << slot;
    }
}

TEST(FeedbackApply, SoftBouncesInARowReachTheLimit) {
    Fixture f;
    ASSERT_EQ(runCli({"settings", "set", f.session, "softBounceLimit=2"}).exitCode, 0);
    const std::string report = readFileBytes(dataPath("delivery/feedback/mail/dsn_delayed.eml"));
    for (int i = 1; i <= 2; ++i) {
        std::string copy = report;
        copy.replace(copy.find("report-2@"), 9, "report-2" + std::to_string(i) + "@");
        writeFileBytes(f.dir.file("r" + std::to_string(i) + ".eml"), copy);
        const auto run =
            runCli({"feedback", "apply", f.session, f.dir.file("r" + std::to_string(i) + ".eml")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(f.contact(6).status == kDoNotContact, i == 2) << run.out;
    }
    EXPECT_EQ(f.contact(6).notes.view(), "Bounced 12/07/2026: 4.4.7 delayed");
}

// A run records each message's Message-ID; a bounce quoting it finds the
// contact even when it names another address (a forward that failed).
TEST(FeedbackApply, MatchesByTheMessageIdTheRunRecorded) {
    Fixture f;
    testing_support::RunDayClock clock;
    std::string error;
    std::unique_ptr<RunJournal> journal = RunJournal::start(
        journalFolder(f.session), RunHeader{}, {{2, "full@example.org"}}, clock, error);
    ASSERT_TRUE(journal) << error;
    JournalAttempt attempt;
    attempt.outcome = DeliveryOutcome::Delivered;
    attempt.final = true;
    attempt.messageId = "run1.0001@shop.example";
    journal->attempt(1, attempt);
    journal->end(true, false);
    journal.reset();

    std::string report = readFileBytes(dataPath("delivery/feedback/mail/dsn_hard.eml"));
    // Only the forward's address is named; the quoted Message-ID is run1.0001.
    const std::size_t full = report.find("Final-Recipient: rfc822; full@");
    report.erase(full, report.find("Final-Recipient: rfc822; fine@") - full);
    writeFileBytes(f.dir.file("r.eml"), report);
    const auto run = runCli({"feedback", "apply", f.session, f.dir.file("r.eml")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(f.contact(2).status, kDoNotContact) << run.out;
    EXPECT_NE(f.contact(1).status, kDoNotContact);
}

// Soft bounces count in a row only while no later message to the contact
// went through: a delivery between two of them starts the count again.
TEST(FeedbackApply, ADeliveryBetweenSoftBouncesStartsTheCountAgain) {
    const std::string report = readFileBytes(dataPath("delivery/feedback/mail/dsn_delayed.eml"));
    for (const bool deliveredBetween : {false, true}) {
        Fixture f;
        ASSERT_EQ(runCli({"settings", "set", f.session, "softBounceLimit=2"}).exitCode, 0);
        // slow@example.com (slot 6) was mailed on these days of December.
        const auto delivered = [&](int day) {
            store::FixedClock clock({2026, 12, day, 10, 0, 0, 1, 60, 0});
            std::string error;
            std::unique_ptr<RunJournal> journal = RunJournal::start(
                journalFolder(f.session), RunHeader{}, {{6, "slow@example.com"}}, clock, error);
            ASSERT_TRUE(journal) << error;
            JournalAttempt attempt;
            attempt.outcome = DeliveryOutcome::Delivered;
            attempt.final = true;
            journal->attempt(1, attempt);
            journal->end(true, false);
        };
        const auto bounced = [&](int n) {
            std::string copy = report;
            copy.replace(copy.find("report-2@"), 9, "report-2" + std::to_string(n) + "@");
            writeFileBytes(f.dir.file("r.eml"), copy);
            const auto run = runCli({"feedback", "apply", f.session, f.dir.file("r.eml")});
            ASSERT_EQ(run.exitCode, 0) << run.err;
        };
        delivered(1);
        bounced(1);
        if (deliveredBetween) {
            delivered(3);
        }
        delivered(5);
        bounced(2);
        EXPECT_EQ(f.contact(6).status == kDoNotContact, !deliveredBetween) << deliveredBetween;
    }
}

} // namespace
} // namespace velmora::delivery
