#include "cli/cli_test_support.h"
#include "store/counted_string.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::TempDir;
using testing_support::writeFileBytes;

TEST(ContactsCli, ImportAddsNewAddressesAndCountsKnownOnes) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
    writeFileBytes(dir.file("list.txt"), "a@x.org, b@x.org\r\nA@X.org\r\n\r\nc@x.org");
    auto run = runCli({"import-addresses", session, dir.file("list.txt"), "--status", "customers"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Added 3, skipped 1.\n");
    SessionReadResult read = readSessionFile(session);
    ASSERT_EQ(read.session.contactCount(), 3);
    EXPECT_EQ(read.session.contact(3).email, "c@x.org");
    EXPECT_EQ(read.session.contact(3).status, 2);
    EXPECT_EQ(read.session.contact(3).dateAdded, "12/07/2026");

    run = runCli({"import-addresses", session, dir.file("list.txt")});
    EXPECT_EQ(run.out, "Added 0, skipped 4.\n");
}

TEST(ContactsCli, ImportRefusesAMissingGroupFileOrStatus) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    runCli({"session", "new", session});
    const std::string before = readFileBytes(session);
    writeFileBytes(dir.file("list.txt"), "a@x.org");
    auto run = runCli({"import-addresses", session, dir.file("list.txt"), "--group", "2"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "The session has no campaign group 2.\n");
    run = runCli({"import-addresses", session, dir.file("none.txt")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(
        runCli({"import-addresses", session, dir.file("list.txt"), "--status", "vip"}).exitCode, 2);
    EXPECT_EQ(readFileBytes(session), before);
}

TEST(ContactsCli, DedupePrintsTheLinesAndSaves) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    runCli({"session", "new", session});
    writeFileBytes(dir.file("list.txt"), "a@x.org\nb@x.org\n");
    runCli({"import-addresses", session, dir.file("list.txt")});
    auto run = runCli({"dedupe", session});
    EXPECT_EQ(run.out, "No duplicates found.\n");

    // Duplicates can only come from a file or from edits: copy the rich golden
    // session, whose contacts are distinct, and add a clash by editing bytes.
    const std::string copy = dir.file("rich.qmz");
    ASSERT_EQ(runCli({"session", "copy", dataPath("rich_session.qmz"), copy}).exitCode, 0);
    std::string bytes = readFileBytes(copy);
    const std::string bob = testing_support::Bytes().str(rot13Text("Bob@Example.org")).bytes();
    const std::string ann = testing_support::Bytes().str(rot13Text("ann@example.org")).bytes();
    const auto at = bytes.find(bob);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, bob.size(), ann);
    writeFileBytes(copy, bytes);
    run = runCli({"dedupe", copy});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "ann@example.org\nRemoved 1 duplicate records.\n");
    EXPECT_EQ(readSessionFile(copy).session.contact(2).status, -999);
}

TEST(ContactsCli, UnsubscribeSetsDoNotContactAndCountsUnknownAddresses) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
    writeFileBytes(dir.file("list.txt"), "a@x.org\r\nb@x.org\r\nc@x.org\r\nB@X.org");
    ASSERT_EQ(runCli({"import-addresses", session, dir.file("list.txt"), "--status", "customers"})
                  .exitCode,
              0);
    ASSERT_EQ(runCli({"import-addresses", session, dir.file("list.txt"), "--status", "prospects"})
                  .exitCode,
              0);

    auto run = runCli({"unsubscribe", session, " A@x.org ", "nobody@x.org", "a@x.org"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Unsubscribed 1, unknown 1.\n");
    SessionReadResult read = readSessionFile(session);
    EXPECT_EQ(read.session.contact(1).status, -1);
    EXPECT_EQ(read.session.contact(1).previousStatus, 2); // as Set Status remembers it

    // A file of the unsubscribe mails' senders; a contact already unsubscribed
    // keeps the status it remembers.
    writeFileBytes(dir.file("requests.txt"),
                   "Bee <b@x.org>\r\n\r\na@x.org\nunknown@y.org\r\nc@x.org\r\n");
    run = runCli({"unsubscribe", session, "--file", dir.file("requests.txt")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Unsubscribed 3, unknown 1.\n");
    read = readSessionFile(session);
    for (std::int32_t slot = 1; slot <= read.session.contactCount(); ++slot) {
        EXPECT_EQ(read.session.contact(slot).status, -1) << slot;
        EXPECT_EQ(read.session.contact(slot).previousStatus, 2) << slot;
    }

    const std::string before = readFileBytes(session);
    EXPECT_EQ(runCli({"unsubscribe", session}).exitCode, 2);
    EXPECT_EQ(
        runCli({"unsubscribe", session, "a@x.org", "--file", dir.file("requests.txt")}).exitCode,
        2);
    EXPECT_EQ(runCli({"unsubscribe", session, "--file", dir.file("none.txt")}).exitCode, 1);
    EXPECT_EQ(readFileBytes(session), before);
}
