#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::store {

// A multiset of table slots keyed by a 32-bit hash of their record, with open
// addressing: lookups compare stored hashes first and touch a record only on
// a hash match, and nothing is allocated per entry. Equal keys may repeat (a
// session file can hold the same address twice).
class SlotHashIndex {
public:
    void clear();
    void reserve(std::size_t n);
    std::size_t size() const { return used_; }

    void insert(std::uint32_t hash, std::int32_t slot);
    struct Item {
        std::uint32_t hash;
        std::int32_t slot;
    };
    // Inserts them all in their order, as `insert` one by one would, but
    // fetches each bucket ahead of time: a million random buckets would
    // otherwise each wait on memory.
    void insertAll(const std::vector<Item>& items);
    // Removes the entry of `slot` stored under `hash`; false if there is none.
    bool erase(std::uint32_t hash, std::int32_t slot);
    // True when some slot stored under `hash` satisfies `matches(slot)`.
    template <class Matches> bool contains(std::uint32_t hash, Matches&& matches) const {
        if (entries_.empty()) {
            return false;
        }
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Entry& e = entries_[i];
            if (e.slot == kEmpty) {
                return false;
            }
            if (e.slot != kErased && e.hash == hash && matches(e.slot)) {
                return true;
            }
        }
    }

    // The first slot stored under `hash` that satisfies `matches(slot)`, or 0.
    template <class Matches> std::int32_t find(std::uint32_t hash, Matches&& matches) const {
        std::int32_t found = 0;
        contains(hash, [&](std::int32_t slot) {
            if (matches(slot)) {
                found = slot;
                return true;
            }
            return false;
        });
        return found;
    }

private:
    static constexpr std::int32_t kEmpty = 0; // slots are 1-based
    static constexpr std::int32_t kErased = -1;
    struct Entry {
        std::uint32_t hash;
        std::int32_t slot;
    };
    void rehash(std::size_t capacity);

    std::vector<Entry> entries_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
    std::size_t erased_ = 0;
};

// Hash of a text with ASCII letters lower-cased, computed without building
// the lower-cased copy.
std::uint32_t hashLowered(const char* data, std::size_t size);

} // namespace velmora::store
