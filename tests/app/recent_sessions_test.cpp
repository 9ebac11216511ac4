#include "app/recent_sessions.h"

#include <gtest/gtest.h>

namespace velmora::app {

namespace {

using List = std::vector<std::string>;

bool existsUnlessGone(const std::string& path) {
    return path.find("gone") == std::string::npos;
}

} // namespace

TEST(RecentSessions, NewestFirstWithoutDuplicatesUpToEight) {
    struct Case {
        const char* what;
        List before;
        std::string path;
        List after;
    };
    const List nine{"/1.qmz", "/2.qmz", "/3.qmz", "/4.qmz", "/5.qmz",
                    "/6.qmz", "/7.qmz", "/8.qmz", "/9.qmz"};
    const Case cases[] = {
        {"first entry", {}, "/a.qmz", {"/a.qmz"}},
        {"added in front", {"/a.qmz"}, "/b.qmz", {"/b.qmz", "/a.qmz"}},
        {"moved to the front",
         {"/a.qmz", "/b.qmz", "/c.qmz"},
         "/c.qmz",
         {"/c.qmz", "/a.qmz", "/b.qmz"}},
        {"already first", {"/a.qmz", "/b.qmz"}, "/a.qmz", {"/a.qmz", "/b.qmz"}},
        {"the oldest falls off",
         nine,
         "/new.qmz",
         {"/new.qmz", "/1.qmz", "/2.qmz", "/3.qmz", "/4.qmz", "/5.qmz", "/6.qmz", "/7.qmz"}},
        {"stored duplicates and blanks go",
         {"/a.qmz", "", "/a.qmz", "/b.qmz"},
         "/b.qmz",
         {"/b.qmz", "/a.qmz"}},
        {"an empty path adds nothing", {"/a.qmz"}, "", {"/a.qmz"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(withRecentSession(c.before, c.path), c.after) << c.what;
    }
}

TEST(RecentSessions, MissingFilesAreDropped) {
    EXPECT_EQ(
        existingRecentSessions({"/a.qmz", "/gone.qmz", "/b.qmz", "", "/a.qmz"}, &existsUnlessGone),
        (List{"/a.qmz", "/b.qmz"}));
    EXPECT_EQ(existingRecentSessions({"/gone1.qmz", "/gone2.qmz"}, &existsUnlessGone), List{});
}

} // namespace velmora::app
