#include "cli/cli_test_support.h"
#include "store/counted_string.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace velmora::cli {

using testing_support::ChildProcess;
using testing_support::dataPath;
using testing_support::mailtrayProgram;
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
    store::SessionReadResult read = store::readSessionFile(session);
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
    const std::string bob =
        testing_support::Bytes().str(store::rot13Text("Bob@Example.org")).bytes();
    const std::string ann =
        testing_support::Bytes().str(store::rot13Text("ann@example.org")).bytes();
    const auto at = bytes.find(bob);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, bob.size(), ann);
    writeFileBytes(copy, bytes);
    run = runCli({"dedupe", copy});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "ann@example.org\nRemoved 1 duplicate records.\n");
    EXPECT_EQ(store::readSessionFile(copy).session.contact(2).status, -999);
}

TEST(ContactFilesCli, ImportPrintsTheReportAndSavesUnlessDryRun) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
    const std::string before = readFileBytes(session);
    writeFileBytes(dir.file("in.csv"), "Correo;Nombre;Grupo\r\na@x.org;Ann;Friends\r\n"
                                       "A@x.org;Ann;\r\nnot-an-address;X;\r\n");
    const std::vector<std::string> base{"import-contacts", session,        dir.file("in.csv"),
                                        "--map",           "Correo=email", "--map",
                                        "2=name",          "--status",     "Prospects"};
    auto args = base;
    args.insert(args.end(), {"--dry-run", "--json"});
    auto run = runCli(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["added"], 1);
    EXPECT_EQ(json["skipped"], 1);
    EXPECT_EQ(json["refused"], 1);
    EXPECT_EQ(json["delimiter"], ";");
    EXPECT_EQ(json["ignoredColumns"], nlohmann::json::array({"Grupo"}));
    EXPECT_EQ(json["rows"][1]["line"], 4);
    EXPECT_EQ(json["rows"][1]["outcome"], "refused");
    EXPECT_EQ(readFileBytes(session), before);

    run = runCli(base);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "Added 1, updated 0, skipped 1 as duplicates, refused 1 as invalid.\n"
              "Ignored columns: Grupo\n"
              "Line 3: skipped A@x.org: repeats an address of an earlier row\n"
              "Line 4: refused not-an-address: \"not-an-address\" is not an address of the form "
              "local@domain\n");
    store::SessionReadResult read = store::readSessionFile(session);
    ASSERT_EQ(read.session.contactCount(), 1);
    EXPECT_EQ(read.session.contact(1).name, "Ann");
    EXPECT_EQ(read.session.contact(1).status, 1);
}

TEST(ContactFilesCli, ImportRefusesBadOptionsAndFiles) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    runCli({"session", "new", session});
    writeFileBytes(dir.file("in.csv"), "Email\na@x.org\n");
    const std::string in = dir.file("in.csv");
    struct Case {
        std::vector<std::string> extra;
        int exitCode;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"--group", "Nowhere"}, 1, "The session has no campaign group Nowhere.\n"},
        {{"--map", "Phone=telephone"}, 1, "The file has no column \"Phone\".\n"},
        {{"--encoding", "ebcdic"},
         2,
         "--encoding takes utf-8, utf-16le, utf-16be or windows-1252.\n"},
        {{"--delimiter", "||"},
         2,
         "--delimiter takes one character, \"comma\", \"semicolon\" or \"tab\".\n"},
        {{"--status", "vip"},
         2,
         "--status takes subscribers, prospects, customers or do-not-contact.\n"},
    };
    const std::string before = readFileBytes(session);
    for (const Case& c : cases) {
        std::vector<std::string> args{"import-contacts", session, in};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const auto run = runCli(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.extra.at(0);
        EXPECT_EQ(run.err, c.err);
    }
    const auto run = runCli({"import-contacts", session, dir.path()});
    EXPECT_EQ(run.err, "\"" + dir.path() + "\" is not a regular file.\n");
    EXPECT_EQ(readFileBytes(session), before);
}

TEST(ContactFilesCli, ExportWritesTheChosenListThatImportReadsBack) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    runCli({"session", "new", session});
    writeFileBytes(dir.file("in.csv"), "Email,Name,Status,Notes\na@x.org,Ann,customers,\"x,\n"
                                       "y\"\nb@x.org,Bob,prospects,\n");
    ASSERT_EQ(runCli({"import-contacts", session, dir.file("in.csv")}).exitCode, 0);

    auto run =
        runCli({"export-contacts", session, dir.file("out.csv"), "--status", "customers", "--bom"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Exported 1 contact to " + dir.file("out.csv") + ".\n");
    EXPECT_EQ(readFileBytes(dir.file("out.csv")),
              "\xEF\xBB\xBF"
              "Email Address,Contact Name,Address,Telephone,Company,Notes,Group,Status,Tag,"
              "Date Added,Last Contacted,Times Contacted\r\n"
              "a@x.org,Ann,,,,\"x,\ny\",Main (Default),Customers,,12/07/2026,never,0\r\n");

    run = runCli({"export-contacts", session, dir.file("all.csv")});
    EXPECT_EQ(run.out, "Exported 2 contacts to " + dir.file("all.csv") + ".\n");
    const std::string copy = dir.file("copy.qmz");
    runCli({"session", "new", copy});
    run = runCli({"import-contacts", copy, dir.file("all.csv")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(runCli({"list", copy}).out, runCli({"list", session}).out);

    run = runCli({"export-contacts", session, dir.file("x.csv"), "--mailtray", "--group", "1"});
    EXPECT_EQ(run.exitCode, 2);
    run = runCli({"export-contacts", session, dir.file("x.csv"), "--group", "7"});
    EXPECT_EQ(run.err, "The session has no campaign group 7.\n");
    run = runCli({"export-contacts", session, dir.file("x.csv"), "--mailtray"});
    EXPECT_EQ(run.out, "Exported 0 contacts to " + dir.file("x.csv") + ".\n");
    run = runCli({"export-contacts", session, dir.file("x.csv"), "--search", "bob"});
    EXPECT_EQ(run.out, "Exported 1 contact to " + dir.file("x.csv") + ".\n");
}

TEST(ContactFilesCli, NoFormulaGuardWritesAndReadsCellsAsTheyAre) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    runCli({"session", "new", session});
    writeFileBytes(dir.file("in.csv"), "Email,Name\na@x.org,=cmd()\n");
    ASSERT_EQ(runCli({"import-contacts", session, dir.file("in.csv")}).exitCode, 0);
    ASSERT_EQ(runCli({"export-contacts", session, dir.file("guarded.csv")}).exitCode, 0);
    ASSERT_EQ(
        runCli({"export-contacts", session, dir.file("raw.csv"), "--no-formula-guard"}).exitCode,
        0);
    EXPECT_NE(readFileBytes(dir.file("guarded.csv")).find("\na@x.org,'=cmd(),"), std::string::npos);
    EXPECT_NE(readFileBytes(dir.file("raw.csv")).find("\na@x.org,=cmd(),"), std::string::npos);

    for (const bool guard : {true, false}) {
        const std::string copy = dir.file(guard ? "a.qmz" : "b.qmz");
        runCli({"session", "new", copy});
        std::vector<std::string> args{"import-contacts", copy, dir.file("guarded.csv")};
        if (!guard) {
            args.emplace_back("--no-formula-guard");
        }
        ASSERT_EQ(runCli(args).exitCode, 0);
        const store::SessionReadResult read = store::readSessionFile(copy);
        EXPECT_EQ(read.session.contact(1).name, guard ? "=cmd()" : "'=cmd()");
    }
}

// A real signal while the import saves: the session stays as it was and no
// temporary file stays beside it, at once for a signal the program can
// catch, by the next command on the session for a SIGKILL.
TEST(ContactFilesCli, AnImportStoppedBySignalLeavesNoTemporaryFile) {
    std::string csv = "Email,Name,Notes\n";
    for (int i = 0; i < 200000; ++i) {
        csv += "p" + std::to_string(i) + "@example.org,Person " + std::to_string(i) +
               ",some notes to make the session larger\n";
    }
    for (const int signal : {SIGINT, SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        const std::string session = dir.file("s.qmz");
        ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
        writeFileBytes(dir.file("in.csv"), csv);
        const std::string before = readFileBytes(session);
        auto temporaries = [&dir] {
            int count = 0;
            DIR* d = ::opendir(dir.path().c_str());
            while (const dirent* e = ::readdir(d)) {
                count += std::string_view(e->d_name).starts_with(".s.qmz.mtsave-") ? 1 : 0;
            }
            ::closedir(d);
            return count;
        };

        // The signal goes the moment the save's temporary file is created.
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, dir.path().c_str(), IN_CREATE), 0);
        ChildProcess child({mailtrayProgram(), "import-contacts", session, dir.file("in.csv")});
        bool sent = false;
        while (!sent) {
            pollfd ready{watch, POLLIN, 0};
            ASSERT_EQ(::poll(&ready, 1, 120000), 1) << "no save began";
            alignas(inotify_event) char buffer[4096];
            const ssize_t got = ::read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && std::string_view(event->name).starts_with(".s.qmz.mtsave-")) {
                    ::kill(child.pid(), signal);
                    sent = true;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        ::close(watch);
        EXPECT_EQ(child.wait(), 128 + signal);
        EXPECT_EQ(readFileBytes(session), before);
        if (signal == SIGKILL) {
            EXPECT_EQ(temporaries(), 1);
            EXPECT_EQ(runCli({"session", "stats", session}).exitCode, 0);
        }
        EXPECT_EQ(temporaries(), 0);
        EXPECT_EQ(readFileBytes(session), before);
    }
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
    store::SessionReadResult read = store::readSessionFile(session);
    EXPECT_EQ(read.session.contact(1).status, -1);
    EXPECT_EQ(read.session.contact(1).previousStatus, 2); // as Set Status remembers it

    // A file of the unsubscribe mails' senders; a contact already unsubscribed
    // keeps the status it remembers.
    writeFileBytes(dir.file("requests.txt"),
                   "Bee <b@x.org>\r\n\r\na@x.org\nunknown@y.org\r\nc@x.org\r\n");
    run = runCli({"unsubscribe", session, "--file", dir.file("requests.txt")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Unsubscribed 3, unknown 1.\n");
    read = store::readSessionFile(session);
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

} // namespace velmora::cli
