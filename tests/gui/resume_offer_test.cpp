// Opening a session whose last send run was interrupted offers to resume it;
// Yes sends to the recipients left (here to aiosmtpd on 127.0.0.1), No
// leaves the journal for later.
#include "../delivery/python_helpers.h"
#include "delivery/message/draft_file.h"
#include "delivery/run/run_journal.h"
#include "main_window_fixture.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmora::app {

// The scenario spans the store, the journal and the prompts.
using namespace velmora::delivery;
using namespace velmora::platform;
using namespace velmora::store;
using delivery_testing::SmtpTestServer;
using testing_support::readFileBytes;
using testing_support::TempDir;

namespace {

// A saved session of three contacts and a journal that delivered to the
// first before the program stopped.
struct InterruptedCampaign {
    TempDir dir;
    std::string sessionPath = dir.file("campaign.qmz");
    std::string draftPath = dir.file("offer.eml");
    std::string journalPath;
    std::vector<std::string> addresses = {"a@example.net", "b@example.net", "c@example.net"};

    explicit InterruptedCampaign(int port) {
        Session session;
        SessionSettings settings;
        settings.smtpServer = "127.0.0.1";
        settings.smtpPort = port;
        settings.timeoutSeconds = 10;
        session.setSettings(settings);
        std::vector<PlannedRecipient> planned;
        for (const std::string& email : addresses) {
            NewContact fields;
            fields.email = email;
            const std::int32_t slot = session.createContact(fields, "01/01/2026");
            session.addMailtrayEntry(session.contact(slot));
            planned.push_back({slot, email});
        }
        std::string error;
        EXPECT_TRUE(writeSessionFile(session, sessionPath, error)) << error;
        MessageDraft draft;
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "Winter offer";
        draft.body = "Hello";
        EXPECT_TRUE(writeDraftFile(draft, draftPath, error)) << error;

        RunHeader header;
        header.draftPath = draftPath;
        header.draftDigest = draftDigest(draft);
        header.subject = draft.subject;
        SystemClock clock;
        std::unique_ptr<RunJournal> journal =
            RunJournal::start(journalFolder(sessionPath), header, planned, clock, error);
        EXPECT_TRUE(journal) << error;
        JournalAttempt delivered;
        delivered.outcome = DeliveryOutcome::Delivered;
        delivered.code = "250";
        delivered.final = true;
        journal->attempt(1, delivered);
        journal->flush();
        journalPath = journal->path(); // no end line: the run was interrupted
    }
};

std::vector<std::string> serverRecipients(const std::string& store) {
    std::vector<std::string> out;
    for (auto& envelope : delivery_testing::serverEnvelopes(store)) {
        for (const auto& rcpt : envelope["rcptTos"]) {
            out.push_back(rcpt.get<std::string>());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The window on the real clock: the resumed run's time-outs need it.
class ResumeOfferTest : public testing_support::MainWindowFixture {
protected:
    void SetUp() override {
        windowClock = &systemClock;
        MainWindowFixture::SetUp();
    }

    SystemClock systemClock;
};

} // namespace

TEST_F(ResumeOfferTest, OpeningASessionWithAnInterruptedRunOffersToResumeIt) {
    TempDir store;
    SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    struct Case {
        PromptAnswer answer;
        std::vector<std::string> received; // what the server got
        bool finished;                     // the journal says the run ended
    };
    const Case cases[] = {
        {PromptAnswer::No, {}, false},
        {PromptAnswer::Yes, {"b@example.net", "c@example.net"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer == PromptAnswer::Yes ? "Yes" : "No");
        InterruptedCampaign campaign(server.port());
        const std::string before = readFileBytes(campaign.journalPath);
        prompter.shown.clear();
        prompter.answers = {c.answer};

        ASSERT_TRUE(window->openSessionFile(campaign.sessionPath));
        ASSERT_FALSE(prompter.shown.empty());
        EXPECT_EQ(prompter.shown[0].title, "Confirm");
        EXPECT_EQ(prompter.shown[0].text, "A sending of \"Winter offer\" was interrupted after 1 "
                                          "of 3 recipients. Resume it now?");
        EXPECT_EQ(prompter.shown[0].buttons, PromptButtons::YesNo);

        EXPECT_EQ(serverRecipients(store.path()), c.received);
        RunRecord run;
        std::string error;
        ASSERT_TRUE(readRunJournal(campaign.journalPath, run, error)) << error;
        EXPECT_EQ(run.finished, c.finished);
        if (!c.finished) {
            EXPECT_EQ(readFileBytes(campaign.journalPath), before) << "No leaves it as it was";
            EXPECT_TRUE(newestUnfinishedRun(journalFolder(campaign.sessionPath)));
        } else {
            // The first recipient got it before the interruption: not again.
            EXPECT_EQ(run.counts().delivered, 3);
            EXPECT_EQ(run.recipients[0].attempts.size(), 1u);
        }
        for (const auto& entry : std::filesystem::directory_iterator(store.path())) {
            std::filesystem::remove(entry.path());
        }
        session.markSaved();
    }
}

} // namespace velmora::app
