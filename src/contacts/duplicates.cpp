#include "contacts/duplicates.h"

#include "store/slot_hash_index.h"
#include "store/text.h"

#include <algorithm>

namespace velmora::contacts {

namespace {

constexpr std::int32_t kProgressStep = 4096;

} // namespace

std::string duplicatesSummaryLine(std::int32_t removed) {
    if (removed == 0) {
        return "No duplicates found.";
    }
    return "Removed " + std::to_string(removed) + " duplicate records.";
}

DuplicatesResult removeDuplicates(store::Session& session,
                                  const std::function<void(std::int32_t)>& progress) {
    // The survivor of each key is the first live slot holding it; every later
    // slot with that key joins the survivor's list. This gives the survivors
    // and the line order of comparing every slot with every other.
    const std::int32_t count = session.contactCount();
    store::SlotHashIndex survivors;
    survivors.reserve(static_cast<std::size_t>(session.liveContactCount()));
    std::vector<std::int32_t> nextDuplicate(static_cast<std::size_t>(count) + 1, 0);
    std::vector<std::int32_t> lastDuplicate(static_cast<std::size_t>(count) + 1, 0);
    std::vector<std::int32_t> survivorOrder;

    for (std::int32_t j = 1; j <= count; ++j) {
        const store::Contact& c = session.contact(j);
        if (!c.isDeleted()) {
            const std::string_view key = trimSpaces(c.email);
            const std::uint32_t hash = store::hashIgnoringCase(key);
            const std::int32_t survivor = survivors.find(hash, [&](std::int32_t slot) {
                return store::equalIgnoringCase(key, trimSpaces(session.contact(slot).email));
            });
            if (survivor == 0) {
                survivors.insert(hash, j);
            } else {
                if (lastDuplicate[static_cast<std::size_t>(survivor)] == 0) {
                    survivorOrder.push_back(survivor);
                    nextDuplicate[static_cast<std::size_t>(survivor)] = j;
                } else {
                    nextDuplicate[static_cast<std::size_t>(
                        lastDuplicate[static_cast<std::size_t>(survivor)])] = j;
                }
                lastDuplicate[static_cast<std::size_t>(survivor)] = j;
            }
        }
        if (progress && j % kProgressStep == 0) {
            progress(j);
        }
    }

    DuplicatesResult result;
    std::sort(survivorOrder.begin(), survivorOrder.end());
    for (const std::int32_t survivor : survivorOrder) {
        for (std::int32_t k = nextDuplicate[static_cast<std::size_t>(survivor)]; k != 0;
             k = nextDuplicate[static_cast<std::size_t>(k)]) {
            result.lines.push_back(session.contact(k).email.str());
            session.deleteContact(k);
            ++result.removed;
        }
    }
    if (progress) {
        progress(count);
    }
    result.lines.push_back(duplicatesSummaryLine(result.removed));
    return result;
}

} // namespace velmora::contacts
