#pragma once

#include "platform/prompter.h"
#include "store/session.h"

#include <cstdint>
#include <string>

namespace velmora::contacts {

// "Add Group >>": adds the group unless its name is blank. Name and
// description are stored as typed. Returns the new slot or 0.
std::int32_t addGroupFromDialog(store::Session& session, const std::string& name,
                                const std::string& description);

// "Remove Campaign Group" for the filter tree's selected item (0 for none):
// refuses a group that still holds live contacts, asks, then removes it.
// True when the group was removed.
bool removeSelectedGroup(store::Session& session, std::int32_t selectedItemNumber,
                         platform::Prompter& prompter);

} // namespace velmora::contacts
