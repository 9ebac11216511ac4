#include "cli/cli_test_support.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmora::cli {

using nlohmann::json;
using testing_support::dataPath;
using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::TempDir;

TEST(SessionCli, NewWritesAnEmptySessionAndRefusesToReplaceAFile) {
    TempDir dir;
    const std::string path = dir.file("s.qmz");
    auto run = runCli({"session", "new", path});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFileBytes(path), readFileBytes(dataPath("new_session.qmz")));

    run = runCli({"session", "new", path});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("already exists"), std::string::npos);
    EXPECT_EQ(runCli({"session", "new", path, "--force"}).exitCode, 0);
}

TEST(SessionCli, ShowListsEverySlotAndHidesThePassword) {
    auto run = runCli({"session", "show", dataPath("rich_session.qmz")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json shown = json::parse(run.out);
    EXPECT_EQ(shown["settings"]["password"], "********");
    EXPECT_EQ(shown["settings"]["smtpPort"], 587);
    EXPECT_EQ(shown["settings"]["fromAddress"], "Ann Lee <ann@example.org>");
    ASSERT_EQ(shown["groups"].size(), 3u);
    EXPECT_EQ(shown["groups"][2]["slot"], 3);
    EXPECT_EQ(shown["groups"][2]["id"], 7);
    ASSERT_EQ(shown["contacts"].size(), 4u); // the Deleted contact too
    EXPECT_EQ(shown["contacts"][2]["status"], -999);
    EXPECT_EQ(shown["contacts"][0]["address"], "1 Main St\r\nSpringfield");
    EXPECT_EQ(shown["contacts"][3]["name"], "Zoë Ångström");
    EXPECT_EQ(shown["mailtray"][1]["slot"], 2);
    EXPECT_EQ(shown["mailtray"][1]["id"], 4);

    run = runCli({"session", "show", dataPath("rich_session.qmz"), "--with-password"});
    EXPECT_EQ(json::parse(run.out)["settings"]["password"], "S3cret!pass");
}

TEST(SessionCli, ShowOfAnEmptyPasswordStaysEmpty) {
    auto run = runCli({"session", "show", dataPath("new_session.qmz")});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(json::parse(run.out)["settings"]["password"], "");
}

TEST(SessionCli, CopyWritesTheSameSession) {
    TempDir dir;
    auto run = runCli({"session", "copy", dataPath("rich_session.qmz"), dir.file("c.qmz")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(readFileBytes(dir.file("c.qmz")), readFileBytes(dataPath("rich_session.qmz")));
}

TEST(SessionCli, StatsCountsContactsByStatusGroupsAndTheMailtray) {
    const std::string path = dataPath("rich_session.qmz");
    auto run = runCli({"session", "stats", path});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json expected = {{"contacts",
                            {{"total", 4},
                             {"live", 3},
                             {"subscribers", 1},
                             {"prospects", 0},
                             {"customers", 1},
                             {"doNotContact", 1},
                             {"deleted", 1},
                             {"other", 0}}},
                           {"groups", 3},
                           {"mailtray", 2},
                           {"fileBytes", std::filesystem::file_size(path)}};
    EXPECT_EQ(json::parse(run.out), expected);

    TempDir dir;
    testing_support::writeFileBytes(dir.file("cut.qmz"), readFileBytes(path).substr(0, 500));
    run = runCli({"session", "stats", dir.file("cut.qmz")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.empty());
}

TEST(SessionCli, ForeignMissingAndDamagedFilesFailWithTheWindowsTexts) {
    TempDir dir;
    testing_support::writeFileBytes(dir.file("x.txt"), "hello");
    auto run = runCli({"session", "show", dir.file("x.txt")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "Cannot open session file \"" + dir.file("x.txt") + "\" - header mismatch.\n");
    EXPECT_TRUE(run.out.empty());

    run = runCli({"session", "show", dir.file("none.qmz")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Cannot open session file \"" + dir.file("none.qmz") +
                           "\" - No such file or directory\n");

    const std::string golden = readFileBytes(dataPath("rich_session.qmz"));
    testing_support::writeFileBytes(dir.file("cut.qmz"), golden.substr(0, 500));
    run = runCli({"session", "copy", dir.file("cut.qmz"), dir.file("out.qmz")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.qmz")));
    run = runCli({"session", "copy", dir.file("cut.qmz"), dir.file("out.qmz"), "--rescue"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(store::readSessionFile(dir.file("out.qmz")).status, store::SessionReadStatus::Loaded);
}

TEST(SessionCli, UsageErrorsExitWithTwo) {
    EXPECT_EQ(runCli({}).exitCode, 2);
    EXPECT_EQ(runCli({"session"}).exitCode, 2);
    EXPECT_EQ(runCli({"session", "show"}).exitCode, 2);
    EXPECT_EQ(runCli({"nonsense"}).exitCode, 2);
    auto help = runCli({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("session"), std::string::npos);
}

} // namespace velmora::cli
