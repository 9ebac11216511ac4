#include "store/slot_hash_index.h"

#include "store/case_folding.h"

#include <algorithm>
#include <bit>

void SlotHashIndex::clear() {
    entries_.clear();
    mask_ = 0;
    used_ = 0;
    erased_ = 0;
}

void SlotHashIndex::reserve(std::size_t n) {
    // Keep the load at most one half, where linear probing stays short.
    const std::size_t wanted = std::bit_ceil(std::max<std::size_t>(16, n * 2));
    if (wanted > entries_.size()) {
        rehash(wanted);
    }
}

void SlotHashIndex::rehash(std::size_t capacity) {
    std::vector<Entry> old;
    old.swap(entries_);
    entries_.assign(capacity, Entry{0, kEmpty});
    mask_ = capacity - 1;
    erased_ = 0;
    for (const Entry& e : old) {
        if (e.slot != kEmpty && e.slot != kErased) {
            std::size_t i = e.hash & mask_;
            while (entries_[i].slot != kEmpty) {
                i = (i + 1) & mask_;
            }
            entries_[i] = e;
        }
    }
}

void SlotHashIndex::insert(std::uint32_t hash, std::int32_t slot) {
    if ((used_ + erased_ + 1) * 2 > entries_.size()) {
        // Grow, or only sweep the erased marks when they fill the table.
        rehash(used_ * 4 >= entries_.size() ? std::max<std::size_t>(16, entries_.size() * 2)
                                            : entries_.size());
    }
    std::size_t i = hash & mask_;
    while (entries_[i].slot != kEmpty && entries_[i].slot != kErased) {
        i = (i + 1) & mask_;
    }
    if (entries_[i].slot == kErased) {
        --erased_;
    }
    entries_[i] = Entry{hash, slot};
    ++used_;
}

bool SlotHashIndex::erase(std::uint32_t hash, std::int32_t slot) {
    if (entries_.empty()) {
        return false;
    }
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
        Entry& e = entries_[i];
        if (e.slot == kEmpty) {
            return false;
        }
        if (e.slot == slot && e.hash == hash) {
            e.slot = kErased;
            --used_;
            ++erased_;
            return true;
        }
    }
}

std::uint32_t hashLowered(const char* data, std::size_t size) {
    std::uint64_t h = 14695981039346656037ull;
    unsigned char previous = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const auto original = static_cast<unsigned char>(data[i]);
        h ^= foldedByte(original, previous);
        h *= 1099511628211ull;
        previous = original;
    }
    // Mix the high bits into the low ones, which choose the bucket.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return static_cast<std::uint32_t>(h);
}
