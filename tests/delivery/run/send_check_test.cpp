// The check before a send: one message built to trip each rule.
#include "cli/cli_context.h"
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/run/send_check.h"
#include "delivery/run/send_run.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>

namespace velmora::delivery {

namespace {

using testing_support::TempDir;

struct CheckFixture {
    store::FixedClock clock{{2026, 12, 7, 9, 0, 0, 4, 0, 0}};
    MimeTypesFile types{"/nonexistent"};
    store::Session session;
    MessageDraft draft;
    MessageCheckRequest request;

    CheckFixture() {
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "Winter offer";
        draft.body = "<p>Hello</p>";
        // Four subscribers, the second and fourth without a company.
        for (const char* email :
             {"a@example.net", "b@example.net", "c@example.net", "d@example.net"}) {
            store::NewContact fields;
            fields.email = email;
            fields.company = email[0] == 'b' || email[0] == 'd' ? "" : "Acme";
            const std::int32_t slot = session.createContact(fields, "01/01/2026");
            request.recipients.push_back({slot, email});
        }
    }
    MessageCheck check() {
        MessageEnvironment environment{clock, types, {}};
        environment.randomBytes = testing_support::countingRandomBytes();
        return checkMessage(session, draft, request, environment);
    }
};

std::vector<std::string> textsOf(const MessageCheck& check, CheckLevel level) {
    std::vector<std::string> texts;
    for (const CheckFinding& finding : check.findings) {
        if (finding.level == level) {
            texts.push_back(finding.kind + ": " + finding.text);
        }
    }
    return texts;
}

} // namespace

TEST(SendCheck, EachRuleIsTrippedByItsOwnMessage) {
    TempDir dir;
    const std::string big = dir.file("catalogue.pdf");
    {
        std::FILE* file = std::fopen(big.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fseek(file, 12L * 1024 * 1024 - 1, SEEK_SET);
        std::fputc(0, file);
        std::fclose(file);
    }
    const struct {
        const char* name;
        std::function<void(CheckFixture&)> change;
        std::vector<std::string> warnings;
    } cases[] = {
        {"a clean message warns of nothing", [](CheckFixture&) {}, {}},
        {"a link whose text shows another host",
         [](CheckFixture& f) {
             f.draft.body = "<p><a href=\"https://login.example.com@evil.example/x\">"
                            "https://www.bank.example.com</a> <a href=\"https://example.org/a\">"
                            "www.example.org</a> <a href=\"https://x.example\">Read more</a></p>";
         },
         {"misleadingLink: The link text \"https://www.bank.example.com\" shows another address "
          "than the link goes to (\"https://login.example.com@evil.example/x\"): filters take "
          "that for phishing."}},
        {"an http: link, named once",
         [](CheckFixture& f) {
             f.draft.body = "<a href=\"http://example.org/a\">one</a><a "
                            "href=\"http://example.org/a\">two</a>";
         },
         {"httpLink: The link \"http://example.org/a\" is not encrypted (http:); use https: "
          "where the site offers it."}},
        {"an image without alt, and one with",
         [](CheckFixture& f) {
             f.draft.body = "<img src=\"https://example.org/logo.png\"><img src=\"b.png\" "
                            "alt=\"Our shop\">";
         },
         {"imageWithoutAlt: The image \"https://example.org/logo.png\" has no alternative text "
          "(alt): readers who do not load images see nothing in its place."}},
        {"a field half the contacts lack",
         [](CheckFixture& f) { f.draft.body = "<p>Dear {{company|friend}}, {{COMPANY}}</p>"; },
         {"missingField: The field \"{{company}}\" is empty for 2 of 4 recipients "
          "(b@example.net, d@example.net): they get \"friend\" instead."}},
        {"a field without fallback",
         [](CheckFixture& f) { f.draft.subject = "For {{name}}"; },
         {"missingField: The field \"{{name}}\" is empty for 4 of 4 recipients (a@example.net, "
          "b@example.net, c@example.net, ...): the field is left out for them (no fallback: "
          "\"{{name|...}}\" gives one)."}},
        {"a 12 MB attachment",
         [&big](CheckFixture& f) { f.draft.attachment1 = big; },
         {"size: The message is 16.5 MB, over 10 MB: many providers refuse or cut messages "
          "that large."}},
        {"a message over the relay's SIZE",
         [](CheckFixture& f) { f.request.relaySizeLimit = 100; },
         {}}, // the text names the exact size: checked below
        {"recipients to leave out",
         [](CheckFixture& f) {
             f.session.modifyContact(f.request.recipients[2].slot, [](store::Contact& c) {
                 c.status = code(store::ContactStatus::DoNotContact);
             });
             f.request.recipients.push_back({-1, "no-domain"});
             f.request.recipients.push_back({1, " A@Example.net"});
         },
         {"doNotContact: 1 recipient has the status Do Not Contact: c@example.net.",
          "refusedAddress: 1 recipient address no server will take: no-domain.",
          "duplicate: 1 address comes more than once among the recipients: a@example.net (2 "
          "times)."}},
        {"a sender outside the login's domain",
         [](CheckFixture& f) {
             store::SessionSettings settings = f.session.settings();
             settings.requiresAuth = 1;
             settings.userName = "ann@mail.example.com";
             f.session.setSettings(settings);
         },
         {"senderDomain: The sender's domain \"example.org\" is not the relay login's domain "
          "\"mail.example.com\": providers then rewrite the sender or refuse the message."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CheckFixture f;
        c.change(f);
        const MessageCheck check = f.check();
        EXPECT_EQ(textsOf(check, CheckLevel::Error), std::vector<std::string>{});
        std::vector<std::string> warnings = textsOf(check, CheckLevel::Warning);
        if (f.request.relaySizeLimit) {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0], "relaySize: The message is " +
                                       std::to_string(check.messageBytes) +
                                       " bytes, over the relay's limit of 100 bytes (its SIZE): "
                                       "the relay will refuse it.");
            continue;
        }
        EXPECT_EQ(warnings, c.warnings);
        // A list run's message names its List-Unsubscribe address.
        EXPECT_NE(std::find(check.findings.begin(), check.findings.end(),
                            CheckFinding{CheckLevel::Note, "listUnsubscribe",
                                         "List-Unsubscribe: <mailto:ann@example.org?subject="
                                         "unsubscribe>"}),
                  check.findings.end());
    }
}

TEST(SendCheck, ErrorsAreTheOnesASendStopsOnAndAllAreListed) {
    TempDir dir;
    testing_support::writeFileBytes(dir.file("Acme.pdf"), "invoice");
    CheckFixture f;
    f.draft.subject = "Hi {{surname}}";
    f.draft.attachment1 = dir.file("gone.pdf");
    f.draft.attachment2 = dir.file("{{company|none}}.pdf");
    const MessageCheck check = f.check();
    const std::string missing = "No such file or directory.";
    EXPECT_EQ(
        textsOf(check, CheckLevel::Error),
        (std::vector<std::string>{"blocked: The personal field \"{{surname}}\" is unknown.",
                                  "blocked: Attachment \"" + dir.file("gone.pdf") +
                                      "\" cannot be read - " + missing,
                                  // b and d have no company: their file is "none.pdf", read once.
                                  "personalAttachment: For b@example.net: Attachment \"" +
                                      dir.file("none.pdf") + "\" cannot be read - " + missing,
                                  "personalAttachment: For d@example.net: Attachment \"" +
                                      dir.file("none.pdf") + "\" cannot be read - " + missing}));
    EXPECT_TRUE(check.hasErrors());
    EXPECT_EQ(messageCheckLines(check).front(),
              "Error: The personal field \"{{surname}}\" is unknown.");
}

TEST(SendCheck, AFieldValueNeverLeadsAnAttachmentIntoAnotherFolder) {
    PersonalValues values;
    values.email = "x@example.net";
    values.company = "../secrets";
    std::string problem;
    EXPECT_EQ(personalAttachmentPath("invoices/{{company}}.pdf", values, &problem), std::nullopt);
    EXPECT_EQ(problem, "Attachment \"invoices/{{company}}.pdf\" for x@example.net: the field "
                       "\"{{company}}\" holds \"../secrets\", which is not a file name.");
    values.company = "";
    EXPECT_EQ(personalAttachmentPath("invoices/{{company|misc}}.pdf", values, nullptr),
              "invoices/misc.pdf");
}

TEST(SendCheck, AnnouncedSizeLimitIsReadFromTheEhloKeywords) {
    EXPECT_EQ(announcedSizeLimit({"PIPELINING", "SIZE 35882577", "8BITMIME"}), 35882577u);
    EXPECT_EQ(announcedSizeLimit({"size 1000"}), 1000u);
    EXPECT_EQ(announcedSizeLimit({"SIZE"}), std::nullopt);
    EXPECT_EQ(announcedSizeLimit({"SIZE 0"}), std::nullopt);
    EXPECT_EQ(announcedSizeLimit({"SIZEX 10", "SIZE ten"}), std::nullopt);
}

TEST(SpamScore, TheTestModeReportIsRead) {
    // As "spamassassin -t" appends it; the message before it quotes a report
    // of its own, which must not be taken for the real one.
    const std::string output =
        "Subject: hi\r\n\r\nContent analysis details:   (99.0 points, 1.0 required)\r\n"
        "Spam detection software, running on the system \"vm\",\n"
        "has NOT identified this incoming email as spam.\n\n"
        "Content analysis details:   (3.3 points, 5.0 required)\n\n"
        " pts rule name              description\n"
        "---- ---------------------- --------------------------------------------------\n"
        "-0.0 NO_RECEIVED            Informational: message has no Received headers\n"
        " 1.7 HTML_IMAGE_ONLY_04     BODY: HTML: images with 0-400 bytes of words\n"
        " 0.0 T_PDS_NO_FULL_NAME_SPOOFED_URL HTML message short, T_SPOOFED_URL and\n"
        "                            T_KHOP_NO_FULL_NAME\n"
        "\n";
    const SpamScore score = readSpamReport(output);
    ASSERT_TRUE(score.scored) << score.error;
    EXPECT_DOUBLE_EQ(score.points, 3.3);
    EXPECT_DOUBLE_EQ(score.threshold, 5.0);
    EXPECT_EQ(score.rules,
              (std::vector<SpamRule>{
                  {-0.0, "NO_RECEIVED", "Informational: message has no Received headers"},
                  {1.7, "HTML_IMAGE_ONLY_04", "BODY: HTML: images with 0-400 bytes of words"},
                  {0.0, "T_PDS_NO_FULL_NAME_SPOOFED_URL",
                   "HTML message short, T_SPOOFED_URL and T_KHOP_NO_FULL_NAME"}}));
    EXPECT_EQ(spamScoreLines(score).at(0), "Spam score 3.3 of 5.0 (below the threshold)");
    EXPECT_FALSE(readSpamReport("Subject: hi\r\n\r\nno report\r\n").scored);
}

// The one run of the real filter: it takes seconds.
TEST(SpamScore, SpamAssassinScoresTheBuiltMessage) {
    if (std::system("command -v spamassassin >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "spamassassin is not installed (scripts/setup.sh installs it)";
    }
    CheckFixture f;
    f.draft.subject = "FREE MONEY NOW";
    f.draft.body = "<p><a href=\"http://evil.example\">https://www.bank.example.com</a></p>";
    f.request.spamFilter = spamAssassinScore;
    const MessageCheck check = f.check();
    ASSERT_TRUE(check.spam.has_value());
    ASSERT_TRUE(check.spam->scored) << check.spam->error;
    EXPECT_GT(check.spam->threshold, 0.0);
    const auto hit = [&](std::string_view name) {
        return std::any_of(check.spam->rules.begin(), check.spam->rules.end(),
                           [&](const SpamRule& r) { return r.name == name; });
    };
    EXPECT_TRUE(hit("SUBJ_ALL_CAPS"));
    for (const SpamRule& rule : check.spam->rules) {
        EXPECT_FALSE(rule.description.empty()) << rule.name;
    }
}

TEST(SpamScore, AFilterNotOnPathIsNotInstalled) {
    const testing_support::ScopedEnvironment path("PATH", "/nonexistent");
    const SpamScore missing = spamAssassinScore("Subject: x\r\n\r\nx\r\n");
    EXPECT_FALSE(missing.installed);
    EXPECT_EQ(spamScoreLines(missing), std::vector<std::string>{"SpamAssassin is not installed"});
}

TEST(SendCheck, TheCheckCommandPrintsTheReportAndFailsOnErrors) {
    TempDir dir;
    store::Session session;
    for (const char* email : {"a@example.net", "b@example.net"}) {
        store::NewContact fields;
        fields.email = email;
        store::Contact entry = session.contact(session.createContact(fields, "01/01/2026"));
        session.addMailtrayEntry(entry);
    }
    std::string error;
    ASSERT_TRUE(writeSessionFile(session, dir.file("list.qmz"), error)) << error;
    MessageDraft draft;
    draft.fromText = "ann@example.org";
    draft.subject = "Offer";
    draft.body = "<p><img src=\"logo.png\"></p>";
    ASSERT_TRUE(writeDraftFile(draft, dir.file("offer.eml"), error)) << error;
    const std::vector<std::string> args{"check", dir.file("list.qmz"), dir.file("offer.eml"),
                                        "--no-spam-score"};

    testing_support::CliRun run = testing_support::runCli(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find("Warning: The image \"logo.png\" has no alternative text"), 0u)
        << run.out;
    EXPECT_NE(run.out.find("Note: The message to a@example.net is "), std::string::npos);

    std::vector<std::string> withJson = args;
    withJson.push_back("--json");
    withJson.push_back("--recipients=single:c@example.net");
    run = testing_support::runCli(withJson);
    const nlohmann::json report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["recipients"], 1);
    EXPECT_EQ(report["firstRecipient"], "c@example.net");
    EXPECT_EQ(report["findings"][0]["kind"], "imageWithoutAlt");
    EXPECT_FALSE(report.contains("spam"));

    draft.subject = "Offer for {{surname}}";
    ASSERT_TRUE(writeDraftFile(draft, dir.file("offer.eml"), error)) << error;
    run = testing_support::runCli(args);
    EXPECT_EQ(run.exitCode, cli::kExitFailed);
    EXPECT_EQ(run.out.find("Error: The personal field \"{{surname}}\" is unknown.\n"), 0u)
        << run.out;
}

} // namespace velmora::delivery
