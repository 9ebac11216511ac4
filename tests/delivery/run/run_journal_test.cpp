// The delivery journal: what a run writes, what a reader makes of it after
// a crash, and the JSON line form it is written in.
#include "delivery/run/json_line.h"
#include "delivery/run/run_journal.h"
#include "support/test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora::delivery {

using testing_support::readFileBytes;
using testing_support::TempDir;

namespace {

store::LocalDateTime runStart() {
    return {2026, 12, 7, 9, 30, 0, 1, 60, 1'796'632'200'000LL};
}

struct JournalFixture {
    TempDir dir;
    store::FixedClock clock{runStart()};
    std::string folder = journalFolder(dir.file("campaign.qmz"));

    std::unique_ptr<RunJournal> start(const std::vector<PlannedRecipient>& recipients) {
        std::string error;
        auto journal =
            RunJournal::start(folder, {"/drafts/offer.eml", 1, "abc123", "Winter \"offer\"", ""},
                              recipients, clock, error);
        EXPECT_TRUE(journal) << error;
        return journal;
    }
    RunRecord read(const std::string& path) {
        RunRecord record;
        std::string error;
        EXPECT_TRUE(readRunJournal(path, record, error)) << error;
        return record;
    }
};

JournalAttempt attempt(DeliveryOutcome outcome, bool final, std::string code = "",
                       std::string stamp = "") {
    JournalAttempt a;
    a.outcome = outcome;
    a.final = final;
    a.code = std::move(code);
    a.text = a.code.empty() ? "" : "reply text";
    a.stamp = std::move(stamp);
    return a;
}

TEST(RunJournal, RecordsTheRunAndReadsBackWhoGotWhat) {
    JournalFixture f;
    auto journal =
        f.start({{3, "ann@example.org"}, {-1, "bob@example.net"}, {7, "cy@example.com"}});
    journal->attempt(1, attempt(DeliveryOutcome::Delivered, true, "250", "12/07/2026"));
    journal->attempt(2, attempt(DeliveryOutcome::Deferred, false, "451"));
    journal->attempt(2, attempt(DeliveryOutcome::Rejected, true, "550"));
    journal->end(false, true);
    const std::string path = journal->path();
    journal.reset();

    EXPECT_EQ(path, f.folder + "/20261207-093000.jsonl");
    const RunRecord run = f.read(path);
    EXPECT_EQ(run.id, "20261207-093000");
    EXPECT_EQ(run.started, "2026-12-07T09:30:00+01:00");
    EXPECT_EQ(run.draftPath, "/drafts/offer.eml");
    EXPECT_EQ(run.draftDigest, "abc123");
    EXPECT_EQ(run.subject, "Winter \"offer\"");
    EXPECT_FALSE(run.finished);
    EXPECT_TRUE(run.stoppedEarly);
    ASSERT_EQ(run.recipients.size(), 3u);
    EXPECT_EQ(run.recipients[0].slot, 3);
    EXPECT_EQ(run.recipients[1].address, "bob@example.net");
    ASSERT_EQ(run.recipients[1].attempts.size(), 2u);
    EXPECT_EQ(run.recipients[1].attempts[0].code, "451");
    EXPECT_EQ(run.recipients[1].outcome(), DeliveryOutcome::Rejected);
    EXPECT_FALSE(run.recipients[2].outcome());
    const RunCounts counts = run.counts();
    EXPECT_EQ(counts.delivered, 1);
    EXPECT_EQ(counts.rejected, 1);
    EXPECT_EQ(counts.notAttempted, 1);
    EXPECT_EQ(run.withFinalOutcome(), 2);

    // Owner only: the journal lists the campaign's addresses.
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(f.folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

// What each relay accepted in the last day, from the journals' times; an
// attempt of an older journal, naming no relay, was the main server's.
TEST(RunJournal, DeliveriesAreCountedPerRelayFromTheTimeTheJournalGives) {
    EXPECT_EQ(isoTimeSeconds("2026-12-07T09:30:00+01:00"),
              runStart().millisecondsSinceEpoch / 1000);
    EXPECT_EQ(isoTimeSeconds("2026-12-07T03:00:00-05:30"), 1'796'632'200);
    EXPECT_EQ(isoTimeSeconds("1970-01-01T00:00:00+00:00"), 0);
    EXPECT_EQ(isoTimeSeconds("2024-02-29T12:00:00+00:00"), 1'709'208'000);
    for (const char* bad : {"", "2026-12-07 09:30:00+01:00", "2026-13-07T09:30:00+01:00",
                            "2026-12-07T09:30:00Z", "2026-12-07T09:3x:00+01:00"}) {
        EXPECT_FALSE(isoTimeSeconds(bad)) << bad;
    }

    JournalFixture f;
    auto journal = f.start({{1, "a@example.org"}, {2, "b@example.org"}, {3, "c@example.org"}});
    const auto at = [](DeliveryOutcome outcome, const char* time, const char* relay) {
        JournalAttempt a = attempt(outcome, true);
        a.at = time;
        a.relay = relay;
        return a;
    };
    journal->attempt(1, at(DeliveryOutcome::Delivered, "2026-12-06T09:29:59+01:00", "")); // too old
    journal->attempt(1, at(DeliveryOutcome::Delivered, "2026-12-06T09:30:00+01:00", ""));
    journal->attempt(2, at(DeliveryOutcome::Delivered, "2026-12-07T09:00:00+01:00", "r2:587"));
    journal->attempt(2, at(DeliveryOutcome::Failed, "2026-12-07T09:00:00+01:00", "r3:587"));
    journal->attempt(3, at(DeliveryOutcome::Delivered, "2026-12-07T09:10:00+01:00", "r2:587"));
    const std::string path = journal->path();
    journal.reset();
    const RunRecord run = f.read(path);
    EXPECT_EQ(run.recipients[1].attempts[0].relay, "r2:587");
    const std::int64_t dayAgo = runStart().millisecondsSinceEpoch / 1000 - 86'400;
    EXPECT_EQ(acceptedSince({run}, dayAgo, "main:25"),
              (std::map<std::string, std::int64_t>{{"main:25", 1}, {"r2:587", 2}}));
}

TEST(RunJournal, ATornLastLineIsSkippedAndTheRunStaysUnfinished) {
    JournalFixture f;
    auto journal = f.start({{1, "a@example.org"}, {2, "b@example.org"}});
    journal->attempt(1, attempt(DeliveryOutcome::Delivered, true, "250", "12/07/2026"));
    const std::string path = journal->path();
    journal.reset();
    {
        std::ofstream torn(path, std::ios::app | std::ios::binary);
        torn << R"({"type":"attempt","n":2,"outcome":"deliv)";
    }
    RunRecord run = f.read(path);
    EXPECT_TRUE(run.tornTail);
    EXPECT_FALSE(run.finished);
    EXPECT_TRUE(run.recipients[0].hasFinalOutcome());
    EXPECT_FALSE(run.recipients[1].hasFinalOutcome());
    ASSERT_TRUE(newestUnfinishedRun(f.folder));
    EXPECT_EQ(newestUnfinishedRun(f.folder)->id, run.id);

    // Reopened for a resume, the next record starts on a line of its own.
    std::string error;
    auto resumed = RunJournal::reopen(path, f.clock, error);
    ASSERT_TRUE(resumed) << error;
    resumed->resumed("abc123", false);
    resumed->attempt(2, attempt(DeliveryOutcome::Delivered, true, "250"));
    resumed->end(true, false);
    resumed.reset();
    run = f.read(path);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.counts().delivered, 2);
    EXPECT_FALSE(newestUnfinishedRun(f.folder));
}

TEST(RunJournal, TheSessionsMarkTellsWhichStampsItHolds) {
    JournalFixture f;
    auto journal = f.start({{1, "a@example.org"}, {2, "b@example.org"}, {3, "c@example.org"}});
    for (std::int32_t n = 1; n <= 3; ++n) {
        JournalAttempt a = attempt(DeliveryOutcome::Delivered, true, "250", "12/07/2026");
        a.stampNumber = n;
        journal->attempt(n, a);
    }
    const RunRecord run = f.read(journal->path());
    EXPECT_EQ(run.lastStampNumber(), 3);
    struct Case {
        std::string marker;
        std::vector<std::int32_t> unsaved; // recipient numbers
    };
    const Case cases[] = {
        {"", {1, 2, 3}},
        {runStampsMarker(run.id, 2), {3}},
        {runStampsMarker(run.id, 3), {}},
        {runStampsMarker("20261207-092959", 9), {1, 2, 3}}, // an older run's mark
        {runStampsMarker("20261207-093001", 1), {}},        // a later run saved after this one
        {"garbage", {1, 2, 3}},
    };
    for (const Case& c : cases) {
        std::vector<std::int32_t> unsaved;
        for (const UnsavedStamp& stamp : unsavedStamps(run, c.marker)) {
            unsaved.push_back(stamp.recipient->index);
        }
        EXPECT_EQ(unsaved, c.unsaved) << c.marker;
    }
    // Killed after its last outcome, before the save: resumed only to record
    // the stamps, and only while the session lacks them.
    EXPECT_FALSE(run.open());
    ASSERT_TRUE(newestUnfinishedRun(f.folder, ""));
    EXPECT_EQ(newestUnfinishedRun(f.folder, runStampsMarker(run.id, 2))->id, run.id);
    EXPECT_FALSE(newestUnfinishedRun(f.folder, runStampsMarker(run.id, 3)));
}

TEST(RunJournal, AJournalCutInsideItsListIsTheNewestUnfinishedRunButDamaged) {
    JournalFixture f;
    auto journal = f.start({{1, "a@example.org"}, {2, "b@example.org"}});
    const std::string path = journal->path();
    journal.reset();
    std::string text = readFileBytes(path);
    text.resize(text.rfind("{\"type\":\"recipient\""));
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    const RunRecord run = f.read(path);
    EXPECT_TRUE(run.damaged());
    // One answer for listing, showing and resuming: this run, damaged.
    const std::optional<RunRecord> newest = newestUnfinishedRun(f.folder);
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->id, run.id);
    EXPECT_TRUE(newest->damaged());
    EXPECT_EQ(damagedJournalText(run),
              "The journal of run 20261207-093000 is damaged: its recipient list stops at 1 of 2 "
              "recipients. It cannot be resumed or retried.");
}

TEST(RunJournal, LaterRunsOfTheSameDraftOrRetriesTellWhomTheyDelivered) {
    JournalFixture f;
    auto first = f.start(
        {{1, "x@example.org"}, {2, "y@example.org"}, {3, "z@example.org"}, {4, "w@example.org"}});
    first->attempt(1, attempt(DeliveryOutcome::Failed, false));
    first->end(false, true);
    const auto later = [&f](const std::string& digest, const std::string& retryOf,
                            const std::string& address) {
        std::string error;
        auto journal = RunJournal::start(f.folder, {"", 1, digest, "Winter", retryOf},
                                         {{-1, address}}, f.clock, error);
        EXPECT_TRUE(journal) << error;
        journal->attempt(1, attempt(DeliveryOutcome::Delivered, true, "250"));
        journal->end(true, false);
        return journal->id();
    };
    const std::string retry = later("changed", first->id(), "x@example.org"); // its own draft
    const std::string retryOfRetry = later("changed again", retry, "w@example.org");
    const std::string sameDraft = later("abc123", "", " Y@Example.org");
    later("another draft", "", "z@example.org"); // says nothing of this run

    const std::optional<RunRecord> run = findLinkedRun(f.folder, first->id());
    ASSERT_TRUE(run);
    std::vector<std::string> deliveredBy;
    for (const JournalRecipient& r : run->recipients) {
        deliveredBy.push_back(r.deliveredBy);
    }
    EXPECT_EQ(deliveredBy, (std::vector<std::string>{retry, sameDraft, "", retryOfRetry}));
    // z is left, so the run is still the one to resume; once a later run
    // of the draft reaches z it is not.
    ASSERT_TRUE(newestUnfinishedRun(f.folder));
    EXPECT_EQ(newestUnfinishedRun(f.folder)->id, first->id());
    later("abc123", "", "z@example.org");
    EXPECT_FALSE(newestUnfinishedRun(f.folder));
}

TEST(RunJournal, ACancelledRunOrOneARetryClosedIsNotResumed) {
    struct Case {
        const char* name;
        bool cancelled;
        bool closed;
        bool offered;
    };
    const Case cases[] = {
        {"interrupted", false, false, true},
        {"cancelled", true, false, false},
        {"closed by a retry", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JournalFixture f;
        auto journal = f.start({{1, "a@example.org"}, {2, "b@example.org"}});
        journal->attempt(1, attempt(DeliveryOutcome::Delivered, true, "250"));
        journal->end(false, true, c.cancelled);
        const std::string path = journal->path();
        journal.reset();
        std::string error;
        if (c.closed) {
            ASSERT_TRUE(RunJournal::close(path, "20261207-100000", f.clock, error)) << error;
        }
        const RunRecord run = f.read(path);
        EXPECT_EQ(run.cancelled, c.cancelled);
        EXPECT_EQ(run.closedBy, c.closed ? "20261207-100000" : "");
        EXPECT_EQ(newestUnfinishedRun(f.folder).has_value(), c.offered);
    }
}

TEST(RunJournal, OutcomesAreSyncedInBatchesAndAtTheEnd) {
    JournalFixture f;
    auto journal = f.start({{1, "a@example.org"}, {2, "b@example.org"}});
    EXPECT_FALSE(journal->unsynced()); // the header and the list are on disk
    journal->attempt(1, attempt(DeliveryOutcome::Delivered, true, "250"));
    EXPECT_TRUE(journal->unsynced());
    // Written at once all the same: a killed process loses nothing.
    EXPECT_NE(readFileBytes(journal->path()).find("\"n\":1,\"outcome\":\"delivered\""),
              std::string::npos);
    f.clock.advanceMilliseconds(RunJournal::kSyncBatchMs - 1);
    journal->tick();
    EXPECT_TRUE(journal->unsynced());
    f.clock.advanceMilliseconds(1);
    journal->tick();
    EXPECT_FALSE(journal->unsynced());
    journal->attempt(2, attempt(DeliveryOutcome::Delivered, true, "250"));
    journal->end(true, false);
    EXPECT_FALSE(journal->unsynced());
    EXPECT_TRUE(journal->healthy());
}

TEST(RunJournal, RunsStartedInTheSameSecondGetTheirOwnFiles) {
    JournalFixture f;
    auto first = f.start({{1, "a@example.org"}});
    auto second = f.start({{1, "a@example.org"}});
    EXPECT_NE(first->path(), second->path());
    EXPECT_EQ(second->id(), "20261207-093000-2");
    EXPECT_EQ(readRunJournals(f.folder).size(), 2u);
}

TEST(RunJournal, ARunIsFoundByItsIdEvenWhenItsFileWasRenamed) {
    JournalFixture f;
    auto first = f.start({{1, "a@example.org"}});
    auto second = f.start({{1, "b@example.org"}, {2, "c@example.org"}});
    const auto found = findRunJournal(f.folder, second->id());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->recipients.size(), 2u);

    // Renamed by hand: the name no longer leads to it, the scan still does.
    const std::string renamed = f.folder + "/kept.jsonl";
    ASSERT_EQ(std::rename(first->path().c_str(), renamed.c_str()), 0);
    const auto moved = findRunJournal(f.folder, first->id());
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->recipients.size(), 1u);
    // The file named after a run must hold that run, not another.
    ASSERT_EQ(
        std::rename(second->path().c_str(), (f.folder + "/" + first->id() + ".jsonl").c_str()), 0);
    EXPECT_EQ(findRunJournal(f.folder, first->id())->recipients.size(), 1u);

    EXPECT_FALSE(findRunJournal(f.folder, "20991231-000000"));
    // An id that climbs out of the folder reads nothing there.
    std::ofstream(f.dir.file("outside.jsonl")) << "not a journal\n";
    EXPECT_FALSE(findRunJournal(f.folder, "../outside"));
}

TEST(RunJournal, AFolderThatCannotBeMadeIsReported) {
    JournalFixture f;
    std::string error;
    const auto journal = RunJournal::start(f.dir.file("missing/deeper"), {}, {}, f.clock, error);
    EXPECT_FALSE(journal);
    EXPECT_NE(error.find("Cannot create the journal folder"), std::string::npos) << error;
}

TEST(DraftDigest, ChangesWithWhatIsSentAndOnlyThat) {
    TempDir dir;
    const std::string attachment = dir.file("price.txt");
    std::ofstream(attachment) << "10 EUR";
    MessageDraft draft;
    draft.fromText = "ann@example.org";
    draft.subject = "Offer";
    draft.body = "Hello";
    draft.attachment1 = attachment;
    const std::string base = draftDigest(draft);
    EXPECT_EQ(base.size(), 64u);

    MessageDraft other = draft;
    other.recipientChoice = code(RecipientChoice::EntireList); // not content
    EXPECT_EQ(draftDigest(other), base);
    other = draft;
    other.subject = "Offer!";
    EXPECT_NE(draftDigest(other), base);
    other = draft;
    other.subject = "Offe";
    other.body = "rHello"; // bytes moved between fields
    EXPECT_NE(draftDigest(other), base);
    std::ofstream(attachment) << "12 EUR";
    EXPECT_NE(draftDigest(draft), base);
}

TEST(JsonLine, RoundTripsEveryKindOfText) {
    const std::string texts[] = {"plain", "quote \" and \\ back", "tab\tnew\nline\x01\x7f",
                                 "caf\xC3\xA9 \xF0\x9F\x93\xA7", ""};
    for (const std::string& text : texts) {
        const std::string line = JsonLineWriter().add("t", text).add("n", -42).line();
        EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line: " << line;
        const std::optional<JsonObject> object = parseJsonLine(line);
        ASSERT_TRUE(object) << line;
        EXPECT_EQ(object->text("t"), text);
        EXPECT_EQ(object->integer("n"), -42);
    }
    // Bytes that are not UTF-8 become U+FFFD: the line stays valid JSON.
    const auto object = parseJsonLine(JsonLineWriter()
                                          .add("t", "a\xFF"
                                                    "b")
                                          .line());
    ASSERT_TRUE(object);
    EXPECT_EQ(object->text("t"), "a\xEF\xBF\xBD"
                                 "b");
}

TEST(JsonLine, RefusesWhatIsNotOneFlatObject) {
    for (const char* line : {"", "{", R"({"a":)", R"({"a":"b")", R"({"a":{"b":1}})", R"({"a":[1]})",
                             R"({"a":"\ud800"})", R"({"a":1} x)", "[]"}) {
        EXPECT_FALSE(parseJsonLine(line)) << line;
    }
    const auto object = parseJsonLine(R"( {"a":true,"b":null,"c":"\u00e9\ud83d\udce7"} )");
    ASSERT_TRUE(object);
    EXPECT_TRUE(object->boolean("a"));
    EXPECT_EQ(object->text("c"), "\xC3\xA9\xF0\x9F\x93\xA7");
}

} // namespace

} // namespace velmora::delivery
