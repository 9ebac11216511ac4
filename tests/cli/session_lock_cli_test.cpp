// Two programs on one session file: the lock is taken by real mailtray
// processes, so these tests run the built program, not the in-process runner.
#include "cli/cli_test_support.h"
#include "store/session_file.h"
#include "store/session_lock.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace velmora::cli {

using testing_support::ChildProcess;
using testing_support::mailtrayProgram;
using testing_support::runCli;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

std::string addressList(const std::string& prefix, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += prefix + std::to_string(i) + "@example.org\r\n";
    }
    return text;
}

std::int32_t contactsIn(const std::string& path) {
    const store::SessionReadResult read = store::readSessionFile(path);
    EXPECT_EQ(read.status, store::SessionReadStatus::Loaded) << read.reason;
    return read.session.contactCount();
}

} // namespace

TEST(SessionLockCli, TwoImportsAtOnceBothLandWhenTheyWait) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
    writeFileBytes(dir.file("a.txt"), addressList("a", 20000));
    writeFileBytes(dir.file("b.txt"), addressList("b", 20000));
    ChildProcess first(
        {mailtrayProgram(), "import-addresses", session, dir.file("a.txt"), "--wait", "120"});
    ChildProcess second(
        {mailtrayProgram(), "import-addresses", session, dir.file("b.txt"), "--wait", "120"});
    EXPECT_EQ(first.wait(), 0) << first.err();
    EXPECT_EQ(second.wait(), 0) << second.err();
    EXPECT_EQ(first.out(), "Added 20000, skipped 0.\n");
    EXPECT_EQ(second.out(), "Added 20000, skipped 0.\n");
    EXPECT_EQ(contactsIn(session), 40000);
}

TEST(SessionLockCli, EveryChangingCommandIsRefusedWhileAnotherProgramHoldsTheFile) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
    writeFileBytes(dir.file("a.txt"), "ann@example.org\n");
    ASSERT_EQ(runCli({"draft", "new", dir.file("d.qmd")}).exitCode, 0);
    const std::string refusal = "Session file \"" + session +
                                "\" is in use by another Velmora Mailtray (process " +
                                std::to_string(::getpid()) + ").\n";

    // Held by this test process.
    store::SessionLock held;
    ASSERT_EQ(held.acquire(session), store::SessionLock::Outcome::Acquired);
    const std::vector<std::vector<std::string>> changing = {
        {"import-addresses", session, dir.file("a.txt")},
        {"dedupe", session},
        {"queue", "add-all", session},
        {"queue", "clear", session},
        {"queue", "export", session, dir.file("out.txt"), "--mark-contacted"},
        {"handoff", session},
        {"send", session, dir.file("d.qmd"), "--recipients", "mailtray"},
        {"session", "new", session, "--force"},
        {"session", "copy", dir.file("none.qmz"), session},
        {"settings", "set", session, "smtpPort=2525"},
        {"import-contacts", session, dir.file("a.txt"), "--format", "csv", "--map", "1=email"},
    };
    for (std::vector<std::string> args : changing) {
        args.insert(args.begin(), mailtrayProgram());
        ChildProcess run(args);
        SCOPED_TRACE(args[1]);
        EXPECT_EQ(run.wait(), 1);
        EXPECT_EQ(run.err(), refusal);
    }
    // Reading needs no lock; neither does a dry run.
    const std::vector<std::vector<std::string>> reading = {
        {"session", "show", session},
        {"list", session},
        {"import-addresses", session, dir.file("a.txt"), "--dry-run"},
        {"dedupe", session, "--dry-run"},
        {"queue", "export", session, dir.file("out.txt")},
        {"settings", "show", session},
        {"import-contacts", session, dir.file("a.txt"), "--format", "csv", "--map", "1=email",
         "--dry-run"},
        {"export-contacts", session, dir.file("out.csv")},
    };
    for (std::vector<std::string> args : reading) {
        args.insert(args.begin(), mailtrayProgram());
        ChildProcess run(args);
        SCOPED_TRACE(args[1]);
        EXPECT_EQ(run.wait(), 0) << run.err();
    }
    EXPECT_EQ(contactsIn(session), 0);

    // --wait takes it as soon as the holder lets go.
    ChildProcess waiting(
        {mailtrayProgram(), "import-addresses", session, dir.file("a.txt"), "--wait", "120"});
    held.release();
    EXPECT_EQ(waiting.wait(), 0) << waiting.err();
    EXPECT_EQ(contactsIn(session), 1);
}

TEST(SessionLockCli, WaitTakesANumberOfSeconds) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    ASSERT_EQ(runCli({"session", "new", session}).exitCode, 0);
    for (const char* bad : {"abc", "-1", "1s", "nan"}) {
        const auto run = runCli({"dedupe", session, "--wait", bad});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_NE(run.err.find(std::string("--wait: not a number of seconds: ") + bad),
                  std::string::npos)
            << run.err;
    }
    // Far past a week the deadline would overflow and the wait end at once.
    for (const char* huge : {"604801", "9.3e9", "1e300"}) {
        const auto run = runCli({"dedupe", session, "--wait", huge});
        EXPECT_EQ(run.exitCode, 2) << huge;
        EXPECT_NE(run.err.find(std::string("--wait: more than a week (604800 seconds): ") + huge),
                  std::string::npos)
            << run.err;
    }
    EXPECT_EQ(runCli({"dedupe", session, "--wait", "0.5"}).exitCode, 0);
    EXPECT_EQ(runCli({"dedupe", session, "--wait", "604800"}).exitCode, 0);
}

} // namespace velmora::cli
