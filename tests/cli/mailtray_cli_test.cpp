#include "cli/cli_test_support.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace velmora::cli {

using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::TempDir;
using testing_support::waitUntil;
using testing_support::writeFileBytes;

namespace {

// A session with three contacts, all in the Mailtray, and the given method.
std::string preparedSession(const TempDir& dir, std::int32_t method, const std::string& client) {
    const std::string path = dir.file("s.qmz");
    store::Session s;
    s.resetToNew();
    store::SessionSettings settings = s.settings();
    settings.deliveryMethod = method;
    settings.fromAddress = "me@x.org";
    settings.clientPath = client;
    s.setSettings(settings);
    for (const char* e : {"a@x.org", "b&c@x.org", "d\"; touch pwned; \"@x.org"}) {
        store::NewContact c;
        c.email = e;
        const auto slot = s.createContact(c, "01/01/2026");
        store::Contact entry = s.contact(slot);
        entry.id = slot;
        s.addMailtrayEntry(entry);
    }
    std::string error;
    EXPECT_TRUE(writeSessionFile(s, path, error)) << error;
    return path;
}

void writeScript(const std::string& path, const std::string& body) {
    writeFileBytes(path, "#!/bin/sh\n" + body);
    ::chmod(path.c_str(), 0755);
}

// The recording program writes its arguments, one per line, when it runs.
std::string waitForFile(const std::string& path) {
    waitUntil(
        std::chrono::seconds(5), [&path] { return std::filesystem::exists(path + ".done"); },
        std::chrono::milliseconds(50));
    return readFileBytes(path);
}

class PathGuard {
public:
    explicit PathGuard(const std::string& dir) : old_(std::getenv("PATH")) {
        ::setenv("PATH", (dir + ":" + old_).c_str(), 1);
    }
    ~PathGuard() { ::setenv("PATH", old_.c_str(), 1); }

private:
    std::string old_;
};

} // namespace

TEST(MailtrayCli, QueueAddAllExportAndClear) {
    TempDir dir;
    const std::string session = dir.file("s.qmz");
    runCli({"session", "new", session});
    writeFileBytes(dir.file("list.txt"), "a@x.org\nb@x.org\n");
    runCli({"import-addresses", session, dir.file("list.txt")});

    auto run = runCli({"queue", "add-all", session});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Added 2, Mailtray holds 2.\n");
    EXPECT_EQ(runCli({"queue", "add-all", session}).out, "Added 0, Mailtray holds 2.\n");

    run = runCli({"queue", "export", session, dir.file("out")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFileBytes(dir.file("out.txt")), "a@x.org\r\nb@x.org\r\n");
    EXPECT_EQ(store::readSessionFile(session).session.contact(1).timesContacted, 0);

    run = runCli({"queue", "export", session, dir.file("out.txt"), "--mark-contacted"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const store::SessionReadResult read = store::readSessionFile(session);
    EXPECT_EQ(read.session.contact(2).lastContacted, "12/07/2026");
    EXPECT_EQ(read.session.mailtrayEntry(2).timesContacted, 1);

    ASSERT_EQ(runCli({"queue", "clear", session}).exitCode, 0);
    EXPECT_EQ(store::readSessionFile(session).session.mailtrayCount(), 0);
    EXPECT_EQ(store::readSessionFile(session).session.contactCount(), 2);
}

TEST(MailtrayCli, HandoffRefusesWithoutAMailClientMethod) {
    TempDir dir;
    auto run = runCli({"handoff", preparedSession(dir, 0, "")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "You must select a delivery method from the server settings window before "
                       "you can compose and send emails.\n");
    run = runCli({"handoff", preparedSession(dir, 1, "")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("mailtray send"), std::string::npos);
}

TEST(MailtrayCli, CustomClientGetsTwoArgumentsWhateverTheAddressesHold) {
    TempDir dir;
    const std::string record = dir.file("args");
    writeScript(dir.file("client"), "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record +
                                        "'\ntouch '" + record + ".done'\n");
    const std::string session = preparedSession(dir, 3, dir.file("client"));
    auto run = runCli({"handoff", session});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(waitForFile(record),
              "-compose\nto='me@x.org',bcc='a@x.org,b&c@x.org,d\"; touch pwned; \"@x.org'\n");
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    const store::SessionReadResult read = store::readSessionFile(session);
    EXPECT_EQ(read.session.contact(3).timesContacted, 1);
}

TEST(MailtrayCli, DefaultClientGetsTheEncodedLinkThroughXdgOpen) {
    TempDir dir;
    const std::string record = dir.file("url");
    writeScript(dir.file("xdg-open"),
                "printf '%s' \"$1\" > '" + record + "'\ntouch '" + record + ".done'\n");
    PathGuard path(dir.path());
    auto run = runCli({"handoff", preparedSession(dir, 2, "")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(waitForFile(record),
              "mailto:me@x.org?bcc=a@x.org,b%26c@x.org,d%22;%20touch%20pwned;%20%22@x.org");
}

TEST(MailtrayCli, AClientThatCannotStartIsReportedButTheStampsAreKept) {
    TempDir dir;
    const std::string session = preparedSession(dir, 3, dir.file("no-such-client"));
    auto run = runCli({"handoff", session});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "The mail client \"" + dir.file("no-such-client") + "\" could not be started.\n");
    EXPECT_EQ(store::readSessionFile(session).session.contact(1).timesContacted, 1);
}

} // namespace velmora::cli
