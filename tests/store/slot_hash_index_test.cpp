#include "store/slot_hash_index.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace velmora::store {

namespace {

using Entry = std::pair<std::uint32_t, std::int32_t>; // hash, slot

bool holds(const SlotHashIndex& index, Entry e) {
    return index.contains(e.first, [&](std::int32_t slot) { return slot == e.second; });
}

// Every entry of the model is found and the index holds as many.
void expectSame(const SlotHashIndex& index, const std::multiset<Entry>& model) {
    ASSERT_EQ(index.size(), model.size());
    for (const Entry& e : model) {
        ASSERT_TRUE(holds(index, e)) << e.first << "/" << e.second;
    }
}

// Hashes that share their low bits land in one probe chain at any table
// size below 2^20; a few distinct ones interleave with them.
std::uint32_t collidingHash(std::uint32_t k) {
    return k % 4 == 0 ? k : (k << 20) | 7u;
}

} // namespace

TEST(SlotHashIndex, EmptyIndexFindsNothingAndErasesNothing) {
    SlotHashIndex index;
    EXPECT_FALSE(index.contains(5, [](std::int32_t) { return true; }));
    EXPECT_EQ(index.find(5, [](std::int32_t) { return true; }), 0);
    EXPECT_FALSE(index.erase(5, 1));
    EXPECT_EQ(index.size(), 0u);
}

TEST(SlotHashIndex, CollidingAndRepeatedKeysGrowPastManyTableSizes) {
    SlotHashIndex index;
    std::multiset<Entry> model;
    for (std::int32_t slot = 1; slot <= 5000; ++slot) {
        const Entry e{collidingHash(static_cast<std::uint32_t>(slot % 700)), slot};
        index.insert(e.first, e.second);
        model.insert(e);
        if (slot % 997 == 0) {
            expectSame(index, model);
        }
    }
    expectSame(index, model);
    // A hash stored under other slots does not match a slot it lacks.
    EXPECT_FALSE(holds(index, {collidingHash(3), 4}));
    // `find` gives a slot the predicate accepts, of that hash only.
    const std::int32_t found =
        index.find(collidingHash(5), [](std::int32_t slot) { return slot > 4000; });
    EXPECT_GT(found, 4000);
    EXPECT_EQ(found % 700, 5);
}

TEST(SlotHashIndex, ErasingInAnyOrderKeepsTheRestOfAChainReachable) {
    struct Case {
        const char* order;
        std::vector<std::int32_t> erased; // slots, in the order erased
    };
    // Slots 1..8 share one hash chain: erase its head, its tail, its middle.
    const Case cases[] = {
        {"head first", {1, 2, 3}},
        {"tail first", {8, 7, 6}},
        {"middle", {4, 5, 2, 7}},
        {"all", {3, 1, 8, 2, 7, 4, 6, 5}},
    };
    for (const Case& c : cases) {
        SlotHashIndex index;
        std::multiset<Entry> model;
        for (std::int32_t slot = 1; slot <= 8; ++slot) {
            index.insert(collidingHash(1), slot);
            model.insert({collidingHash(1), slot});
        }
        for (const std::int32_t slot : c.erased) {
            EXPECT_TRUE(index.erase(collidingHash(1), slot)) << c.order << " " << slot;
            EXPECT_FALSE(index.erase(collidingHash(1), slot)) << c.order << " twice " << slot;
            model.erase(model.find({collidingHash(1), slot}));
            EXPECT_FALSE(holds(index, {collidingHash(1), slot})) << c.order;
            expectSame(index, model);
        }
        // Re-inserting over the erased marks finds both old and new entries.
        index.insert(collidingHash(1), 99);
        model.insert({collidingHash(1), 99});
        expectSame(index, model);
    }
}

TEST(SlotHashIndex, RandomWorkMatchesAModelAndInsertAllMatchesInsert) {
    std::mt19937 random(19);
    SlotHashIndex index;
    std::multiset<Entry> model;
    std::int32_t next = 1;
    for (int step = 0; step < 20000; ++step) {
        const bool add = model.empty() || random() % 3 != 0;
        if (add) {
            const Entry e{collidingHash(random() % 64), next++};
            index.insert(e.first, e.second);
            model.insert(e);
        } else {
            auto it = model.begin();
            std::advance(it, static_cast<long>(random() % model.size()));
            EXPECT_TRUE(index.erase(it->first, it->second));
            model.erase(it);
        }
        if (step % 2500 == 0) {
            expectSame(index, model);
        }
    }
    expectSame(index, model);

    // The same entries in one batch, into an index that already holds some
    // and has erased marks.
    SlotHashIndex batch;
    batch.insert(collidingHash(2), 1'000'000);
    batch.erase(collidingHash(2), 1'000'000);
    std::vector<SlotHashIndex::Item> items;
    for (const Entry& e : model) {
        items.push_back({e.first, e.second});
    }
    batch.insertAll(items);
    expectSame(batch, model);
    EXPECT_FALSE(holds(batch, {collidingHash(2), 1'000'000}));
}

TEST(SlotHashIndex, ClearForgetsEverything) {
    SlotHashIndex index;
    index.reserve(100);
    index.insert(collidingHash(1), 1);
    index.clear();
    EXPECT_EQ(index.size(), 0u);
    EXPECT_FALSE(holds(index, {collidingHash(1), 1}));
    index.insert(collidingHash(1), 2);
    EXPECT_TRUE(holds(index, {collidingHash(1), 2}));
}

} // namespace velmora::store
