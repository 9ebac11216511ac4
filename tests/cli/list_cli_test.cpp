#include "cli/cli_context.h"
#include "cli/cli_test_support.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmora::cli {

using testing_support::dataPath;
using testing_support::TempDir;

namespace {

struct ToolRun : testing_support::CliRun {
    nlohmann::json json() const { return nlohmann::json::parse(out); }
};

ToolRun mailtray(const std::vector<std::string>& args) {
    return {testing_support::runCli(args, store::LocalDateTime{})};
}

std::vector<int> rowSlots(const nlohmann::json& json) {
    std::vector<int> result;
    for (const auto& row : json.at("rows")) {
        result.push_back(row.at("slot").get<int>());
    }
    return result;
}

} // namespace

// rich_session.qmz: groups "Main (Default)", "Spring Fair" and one without a
// name; contacts 1 Ann (Customers, Star, Acme Ltd, two-line notes), 2 Bob
// (Subscribers), 3 deleted, 4 Zoë (Do Not Contact, Irate); two queued.
TEST(ListCommand, PrintsTheRefreshedAllEntriesListByDefault) {
    const ToolRun run = mailtray({"list", dataPath("rich_session.qmz")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json json = run.json();
    EXPECT_EQ(json.at("caption"), "All Entries");
    EXPECT_EQ(json.at("statusLine"), "Total Records: 3 - Mailtray: 2 - Contacted Today: 0");
    EXPECT_EQ(rowSlots(json), (std::vector<int>{1, 2, 4}));
    const auto& ann = json.at("rows").at(0);
    EXPECT_EQ(ann.at("icon"), 4);
    EXPECT_EQ(ann.at("email"), "ann@example.org");
    EXPECT_EQ(ann.at("name"), "Ann Lee");
    EXPECT_EQ(ann.at("lastContacted"), "03/07/2011");
    EXPECT_EQ(ann.at("notes"), "met at fair\r; call back");
    const auto& tree = json.at("tree");
    ASSERT_EQ(tree.size(), 8u); // the group without a name has no item
    EXPECT_EQ(tree.at(2),
              (nlohmann::json{{"level", 1}, {"caption", "Spring Fair"}, {"number", 2002}}));
    EXPECT_EQ(tree.at(7).at("number"), 999);
    // Written row by row, yet laid out as one dumped document.
    EXPECT_EQ(run.out, json.dump(2) + "\n");
}

TEST(ListCommand, AStatusTabShowsTagIcons) {
    const ToolRun run = mailtray({"list", dataPath("rich_session.qmz"), "--tab", "do-not-contact"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json json = run.json();
    EXPECT_EQ(json.at("caption"), "Do Not Contact");
    ASSERT_EQ(rowSlots(json), std::vector<int>{4});
    EXPECT_EQ(json.at("rows").at(0).at("icon"), 8);
    const ToolRun subscribers =
        mailtray({"list", dataPath("rich_session.qmz"), "--tab", "subscribers"});
    EXPECT_TRUE(subscribers.json().at("rows").at(0).at("icon").is_null());
}

TEST(ListCommand, SearchAndChecksApplyTheFilters) {
    const ToolRun acme = mailtray({"list", dataPath("rich_session.qmz"), "--search", "ACME"});
    ASSERT_EQ(acme.exitCode, 0) << acme.err;
    EXPECT_EQ(acme.json().at("caption"), "All Entries ( filtered )");
    EXPECT_EQ(rowSlots(acme.json()), std::vector<int>{1});
    EXPECT_EQ(acme.json().at("rows").at(0).at("notes"), "met at fair\r\ncall back");

    const ToolRun or_ =
        mailtray({"list", dataPath("rich_session.qmz"), "--check", "2002", "--check", "999"});
    EXPECT_EQ(rowSlots(or_.json()), (std::vector<int>{1, 4}));

    const ToolRun heading = mailtray({"list", dataPath("rich_session.qmz"), "--check", "101"});
    EXPECT_TRUE(heading.json().at("rows").empty());
    EXPECT_EQ(heading.out, heading.json().dump(2) + "\n");
}

TEST(ListCommand, RefusesUnknownItemsAndFilteringAStatusTab) {
    const ToolRun unknown = mailtray({"list", dataPath("rich_session.qmz"), "--check", "2003"});
    EXPECT_EQ(unknown.exitCode, kExitFailed);
    EXPECT_NE(unknown.err.find("2003"), std::string::npos);
    EXPECT_TRUE(unknown.out.empty());

    const ToolRun tab =
        mailtray({"list", dataPath("rich_session.qmz"), "--tab", "customers", "--search", "x"});
    EXPECT_EQ(tab.exitCode, kExitUsage);
    EXPECT_EQ(mailtray({"list", dataPath("rich_session.qmz"), "--tab", "nobody"}).exitCode,
              kExitUsage);

    TempDir dir;
    const ToolRun missing = mailtray({"list", dir.file("absent.qmz")});
    EXPECT_EQ(missing.exitCode, kExitFailed);
    EXPECT_NE(missing.err.find("Cannot open session file"), std::string::npos);
}

} // namespace velmora::cli
