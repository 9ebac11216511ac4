#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

namespace velmora::store {

// A table indexed from 1, as every session table is: slot numbers are what
// views, the Mailtray and the send list use to refer to records, so they stay
// stable for the life of a session (records are marked, never removed).
template <class Record> class SlotTable {
public:
    std::int32_t count() const { return static_cast<std::int32_t>(records_.size()); }
    bool empty() const { return records_.empty(); }
    bool hasSlot(std::int64_t slot) const { return slot >= 1 && slot <= count(); }

    const Record& at(std::int32_t slot) const {
        assert(hasSlot(slot));
        return records_[static_cast<std::size_t>(slot - 1)];
    }
    Record& at(std::int32_t slot) {
        assert(hasSlot(slot));
        return records_[static_cast<std::size_t>(slot - 1)];
    }

    // Returns the new record's slot.
    std::int32_t append(Record record) {
        records_.push_back(std::move(record));
        return count();
    }
    // Appends an empty record for the caller to fill; returns it.
    Record& appendEmpty() { return records_.emplace_back(); }
    void clear() { records_.clear(); }
    void shrinkBy(std::int32_t n) {
        records_.resize(records_.size() - static_cast<std::size_t>(n));
    }
    void reserve(std::size_t n) { records_.reserve(n); }

    auto begin() const { return records_.begin(); }
    auto end() const { return records_.end(); }

private:
    std::vector<Record> records_;
};

} // namespace velmora::store
