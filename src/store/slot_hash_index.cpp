#include "store/slot_hash_index.h"

#include "store/case_folding.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velmora::store {

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

void SlotHashIndex::insertAll(const std::vector<Item>& items) {
    reserve(used_ + erased_ + items.size());
    constexpr std::size_t kAhead = 16;
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (k + kAhead < items.size()) {
            __builtin_prefetch(&entries_[items[k + kAhead].hash & mask_], 1);
        }
        std::size_t i = items[k].hash & mask_;
        while (entries_[i].slot != kEmpty && entries_[i].slot != kErased) {
            i = (i + 1) & mask_;
        }
        if (entries_[i].slot == kErased) {
            --erased_;
        }
        entries_[i] = Entry{items[k].hash, items[k].slot};
        ++used_;
    }
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

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;

// Eight ASCII bytes at once with the capitals made small.
std::uint64_t lowerWord(std::uint64_t x) {
    const std::uint64_t low7 = x & (0x7F * kOnes);
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * kOnes;
    const std::uint64_t beyondZ = low7 + (0x80 - 'Z' - 1) * kOnes;
    const std::uint64_t capitals = atLeastA & ~beyondZ & ~x & (0x80 * kOnes);
    return x | (capitals >> 2);
}

// The same fold byte by byte, for words holding non-ASCII bytes: a Latin-1
// capital is known only from the byte before it, which may lie in the word
// before. `n` bytes are read; the rest of the word is zero, as in the tail.
std::uint64_t foldWordBytes(const char* bytes, std::size_t n, unsigned char previous) {
    unsigned char folded[8] = {};
    for (std::size_t k = 0; k < n; ++k) {
        const auto original = static_cast<unsigned char>(bytes[k]);
        folded[k] = foldedByte(original, previous);
        previous = original;
    }
    std::uint64_t word;
    std::memcpy(&word, folded, 8);
    return word;
}

std::uint64_t foldWord(std::uint64_t word, const char* data, std::size_t at, std::size_t n) {
    if ((word & (0x80 * kOnes)) == 0) {
        return lowerWord(word);
    }
    return foldWordBytes(data + at, n, at > 0 ? static_cast<unsigned char>(data[at - 1]) : 0);
}

std::uint64_t mixWord(std::uint64_t h, std::uint64_t word) {
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

} // namespace

// A word at a time: this runs once per contact when a session is loaded.
std::uint32_t hashLowered(const char* data, std::size_t size) {
    std::uint64_t h = 0xCBF29CE484222325ull ^ size;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = mixWord(h, foldWord(word, data, i, 8));
    }
    if (i < size) {
        std::uint64_t word = 0;
        std::memcpy(&word, data + i, size - i);
        h = mixWord(h, foldWord(word, data, i, size - i));
    }
    // Mix the high bits into the low ones, which choose the bucket.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return static_cast<std::uint32_t>(h);
}

} // namespace velmora::store
