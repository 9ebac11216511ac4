#include "store/file_names.h"

#include <gtest/gtest.h>
#include <set>

namespace velmora::store {

TEST(FileNames, PathPartsAndShownNames) {
    struct Case {
        const char* path;
        const char* lastPart;
        const char* shown;
    };
    const Case cases[] = {
        {"/home/ann/offer.pdf", "offer.pdf", "offer.pdf"},
        {"C:\\docs\\offer.pdf", "offer.pdf", "offer.pdf"},
        {"mixed/dir\\name.qmz", "name.qmz", "name.qmz"},
        {"plain", "plain", "plain"},
        {"/tmp/\"quoted\"rest", "\"quoted\"rest", "quoted"},
        {"\"quoted.qmz\" trailing", "\"quoted.qmz\" trailing", "quoted.qmz"},
        {"/folder/", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lastPathPart(c.path), c.lastPart) << c.path;
        EXPECT_EQ(fileNamePart(c.path), c.shown) << c.path;
    }
}

TEST(FileNames, LocalFolderAndNameSplitOnSlashOnly) {
    EXPECT_EQ(directoryOf("/home/ann/s.qmz"), "/home/ann");
    EXPECT_EQ(nameOf("/home/ann/s.qmz"), "s.qmz");
    EXPECT_EQ(directoryOf("s.qmz"), ".");
    EXPECT_EQ(nameOf("s.qmz"), "s.qmz");
    EXPECT_EQ(directoryOf("/s.qmz"), "/");
    // A backslash is an ordinary character in a local name.
    EXPECT_EQ(nameOf("/tmp/a\\b.qmz"), "a\\b.qmz");
}

TEST(FileNames, HashedNamesAreStableHexAndTellNamesApart) {
    // FNV-1a's offset basis for the empty name: lock and temporary file names
    // built from it must not change between versions.
    EXPECT_EQ(hashedName(""), "cbf29ce484222325");
    EXPECT_EQ(hashedName("a"), "af63dc4c8601ec8c");
    std::set<std::string> seen;
    for (const char* name : {"s.qmz", "s.qmz ", "S.qmz", "t.qmz"}) {
        const std::string hashed = hashedName(name);
        EXPECT_EQ(hashed.size(), 16u);
        EXPECT_EQ(hashed.find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_TRUE(seen.insert(hashed).second) << name;
    }
}

} // namespace velmora::store
