#pragma once

#include "contacts/view_access.h"
#include "platform/prompter.h"
#include "store/session.h"

namespace velmora::contacts {

// Commands of the main window that need no window of their own.

// Delete Entries: asks first (also when nothing is selected), then marks the
// rows selected at that moment Deleted. True when the user answered Yes.
bool deleteEntriesCommand(store::Session& session, ViewAccess& views, platform::Prompter& prompter);

// Remove Campaign Group for the filter tree's selected item. True when a
// group was removed.
bool removeCampaignGroupCommand(store::Session& session, ViewAccess& views,
                                platform::Prompter& prompter);

} // namespace velmora::contacts
