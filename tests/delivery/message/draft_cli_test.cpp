#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmora::delivery {

using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

using testing_support::CliRun;

// The clock of the golden messages: 07:05:09 on Monday, 7 December 2026, +0100.
CliRun mailtray(const std::vector<std::string>& args) {
    return testing_support::runCli(args, {2026, 12, 7, 7, 5, 9, 1, 60, 0});
}

} // namespace

TEST(DraftCli, NewWritesADraftThatShowPrintsAsJson) {
    TempDir dir;
    writeFileBytes(dir.file("body.html"), "<p>Hello</p>\r\n");
    CliRun r =
        mailtray({"draft", "new", dir.file("offer"), "--from", "Ann <ann@example.org>", "--subject",
                  "Offer", "--body-file", dir.file("body.html"), "--attach", "/tmp/a.pdf"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Email draft successfully saved to \"" + dir.file("offer.eml") + "\"\n");

    r = mailtray({"draft", "show", dir.file("offer.eml")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json shown = nlohmann::json::parse(r.out);
    EXPECT_EQ(shown["fromText"], "Ann <ann@example.org>");
    EXPECT_EQ(shown["subject"], "Offer");
    EXPECT_EQ(shown["body"], "<p>Hello</p>\r\n");
    EXPECT_EQ(shown["attachment1"], "/tmp/a.pdf");
    EXPECT_EQ(shown["attachment2"], "");

    r = mailtray({"draft", "new", dir.file("offer.eml")});
    EXPECT_EQ(r.exitCode, 1) << "an existing draft is kept without --force";
    EXPECT_EQ(
        mailtray({"draft", "new", dir.file("x"), "--attach", "a", "--attach", "b", "--attach", "c"})
            .exitCode,
        1);
}

TEST(DraftCli, ShowRefusesForeignAndDamagedFiles) {
    TempDir dir;
    CliRun r = mailtray({"draft", "show", dataPath("new_session.qmz")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "\"" + dataPath("new_session.qmz") + "\" is not an email draft file.\n");
    EXPECT_EQ(r.out, "");

    const std::string whole = readFileBytes(dataPath("delivery/draft.eml"));
    writeFileBytes(dir.file("cut.eml"), whole.substr(0, whole.size() - 3));
    r = mailtray({"draft", "show", dir.file("cut.eml")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("is damaged"), std::string::npos);

    r = mailtray({"draft", "show", dir.file("missing.eml")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Cannot open email draft"), std::string::npos);
}

TEST(DraftCli, MessageWritesTheBytesSentAfter354) {
    TempDir dir;
    ASSERT_EQ(mailtray({"session", "new", dir.file("s.qmz")}).exitCode, 0);
    writeFileBytes(dir.file("body.txt"), "Dear customer,\r\nour spring offer.\r\n\r\nKind regards");
    ASSERT_EQ(mailtray({"draft", "new", dir.file("d.eml"), "--from", "Ann Lee <ann@example.org>",
                        "--subject", "Spring offer", "--body-file", dir.file("body.txt")})
                  .exitCode,
              0);
    // The same message the builder's golden file holds.
    CliRun r = mailtray({"message", dir.file("s.qmz"), dir.file("d.eml"), "--to", "bob@example.net",
                         "--format", "plain"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, readFileBytes(dataPath("delivery/message_plain.txt")));

    // A new session's format is HTML.
    r = mailtray({"message", dir.file("s.qmz"), dir.file("d.eml"), "--to", "bob@example.net"});
    EXPECT_NE(r.out.find("Content-Type: text/html; charset=us-ascii\r\n"), std::string::npos);

    EXPECT_EQ(mailtray({"message", dir.file("s.qmz"), dir.file("d.eml"), "--to", "b@x", "--format",
                        "rtf"})
                  .exitCode,
              2);
    EXPECT_EQ(mailtray({"message", dir.file("d.eml"), dir.file("d.eml"), "--to", "b@x"}).exitCode,
              1);
}

TEST(DraftCli, MessageFillsTheFieldsFromTheContactWithTheAddress) {
    TempDir dir;
    store::Session session;
    store::NewContact fields;
    fields.email = "Jurgen@Example.net";
    fields.name = "Jürgen Müller";
    fields.company = "Müller & Söhne <GmbH>";
    session.createContact(fields, "01/01/2026");
    store::SessionSettings settings = session.settings();
    settings.extensions.set("unsubscribeUrl", "https://example.org/out?e={{email}}");
    session.setSettings(settings);
    std::string error;
    ASSERT_TRUE(writeSessionFile(session, dir.file("s.qmz"), error)) << error;
    writeFileBytes(dir.file("body.html"),
                   "<p>Dear {{firstName|customer}},</p>\r\n<p>an offer for {{company|you}}: "
                   "<a href=\"https://example.org/offer\">see it</a>.</p>\r\n"
                   "<p><a href=\"{{unsubscribeUrl}}\">Unsubscribe</a></p>");
    ASSERT_EQ(mailtray({"draft", "new", dir.file("d.eml"), "--from", "Ann Lee <ann@example.org>",
                        "--subject", "{{name|Customer}}, our spring offer", "--body-file",
                        dir.file("body.html")})
                  .exitCode,
              0);
    // The contact is found by its address in any letter case.
    CliRun r = mailtray({"message", dir.file("s.qmz"), dir.file("d.eml"), "--to",
                         "jurgen@example.net", "--format", "html"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, readFileBytes(dataPath("delivery/message_merge_fields.txt")));

    // An address without a contact gets the fallbacks.
    r = mailtray({"message", dir.file("s.qmz"), dir.file("d.eml"), "--to", "nobody@example.net"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Subject: Customer, our spring offer\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("Dear customer,"), std::string::npos);
    EXPECT_NE(r.out.find("https://example.org/out?e=nobody%40example.net"), std::string::npos);

    // An unknown field or a missing attachment writes nothing.
    ASSERT_EQ(mailtray({"draft", "new", dir.file("bad.eml"), "--force", "--subject", "{{nickname}}",
                        "--body-file", dir.file("body.html")})
                  .exitCode,
              0);
    r = mailtray({"message", dir.file("s.qmz"), dir.file("bad.eml"), "--to", "b@x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "The personal field \"{{nickname}}\" is unknown. Nothing was sent.\n");
    ASSERT_EQ(
        mailtray({"draft", "new", dir.file("att.eml"), "--force", "--attach", dir.file("gone.pdf")})
            .exitCode,
        0);
    r = mailtray({"message", dir.file("s.qmz"), dir.file("att.eml"), "--to", "b@x"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Attachment \"" + dir.file("gone.pdf") +
                         "\" cannot be read - No such file or directory. Nothing was sent.\n");
}

} // namespace velmora::delivery
