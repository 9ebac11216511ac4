#include "cli/cli_test_support.h"
#include "delivery/feedback/feedback_report.h"
#include "delivery/feedback/mail_sources.h"
#include "delivery/feedback/report_text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::delivery {
namespace {

using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::writeFileBytes;

// The scan of every kind of returned mail, byte for byte.
TEST(FeedbackScan, ClassifiesEachKindOfReturnedMail) {
    const std::string folder = dataPath("delivery/feedback/mail");
    const testing_support::CliRun run = runCli({"feedback", "scan", folder});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string out = run.out;
    for (std::size_t at = out.find(folder); at != std::string::npos; at = out.find(folder)) {
        out.replace(at, folder.size() + 1, "");
    }
    const std::string golden = readFileBytes(dataPath("delivery/feedback/scan.txt"));
    if (out != golden) {
        writeFileBytes("feedback_scan.txt.actual", out);
        ADD_FAILURE() << "the scan differs; the output is in feedback_scan.txt.actual";
    }
}

TEST(FeedbackScan, ReportsAPathItCannotReadAndGoesOn) {
    const std::string mail = dataPath("delivery/feedback/mail/auto_reply.eml");
    const testing_support::CliRun run =
        runCli({"feedback", "scan", "/nonexistent/box", mail, "--json"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Cannot read \"/nonexistent/box\""), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"autoReplies\": 1"), std::string::npos) << run.out;
}

// Hard means the address is gone; everything that may pass later is soft.
TEST(FeedbackText, HardOnlyWhenTheAddressIsGone) {
    struct Case {
        const char* status;
        int code;
        const char* diagnostic;
        bool hard;
    };
    const Case cases[] = {
        {"5.1.1", 550, "user unknown", true},
        {"5.1.10", 550, "", true},
        {"5.4.4", 550, "unable to route", true},
        {"4.2.2", 452, "user unknown", false},
        {"5.2.2", 552, "mailbox full", false},
        {"5.3.4", 552, "message too big", false},
        {"5.7.1", 550, "rejected by policy", false},
        {"5.7.1", 550, "Recipient address rejected: User unknown", true},
        {"5.5.0", 550, "requested action not taken", false},
        {"5.0.0", 550, "", true},
        {"", 550, "", true},
        {"", 451, "", false},
        {"", 0, "Sorry, no mailbox here by that name.", true},
        {"", 0, "The mailbox is full", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isHardRefusal(c.status, c.code, c.diagnostic, true), c.hard)
            << c.status << ' ' << c.code << ' ' << c.diagnostic;
    }
}

TEST(FeedbackText, FindsStatusAndReplyCodesButNotAddressesOrVersions) {
    const std::pair<const char*, const char*> statuses[] = {
        {"smtp; 550 5.1.1 <a@b.example>: unknown", "5.1.1"},
        {"(#5.1.1)", "5.1.1"},
        {"host 192.0.2.7 said 4.4.7", "4.4.7"},
        {"Postfix 3.5.1.2 here", ""},
        {"at 10.5.2.1 then", ""},
    };
    for (const auto& [text, status] : statuses) {
        EXPECT_EQ(findStatusCode(text), status) << text;
    }
    EXPECT_EQ(findReplyCode("said: 550-5.1.1 no"), 550);
    EXPECT_EQ(findReplyCode("port 5500 and #550"), 0);
}

TEST(FeedbackReport, MailToTheUnsubscribeAddressAsksToUnsubscribe) {
    const std::string mail = "From: Fay <fay@example.com>\r\n"
                             "To: leave-news@shop.example\r\n"
                             "Subject: December\r\n\r\nbye\r\n";
    EXPECT_EQ(classifyMessage(mail).kind, FeedbackKind::Other);
    const FeedbackReport report = classifyMessage(mail, {"leave-news@shop.example"});
    EXPECT_EQ(report.kind, FeedbackKind::Unsubscribe);
    ASSERT_EQ(report.recipients.size(), 1U);
    EXPECT_EQ(report.recipients[0].address, "fay@example.com");
}

TEST(FeedbackReport, ReasonForTheNote) {
    const FeedbackReport report =
        classifyMessage(readFileBytes(dataPath("delivery/feedback/mail/dsn_hard.eml")));
    ASSERT_EQ(report.recipients.size(), 2U);
    EXPECT_EQ(report.recipients[0].reason(), "5.1.1 user unknown");
    EXPECT_EQ(report.recipients[1].reason(), "5.2.2 mailbox full");
    EXPECT_EQ(report.originalMessageId, "run1.0001@shop.example");
}

TEST(MailSources, MboxMessagesComeBackUnquoted) {
    std::vector<std::string> messages;
    forEachMboxMessage(
        "From a Sat\nSubject: one\n\n>From here\n>>From there\n\nFrom b Sun\n"
        "Subject: two\n\nx\n",
        [&messages](std::size_t, std::string_view bytes) { messages.emplace_back(bytes); });
    EXPECT_EQ(messages, (std::vector<std::string>{"Subject: one\n\nFrom here\n>From there\n",
                                                  "Subject: two\n\nx\n"}));
}

} // namespace
} // namespace velmora::delivery
