#pragma once

#include "store/session.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora::contacts {

struct DuplicatesResult {
    // The "Duplicate Records" lines: the removed addresses as stored,
    // grouped by surviving contact in slot order and by slot within a group,
    // then the summary line.
    std::vector<std::string> lines;
    std::int32_t removed = 0;
};

// Of every set of live contacts whose addresses are equal trimmed and in any
// letter case, keeps the one in the lowest slot and marks the others Deleted.
// One pass over the table; `progress(j)` is told the slot reached now and then
// (and the last slot at the end) so a window can move its bar.
DuplicatesResult removeDuplicates(store::Session& session,
                                  const std::function<void(std::int32_t)>& progress = {});

std::string duplicatesSummaryLine(std::int32_t removed);

} // namespace velmora::contacts
