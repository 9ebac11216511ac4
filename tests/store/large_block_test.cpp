#include "store/large_block.h"
#include "store/slot_table.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

namespace velmora::store {

// Either side of the size from which blocks are taken in huge pages: every
// byte usable, and freed by the same rule that allocated it.
TEST(LargeBlock, BlocksOfEverySizeHoldTheirBytes) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    for (const std::size_t bytes :
         {std::size_t{1}, 8 * kMiB - 1, 8 * kMiB, 8 * kMiB + 1, 13 * kMiB + 5}) {
        auto* block = static_cast<unsigned char*>(allocateLargeBlock(bytes));
        ASSERT_NE(block, nullptr);
        std::memset(block, 0xA5, bytes);
        EXPECT_EQ(block[0], 0xA5);
        EXPECT_EQ(block[bytes - 1], 0xA5) << bytes;
        freeLargeBlock(block, bytes);
    }
}

TEST(LargeBlock, TableGrowsAcrossTheLargeSizeAndBack) {
    SlotTable<std::int64_t> table;
    constexpr std::int32_t kCount = 2'000'000; // 16 MB: grows through both kinds of block
    for (std::int32_t i = 1; i <= kCount; ++i) {
        ASSERT_EQ(table.append(i * 3), i);
    }
    for (std::int32_t slot : {1, 4096, kCount / 2, kCount}) {
        EXPECT_EQ(table.at(slot), slot * std::int64_t{3});
    }
    table.shrinkBy(kCount - 10);
    EXPECT_EQ(table.count(), 10);
    EXPECT_EQ(table.at(10), 30);
}

} // namespace velmora::store
