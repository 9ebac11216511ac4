#include "store/compact_string.h"

#include <cstring>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace velmora::store {

TEST(CompactString, KeepsTextsOnBothSidesOfTheInlineLimit) {
    for (const std::size_t length : {0u, 1u, 14u, 15u, 16u, 17u, 300u}) {
        const std::string text(length, 'x');
        CompactString s(text);
        EXPECT_EQ(s.view(), text) << length;
        EXPECT_EQ(s.size(), length);
        CompactString copy = s;
        CompactString moved = std::move(s);
        EXPECT_EQ(copy.view(), text);
        EXPECT_EQ(moved.view(), text);
        EXPECT_TRUE(s.empty()); // NOLINT: a moved-from string is empty
    }
}

TEST(CompactString, AssignsFromItsOwnTextAndKeepsEmbeddedZeroBytes) {
    CompactString s(std::string(40, 'a') + "tail");
    s = s.view().substr(30); // source lies inside the string being replaced
    EXPECT_EQ(s.view(), "aaaaaaaaaatail");
    s = s;
    EXPECT_EQ(s.view(), "aaaaaaaaaatail");
    const std::string withZero("a\0b", 3);
    s = withZero;
    EXPECT_EQ(s.size(), 3u);
    EXPECT_EQ(s.view(), withZero);
}

TEST(CompactString, SurvivesVectorGrowth) {
    std::vector<CompactString> values;
    for (int i = 0; i < 1000; ++i) {
        values.emplace_back(std::string(static_cast<std::size_t>(i % 40), 'a' + i % 26));
    }
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(values[static_cast<std::size_t>(i)].view(),
                  std::string(static_cast<std::size_t>(i % 40), 'a' + i % 26));
    }
}

TEST(CompactString, OverwriteGivesStorageOfTheNewLength) {
    CompactString s(std::string(40, 'h'));
    for (const std::size_t length : {0u, 15u, 16u, 64u, 3u}) {
        char* storage = s.overwrite(length);
        std::memset(storage, 'w', length);
        EXPECT_EQ(s.view(), std::string(length, 'w'));
    }
}

} // namespace velmora::store
