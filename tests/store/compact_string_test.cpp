#include "store/compact_string.h"
#include "store/text_arena.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
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
    const CompactString& same = s; // self-assignment, out of the compiler's sight
    s = same;
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

TEST(CompactString, ArenaTextsReadBackAndCopiesOutliveTheArena) {
    // Around the inline limit, and beyond what a shared arena block takes.
    const std::vector<std::size_t> lengths = {0, 15, 16, 17, 4000, 70000, 2 << 20, 9 << 20};
    auto arena = std::make_unique<TextArena>();
    std::vector<CompactString> borrowed(lengths.size());
    std::vector<std::string> texts;
    for (std::size_t k = 0; k < lengths.size(); ++k) {
        texts.push_back(std::string(lengths[k], static_cast<char>('a' + k)));
        std::memcpy(borrowed[k].overwrite(lengths[k], *arena), texts[k].data(), lengths[k]);
    }
    std::vector<CompactString> copies = borrowed;
    std::vector<CompactString> moved;
    for (CompactString& s : borrowed) {
        moved.push_back(std::move(s)); // the table's own moves: storage stays borrowed
    }
    for (std::size_t k = 0; k < lengths.size(); ++k) {
        EXPECT_EQ(moved[k].view(), texts[k]) << lengths[k];
        EXPECT_TRUE(borrowed[k].empty()); // NOLINT: a moved-from string is empty
    }
    moved[4] = "a heap text replacing an arena text";
    EXPECT_EQ(moved[4].view(), "a heap text replacing an arena text");
    moved.clear(); // borrowed strings free nothing
    arena.reset();
    for (std::size_t k = 0; k < lengths.size(); ++k) {
        EXPECT_EQ(copies[k].view(), texts[k]) << lengths[k];
    }
}

TEST(TextArena, TextsStayApartAcrossManyBlocks) {
    TextArena arena;
    std::vector<CompactString> values(20000);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string text(16 + i % 300, static_cast<char>('a' + i % 26));
        std::memcpy(values[i].overwrite(text.size(), arena), text.data(), text.size());
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].view(), std::string(16 + i % 300, static_cast<char>('a' + i % 26)))
            << i;
    }
    EXPECT_GT(arena.bytesReserved(), std::size_t{1} << 20);
}

} // namespace velmora::store
